#pragma once
#include "core/Readiness.h"
#include "widgets/StatusWindow.h"
#include "core/StatusSink.h"
#include "hexfile/RecentFileMenu.h"
#include "terminal/TerminalSurface.h"
#include "settings/Settings.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <optional>

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class TerminalWindow;
class AboutDialog;
class QPrinter;
class QProgressBar;
class WindowCommands;

// The main window: a multiple-document frame with the status log and the terminal.
// It only routes: every menu command calls into the core or a dialog.
class MainWindow : public QMainWindow, public StatusSink, public ReadinessView, public WorkspaceHost,
                public RecentFileMenu, public TerminalSurface {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The load handler: caption, child windows, tiling, focus, command-line file.
    void initialize(const QString &commandLinePath);
    // The unload handler: closes the port when it is ready, then saves the settings.
    void unload();

    // StatusSink: writes to the status window, creating it again after the user closed it.
    void appendStatus(const QString &text, bool endLine) override;
    QString statusText() const;
    bool lineOpen() const override;

    // ReadinessView
    void setCaption(const QString &caption) override;
    void setKernelMenuEnabled(bool enabled) override;
    void addRecentFile(const QString &path) override;

    // WorkspaceHost
    void addRecentFile(const QString &path) override;
    QString recentPath(int index) override;
    void restoreHexFile(const QString &path) override { restoreMostRecentFile(path); }
    // The one entry for loading a HEX file; an empty path reads the current file again.
    void readHexFile(const QString &path);
    void restoreMostRecentFile(const QString &path);
    double HeightTwips() override;
    double WidthTwips() override;
    void setHeightTwips(double twips) override;
    void setWidthTwips(double twips) override;
    void tileHorizontally() override;
    void tileVertically() override;

    // TerminalSurface: received text brings a closed terminal window back.
    TerminalRenderer &renderer() override;

    // RecentFileMenu
    void showRecentItem(int index) override;
    void setRecentCaption(int index, const QString &caption) override;

    QMdiArea *mdiArea() const { return m_mdi; }
    StatusWindow *statusWindow() const { return m_status; }
    ::TerminalWindow *terminalWindow() const;
        QMenu *kernelMenu() const { return m_mnuKernel; }
    QAction *action(const QString &objectName) const;

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

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void createMenus();
    WindowCommands windowCommands();
    QPrinter &printer();
    bool exchangeRunning() const;
    bool busyForClose() const;
    void wireDownloadProgress();
    void afterExchange();
    QAction *addItem(QMenu *menu, const char *name, const QString &caption, const QKeySequence &key = {});
    StatusWindow &showStatus();
    ::TerminalWindow &showTerminal();
    void closeChild(QWidget *child);
    void tile(Qt::Orientation orientation);
    void fillWindowMenu();
    void applyOuterSize();
    double twipsPerPixelX() const;
    double twipsPerPixelY() const;

    QMdiArea *m_mdi;
    QPointer<StatusWindow> m_status;
    QPointer<::TerminalWindow> m_terminal;
    QPointer<AboutDialog> m_about;
    std::unique_ptr<QPrinter> m_printer;
    QProgressBar *m_progress = nullptr;
    bool m_downloadWired = false;
    QString m_fileDialogName;
    bool m_loadDialogOpen = false;
    bool m_activationHook = false;
    bool m_wasInactive = false;
    bool m_reloadPending = false;
    QMenu *m_mnuKernel = nullptr;
    QMenu *m_mnuWindow = nullptr;
    QAction *m_windowListSeparator = nullptr;
    QAction *m_recent[4] = {};
    QString m_commandLinePath;
    std::optional<Qt::Orientation> m_pendingTile;
    int m_outerWidth = 0;
    int m_outerHeight = 0;
};
