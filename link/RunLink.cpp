#include "link/RunLink.h"

#include "core/Prompter.h"
#include "core/StatusSink.h"
#include "link/LinkDispatcher.h"
#include "link/RunRequest.h"
#include "settings/Settings.h"
#include "link/TerminalSession.h"

RunLink::RunLink(LinkDispatcher &link, SerialPortSetup &port, Readiness &state, const Settings &settings,
                 Prompter &prompter, TerminalSurface &surface, Download download)
    : m_link(link),
      m_port(port),
      m_state(state),
      m_settings(settings),
      m_prompter(prompter),
      m_surface(surface),
      m_download(std::move(download))
{
}

void RunLink::run()
{
    // Replacing the handler under a waiting command would leave that wait to its
    // time-out, which then silences whatever handler is current.
    if (!m_link.beginExchange())
        return;

    auto run = std::make_shared<RunRequest>(m_link);
    m_link.setCurrentHandler(run);
    if (!run->send()) {
        // The program was not started; a terminal would only wait for nothing.
        m_link.releaseHandler(run.get());
        return;
    }

    if (m_settings.useExternalTerminal()) {
        m_link.status().appendStatus(QStringLiteral("Closing serial port, to use external terminal"), true);
        ByteLink &line = m_link.link();
        line.flush();
        line.close();
        return;
    }
    auto terminal = std::make_shared<TerminalSession>(m_link, m_port, m_state, m_settings, m_surface);
    terminal->setCapture(m_capture);
    m_link.setCurrentHandler(terminal);
}

void RunLink::downloadAndRun()
{
    if (!m_link.beginExchange())
        return;
    const bool downloaded = m_download && m_download();
    if (downloaded) {
        run();
        return;
    }
    m_link.setCurrentHandler(nullptr);
}

std::shared_ptr<TerminalSession> RunLink::currentTerminal() const
{
    return std::dynamic_pointer_cast<TerminalSession>(m_link.currentHandler());
}

bool RunLink::sendKey(quint8 charCode)
{
    const std::shared_ptr<TerminalSession> terminal = currentTerminal();
    if (!terminal)
        return false;
    const LinkResult result = terminal->sendKey(charCode);
    if (result.ok())
        return true;
    m_prompter.message(TerminalSession::sendFailureText(result));
    return false;
}
