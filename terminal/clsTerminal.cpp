#include "terminal/clsTerminal.h"

#include "app/ClsGlobalState.h"
#include "app/StatusSink.h"
#include "link/LinkDispatcher.h"
#include "link/SerialPortSetup.h"
#include "settings/Settings.h"
#include "terminal/TerminalRenderer.h"
#include "terminal/TerminalSurface.h"

#include <cerrno>

clsTerminal::clsTerminal(LinkDispatcher &link, SerialPortSetup &port, ClsGlobalState &state,
                         const Settings &settings, TerminalSurface &surface)
    : m_link(link), m_settings(settings), m_surface(surface)
{
    ByteLink &line = m_link.link();
    if (line.isOpen()) {
        // The run request was written just before; closing at once could drop it unsent.
        line.flush();
        line.close();
    }

    if (const std::optional<qint32> baud = TerminalBaud(m_settings.TerminalSpeed())) {
        // Writes its own "ERROR: " line and switches to serial-not-ready when it fails.
        m_portOpened = port.reopenAt(*baud);
    } else {
        m_link.status().AppendStatus(QStringLiteral("ERROR: The terminal speed \"%1\" is not a baud rate. Choose "
                                                    "another one in the settings")
                                         .arg(m_settings.TerminalSpeed()),
                                     true);
        state.SerielNotReadyMode();
    }
    InitRTF();
}

std::optional<qint32> clsTerminal::TerminalBaud(const QString &TerminalSpeed)
{
    bool ok = false;
    const qint32 baud = TerminalSpeed.trimmed().toInt(&ok, 10);
    if (!ok || baud <= 0)
        return std::nullopt;
    return baud;
}

QString clsTerminal::sendFailureText(const LinkResult &result)
{
    if (result.code == 0)
        return result.reason;
    return QStringLiteral("%1: %2").arg(result.code).arg(result.reason);
}

void clsTerminal::Receive(const QByteArray &CurrentByte)
{
    TerminalRenderSettings render;
    render.PrintASCII = m_settings.PrintASCII();
    render.ASCIIBelow = m_settings.ASCIIBelow();
    render.ASCIIColor = ColorRef(m_settings.ASCIIColor());
    TerminalRenderer &renderer = m_surface.renderer();
    renderer.setSettings(render);
    renderer.Receive(CurrentByte);
}

LinkResult clsTerminal::Send(int charcode)
{
    if (charcode < 0 || charcode > 0xFF)
        return LinkResult::failure(LinkError::Other, EINVAL,
                                   QStringLiteral("The character code %1 cannot be sent as one byte").arg(charcode));
    // Written directly, not through the dispatcher: a failed key must not end the
    // conversation the way a failed request ends its exchange.
    return m_link.link().write(QByteArray(1, char(charcode)));
}

void clsTerminal::InitRTF()
{
    m_surface.renderer().InitRTF();
}

void clsTerminal::AddString(const QString &RTF, ColorRef color)
{
    m_surface.renderer().AddString(RTF, color);
}
