#include "link/SerialPortSetup.h"

#include "core/Readiness.h"
#include "core/Prompter.h"
#include "core/StatusSink.h"

SerialPortSetup::SerialPortSetup(ByteLink &link, StatusSink &status, Prompter &prompter, Readiness &state,
                                 Hooks hooks, QObject *parent)
    : QObject(parent), m_link(link), m_status(status), m_prompter(prompter), m_state(state), m_hooks(std::move(hooks))
{
    connect(&m_link, &ByteLink::linkLost, this, &SerialPortSetup::onLinkLost);
}

namespace {
// "port 2" names a setting; the device says what is missing or busy on this machine. It
// follows the established texts rather than changing them.
QString portWithDevice(int n, const QString &device)
{
    return device.isEmpty() ? QString::number(n) : QStringLiteral("%1 (%2)").arg(n).arg(device);
}
QString deviceLine(const QString &device)
{
    return device.isEmpty() ? QString() : QStringLiteral("\r\nDevice: ") + device;
}
} // namespace

QString SerialPortSetup::inUseText(int n, const QString &device)
{
    return QStringLiteral("The serielport, port %1 is already in use.\r\n"
                          "Close the port (or the program that is using it) and try again")
               .arg(n)
        + deviceLine(device);
}

QString SerialPortSetup::invalidText(int n, const QString &device)
{
    return QStringLiteral("The serielport, port %1 is invalid.").arg(n) + deviceLine(device);
}

bool SerialPortSetup::openPort()
{
    const QString device = m_hooks.deviceForPort(m_hooks.portNumber());
    m_status.appendStatus(QStringLiteral("Initializing serielport (Port %1)...").arg(m_hooks.portNumber()), false);

    for (;;) {
        const LinkResult result = m_link.open(device, kDownloadBaud);
        if (result.ok()) {
            m_status.appendStatus(QStringLiteral("Ok"), true);
            m_state.setSerialReady();
            return true;
        }

        const int n = m_hooks.portNumber();
        Prompter::Answer answer;
        if (m_hooks.stopRequested && m_hooks.stopRequested()) {
            // A stop request closes the box, and a closed box means going on without the port.
            answer = Prompter::Answer::Ignore;
        } else if (result.error == LinkError::InUse) {
            answer = m_prompter.abortRetryIgnore(inUseText(n, device), Prompter::Answer::Retry);
        } else if (result.error == LinkError::NoSuchDevice) {
            answer = m_prompter.abortRetryIgnore(invalidText(n, device), Prompter::Answer::Ignore);
        } else {
            // Unexpected: one box, the mode stays as it was and the opening line stays open.
            m_prompter.message(QStringLiteral("%1 %2").arg(result.code).arg(result.reason));
            return false;
        }

        if (answer == Prompter::Answer::Abort) {
            m_hooks.abortNow();
            return false; // reached only when the hook does not end the process (tests)
        }
        if (answer == Prompter::Answer::Retry) {
            m_status.appendStatus(QStringLiteral("Retrying to initialize seriel port"), true);
            continue;
        }
        m_status.appendStatus(QStringLiteral("WARNING Serielport not initialized!")
                                  + (device.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(device)),
                              true);
        m_status.appendStatus(QStringLiteral("You will not be able to connect to the 8051, and many Corvade "
                                             "functions will be disabled"),
                              true);
        m_state.setSerialNotReady();
        return false;
    }
}

void SerialPortSetup::initializeSerialPort()
{
    if (m_state.serialReady())
        m_link.close();
    openPort();
}

bool SerialPortSetup::reopenAt(qint32 baud)
{
    const QString device = m_hooks.deviceForPort(m_hooks.portNumber());
    if (m_state.serialReady())
        m_link.close();
    const LinkResult result = m_link.open(device, baud);
    if (!result.ok()) {
        m_status.appendStatus(QStringLiteral("ERROR: ") + result.reason, true);
        m_state.setSerialNotReady();
        return false;
    }
    m_state.setSerialReady();
    return true;
}

void SerialPortSetup::onLinkLost(const QString &reason)
{
    // The line may hold an unfinished progress line; end it before the error.
    m_status.appendStatus(QString(), true);
    const int n = m_hooks.portNumber();
    m_status.appendStatus(QStringLiteral("ERROR: The serielport, port %1 was lost (%2). Reconnect it and choose "
                                         "Initialise serielport (F4)")
                              .arg(portWithDevice(n, m_hooks.deviceForPort(n)))
                              .arg(reason),
                          true);
    m_state.setSerialNotReady();
}
