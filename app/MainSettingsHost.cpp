#include "app/MainSettingsHost.h"

#include "app/ModGlobal.h"
#include "link/SerialLink.h"
#include "settings/Settings.h"
#include "terminal/clsTerminal.h"

Settings &MainSettingsHost::AppSettings()
{
    return ::AppSettings();
}

Prompter &MainSettingsHost::Prompts()
{
    return ::Prompts();
}

LinkHandler *MainSettingsHost::CurrentHandler()
{
    return Link().dispatcher().CurrentHandler().get();
}

bool MainSettingsHost::CurrentHandlerIsTerminal()
{
    return dynamic_cast<clsTerminal *>(CurrentHandler()) != nullptr;
}

void MainSettingsHost::TerminalInitRTF()
{
    if (auto *terminal = dynamic_cast<clsTerminal *>(CurrentHandler()))
        terminal->InitRTF();
}

bool MainSettingsHost::SerielReady()
{
    return ::AppSettings().GlobalState().SerielReady();
}

void MainSettingsHost::ClosePort()
{
    Link().link().close();
}

bool MainSettingsHost::InitSerialPort()
{
    return ::InitSerialPort();
}
