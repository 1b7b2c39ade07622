#include "app/MainSettingsHost.h"

#include "core/Readiness.h"
#include "link/SerialLink.h"
#include "link/TerminalSession.h"

MainSettingsHost::MainSettingsHost(Settings &settings, Prompter &prompter, SerialLink &link, Readiness &readiness)
    : m_settings(settings), m_prompter(prompter), m_link(link), m_readiness(readiness)
{
}

LinkHandler *MainSettingsHost::currentHandler()
{
    return m_link.dispatcher().currentHandler().get();
}

bool MainSettingsHost::currentHandlerIsTerminal()
{
    return dynamic_cast<TerminalSession *>(currentHandler()) != nullptr;
}

void MainSettingsHost::clearTerminal()
{
    if (auto *terminal = dynamic_cast<TerminalSession *>(currentHandler()))
        terminal->clear();
}

bool MainSettingsHost::serialReady()
{
    return m_readiness.serialReady();
}

void MainSettingsHost::closePort()
{
    m_link.link().close();
}

bool MainSettingsHost::openPort()
{
    return m_link.port().openPort();
}

QList<SerialDevice> MainSettingsHost::serialDevices()
{
    return m_deviceList ? m_deviceList->devices() : QList<SerialDevice>();
}
