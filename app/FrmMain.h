#pragma once
#include "app/ClsGlobalState.h"
#include "app/FrmStatus.h"
#include "app/StatusSink.h"
#include "settings/Settings.h"

#include <QMainWindow>
#include <QPointer>
#include <optional>

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

// The main window: a multiple-document frame with the status log and the terminal.
// It only routes: every menu command calls into the core or a dialog.
class FrmMain : public QMainWindow, public StatusSink, public ReadinessView, public WorkspaceHost {
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

    // ReadinessView
    void setCaption(const QString &caption) override;
    void setKernelMenuEnabled(bool enabled) override;
    void addRecentFile(const QString &path) override;

    // WorkspaceHost
    void RecentAdd(const QString &path) override;
    QString RecentPath(int index) override;
    void ReadHexFile(const QString &path) override;
    double HeightTwips() override;
    double WidthTwips() override;
    void setHeightTwips(double twips) override;
    void setWidthTwips(double twips) override;
    void mnuWindowTileH_Click() override;
    void mnuwindowTileV_Click() override;

    QMdiArea *mdiArea() const { return m_mdi; }
    FrmStatus *frmStatus() const { return m_status; }
    QWidget *frmTerminal() const;
    QMenu *mnuKernel() const { return m_mnuKernel; }
    QAction *action(const QString &objectName) const;

signals:
    void closePortRequested();

public slots:
    void mnuFileExit_Click();
    void mnuViewStatus_Click();
    void mnuViewTerminal_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void createMenus();
    QAction *addItem(QMenu *menu, const char *name, const QString &caption, const QKeySequence &key = {});
    FrmStatus &showStatus();
    QWidget &showTerminal();
    void closeChild(QWidget *child);
    void tile(Qt::Orientation orientation);
    void fillWindowMenu();
    double twipsPerPixelX() const;
    double twipsPerPixelY() const;

    QMdiArea *m_mdi;
    QPointer<FrmStatus> m_status;
    QPointer<QWidget> m_terminal;
    QMenu *m_mnuKernel = nullptr;
    QMenu *m_mnuWindow = nullptr;
    QAction *m_windowListSeparator = nullptr;
    QAction *m_recent[4] = {};
    QString m_commandLinePath;
    std::optional<Qt::Orientation> m_pendingTile;
};
