#include "app/MainSettingsHost.h"

#include "app/Application.h"
#include "link/SerialLink.h"
#include "settings/Settings.h"
#include "link/TerminalSession.h"

Settings &MainSettingsHost::settings()
{
    return ::settings();
}

Prompter &MainSettingsHost::prompter()
{
    return ::prompter();
}

LinkHandler *MainSettingsHost::currentHandler()
{
    return Link().dispatcher().currentHandler().get();
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
    return ::settings().GlobalState().serialReady();
}

void MainSettingsHost::closePort()
{
    Link().link().close();
}

bool MainSettingsHost::openPort()
{
    return ::openPort();
}
