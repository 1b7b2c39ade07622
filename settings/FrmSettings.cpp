#include "settings/FrmSettings.h"

#include "app/Prompter.h"
#include "link/LinkHandler.h"
#include "settings/FrmColorPick.h"
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
#include <QSerialPortInfo>

#include <cmath>
#include <exception>
#include <limits>

namespace {
QPointer<frmSettings> s_current;

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

frmSettings::frmSettings(SettingsDialogHost &host, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint),
      m_host(host)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Corvade - Settings"));
    setModal(false);
    buildControls();
}

frmSettings::~frmSettings() = default;

void frmSettings::buildControls()
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

    // General ----------------------------------------------------------------------
    m_frame1 = new QGroupBox(QStringLiteral("General"), this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_chkReloadHex = check("chkReloadHex", QStringLiteral("&Reload last opened hex file on startup"), m_frame1);
    m_chkReloadOnFocus = check("chkReloadOnFocus", QStringLiteral("Reload &hex file when receiving focus"), m_frame1);
    m_label1 = label("Label1", QStringLiteral("&Seriel port:"), m_frame1);
    m_comSerielPort = list("comSerielPort", m_frame1);
    for (int n = 1; n <= Settings::PortCount; ++n)
        m_comSerielPort->addItem(QStringLiteral("COM %1").arg(n));
    m_comSerielPort->setCurrentIndex(-1);
    m_label1->setBuddy(m_comSerielPort);

    // The device the chosen "COM n" names on this system; the user may type any path,
    // for example the simulated board's pseudo-terminal.
    m_lblPortDevice = label("lblPortDevice", QStringLiteral("&Device:"), m_frame1);
    m_comPortDevice = list("comPortDevice", m_frame1);
    m_comPortDevice->setEditable(true);
    m_comPortDevice->setInsertPolicy(QComboBox::NoInsert);
    m_comPortDevice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_comPortDevice->setMinimumContentsLength(12);
    m_comPortDevice->setToolTip(QStringLiteral("The serial device that the chosen port stands for"));
    m_lblPortDevice->setBuddy(m_comPortDevice);

    auto *g1 = new QGridLayout(m_frame1);
    g1->addWidget(m_chkReloadHex, 0, 0, 1, 4);
    g1->addWidget(m_chkReloadOnFocus, 1, 0, 1, 4);
    g1->addWidget(m_label1, 2, 0);
    g1->addWidget(m_comSerielPort, 2, 1);
    g1->addWidget(m_lblPortDevice, 2, 2, Qt::AlignRight);
    g1->addWidget(m_comPortDevice, 2, 3);
    g1->setColumnStretch(3, 1);
    g1->setColumnMinimumWidth(1, 0);

    // Terminal ---------------------------------------------------------------------
    m_frame2 = new QGroupBox(QStringLiteral("Terminal"), this);
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    m_chkExternalTerminal = check("chkExternalTerminal", QStringLiteral("&Use external termianl after run"), m_frame2);
    m_chkEcho = check("chkEcho", QStringLiteral("&Echo on"), m_frame2);
    m_chkPrintASCII = check("chkPrintASCII", QStringLiteral("&Print ASCII characters below"), m_frame2);
    m_txtASCIIBelow = new QLineEdit(m_frame2);
    m_txtASCIIBelow->setObjectName(QStringLiteral("txtASCIIBelow"));
    m_txtASCIIBelow->setMaxLength(std::numeric_limits<int>::max());
    m_txtASCIIBelow->setMaximumWidth(m_txtASCIIBelow->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
    m_label5 = label("Label5", QStringLiteral("As <ASCII number>"), m_frame2);
    m_label3 = label("Label3", QStringLiteral("Echo &Color"), m_frame2);
    m_label4 = label("Label4", QStringLiteral("Special &ASCII characters color"), m_frame2);
    m_cmdEchoColor = new ColorButton(m_frame2);
    m_cmdEchoColor->setObjectName(QStringLiteral("cmdEchoColor"));
    m_cmdEchoColor->setToolTip(QStringLiteral("Colour of the keys echoed in the terminal"));
    m_cmdASCIIColor = new ColorButton(m_frame2);
    m_cmdASCIIColor->setObjectName(QStringLiteral("cmdASCIIColor"));
    m_cmdASCIIColor->setToolTip(QStringLiteral("Colour of the characters shown as numbers"));
    m_label3->setBuddy(m_cmdEchoColor);
    m_label4->setBuddy(m_cmdASCIIColor);
    m_label2 = label("Label2", QStringLiteral("&Terminal speed:"), m_frame2);
    m_comTerminalSpeed = list("comTerminalSpeed", m_frame2);
    for (const char *speed : kSpeeds)
        m_comTerminalSpeed->addItem(QLatin1String(speed));
    m_comTerminalSpeed->setCurrentIndex(-1);
    m_label2->setBuddy(m_comTerminalSpeed);

    auto *v2 = new QVBoxLayout(m_frame2);
    v2->addWidget(m_chkExternalTerminal);
    v2->addWidget(m_chkEcho);
    auto *printRow = new QHBoxLayout;
    printRow->addWidget(m_chkPrintASCII);
    printRow->addWidget(m_txtASCIIBelow);
    printRow->addWidget(m_label5);
    printRow->addStretch(1);
    v2->addLayout(printRow);
    auto *colors = new QGridLayout;
    colors->addWidget(m_label3, 0, 0);
    colors->addWidget(m_label4, 0, 1);
    colors->addWidget(m_cmdEchoColor, 1, 0, Qt::AlignLeft);
    colors->addWidget(m_cmdASCIIColor, 1, 1, Qt::AlignLeft);
    colors->setColumnStretch(2, 1);
    colors->setHorizontalSpacing(fontMetrics().averageCharWidth() * 3);
    v2->addSpacing(fontMetrics().height() / 2);
    v2->addLayout(colors);
    v2->addSpacing(fontMetrics().height() / 2);
    auto *speedRow = new QHBoxLayout;
    speedRow->addWidget(m_label2);
    speedRow->addWidget(m_comTerminalSpeed);
    speedRow->addStretch(1);
    v2->addLayout(speedRow);

    // Buttons ----------------------------------------------------------------------
    m_cmdOk = new QPushButton(QStringLiteral("&Ok"), this);
    m_cmdOk->setObjectName(QStringLiteral("cmdOk"));
    m_cmdOk->setDefault(true);
    m_cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    m_cmdCancel->setAutoDefault(false);

    auto *left = new QVBoxLayout;
    left->addWidget(m_frame1);
    left->addWidget(m_frame2);
    auto *right = new QVBoxLayout;
    right->addWidget(m_cmdOk);
    right->addWidget(m_cmdCancel);
    right->addStretch(1);
    auto *top = new QHBoxLayout(this);
    top->addLayout(left, 1);
    top->addLayout(right);
    top->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_chkPrintASCII, &QCheckBox::toggled, this, &frmSettings::chkPrintASCII_Click);
    connect(m_cmdEchoColor, &QPushButton::clicked, this, &frmSettings::cmdEchoColor_Click);
    connect(m_cmdASCIIColor, &QPushButton::clicked, this, &frmSettings::cmdASCIIColor_Click);
    connect(m_cmdOk, &QPushButton::clicked, this, &frmSettings::cmdOk_Click);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmSettings::cmdCancel_Click);
    connect(m_comSerielPort, &QComboBox::currentIndexChanged, this, &frmSettings::serielPortChanged);
    connect(m_comPortDevice, &QComboBox::editTextChanged, this, &frmSettings::portDeviceEdited);
}

