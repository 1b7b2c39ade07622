#include "link/TerminalSession.h"

#include "core/Readiness.h"
#include "core/StatusSink.h"
#include "link/LinkDispatcher.h"
#include "link/SerialPortSetup.h"
#include "link/TerminalCapture.h"
#include "settings/Settings.h"
#include "terminal/TerminalRenderer.h"
#include "terminal/TerminalSurface.h"

#include <cerrno>

TerminalSession::TerminalSession(LinkDispatcher &link, SerialPortSetup &port, Readiness &state,
                         const Settings &settings, TerminalSurface &surface)
    : m_link(link), m_settings(settings), m_surface(surface)
{
    ByteLink &line = m_link.link();
    if (line.isOpen()) {
        // The run request was written just before; closing at once could drop it unsent.
        line.flush();
        line.close();
    }

    if (const std::optional<qint32> baud = terminalBaud(m_settings.terminalSpeed())) {
        // Writes its own "ERROR: " line and switches to serial-not-ready when it fails.
        m_portOpened = port.reopenAt(*baud);
    } else {
        m_link.status().appendStatus(QStringLiteral("ERROR: The terminal speed \"%1\" is not a baud rate. Choose "
                                                    "another one in the settings")
                                         .arg(m_settings.terminalSpeed()),
                                     true);
        state.setSerialNotReady();
    }
    clear();
}

TerminalViewOptions TerminalSession::viewOptions(const Settings &settings)
{
    TerminalViewOptions options;
    options.hexView = settings.hexView();
    options.timeStamps = settings.timeStamps();
    options.stampGapMs = settings.stampGapMs();
    return options;
}

std::optional<qint32> TerminalSession::terminalBaud(const QString &terminalSpeed)
{
    bool ok = false;
    const qint32 baud = terminalSpeed.trimmed().toInt(&ok, 10);
    if (!ok || baud <= 0)
        return std::nullopt;
    return baud;
}

QString TerminalSession::sendFailureText(const LinkResult &result)
{
    if (result.code == 0)
        return result.reason;
    return QStringLiteral("%1: %2").arg(result.code).arg(result.reason);
}

void TerminalSession::receive(const QByteArray &bytes)
{
    if (m_capture)
        m_capture->append(bytes);
    TerminalRenderSettings render;
    render.printAscii = m_settings.printAscii();
    render.asciiBelow = m_settings.asciiBelow();
    render.asciiColor = ColorRef(m_settings.asciiColor());
    TerminalRenderer &renderer = m_surface.renderer();
    renderer.setSettings(render);
    renderer.setViewOptions(viewOptions(m_settings));
    renderer.receive(bytes);
}

LinkResult TerminalSession::send(int charcode)
{
    if (charcode < 0 || charcode > 0xFF)
        return LinkResult::failure(LinkError::Other, EINVAL,
                                   QStringLiteral("The character code %1 cannot be sent as one byte").arg(charcode));
    // Written directly, not through the dispatcher: a failed key must not end the
    // conversation the way a failed request ends its exchange.
    return m_link.link().write(QByteArray(1, char(charcode)));
}

LinkResult TerminalSession::sendKey(quint8 charCode)
{
    if (charCode == '\r')
        return sendBytes(enterBytes(m_settings.enterSends()));
    return send(charCode);
}

LinkResult TerminalSession::sendBytes(const QByteArray &bytes)
{
    return m_link.link().write(bytes);
}

QByteArray TerminalSession::enterBytes(Settings::EnterSends choice)
{
    switch (choice) {
    case Settings::EnterSends::LF:
        return QByteArrayLiteral("\n");
    case Settings::EnterSends::CRLF:
        return QByteArrayLiteral("\r\n");
    case Settings::EnterSends::CR:
        break;
    }
    return QByteArrayLiteral("\r");
}

void TerminalSession::clear()
{
    m_surface.renderer().clear();
}

void TerminalSession::addText(const QString &text, ColorRef color)
{
    m_surface.renderer().addText(text, color);
}
