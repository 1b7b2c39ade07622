#pragma once
#include "widgets/SettingsDialog.h"

class Readiness;
class SerialLink;

// What the settings dialog reaches of the running program: the settings, the current
// link handler, the terminal and the port.
class MainSettingsHost : public SettingsDialogHost {
public:
    MainSettingsHost(Settings &settings, Prompter &prompter, SerialLink &link, Readiness &readiness);

    Settings &settings() override { return m_settings; }
    Prompter &prompter() override { return m_prompter; }
    LinkHandler *currentHandler() override;
    bool currentHandlerIsTerminal() override;
    void clearTerminal() override;
    bool serialReady() override;
    void closePort() override;
    bool openPort() override;
    QList<SerialDevice> serialDevices() override;

    void setDeviceList(const SerialDeviceList &list) { m_deviceList = &list; }

private:
    Settings &m_settings;
    Prompter &m_prompter;
    SerialLink &m_link;
    Readiness &m_readiness;
    const SerialDeviceList *m_deviceList = nullptr;
};
