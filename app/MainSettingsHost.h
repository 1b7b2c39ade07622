#pragma once
#include "widgets/SettingsDialog.h"

// What the settings dialog reaches of the running program: the settings, the current
// link handler, the terminal and the port.
class MainSettingsHost : public SettingsDialogHost {
public:
    Settings &settings() override;
    Prompter &prompter() override;
    LinkHandler *currentHandler() override;
    bool currentHandlerIsTerminal() override;
    void clearTerminal() override;
    bool serialReady() override;
    void closePort() override;
    bool openPort() override;
};
