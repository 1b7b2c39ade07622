#include "app/Application.h"

#include "settings/SettingsStore.h"
#include "terminal/TerminalStore.h"
#include "widgets/SplashWindow.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <cstdio>
#include <cstdlib>

namespace {
SerialPortSetup::Hooks portHooks(const Settings &settings, std::function<bool()> stopRequested)
{
    SerialPortSetup::Hooks hooks;
    hooks.portNumber = [&settings] { return settings.serialPort(); };
    hooks.deviceForPort = [&settings](int n) { return settings.portDevice(n); };
    // Abort ends the program at once: no unload handler, nothing saved.
    hooks.abortNow = [] { std::_Exit(3); };
    hooks.stopRequested = std::move(stopRequested);
    return hooks;
}
} // namespace

Application::Application(const QString &commandLinePath, Prompter *prompter, const QString &byIdFolder)
    : m_commandLinePath(commandLinePath),
      m_prompter(prompter ? *prompter : m_qtPrompter),
      m_link(m_statusLog, m_prompter, m_readiness, portHooks(m_settings, [this] { return stopRequested(); })),
      m_deviceList(byIdFolder),
      m_hexFile(&m_statusLog),
      m_download(m_link.dispatcher(), m_hexFile),
      m_mainWindow(m_settings, m_statusLog, m_readiness, m_prompter, m_link, m_hexFile, m_recentFiles, m_download),
      m_run(m_link.dispatcher(), m_link.port(), m_readiness, m_settings, m_prompter, m_mainWindow,
            [this] { return m_download.download(); })
{
    m_qtPrompter.setParent(&m_mainWindow);
    m_mainWindow.setRunLink(m_run);
    m_mainWindow.setDeviceList(m_deviceList);
    m_run.setCapture(&m_capture);
    m_mainWindow.setTerminalTools(m_capture, m_fileSender);
    // A capture ends with its port: what follows a reconnect goes into a capture of its own.
    QObject::connect(&m_link.link(), &ByteLink::linkLost, &m_capture, [this] { m_capture.stop(); });
    m_hexFile.setCodeMemorySize([this] { return qint64(m_settings.codeMemoryKB()) * 1024; });
    QObject::connect(&m_mainWindow, &MainWindow::closing, &m_mainWindow, [this] { saveSettings(); });
    QObject::connect(&m_signals, &SignalCloser::closeRequested, &m_mainWindow, [this] { requestStop(); });
}

bool Application::stopRequested() const
{
    // The signal handler's mark counts before its event has been processed.
    return m_stopRequested || SignalCloser::pending();
}

void Application::requestStop()
{
    m_stopRequested = true;
    if (m_link.dispatcher().isWaiting())
        m_link.dispatcher().abortExchange();
    // A message box closed this way answers with its escape button (the port box: Ignore).
    if (QWidget *modal = QApplication::activeModalWidget())
        modal->close();
    // During the start procedure the close comes when start() reaches its next step.
    if (!m_starting)
        m_mainWindow.close();
}

bool Application::start()
{
    m_starting = true;
    m_mainWindow.setStartingUp(true);
    // A crash may have left the terminal's cache file of an earlier run behind.
    TerminalStore::removeStaleSpillFiles(TerminalStore::defaultSpillFolder());
    QPointer<SplashWindow> splash = new SplashWindow;
    splash->show();
    if (m_stageHook)
        m_stageHook(StartStage::SplashShown);
    // Loaded even when a stop came already: the close saves them back, so they must be
    // the stored ones and not the defaults.
    loadSettings();
    if (!stopRequested())
        m_link.port().openPort();
    if (!stopRequested()) {
        m_mainWindow.show();
        // Without a window manager nothing keeps the splash on top of the new main window.
        if (splash)
            splash->raise();
        if (m_stageHook)
            m_stageHook(StartStage::MainWindowShown);
    }
    if (!stopRequested() && m_readiness.serialReady())
        m_mainWindow.queryKernelVersion();
    m_mainWindow.setStartingUp(false);
    m_starting = false;
    if (!stopRequested())
        return true;
    m_stopRequested = true;
    if (splash)
        splash->close();
    m_mainWindow.close();
    return false;
}

void Application::loadSettings()
{
    IniSettingsStore store;
    const QString problem = store.loadProblem();
    if (!problem.isEmpty()) {
        // Keep the unreadable file as it was: what could be read is saved back at exit.
        QString kept;
        const QString copy = store.fileName() + QStringLiteral(".bad");
        if (QFileInfo(store.fileName()).isFile()) {
            QFile::remove(copy);
            if (QFile::copy(store.fileName(), copy))
                kept = QStringLiteral("; the file as it was is kept as ") + copy;
        }
        std::fprintf(stderr, "corvade: settings file %s: %s; using defaults where needed%s\n",
                     qPrintable(store.fileName()), qPrintable(problem), qPrintable(kept));
    }
    m_settings.loadPreferences(store);
    // The workspace restore fills the window, so the window's load handler runs first;
    // the command-line file is read after the restored recent files, as the newest one.
    m_mainWindow.initializeWindows(m_commandLinePath);
    m_settings.restoreWorkspace(store, m_mainWindow);
    m_mainWindow.loadCommandLineFile();
}

void Application::saveSettings()
{
    if (m_saved)
        return;
    m_saved = true;
    IniSettingsStore store;
    m_settings.savePreferences(store);
    m_settings.saveWorkspace(store, m_mainWindow);
    QString reason;
    if (!store.flush(&reason))
        std::fprintf(stderr, "corvade: cannot save the settings to %s: %s\n", qPrintable(store.fileName()),
                     qPrintable(reason));
}
