#pragma once
#include "app/MainSettingsHost.h"
#include "core/Readiness.h"
#include "hexfile/RecentFileMenu.h"
#include "settings/Settings.h"
#include "terminal/TerminalSurface.h"
#include "widgets/StatusWindow.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <optional>

class AboutDialog;
class FileSender;
class HexDownload;
class HexFile;
class Prompter;
class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPrinter;
class QProgressDialog;
class ThrottledProgressBar;
class RecentFiles;
class RunLink;
class SerialLink;
class StatusLog;
class TerminalCapture;
class TerminalWindow;
class WindowCommands;

// The main window: a multiple-document frame with the status log and the terminal.
// It only routes: every menu command calls into the core or a dialog.
class MainWindow : public QMainWindow, public ReadinessView, public WorkspaceHost, public RecentFileMenu,
                   public TerminalSurface {
    Q_OBJECT
public:
    MainWindow(Settings &settings, StatusLog &statusLog, Readiness &readiness, Prompter &prompter,
               SerialLink &link, HexFile &hexFile, RecentFiles &recentFiles, HexDownload &download,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // The Run commands make the terminal session, which draws into this window; so the
    // run command is made after the window and handed to it here.
    void setRunLink(RunLink &run) { m_run = &run; }
    // The serial devices the settings dialog offers.
    void setDeviceList(const SerialDeviceList &list) { m_settingsHost.setDeviceList(list); }
    // The Terminal menu's capture and file sending, made after the run command.
    void setTerminalTools(TerminalCapture &capture, FileSender &sender);
    // While the start procedure runs, a close waits for it.
    void setStartingUp(bool on) { m_startingUp = on; }

    // The load handler: caption, child windows, tiling, focus, command-line file.
    void initialize(const QString &commandLinePath);
    // The load handler in two halves, so the start procedure can restore the recent-file
    // list between them and the command-line file goes on top of it.
    void initializeWindows(const QString &commandLinePath);
    void loadCommandLineFile();

    QString statusText() const;

    // ReadinessView
    void setCaption(const QString &caption) override;
    void setKernelMenuEnabled(bool enabled) override;
    // ReadinessView and WorkspaceHost
    void addRecentFile(const QString &path) override;

    // WorkspaceHost
    QString recentPath(int index) override;
    void restoreHexFile(const QString &path) override;
    QSize outerSize() override;
    void setOuterWidth(int pixels) override;
    void setOuterHeight(int pixels) override;
    int horizontalDpi() override;
    int verticalDpi() override;
    void tileHorizontally() override;
    void tileVertically() override;

    // The one entry for loading a HEX file; an empty path reads the current file again.
    void readHexFile(const QString &path);

    // TerminalSurface: received text brings a closed terminal window back.
    TerminalRenderer &renderer() override;

    // RecentFileMenu
    void showRecentItem(int index) override;
    void setRecentCaption(int index, const QString &caption) override;

    QMdiArea *mdiArea() const { return m_mdi; }
    StatusWindow *statusWindow() const { return m_status; }
    TerminalWindow *terminalWindow() const;
    QMenu *kernelMenu() const { return m_kernelMenu; }
    QAction *action(const QString &objectName) const;

signals:
    // The window is closing for good: the children are closed and the port is closed.
    void closing();

public slots:
    // The application as a whole became active or inactive (the activation hook).
    void applicationStateChanged(Qt::ApplicationState state);

    void loadFile();
    void reloadFile();
    void loadRecentFile(int index);
    void viewHexFile();
    void exitProgram();
    void saveStatus();
    void saveTerminal();
    void print();
    void printSetup();
    void initializeSerialPort();
    void showSettings();
    void queryKernelVersion();
    void download();
    void run();
    void downloadAndRun();
    void showHowTo();
    void showAbout();
    void toggleStatusWindow();
    void toggleTerminalWindow();
    // "&Capture...": asks for a file and starts capturing, or stops a running capture.
    void toggleCapture();
    // "Send &File...": asks for a file and sends it to the running program.
    void sendFile();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void createMenus();
    void createTerminalMenu();
    void showCaptureState();
    void stopTerminalTools();
    void applyViewOptions();
    WindowCommands windowCommands();
    QPrinter &printer();
    bool exchangeRunning() const;
    bool busyForClose() const;
    void wireDownloadProgress();
    void afterExchange();
    // The reload on coming back: skipped while a read runs, and a file unchanged since it
    // was read is not read again.
    void reloadOnActivation();
    QAction *addItem(QMenu *menu, const char *name, const QString &caption, const QKeySequence &key = {});
    StatusWindow &showStatus();
    void statusAppended(const QString &piece);
    TerminalWindow &showTerminal();
    void closeChild(QWidget *child);
    void tile(Qt::Orientation orientation);
    void fillWindowMenu();
    void applyOuterSize();

    Settings &m_settings;
    StatusLog &m_statusLog;
    Readiness &m_readiness;
    Prompter &m_prompter;
    SerialLink &m_link;
    HexFile &m_hexFile;
    RecentFiles &m_recentFiles;
    HexDownload &m_download;
    RunLink *m_run = nullptr;
    TerminalCapture *m_capture = nullptr;
    FileSender *m_fileSender = nullptr;
    MainSettingsHost m_settingsHost;

    QMdiArea *m_mdi;
    QPointer<StatusWindow> m_status;
    QPointer<TerminalWindow> m_terminal;
    QPointer<AboutDialog> m_about;
    std::unique_ptr<QPrinter> m_printer;
    ThrottledProgressBar *m_progress = nullptr;
    QLabel *m_captureSize = nullptr;
    QPointer<QProgressDialog> m_sendProgress;
    QString m_captureName;
    QString m_sendName;
    bool m_downloadWired = false;
    QString m_fileDialogName;
    bool m_loadDialogOpen = false;
    bool m_activationHook = false;
    bool m_wasInactive = false;
    bool m_reloadPending = false;
    bool m_startingUp = false;
    QMenu *m_kernelMenu = nullptr;
    QMenu *m_windowMenu = nullptr;
    QAction *m_windowListSeparator = nullptr;
    QAction *m_recent[4] = {};
    QString m_commandLinePath;
    bool m_commandLineFilePending = false;
    std::optional<Qt::Orientation> m_pendingTile;
    int m_outerWidth = 0;
    int m_outerHeight = 0;
    QSize m_outerAfterFrame; // the restored size, met again once a window manager framed the window
};
