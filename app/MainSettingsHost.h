#pragma once
#include "settings/FrmSettings.h"

// What the settings dialog reaches of the running program: the settings, the current
// link handler, the terminal and the port.
class MainSettingsHost : public SettingsDialogHost {
public:
    Settings &AppSettings() override;
    Prompter &Prompts() override;
    LinkHandler *CurrentHandler() override;
    bool CurrentHandlerIsTerminal() override;
    void TerminalInitRTF() override;
    bool SerielReady() override;
    void ClosePort() override;
    bool InitSerialPort() override;
};
