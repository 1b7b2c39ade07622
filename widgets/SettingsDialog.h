#pragma once
#include "core/ColorRef.h"
#include "link/SerialDeviceList.h"

#include <QDialog>
#include <QString>
#include <array>

class ColorButton;
class LinkHandler;
class Prompter;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class Settings;
class ColorPicker;

// What the settings dialog needs from the program around it. The main window
// implements it; tests record the calls.
class SettingsDialogHost {
public:
    virtual ~SettingsDialogHost() = default;
    virtual Settings &settings() = 0;
    virtual Prompter &prompter() = 0;
    // The handler that receives the serial bytes now; null between exchanges.
    virtual LinkHandler *currentHandler() = 0;
    // Whether the current handler is the terminal handler, and that handler's clear,
    // which clears the terminal so later text uses the new colours.
    virtual bool currentHandlerIsTerminal() = 0;
    virtual void clearTerminal() = 0;
    // The port-ready flag, closing the port and the port set-up that reports in the log.
    virtual bool serialReady() = 0;
    virtual void closePort() = 0;
    virtual bool openPort() = 0;
    // The serial devices the device box offers.
    virtual QList<SerialDevice> serialDevices() = 0;
};

// The failures the dialog reports while opening and on "&Ok", each shown as
// "number: description" in an OK box; the step is then left and the next one runs.
enum class SettingsFailure {
    Overflow = 6,         // the threshold is a number outside 0 to 255
    TypeMismatch = 13,    // the threshold is empty or not a number
    Internal = 51,        // a step of the program around the dialog threw
    PortNotListed = 380,  // a seriel port number that no "COM n" item stands for
    SpeedNotListed = 383, // a terminal speed that is not one of the items
};

struct SettingsStepError {
    SettingsFailure failure;
    QString description;
    // "number: description", the text of the message box.
    QString text() const;
};

// "Corvade - Settings": shows the preferences and, on "&Ok", copies them into the
// settings and sets the serial port up again. Modeless and at most one at a time.
// While it is open the current link handler drops what it receives.
class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingsDialog(SettingsDialogHost &host, QWidget *parent = nullptr);
    ~SettingsDialog() override;

    // The File menu's "&Settings...": opens the dialog, or only brings the open one to
    // the front without running its opening steps again.
    static SettingsDialog *open(SettingsDialogHost &host, QWidget *parent = nullptr);
    // The open dialog, or null.
    static SettingsDialog *current();

    // Which colour button the picker serves: true for the echo colour.
    bool echoColor = false;

    // The threshold box's text as a number 0 to 255: blanks around it are allowed and a
    // fraction rounds to the nearest integer, halves to even. Throws SettingsStepError.
    static int asciiBelowValue(const QString &text);

    // The opening steps: suspend reception, load the picker, fill the controls.
    void initialize();
    void printAsciiToggled();
    void pickEchoColor();
    void pickAsciiColor();
    void applySettings();
    void cancel();

    QCheckBox *reloadHexBox() const { return m_reloadHexBox; }
    QCheckBox *reloadOnFocusBox() const { return m_reloadOnFocusBox; }
    QComboBox *serialPortCombo() const { return m_serialPortCombo; }
    QComboBox *portDeviceCombo() const { return m_portDeviceCombo; }
    QCheckBox *externalTerminalBox() const { return m_externalTerminalBox; }
    QCheckBox *echoBox() const { return m_echoBox; }
    QCheckBox *printAsciiBox() const { return m_printAsciiBox; }
    QLineEdit *asciiBelowEdit() const { return m_asciiBelowEdit; }
    ColorButton *echoColorButton() const { return m_echoColorButton; }
    ColorButton *asciiColorButton() const { return m_asciiColorButton; }
    QComboBox *terminalSpeedCombo() const { return m_terminalSpeedCombo; }
    QComboBox *enterSendsCombo() const { return m_enterSendsCombo; }
    QSpinBox *stampGapSpin() const { return m_stampGapSpin; }
    QPushButton *okButton() const { return m_okButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    ColorPicker *colorPicker() const { return m_colorPicker; }
    QSpinBox *codeMemorySpin() const { return m_codeMemorySpin; }

public slots:
    // Esc, "&Cancel" and the close button.
    void reject() override;
    // Every way of closing ends here: the picker goes with the dialog.
    void done(int result) override;

private:
    void buildControls();
    template <typename Step>
    void runStep(Step &&step);
    void showPicker(ColorButton *button, bool forEcho);
    void colorPicked(ColorRef color);
    void serielPortChanged(int index);
    void portDeviceEdited(const QString &device);
    void portDeviceChosen(int index);
    void setReception(bool ignore);

    SettingsDialogHost &m_host;
    // Pending devices of "COM 1".."COM 4", written to the settings by "&Ok" only.
    std::array<QString, 4> m_devices;
    // The items of the device box: each shows its label and stands for its name.
    QList<SerialDevice> m_deviceChoices;

    QGroupBox *m_frame1;
    QGroupBox *m_frame2;
    QCheckBox *m_reloadHexBox;
    QCheckBox *m_reloadOnFocusBox;
    QLabel *m_label1;
    QComboBox *m_serialPortCombo;
    QLabel *m_lblPortDevice;
    QComboBox *m_portDeviceCombo;
    QCheckBox *m_externalTerminalBox;
    QCheckBox *m_echoBox;
    QCheckBox *m_printAsciiBox;
    QLineEdit *m_asciiBelowEdit;
    QLabel *m_label5;
    QLabel *m_label3;
    QLabel *m_label4;
    ColorButton *m_echoColorButton;
    ColorButton *m_asciiColorButton;
    QLabel *m_label2;
    QComboBox *m_terminalSpeedCombo;
    QComboBox *m_enterSendsCombo;
    QSpinBox *m_stampGapSpin;
    QPushButton *m_okButton;
    QPushButton *m_cancelButton;
    ColorPicker *m_colorPicker = nullptr;
    QSpinBox *m_codeMemorySpin;
};
