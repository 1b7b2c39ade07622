#pragma once
#include "app/MainWindow.h"
#include "app/SignalCloser.h"
#include "core/Readiness.h"
#include "core/StatusLog.h"
#include "hexfile/HexDownload.h"
#include "hexfile/HexFile.h"
#include "hexfile/RecentFiles.h"
#include "link/FileSender.h"
#include "link/QtRequestTimer.h"
#include "link/RunLink.h"
#include "link/SerialDeviceList.h"
#include "link/SerialLink.h"
#include "link/TerminalCapture.h"
#include "settings/Settings.h"
#include "widgets/QtPrompter.h"

#include <QString>
#include <functional>

class IniSettingsStore;

// The composition root: every long-lived object of the program, made here in the order
// the members are declared, each handed what it needs. Making them has no side effect:
// nothing is loaded, opened or shown until start().
class Application {
public:
    // `prompter` answers the message boxes and file dialogs instead of real ones (tests).
    // `byIdFolder` is where udev names serial adapters by maker and serial number.
    explicit Application(const QString &commandLinePath, Prompter *prompter = nullptr,
                         const QString &byIdFolder = SerialDeviceList::defaultFolder());

    // The start procedure: splash, preferences, the main window's load handler, the
    // workspace, the port, the main window shown, and the kernel asked for its version
    // when the port opened. False when a stop was requested meanwhile: the remaining
    // steps were left out, the main window is closed and the settings are saved, so the
    // caller must not enter the main loop.
    bool start();

    // A stop request (SIGINT, SIGTERM): ends a kernel wait and closes an open dialog at
    // once; the main window closes as soon as the start procedure allows.
    void requestStop();
    bool stopRequested() const;

    // Points of the start procedure a test can act at; the hook changes nothing itself.
    enum class StartStage { SplashShown, MainWindowShown };
    void setStageHook(std::function<void(StartStage)> hook) { m_stageHook = std::move(hook); }

    MainWindow &mainWindow() { return m_mainWindow; }
    Settings &settings() { return m_settings; }
    StatusLog &statusLog() { return m_statusLog; }
    Readiness &readiness() { return m_readiness; }
    SerialLink &link() { return m_link; }
    HexFile &hexFile() { return m_hexFile; }
    RecentFiles &recentFiles() { return m_recentFiles; }
    HexDownload &download() { return m_download; }
    RunLink &run() { return m_run; }
    TerminalCapture &capture() { return m_capture; }
    FileSender &fileSender() { return m_fileSender; }

private:
    void loadSettings();
    // Saves the preferences and the workspace when the main window closes. A store that
    // cannot be written is reported on standard error.
    void saveSettings();

    QString m_commandLinePath;
    Settings m_settings;
    StatusLog m_statusLog;
    Readiness m_readiness;
    QtPrompter m_qtPrompter;
    Prompter &m_prompter;
    SerialLink m_link;
    SerialDeviceList m_deviceList;
    HexFile m_hexFile;
    RecentFiles m_recentFiles;
    HexDownload m_download;
    MainWindow m_mainWindow;
    RunLink m_run;
    QtRequestTimer m_captureTimer{std::chrono::seconds(1)};
    TerminalCapture m_capture{m_statusLog, m_captureTimer};
    QtRequestTimer m_sendTimer{std::chrono::milliseconds(20)};
    FileSender m_fileSender{m_run, m_statusLog, m_settings, m_sendTimer};
    bool m_saved = false;
    bool m_starting = false;
    bool m_stopRequested = false;
    std::function<void(StartStage)> m_stageHook;
    SignalCloser m_signals;
};
