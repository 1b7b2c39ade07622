#pragma once
#include "app/ClsGlobalState.h"
#include "app/FrmStatus.h"
#include "app/StatusSink.h"
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
class frmTerminal;
class FrmAbout;
class QPrinter;
class QProgressBar;
class WindowCommands;

// The main window: a multiple-document frame with the status log and the terminal.
// It only routes: every menu command calls into the core or a dialog.
class FrmMain : public QMainWindow, public StatusSink, public ReadinessView, public WorkspaceHost,
                public RecentFileMenu, public TerminalSurface {
    Q_OBJECT
public:
    explicit FrmMain(QWidget *parent = nullptr);
    ~FrmMain() override;

    // The load handler: caption, child windows, tiling, focus, command-line file.
    void Form_Load(const QString &commandLinePath);
    // The unload handler: closes the port when it is ready, then saves the settings.
    void Form_Unload();

    // StatusSink: writes to the status window, creating it again after the user closed it.
    void AppendStatus(const QString &text, bool endLine) override;
    QString statusText() const;
    bool lineOpen() const override;

    // ReadinessView
    void setCaption(const QString &caption) override;
    void setKernelMenuEnabled(bool enabled) override;
    void addRecentFile(const QString &path) override;

    // WorkspaceHost
    void RecentAdd(const QString &path) override;
    QString RecentPath(int index) override;
    void RestoreHexFile(const QString &path) override { restoreMostRecentFile(path); }
    // The one entry for loading a HEX file; an empty path reads the current file again.
    void ReadHexFile(const QString &path);
    void restoreMostRecentFile(const QString &path);
    double HeightTwips() override;
    double WidthTwips() override;
    void setHeightTwips(double twips) override;
    void setWidthTwips(double twips) override;
    void mnuWindowTileH_Click() override;
    void mnuwindowTileV_Click() override;

    // TerminalSurface: received text brings a closed terminal window back.
    TerminalRenderer &renderer() override;

    // RecentFileMenu
    void showRecentItem(int Index) override;
    void setRecentCaption(int Index, const QString &caption) override;

    QMdiArea *mdiArea() const { return m_mdi; }
    FrmStatus *frmStatus() const { return m_status; }
    ::frmTerminal *terminalWindow() const;
    QWidget *frmTerminal() const;
    QMenu *mnuKernel() const { return m_mnuKernel; }
    QAction *action(const QString &objectName) const;

public slots:
    // The application as a whole became active or inactive (the activation hook).
    void applicationStateChanged(Qt::ApplicationState state);

    void mnuFileLoad_Click();
    void mnuFileReload_Click();
    void mnuFileRecentfiles_Click(int Index);
    void mnuViewHexFile_Click();
    void mnuFileExit_Click();
    void mnuFileSaveStatus_Click();
    void mnuFileSaveTerminal_Click();
    void mnuFilePrint_Click();
    void mnuFilePrintSetup_Click();
    void mnuFileInitSeriel_Click();
    void mnuFileSettings_Click();
    void mnuKernelKrnlVersion_Click();
    void mnuKernelDownload_Click();
    void mnuKernelRun_Click();
    void mnuKernelDownloadRun_Click();
    void mnuHelpHowTo_Click();
    void mnuHelpAbout_Click();
    void mnuViewStatus_Click();
    void mnuViewTerminal_Click();

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
    FrmStatus &showStatus();
    ::frmTerminal &showTerminal();
    void closeChild(QWidget *child);
    void tile(Qt::Orientation orientation);
    void fillWindowMenu();
    void applyOuterSize();
    double twipsPerPixelX() const;
    double twipsPerPixelY() const;

    QMdiArea *m_mdi;
    QPointer<FrmStatus> m_status;
    QPointer<::frmTerminal> m_terminal;
    QPointer<FrmAbout> m_about;
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