frmSettings *frmSettings::Open(SettingsDialogHost &host, QWidget *parent)
{
    if (s_current) {
        s_current->show();
        s_current->raise();
        s_current->activateWindow();
        return s_current;
    }
    auto *dlg = new frmSettings(host, parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    s_current = dlg;
    dlg->Form_Load();
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

frmSettings *frmSettings::Current()
{
    return s_current;
}

template <typename Step>
void frmSettings::runStep(Step &&step)
{
    try {
        step();
    } catch (const SettingsStepError &e) {
        m_host.Prompts().message(e.text());
    } catch (const std::exception &e) {
        m_host.Prompts().message(
            SettingsStepError{SettingsFailure::Internal, QStringLiteral("Internal error: ") + QString::fromLocal8Bit(e.what())}
                .text());
    }
}

void frmSettings::setReception(bool ignore)
{
    // No current handler: nothing to suspend or resume.
    if (LinkHandler *handler = m_host.CurrentHandler())
        handler->setIgnoreReceive(ignore);
}

int frmSettings::ASCIIBelowValue(const QString &text)
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

void frmSettings::Form_Load()
{
    Settings &s = m_host.AppSettings();
    runStep([&] { setReception(true); });
    runStep([&] {
        if (!m_colorPick) {
            m_colorPick = new frmColorPick(this);
            connect(m_colorPick, &frmColorPick::colorPicked, this, &frmSettings::colorPicked);
        }
        m_colorPick->hide();
    });

    runStep([&] { m_chkReloadHex->setChecked(s.ReloadHex()); });
    runStep([&] {
        for (int n = 1; n <= Settings::PortCount; ++n)
            m_devices[std::size_t(n - 1)] = s.PortDevice(n);
        m_comPortDevice->clear();
        const auto ports = QSerialPortInfo::availablePorts();
        QStringList locations;
        for (const QSerialPortInfo &info : ports)
            locations << info.systemLocation();
        locations.sort();
        m_comPortDevice->addItems(locations);

        const int index = s.SerielPort() - 1;
        const bool listed = index >= -1 && index < m_comSerielPort->count();
        m_comSerielPort->setCurrentIndex(listed ? index : -1);
        serielPortChanged(m_comSerielPort->currentIndex());
        if (!listed)
            throw failure(SettingsFailure::PortNotListed,
                          QStringLiteral("Invalid property value: seriel port %1 is not one of COM 1 to COM %2")
                              .arg(s.SerielPort())
                              .arg(Settings::PortCount));
    });
    runStep([&] { m_chkExternalTerminal->setChecked(s.UseExternalTerminal()); });
    runStep([&] { m_chkEcho->setChecked(s.Echo()); });
    runStep([&] { m_chkReloadOnFocus->setChecked(s.ReloadHexOnfocus()); });
    runStep([&] { m_chkPrintASCII->setChecked(s.PrintASCII()); });
    runStep([&] {
        const int index = m_comTerminalSpeed->findText(s.TerminalSpeed(), Qt::MatchExactly | Qt::MatchCaseSensitive);
        m_comTerminalSpeed->setCurrentIndex(index);
        if (index < 0)
            throw failure(SettingsFailure::SpeedNotListed,
                          QStringLiteral("Invalid property value: terminal speed \"%1\" is not in the list")
                              .arg(s.TerminalSpeed()));
    });
    runStep([&] { m_txtASCIIBelow->setText(QString::number(s.ASCIIBelow())); });
    runStep([&] { m_cmdEchoColor->setBackColor(ColorRef(s.EchoColor())); });
    runStep([&] { m_cmdASCIIColor->setBackColor(ColorRef(s.ASCIIColor())); });
    runStep([&] { m_txtASCIIBelow->setEnabled(m_chkPrintASCII->isChecked()); });
}

void frmSettings::chkPrintASCII_Click()
{
    m_txtASCIIBelow->setEnabled(m_chkPrintASCII->isChecked());
}

void frmSettings::serielPortChanged(int index)
{
    const bool chosen = index >= 0 && index < int(m_devices.size());
    const QSignalBlocker block(m_comPortDevice);
    m_comPortDevice->setEnabled(chosen);
    m_lblPortDevice->setEnabled(chosen);
    m_comPortDevice->setEditText(chosen ? m_devices[std::size_t(index)] : QString());
}

void frmSettings::portDeviceEdited(const QString &device)
{
    const int index = m_comSerielPort->currentIndex();
    if (index >= 0 && index < int(m_devices.size()))
        m_devices[std::size_t(index)] = device;
}

void frmSettings::showPicker(ColorButton *button, bool forEcho)
{
    EchoColor = forEcho;
    if (!m_colorPick)
        return;
    // Just under the button, where the eye already is.
    m_colorPick->popUpAt(button->mapToGlobal(QPoint(0, button->height())));
}

void frmSettings::cmdEchoColor_Click()
{
    showPicker(m_cmdEchoColor, true);
}

void frmSettings::cmdASCIIColor_Click()
{
    showPicker(m_cmdASCIIColor, false);
}

void frmSettings::colorPicked(ColorRef color)
{
    ColorButton *target = EchoColor ? m_cmdEchoColor : m_cmdASCIIColor;
    target->setBackColor(color);
}

void frmSettings::cmdOk_Click()
{
    Settings &s = m_host.AppSettings();
    runStep([&] {
        if (m_host.SerielReady())
            m_host.ClosePort();
    });

    runStep([&] { s.setEcho(m_chkEcho->isChecked()); });
    runStep([&] { s.setUseExternalTerminal(m_chkExternalTerminal->isChecked()); });
    runStep([&] { s.setSerielPort(m_comSerielPort->currentIndex() + 1); });
    runStep([&] {
        // An emptied device box keeps the device stored before.
        for (int n = 1; n <= Settings::PortCount; ++n) {
            const QString device = m_devices[std::size_t(n - 1)].trimmed();
            if (!device.isEmpty())
                s.setPortDevice(n, device);
        }
    });
    runStep([&] { s.setReloadHex(m_chkReloadHex->isChecked()); });
    runStep([&] { s.setReloadHexOnfocus(m_chkReloadOnFocus->isChecked()); });
    runStep([&] { s.setPrintASCII(m_chkPrintASCII->isChecked()); });
    runStep([&] { s.setTerminalSpeed(m_comTerminalSpeed->currentText()); });
    runStep([&] { s.setASCIIBelow(ASCIIBelowValue(m_txtASCIIBelow->text())); });
    runStep([&] { s.setEchoColor(qint32(m_cmdEchoColor->BackColor())); });
    runStep([&] { s.setASCIIColor(qint32(m_cmdASCIIColor->BackColor())); });

    runStep([&] {
        if (m_host.CurrentHandler() && m_host.CurrentHandlerIsTerminal())
            m_host.TerminalInitRTF();
    });
    runStep([&] { m_host.InitSerialPort(); });
    runStep([&] { setReception(false); });
    done(Accepted);
}

void frmSettings::cmdCancel_Click()
{
    reject();
}

void frmSettings::reject()
{
    // Closing without "&Ok" must not leave the current handler deaf.
    runStep([&] { setReception(false); });
    QDialog::reject();
}

void frmSettings::done(int result)
{
    if (m_colorPick) {
        m_colorPick->hide();
        m_colorPick->deleteLater();
        m_colorPick = nullptr;
    }
    if (s_current == this)
        s_current = nullptr;
    QDialog::done(result);
}
