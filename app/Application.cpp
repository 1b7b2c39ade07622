#include "app/Application.h"

#include "settings/SettingsStore.h"
#include "terminal/TerminalStore.h"
#include "widgets/SplashWindow.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <cstdio>
#include <cstdlib>

namespace {
SerialPortSetup::Hooks portHooks(const Settings &settings)
{
    SerialPortSetup::Hooks hooks;
    hooks.portNumber = [&settings] { return settings.serialPort(); };
    hooks.deviceForPort = [&settings](int n) { return settings.portDevice(n); };
    // Abort ends the program at once: no unload handler, nothing saved.
    hooks.abortNow = [] { std::_Exit(3); };
    return hooks;
}
} // namespace

Application::Application(const QString &commandLinePath, Prompter *prompter)
    : m_commandLinePath(commandLinePath),
      m_prompter(prompter ? *prompter : m_qtPrompter),
      m_link(m_statusLog, m_prompter, m_readiness, portHooks(m_settings)),
      m_hexFile(&m_statusLog),
      m_download(m_link.dispatcher(), m_hexFile),
      m_mainWindow(m_settings, m_statusLog, m_readiness, m_prompter, m_link, m_hexFile, m_recentFiles, m_download),
      m_run(m_link.dispatcher(), m_link.port(), m_readiness, m_settings, m_prompter, m_mainWindow,
            [this] { return m_download.download(); })
{
    m_qtPrompter.setParent(&m_mainWindow);
    m_mainWindow.setRunLink(m_run);
    QObject::connect(&m_mainWindow, &MainWindow::closing, &m_mainWindow, [this] { saveSettings(); });
}

void Application::start()
{
    m_mainWindow.setStartingUp(true);
    // A crash may have left the terminal's cache file of an earlier run behind.
    TerminalStore::removeStaleSpillFiles(TerminalStore::defaultSpillFolder());
    QPointer<SplashWindow> splash = new SplashWindow;
    splash->show();
    loadSettings();
    m_link.port().openPort();
    m_mainWindow.show();
    // Without a window manager nothing keeps the splash on top of the new main window.
    if (splash)
        splash->raise();
    if (m_readiness.serialReady())
        m_mainWindow.queryKernelVersion();
    m_mainWindow.setStartingUp(false);
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
    // The workspace restore fills the window, so the window's load handler runs first.
    m_mainWindow.initialize(m_commandLinePath);
    m_settings.restoreWorkspace(store, m_mainWindow);
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
