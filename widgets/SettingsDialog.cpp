#include "widgets/SettingsDialog.h"

#include "core/Prompter.h"
#include "link/LinkHandler.h"
#include "widgets/ColorPicker.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QSerialPortInfo>
#include <QSpinBox>

#include <cmath>
#include <exception>
#include <limits>

namespace {
QPointer<SettingsDialog> s_current;

const char *const kSpeeds[] = {"110", "1200", "2400", "4800", "9600", "19200", "62500"};

SettingsStepError failure(SettingsFailure kind, const QString &description)
{
    return SettingsStepError{kind, description};
}

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double v)
{
    const double down = std::floor(v);
    const double rest = v - down;
    if (rest > 0.5)
        return down + 1;
    if (rest < 0.5)
        return down;
    return std::fmod(down, 2.0) == 0 ? down : down + 1;
}
} // namespace

QString SettingsStepError::text() const
{
    return QString::number(int(failure)) + QStringLiteral(": ") + description;
}

SettingsDialog::SettingsDialog(SettingsDialogHost &host, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint),
      m_host(host)
{
    setObjectName(QStringLiteral("settingsDialog"));
    setWindowTitle(QStringLiteral("Corvade - Settings"));
    setModal(false);
    buildControls();
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::buildControls()
{
    auto label = [this](const char *name, const QString &text, QWidget *parent) {
        auto *l = new QLabel(text, parent);
        l->setObjectName(QLatin1String(name));
        l->setTextFormat(Qt::PlainText); // "As <ASCII number>" is not markup
        return l;
    };
    auto check = [](const char *name, const QString &text, QWidget *parent) {
        auto *c = new QCheckBox(text, parent);
        c->setObjectName(QLatin1String(name));
        return c;
    };
    auto list = [](const char *name, QWidget *parent) {
        auto *c = new QComboBox(parent);
        c->setObjectName(QLatin1String(name));
        return c;
    };
    auto spin = [](const char *name, QWidget *parent, int min, int max) {
        auto *s = new QSpinBox(parent);
        s->setObjectName(QLatin1String(name));
        s->setRange(min, max);
        return s;
    };

    // General ----------------------------------------------------------------------
    m_frame1 = new QGroupBox(QStringLiteral("General"), this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_reloadHexBox = check("chkReloadHex", QStringLiteral("&Reload last opened hex file on startup"), m_frame1);
    m_reloadOnFocusBox = check("chkReloadOnFocus", QStringLiteral("Reload &hex file when receiving focus"), m_frame1);
    m_label1 = label("Label1", QStringLiteral("&Seriel port:"), m_frame1);
    m_serialPortCombo = list("comSerielPort", m_frame1);
    for (int n = 1; n <= Settings::PortCount; ++n)
        m_serialPortCombo->addItem(QStringLiteral("COM %1").arg(n));
    m_serialPortCombo->setCurrentIndex(-1);
    m_label1->setBuddy(m_serialPortCombo);

    // The device the chosen "COM n" names on this system; the user may type any path,
    // for example the simulated board's pseudo-terminal.
    m_lblPortDevice = label("lblPortDevice", QStringLiteral("&Device:"), m_frame1);
    m_portDeviceCombo = list("comPortDevice", m_frame1);
    m_portDeviceCombo->setEditable(true);
    m_portDeviceCombo->setInsertPolicy(QComboBox::NoInsert);
    m_portDeviceCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_portDeviceCombo->setMinimumContentsLength(12);
    m_portDeviceCombo->setToolTip(QStringLiteral("The serial device that the chosen port stands for"));
    m_lblPortDevice->setBuddy(m_portDeviceCombo);

    auto *g1 = new QGridLayout(m_frame1);
    g1->addWidget(m_reloadHexBox, 0, 0, 1, 4);
    g1->addWidget(m_reloadOnFocusBox, 1, 0, 1, 4);
    g1->addWidget(m_label1, 2, 0);
    g1->addWidget(m_serialPortCombo, 2, 1);
    g1->addWidget(m_lblPortDevice, 2, 2, Qt::AlignRight);
    g1->addWidget(m_portDeviceCombo, 2, 3);
    g1->setColumnStretch(3, 1);
    g1->setColumnMinimumWidth(1, 0);

    // Terminal ---------------------------------------------------------------------
    m_frame2 = new QGroupBox(QStringLiteral("Terminal"), this);
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    m_externalTerminalBox = check("chkExternalTerminal", QStringLiteral("&Use external termianl after run"), m_frame2);
    m_echoBox = check("chkEcho", QStringLiteral("&Echo on"), m_frame2);
    m_printAsciiBox = check("chkPrintASCII", QStringLiteral("&Print ASCII characters below"), m_frame2);
    m_asciiBelowEdit = new QLineEdit(m_frame2);
    m_asciiBelowEdit->setObjectName(QStringLiteral("txtASCIIBelow"));
    m_asciiBelowEdit->setMaxLength(std::numeric_limits<int>::max());
    m_asciiBelowEdit->setMaximumWidth(m_asciiBelowEdit->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
    m_label5 = label("Label5", QStringLiteral("As <ASCII number>"), m_frame2);
    m_label3 = label("Label3", QStringLiteral("Echo &Color"), m_frame2);
    m_label4 = label("Label4", QStringLiteral("Special &ASCII characters color"), m_frame2);
    m_echoColorButton = new ColorButton(m_frame2);
    m_echoColorButton->setObjectName(QStringLiteral("cmdEchoColor"));
    m_echoColorButton->setToolTip(QStringLiteral("Colour of the keys echoed in the terminal"));
    m_asciiColorButton = new ColorButton(m_frame2);
    m_asciiColorButton->setObjectName(QStringLiteral("cmdASCIIColor"));
    m_asciiColorButton->setToolTip(QStringLiteral("Colour of the characters shown as numbers"));
    m_label3->setBuddy(m_echoColorButton);
    m_label4->setBuddy(m_asciiColorButton);
    m_label2 = label("Label2", QStringLiteral("&Terminal speed:"), m_frame2);
    m_terminalSpeedCombo = list("comTerminalSpeed", m_frame2);
    for (const char *speed : kSpeeds)
        m_terminalSpeedCombo->addItem(QLatin1String(speed));
    m_terminalSpeedCombo->setCurrentIndex(-1);
    m_label2->setBuddy(m_terminalSpeedCombo);

    auto *v2 = new QVBoxLayout(m_frame2);
    v2->addWidget(m_externalTerminalBox);
    v2->addWidget(m_echoBox);
    auto *printRow = new QHBoxLayout;
    printRow->addWidget(m_printAsciiBox);
    printRow->addWidget(m_asciiBelowEdit);
    printRow->addWidget(m_label5);
    printRow->addStretch(1);
    v2->addLayout(printRow);
    auto *colors = new QGridLayout;
    colors->addWidget(m_label3, 0, 0);
    colors->addWidget(m_label4, 0, 1);
    colors->addWidget(m_echoColorButton, 1, 0, Qt::AlignLeft);
    colors->addWidget(m_asciiColorButton, 1, 1, Qt::AlignLeft);
    colors->setColumnStretch(2, 1);
    colors->setHorizontalSpacing(fontMetrics().averageCharWidth() * 3);
    v2->addSpacing(fontMetrics().height() / 2);
    v2->addLayout(colors);
    v2->addSpacing(fontMetrics().height() / 2);
    auto *speedRow = new QHBoxLayout;
    speedRow->addWidget(m_label2);
    speedRow->addWidget(m_terminalSpeedCombo);
    speedRow->addStretch(1);
    v2->addLayout(speedRow);

    // A group box of one labelled field, for the options past the two frames above.
    auto fieldBox = [&](const QString &title, const char *name) {
        auto *box = new QGroupBox(title, this);
        box->setObjectName(QLatin1String(name));
        return box;
    };
    auto addField = [&](QGroupBox *box, const char *labelName, const QString &labelText, QWidget *field) {
        QLabel *fieldLabel = label(labelName, labelText, box);
        fieldLabel->setBuddy(field);
        auto *row = new QHBoxLayout(box);
        row->addWidget(fieldLabel);
        row->addWidget(field);
        row->addStretch(1);
    };

    // Keys -------------------------------------------------------------------------
    auto *keys = fieldBox(QStringLiteral("Keys"), "frameKeys");
    m_enterSendsCombo = list("comEnterSends", keys);
    // In the order of Settings::EnterSends; pasted line ends go out the same way.
    m_enterSendsCombo->addItems({QStringLiteral("CR"), QStringLiteral("LF"), QStringLiteral("CR LF")});
    m_enterSendsCombo->setToolTip(QStringLiteral("What the Enter key and each line end of a paste send"));
    addField(keys, "lblEnterSends", QStringLiteral("E&nter sends:"), m_enterSendsCombo);
    // HEX file ---------------------------------------------------------------------
    // The load summary warns of data beyond this size.
    auto *hexFrame = fieldBox(QStringLiteral("HEX file"), "frameHexFile");
    m_codeMemorySpin = spin("spnCodeMemory", hexFrame, Settings::MinCodeMemoryKB, Settings::MaxCodeMemoryKB);
    addField(hexFrame, "lblCodeMemory", QStringLiteral("Code &memory size (KB):"), m_codeMemorySpin);
    // Time stamps -------------------------------------------------------------------
    auto *stampFrame = fieldBox(QStringLiteral("Time stamps"), "frameTimeStamps");
    m_stampGapSpin = spin("spnStampGap", stampFrame, 1, 3600000);
    m_stampGapSpin->setToolTip(QStringLiteral("Data after a pause longer than this begins a new stamped line"));
    addField(stampFrame, "lblStampGap", QStringLiteral("Time-stamp &gap (ms):"), m_stampGapSpin);

    // Buttons ----------------------------------------------------------------------
    m_okButton = new QPushButton(QStringLiteral("&Ok"), this);
    m_okButton->setObjectName(QStringLiteral("cmdOk"));
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cmdCancel"));
    m_cancelButton->setAutoDefault(false);

    auto *left = new QVBoxLayout;
    left->addWidget(m_frame1);
    left->addWidget(m_frame2);
    left->addWidget(keys);
    left->addWidget(hexFrame);
    left->addWidget(stampFrame);
    auto *right = new QVBoxLayout;
    right->addWidget(m_okButton);
    right->addWidget(m_cancelButton);
    right->addStretch(1);
    auto *top = new QHBoxLayout(this);
    top->addLayout(left, 1);
    top->addLayout(right);
    top->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_printAsciiBox, &QCheckBox::toggled, this, &SettingsDialog::printAsciiToggled);
    connect(m_echoColorButton, &QPushButton::clicked, this, &SettingsDialog::pickEchoColor);
    connect(m_asciiColorButton, &QPushButton::clicked, this, &SettingsDialog::pickAsciiColor);
    connect(m_okButton, &QPushButton::clicked, this, &SettingsDialog::applySettings);
    connect(m_cancelButton, &QPushButton::clicked, this, &SettingsDialog::cancel);
    connect(m_serialPortCombo, &QComboBox::currentIndexChanged, this, &SettingsDialog::serielPortChanged);
    connect(m_portDeviceCombo, &QComboBox::editTextChanged, this, &SettingsDialog::portDeviceEdited);
    connect(m_portDeviceCombo, &QComboBox::activated, this, &SettingsDialog::portDeviceChosen);
}

SettingsDialog *SettingsDialog::open(SettingsDialogHost &host, QWidget *parent)
{
    if (s_current) {
        s_current->show();
        s_current->raise();
        s_current->activateWindow();
        return s_current;
    }
    auto *dlg = new SettingsDialog(host, parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    s_current = dlg;
    dlg->initialize();
    dlg->adjustSize();
    // With a parent Qt centres the dialog over it; without one, centre on the screen.
    if (!parent) {
        if (QScreen *screen = QGuiApplication::primaryScreen())
            dlg->move(screen->availableGeometry().center() - dlg->rect().center());
    }
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
    return dlg;
}

SettingsDialog *SettingsDialog::current()
{
    return s_current;
}

template <typename Step>
void SettingsDialog::runStep(Step &&step)
{
    try {
        step();
    } catch (const SettingsStepError &e) {
        m_host.prompter().message(e.text());
    } catch (const std::exception &e) {
        m_host.prompter().message(
            SettingsStepError{SettingsFailure::Internal, QStringLiteral("Internal error: ") + QString::fromLocal8Bit(e.what())}
                .text());
    }
}

void SettingsDialog::setReception(bool ignore)
{
    // No current handler: nothing to suspend or resume.
    if (LinkHandler *handler = m_host.currentHandler())
        handler->setIgnoreReceive(ignore);
}

int SettingsDialog::asciiBelowValue(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)$"));
    const QString t = text.trimmed();
    if (!number.match(t).hasMatch())
        throw failure(SettingsFailure::TypeMismatch,
                      t.isEmpty() ? QStringLiteral("Type mismatch: the threshold is empty")
                                  : QStringLiteral("Type mismatch: \"%1\" is not a number").arg(t));
    const double v = roundHalfEven(t.toDouble());
    if (!(v >= 0 && v <= 255))
        throw failure(SettingsFailure::Overflow,
                      QStringLiteral("Overflow: the threshold %1 is outside 0 to 255").arg(t));
    return int(v);
}

void SettingsDialog::initialize()
{
    Settings &s = m_host.settings();
    runStep([&] { setReception(true); });
    runStep([&] {
        if (!m_colorPicker) {
            m_colorPicker = new ColorPicker(this);
            connect(m_colorPicker, &ColorPicker::colorPicked, this, &SettingsDialog::colorPicked);
        }
        m_colorPicker->hide();
    });

    runStep([&] { m_reloadHexBox->setChecked(s.reloadHex()); });
    runStep([&] {
        for (int n = 1; n <= Settings::PortCount; ++n)
            m_devices[std::size_t(n - 1)] = s.portDevice(n);
        {
            const QSignalBlocker block(m_portDeviceCombo);
            m_portDeviceCombo->clear();
            m_deviceChoices = m_host.serialDevices();
            for (const SerialDevice &device : m_deviceChoices)
                m_portDeviceCombo->addItem(device.label, device.name);
        }

        const int index = s.serialPort() - 1;
        const bool listed = index >= -1 && index < m_serialPortCombo->count();
        m_serialPortCombo->setCurrentIndex(listed ? index : -1);
        serielPortChanged(m_serialPortCombo->currentIndex());
        if (!listed)
            throw failure(SettingsFailure::PortNotListed,
                          QStringLiteral("Invalid property value: seriel port %1 is not one of COM 1 to COM %2")
                              .arg(s.serialPort())
                              .arg(Settings::PortCount));
    });
    runStep([&] { m_externalTerminalBox->setChecked(s.useExternalTerminal()); });
    runStep([&] { m_echoBox->setChecked(s.echo()); });
    runStep([&] { m_reloadOnFocusBox->setChecked(s.reloadHexOnFocus()); });
    runStep([&] { m_printAsciiBox->setChecked(s.printAscii()); });
    runStep([&] {
        const int index = m_terminalSpeedCombo->findText(s.terminalSpeed(), Qt::MatchExactly | Qt::MatchCaseSensitive);
        m_terminalSpeedCombo->setCurrentIndex(index);
        if (index < 0)
            throw failure(SettingsFailure::SpeedNotListed,
                          QStringLiteral("Invalid property value: terminal speed \"%1\" is not in the list")
                              .arg(s.terminalSpeed()));
    });
    runStep([&] { m_asciiBelowEdit->setText(QString::number(s.asciiBelow())); });
    runStep([&] { m_echoColorButton->setColor(ColorRef(s.echoColor())); });
    runStep([&] { m_asciiColorButton->setColor(ColorRef(s.asciiColor())); });
    runStep([&] { m_asciiBelowEdit->setEnabled(m_printAsciiBox->isChecked()); });
    runStep([&] { m_enterSendsCombo->setCurrentIndex(int(s.enterSends())); });
    runStep([&] { m_codeMemorySpin->setValue(s.codeMemoryKB()); });
    runStep([&] { m_stampGapSpin->setValue(s.stampGapMs()); });
}

void SettingsDialog::printAsciiToggled()
{
    m_asciiBelowEdit->setEnabled(m_printAsciiBox->isChecked());
}

void SettingsDialog::serielPortChanged(int index)
{
    const bool chosen = index >= 0 && index < int(m_devices.size());
    const QSignalBlocker block(m_portDeviceCombo);
    m_portDeviceCombo->setEnabled(chosen);
    m_lblPortDevice->setEnabled(chosen);
    const QString device = chosen ? m_devices[std::size_t(index)] : QString();
    // The list opens at the entry for the stored device, maybe under its by-id name, but
    // the box shows what is stored until the user chooses.
    m_portDeviceCombo->setCurrentIndex(SerialDeviceList::indexOf(m_deviceChoices, device));
    m_portDeviceCombo->setEditText(device);
}

void SettingsDialog::portDeviceEdited(const QString &device)
{
    const int index = m_serialPortCombo->currentIndex();
    // A chosen or completed label stands for its device's name.
    const int item = m_portDeviceCombo->findText(device, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0 && index < int(m_devices.size()))
        m_devices[std::size_t(index)] = item >= 0 ? m_portDeviceCombo->itemData(item).toString() : device;
}

void SettingsDialog::portDeviceChosen(int index)
{
    m_portDeviceCombo->setEditText(m_portDeviceCombo->itemData(index).toString());
}

void SettingsDialog::showPicker(ColorButton *button, bool forEcho)
{
    echoColor = forEcho;
    if (!m_colorPicker)
        return;
    // Just under the button, where the eye already is.
    m_colorPicker->popUpAt(button->mapToGlobal(QPoint(0, button->height())));
}

void SettingsDialog::pickEchoColor()
{
    showPicker(m_echoColorButton, true);
}

void SettingsDialog::pickAsciiColor()
{
    showPicker(m_asciiColorButton, false);
}

void SettingsDialog::colorPicked(ColorRef color)
{
    ColorButton *target = echoColor ? m_echoColorButton : m_asciiColorButton;
    target->setColor(color);
}

void SettingsDialog::applySettings()
{
    Settings &s = m_host.settings();
    runStep([&] {
        if (m_host.serialReady())
            m_host.closePort();
    });

    runStep([&] { s.setEcho(m_echoBox->isChecked()); });
    runStep([&] { s.setUseExternalTerminal(m_externalTerminalBox->isChecked()); });
    runStep([&] { s.setSerialPort(m_serialPortCombo->currentIndex() + 1); });
    runStep([&] {
        // An emptied device box keeps the device stored before.
        for (int n = 1; n <= Settings::PortCount; ++n) {
            const QString device = m_devices[std::size_t(n - 1)].trimmed();
            if (!device.isEmpty())
                s.setPortDevice(n, device);
        }
    });
    runStep([&] { s.setReloadHex(m_reloadHexBox->isChecked()); });
    runStep([&] { s.setReloadHexOnFocus(m_reloadOnFocusBox->isChecked()); });
    runStep([&] { s.setPrintAscii(m_printAsciiBox->isChecked()); });
    runStep([&] { s.setTerminalSpeed(m_terminalSpeedCombo->currentText()); });
    runStep([&] { s.setAsciiBelow(asciiBelowValue(m_asciiBelowEdit->text())); });
    runStep([&] { s.setEchoColor(qint32(m_echoColorButton->color())); });
    runStep([&] { s.setAsciiColor(qint32(m_asciiColorButton->color())); });
    runStep([&] { s.setEnterSends(Settings::EnterSends(m_enterSendsCombo->currentIndex())); });
    runStep([&] { s.setCodeMemoryKB(m_codeMemorySpin->value()); });
    runStep([&] { s.setStampGapMs(m_stampGapSpin->value()); });

    runStep([&] {
        if (m_host.currentHandler() && m_host.currentHandlerIsTerminal())
            m_host.clearTerminal();
    });
    runStep([&] { m_host.openPort(); });
    runStep([&] { setReception(false); });
    done(Accepted);
}

void SettingsDialog::cancel()
{
    reject();
}

void SettingsDialog::reject()
{
    // Closing without "&Ok" must not leave the current handler deaf.
    runStep([&] { setReception(false); });
    QDialog::reject();
}

void SettingsDialog::done(int result)
{
    if (m_colorPicker) {
        m_colorPicker->hide();
        m_colorPicker->deleteLater();
        m_colorPicker = nullptr;
    }
    if (s_current == this)
        s_current = nullptr;
    QDialog::done(result);
}
