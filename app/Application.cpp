#include "app/Application.h"

#include "app/MainWindow.h"
#include "widgets/SplashWindow.h"
#include "widgets/QtPrompter.h"
#include "hexfile/HexFile.h"
#include "hexfile/RecentFiles.h"
#include "link/KernelVersion.h"
#include "hexfile/HexDownload.h"
#include "link/RunLink.h"
#include "link/SerialLink.h"
#include "terminal/TerminalStore.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {
Settings *g_settings = nullptr;
QPointer<MainWindow> g_main;
QString g_commandLinePath;
QtPrompter g_qtPrompter;
Prompter *g_prompter = nullptr;
bool g_loadReported = false;
std::unique_ptr<HexFile> g_hexFile;
std::unique_ptr<RecentFiles> g_recentFiles;
std::unique_ptr<SerialLink> g_link;
std::unique_ptr<HexDownload> g_download;
std::unique_ptr<RunLink> g_run;
} // namespace

HexDownload &Downloader()
{
    if (!g_download)
        g_download = std::make_unique<HexDownload>(Link().dispatcher(), HexFile());
    return *g_download;
}

RunLink &Runner()
{
    if (!g_run) {
        SerialLink &link = Link();
        g_run = std::make_unique<RunLink>(link.dispatcher(), link.port(), settings().GlobalState(), settings(),
                                          prompter(), MainWindow(), [] { return Downloader().download(); });
    }
    return *g_run;
}

SerialLink &Link()
{
    if (!g_link) {
        Settings &settings = settings(); // reading the port number is the first use
        SerialPortSetup::Hooks hooks;
        hooks.portNumber = [] { return settings().serialPort(); };
        hooks.deviceForPort = [](int n) { return settings().portDevice(n); };
        // Abort ends the program at once: no unload handler, nothing saved.
        hooks.abortNow = [] { std::_Exit(3); };
        g_link = std::make_unique<SerialLink>(MainWindow(), prompter(), settings.GlobalState(), std::move(hooks));
    }
    return *g_link;
}

SerialLink *LinkIfExists()
{
    return g_link.get();
}

bool openPort()
{
    settings();
    return Link().port().openPort();
}

HexFile &HexFile()
{
    if (!g_hexFile)
        g_hexFile = std::make_unique<HexFile>();
    return *g_hexFile;
}

const KernelVersion &TheKernelVersion()
{
    static const KernelVersion none;
    return g_link ? g_link->kernel().version() : none;
}

RecentFiles &RecentFiles()
{
    if (!g_recentFiles)
        g_recentFiles = std::make_unique<RecentFiles>();
    return *g_recentFiles;
}

Settings &settings()
{
    if (g_settings)
        return *g_settings;
    // The object is the global one before anything it loads can call back into it.
    g_settings = new Settings;
    IniSettingsStore store;
    const QString problem = store.loadProblem();
    if (!problem.isEmpty() && !g_loadReported) {
        g_loadReported = true;
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
    g_settings->loadPreferences(store);
    g_settings->restoreWorkspace(store, MainWindow());
    return *g_settings;
}

bool AppSettingsExists()
{
    return g_settings != nullptr;
}

void ReleaseAppSettings()
{
    if (!g_settings)
        return;
    Settings *s = g_settings;
    IniSettingsStore store;
    s->savePreferences(store);
    if (g_main)
        s->saveWorkspace(store, *g_main);
    QString reason;
    if (!store.flush(&reason))
        std::fprintf(stderr, "corvade: cannot save the settings to %s: %s\n", qPrintable(store.fileName()),
                     qPrintable(reason));
    g_settings = nullptr;
    delete s;
}

MainWindow &MainWindow()
{
    if (!g_main) {
        g_main = new MainWindow;
        g_main->setAttribute(Qt::WA_DeleteOnClose);
        g_qtPrompter.setParent(g_main);
        if (g_settings)
            g_settings->GlobalState().setView(g_main);
        g_main->initialize(g_commandLinePath);
    }
    return *g_main;
}

MainWindow *MainWindowIfExists()
{
    return g_main;
}

void setCommandLinePath(const QString &path)
{
    g_commandLinePath = path;
}

QString CommandLinePath()
{
    return g_commandLinePath;
}

Prompter &prompter()
{
    return g_prompter ? *g_prompter : g_qtPrompter;
}

void setPrompter(Prompter *prompter)
{
    g_prompter = prompter;
}

namespace {
bool g_startingUp = false;
}

bool StartingUp()
{
    return g_startingUp;
}

void Main()
{
    g_startingUp = true;
    // A crash may have left the terminal's cache file of an earlier run behind.
    TerminalStore::removeStaleSpillFiles(TerminalStore::defaultSpillFolder());
    QPointer<SplashWindow> splash = new SplashWindow;
    splash->show();
    openPort();
    MainWindow().show();
    // Without a window manager nothing keeps the splash on top of the new main window.
    if (splash)
        splash->raise();
    if (settings().GlobalState().serialReady())
        MainWindow().queryKernelVersion();
    g_startingUp = false;
}

void ResetGlobalsForTest()
{
    g_run.reset();
    g_download.reset();
    g_link.reset();
    if (g_main) {
        g_main->setAttribute(Qt::WA_DeleteOnClose, false);
        delete g_main;
    }
    if (g_settings) {
        delete g_settings;
        g_settings = nullptr;
    }
    g_hexFile.reset();
    g_recentFiles.reset();
}
