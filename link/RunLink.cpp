#include "link/RunLink.h"

#include "app/Prompter.h"
#include "app/StatusSink.h"
#include "link/LinkDispatcher.h"
#include "link/clsRun.h"
#include "settings/Settings.h"
#include "terminal/clsTerminal.h"

RunLink::RunLink(LinkDispatcher &link, SerialPortSetup &port, ClsGlobalState &state, const Settings &settings,
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

void RunLink::mnuKernelRun_Click()
{
    // Replacing the handler under a waiting command would leave that wait to its
    // time-out, which then silences whatever handler is current.
    if (!m_link.beginExchange())
        return;

    auto run = std::make_shared<clsRun>(m_link);
    m_link.setCurrentHandler(run);
    if (!run->Send()) {
        // The program was not started; a terminal would only wait for nothing.
        m_link.releaseHandler(run.get());
        return;
    }

    if (m_settings.UseExternalTerminal()) {
        m_link.status().AppendStatus(QStringLiteral("Closing serial port, to use external terminal"), true);
        ByteLink &line = m_link.link();
        line.flush();
        line.close();
        return;
    }
    m_link.setCurrentHandler(std::make_shared<clsTerminal>(m_link, m_port, m_state, m_settings, m_surface));
}

void RunLink::mnuKernelDownloadRun_Click()
{
    if (!m_link.beginExchange())
        return;
    const bool downloaded = m_download && m_download();
    if (downloaded) {
        mnuKernelRun_Click();
        return;
    }
    m_link.setCurrentHandler(nullptr);
}

std::shared_ptr<clsTerminal> RunLink::currentTerminal() const
{
    return std::dynamic_pointer_cast<clsTerminal>(m_link.CurrentHandler());
}

bool RunLink::TerminalKeyPress(quint8 charCode)
{
    const std::shared_ptr<clsTerminal> terminal = currentTerminal();
    if (!terminal)
        return false;
    const LinkResult result = terminal->Send(charCode);
    if (result.ok())
        return true;
    m_prompter.message(clsTerminal::sendFailureText(result));
    return false;
}
