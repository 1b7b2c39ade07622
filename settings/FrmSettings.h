#pragma once
#include "terminal/ColorRef.h"

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
class Settings;
class frmColorPick;

// What the settings dialog needs from the program around it. The main window
// implements it; tests record the calls.
class SettingsDialogHost {
public:
    virtual ~SettingsDialogHost() = default;
    virtual Settings &AppSettings() = 0;
    virtual Prompter &Prompts() = 0;
    // The handler that receives the serial bytes now; null between exchanges.
    virtual LinkHandler *CurrentHandler() = 0;
    // Whether the current handler is the terminal handler, and that handler's InitRTF,
    // which clears the terminal so later text uses the new colours.
    virtual bool CurrentHandlerIsTerminal() = 0;
    virtual void TerminalInitRTF() = 0;
    // The port-ready flag, closing the port and the port set-up that reports in the log.
    virtual bool SerielReady() = 0;
    virtual void ClosePort() = 0;
    virtual bool InitSerialPort() = 0;
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
class frmSettings : public QDialog {
    Q_OBJECT
public:
    explicit frmSettings(SettingsDialogHost &host, QWidget *parent = nullptr);
    ~frmSettings() override;

    // The File menu's "&Settings...": opens the dialog, or only brings the open one to
    // the front without running its opening steps again.
    static frmSettings *Open(SettingsDialogHost &host, QWidget *parent = nullptr);
    // The open dialog, or null.
    static frmSettings *Current();

    // Which colour button the picker serves: true for the echo colour.
    bool EchoColor = false;

    // The threshold box's text as a number 0 to 255: blanks around it are allowed and a
    // fraction rounds to the nearest integer, halves to even. Throws SettingsStepError.
    static int ASCIIBelowValue(const QString &text);

    // The opening steps: suspend reception, load the picker, fill the controls.
    void Form_Load();
    void chkPrintASCII_Click();
    void cmdEchoColor_Click();
    void cmdASCIIColor_Click();
    void cmdOk_Click();
    void cmdCancel_Click();

    QCheckBox *chkReloadHex() const { return m_chkReloadHex; }
    QCheckBox *chkReloadOnFocus() const { return m_chkReloadOnFocus; }
    QComboBox *comSerielPort() const { return m_comSerielPort; }
    QComboBox *comPortDevice() const { return m_comPortDevice; }
    QCheckBox *chkExternalTerminal() const { return m_chkExternalTerminal; }
    QCheckBox *chkEcho() const { return m_chkEcho; }
    QCheckBox *chkPrintASCII() const { return m_chkPrintASCII; }
    QLineEdit *txtASCIIBelow() const { return m_txtASCIIBelow; }
    ColorButton *cmdEchoColor() const { return m_cmdEchoColor; }
    ColorButton *cmdASCIIColor() const { return m_cmdASCIIColor; }
    QComboBox *comTerminalSpeed() const { return m_comTerminalSpeed; }
    QPushButton *cmdOk() const { return m_cmdOk; }
    QPushButton *cmdCancel() const { return m_cmdCancel; }
    frmColorPick *colorPick() const { return m_colorPick; }

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
    void setReception(bool ignore);

    SettingsDialogHost &m_host;
    // Pending devices of "COM 1".."COM 4", written to the settings by "&Ok" only.
    std::array<QString, 4> m_devices;

    QGroupBox *m_frame1;
    QGroupBox *m_frame2;
    QCheckBox *m_chkReloadHex;
    QCheckBox *m_chkReloadOnFocus;
    QLabel *m_label1;
    QComboBox *m_comSerielPort;
    QLabel *m_lblPortDevice;
    QComboBox *m_comPortDevice;
    QCheckBox *m_chkExternalTerminal;
    QCheckBox *m_chkEcho;
    QCheckBox *m_chkPrintASCII;
    QLineEdit *m_txtASCIIBelow;
    QLabel *m_label5;
    QLabel *m_label3;
    QLabel *m_label4;
    ColorButton *m_cmdEchoColor;
    ColorButton *m_cmdASCIIColor;
    QLabel *m_label2;
    QComboBox *m_comTerminalSpeed;
    QPushButton *m_cmdOk;
    QPushButton *m_cmdCancel;
    frmColorPick *m_colorPick = nullptr;
};
