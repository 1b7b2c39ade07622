#include "app/FrmMain.h"

#include "app/FrmStatus.h"
#include "app/MainSettingsHost.h"
#include "app/ModGlobal.h"
#include "app/Prompter.h"
#include "hexfile/ClsDownloadHexFile.h"
#include "hexfile/ClsRecentFileList.h"
#include "hexfile/HexLoad.h"
#include "hexfile/HexDownload.h"
#include "link/RunLink.h"
#include "link/SerialLink.h"
#include "shell/CExShell.h"
#include "shell/FrmAbout.h"
#include "shell/TextEditor.h"
#include "terminal/PrintJob.h"
#include "terminal/WindowCommands.h"
#include "terminal/frmTerminal.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPrinter>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

namespace {
const QString kTitle = QStringLiteral("Corvade");

// A child frame that says when it closes, so a closed window counts as gone at once,
// not only when Qt gets round to deleting it.
class ChildFrame : public QMdiSubWindow {
public:
    std::function<void()> onClosed;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        QMdiSubWindow::closeEvent(event);
        if (event->isAccepted() && onClosed)
            onClosed();
    }
};

QMdiSubWindow *addChild(QMdiArea *area, QWidget *content, std::function<void()> onClosed)
{
    auto *frame = new ChildFrame;
    frame->setWidget(content);
    frame->setAttribute(Qt::WA_DeleteOnClose);
    frame->onClosed = std::move(onClosed);
    area->addSubWindow(frame);
    return frame;
}
} // namespace

FrmMain::FrmMain(QWidget *parent) : QMainWindow(parent), m_mdi(new QMdiArea(this))
{
    setObjectName(QStringLiteral("frmMain"));
    setCentralWidget(m_mdi);
    setWindowTitle(kTitle);
    createMenus();
    setKernelMenuEnabled(false); // neither a file nor the port is ready yet
    RecentFiles().setMenu(this);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, &FrmMain::applicationStateChanged);
    // 11370 by 8655 twips of client area.
    resize(qRound(11370 / twipsPerPixelX()), qRound(8655 / twipsPerPixelY()));
}

FrmMain::~FrmMain()
{
    RecentFiles().setMenu(nullptr);
}

QAction *FrmMain::addItem(QMenu *menu, const char *name, const QString &caption, const QKeySequence &key)
{
    QAction *a = menu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    if (!key.isEmpty())
        a->setShortcut(key);
    return a;
}

QAction *FrmMain::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void FrmMain::createMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    connect(addItem(file, "mnuFileLoad", QStringLiteral("&Load..."), Qt::Key_F2), &QAction::triggered, this,
            &FrmMain::mnuFileLoad_Click);
    connect(addItem(file, "mnuFileReload", QStringLiteral("&Reload"), Qt::Key_F3), &QAction::triggered, this,
            &FrmMain::mnuFileReload_Click);
    file->addSeparator();
    connect(addItem(file, "mnuFileSaveTerminal", QStringLiteral("Save &Terminal window...")), &QAction::triggered,
            this, &FrmMain::mnuFileSaveTerminal_Click);
    connect(addItem(file, "mnuFileSaveStatus", QStringLiteral("Save St&atus window...")), &QAction::triggered, this,
            &FrmMain::mnuFileSaveStatus_Click);
    connect(addItem(file, "mnuFilePrint", QStringLiteral("&Print..."), QKeySequence(Qt::CTRL | Qt::Key_P)),
            &QAction::triggered, this, &FrmMain::mnuFilePrint_Click);
    connect(addItem(file, "mnuFilePrintSetup", QStringLiteral("Printer set&up...")), &QAction::triggered, this,
            &FrmMain::mnuFilePrintSetup_Click);
    file->addSeparator();
    connect(addItem(file, "mnuFileSettings", QStringLiteral("&Settings..."), QKeySequence(Qt::CTRL | Qt::Key_S)),
            &QAction::triggered, this, &FrmMain::mnuFileSettings_Click);
    connect(addItem(file, "mnuFileInitSeriel", QStringLiteral("&Initialise serielport"), Qt::Key_F4),
            &QAction::triggered, this, &FrmMain::mnuFileInitSeriel_Click);
    file->addSeparator();
    for (int i = 0; i < 4; ++i) {
        m_recent[i] = file->addAction(QString());
        m_recent[i]->setObjectName(QStringLiteral("mnuFileRecentfiles%1").arg(i));
        m_recent[i]->setVisible(false);
        connect(m_recent[i], &QAction::triggered, this, [this, i] { mnuFileRecentfiles_Click(i); });
    }
    file->addSeparator();
    connect(addItem(file, "mnuFileExit", QStringLiteral("E&xit")), &QAction::triggered, this,
            &FrmMain::mnuFileExit_Click);

    QMenu *view = menuBar()->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("mnuView"));
    QAction *viewTerminal = addItem(view, "mnuViewTerminal", QStringLiteral("&Terminal"));
    viewTerminal->setCheckable(true);
    connect(viewTerminal, &QAction::triggered, this, &FrmMain::mnuViewTerminal_Click);
    QAction *viewStatus = addItem(view, "mnuViewStatus", QStringLiteral("&Status"));
    viewStatus->setCheckable(true);
    connect(viewStatus, &QAction::triggered, this, &FrmMain::mnuViewStatus_Click);
    connect(addItem(view, "mnuViewHexFile", QStringLiteral("&Hex File"), QKeySequence(Qt::CTRL | Qt::Key_H)),
            &QAction::triggered, this, &FrmMain::mnuViewHexFile_Click);
    view->addSeparator();

    m_mnuKernel = menuBar()->addMenu(QStringLiteral("&Kernel"));
    m_mnuKernel->setObjectName(QStringLiteral("mnuKernel"));
    connect(addItem(m_mnuKernel, "mnuKernelDownload", QStringLiteral("&Download HEX-file"), Qt::Key_F5),
            &QAction::triggered, this, &FrmMain::mnuKernelDownload_Click);
    connect(addItem(m_mnuKernel, "mnuKernelRun", QStringLiteral("&Run"), Qt::Key_F6), &QAction::triggered, this,
            &FrmMain::mnuKernelRun_Click);
    connect(addItem(m_mnuKernel, "mnuKernelDownloadRun", QStringLiteral("Download&+Run"), Qt::Key_F7),
            &QAction::triggered, this, &FrmMain::mnuKernelDownloadRun_Click);
    m_mnuKernel->addSeparator();
    connect(addItem(m_mnuKernel, "mnuKernelKrnlVersion", QStringLiteral("&Kernel Version"), Qt::Key_F12),
            &QAction::triggered, this, &FrmMain::mnuKernelKrnlVersion_Click);

    m_mnuWindow = menuBar()->addMenu(QStringLiteral("&Window"));
    m_mnuWindow->setObjectName(QStringLiteral("mnuWindow"));
    connect(addItem(m_mnuWindow, "mnuwindowTileV", QStringLiteral("Tile &Vertical")), &QAction::triggered, this,
            &FrmMain::mnuwindowTileV_Click);
    connect(addItem(m_mnuWindow, "mnuWindowTileH", QStringLiteral("Tile &Horizontaly")), &QAction::triggered, this,
            &FrmMain::mnuWindowTileH_Click);
    m_windowListSeparator = m_mnuWindow->addSeparator();
    connect(m_mnuWindow, &QMenu::aboutToShow, this, &FrmMain::fillWindowMenu);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    connect(addItem(help, "mnuHelpHowTo", QStringLiteral("How to &Corvade")), &QAction::triggered, this,
            &FrmMain::mnuHelpHowTo_Click);
    help->addSeparator();
    connect(addItem(help, "mnuHelpAbout", QStringLiteral("&About Corvade...")), &QAction::triggered, this,
            &FrmMain::mnuHelpAbout_Click);
}

void FrmMain::Form_Load(const QString &commandLinePath)
{
    m_commandLinePath = commandLinePath;
    m_activationHook = true;
    setWindowTitle(kTitle + QStringLiteral(" - No file loaded"));
    action(QStringLiteral("mnuViewStatus"))->setChecked(true);
    action(QStringLiteral("mnuViewTerminal"))->setChecked(true);
    showStatus();
    showTerminal();
    tile(Qt::Horizontal);
    if (m_terminal)
        m_terminal->setFocus();
    if (!commandLinePath.isEmpty())
        ReadHexFile(commandLinePath);
}

// --- status log -------------------------------------------------------------

FrmStatus &FrmMain::showStatus()
{
    if (!m_status) {
        auto *status = new FrmStatus;
        // The check mark follows the status window whichever way it closes.
        QPointer<QAction> mark = action(QStringLiteral("mnuViewStatus"));
        QMdiSubWindow *sub = addChild(m_mdi, status, [this, mark] {
            m_status = nullptr;
            if (mark)
                mark->setChecked(false);
        });
        m_status = status;
        sub->show();
    }
    return *m_status;
}

void FrmMain::AppendStatus(const QString &text, bool endLine)
{
    showStatus().AppendStatus(text, endLine);
}

bool FrmMain::lineOpen() const
{
    const QString &text = m_status ? m_status->text() : QString();
    return !text.isEmpty() && !text.endsWith(QLatin1String("\r\n"));
}

QString FrmMain::statusText() const
{
    return m_status ? m_status->text() : QString();
}

// --- terminal window --------------------------------------------------------

QWidget *FrmMain::frmTerminal() const
{
    return m_terminal;
}

TerminalRenderer &FrmMain::renderer()
{
    return showTerminal().renderer();
}

::frmTerminal *FrmMain::terminalWindow() const
{
    return m_terminal;
}

::frmTerminal &FrmMain::showTerminal()
{
    if (!m_terminal) {
        auto *terminal = new ::frmTerminal;
        terminal->store().setStatusSink(this);
        if (AppSettingsExists())
            terminal->store().setMemoryWindow(qint64(AppSettings().TerminalMemoryMB()) * 1024 * 1024);
        // Typed keys go to the running program while a terminal handler is current; the
        // echo follows the settings of the moment.
        terminal->setSendHook([terminal](quint8 code) {
            if (!AppSettingsExists() || !LinkIfExists())
                return false;
            terminal->setEcho(AppSettings().Echo(), ColorRef(AppSettings().EchoColor()));
            return Runner().TerminalKeyPress(code);
        });
        // No check-mark handling here: the View item keeps its mark when the box closes it.
        QMdiSubWindow *sub = addChild(m_mdi, terminal, [this] { m_terminal = nullptr; });
        m_terminal = terminal;
        sub->show();
    }
    return *m_terminal;
}

void FrmMain::closeChild(QWidget *child)
{
    if (!child)
        return;
    if (auto *sub = qobject_cast<QMdiSubWindow *>(child->parentWidget()))
        sub->close();
    else
        child->close();
}

// --- View and Window menus --------------------------------------------------

// The decision rests on the check mark alone, not on whether the window exists.
void FrmMain::mnuViewStatus_Click()
{
    QAction *mark = action(QStringLiteral("mnuViewStatus"));
    const bool wasChecked = !mark->isChecked(); // Qt already toggled it
    if (!wasChecked) {
        showStatus();
        mark->setChecked(true);
    } else {
        closeChild(m_status);
        mark->setChecked(false);
    }
}

void FrmMain::mnuViewTerminal_Click()
{
    QAction *mark = action(QStringLiteral("mnuViewTerminal"));
    const bool wasChecked = !mark->isChecked();
    if (!wasChecked) {
        showTerminal();
        mark->setChecked(true);
    } else {
        closeChild(m_terminal);
        mark->setChecked(false);
    }
}

void FrmMain::tile(Qt::Orientation orientation)
{
    // Before the first show the frame has no real size yet: arrange again when it shows.
    if (!isVisible())
        m_pendingTile = orientation;
    QList<QMdiSubWindow *> windows;
    for (QMdiSubWindow *w : m_mdi->subWindowList(QMdiArea::CreationOrder))
        if (w->isVisible() || !w->isHidden())
            windows << w;
    if (windows.isEmpty())
        return;
    const QRect area = m_mdi->viewport()->rect();
    const int n = windows.size();
    for (int i = 0; i < n; ++i) {
        QMdiSubWindow *w = windows[i];
        if (w->isMinimized() || w->isMaximized())
            w->showNormal();
        if (orientation == Qt::Horizontal) {
            const int top = area.height() * i / n;
            const int bottom = area.height() * (i + 1) / n;
            w->setGeometry(0, top, area.width(), bottom - top);
        } else {
            const int left = area.width() * i / n;
            const int right = area.width() * (i + 1) / n;
            w->setGeometry(left, 0, right - left, area.height());
        }
    }
}

void FrmMain::mnuWindowTileH_Click()
{
    tile(Qt::Horizontal);
    if (AppSettingsExists())
        AppSettings().setTile(QStringLiteral("Horizontal"));
}

void FrmMain::mnuwindowTileV_Click()
{
    tile(Qt::Vertical);
    if (AppSettingsExists())
        AppSettings().setTile(QStringLiteral("Vertical"));
}

void FrmMain::fillWindowMenu()
{
    const QList<QAction *> items = m_mnuWindow->actions();
    const int first = items.indexOf(m_windowListSeparator) + 1;
    for (int i = first; i < items.size(); ++i) {
        m_mnuWindow->removeAction(items[i]);
        items[i]->deleteLater();
    }
    const QList<QMdiSubWindow *> windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    int number = 1;
    for (QMdiSubWindow *w : windows) {
        QAction *a = m_mnuWindow->addAction(QStringLiteral("&%1 %2").arg(number++).arg(w->windowTitle()));
        a->setCheckable(true);
        a->setChecked(w == m_mdi->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, sub = QPointer<QMdiSubWindow>(w)] {
            if (sub)
                m_mdi->setActiveSubWindow(sub);
        });
    }
}

// --- readiness --------------------------------------------------------------

void FrmMain::setCaption(const QString &caption)
{
    setWindowTitle(caption);
}

void FrmMain::setKernelMenuEnabled(bool enabled)
{
    // Disable the items as well, so their shortcuts follow the menu.
    m_mnuKernel->menuAction()->setEnabled(enabled);
    for (QAction *a : m_mnuKernel->actions())
        a->setEnabled(enabled);
}

void FrmMain::addRecentFile(const QString &path)
{
    RecentAdd(path);
}

// --- workspace --------------------------------------------------------------

void FrmMain::RecentAdd(const QString &path)
{
    RecentFiles().Add(path);
}

QString FrmMain::RecentPath(int index)
{
    return RecentFiles().GetPath(index);
}

void FrmMain::showRecentItem(int Index)
{
    if (Index >= 0 && Index < 4)
        m_recent[Index]->setVisible(true);
}

void FrmMain::setRecentCaption(int Index, const QString &caption)
{
    if (Index >= 0 && Index < 4)
        m_recent[Index]->setText(caption);
}

void FrmMain::ReadHexFile(const QString &path)
{
    HexLoad::ReadHexFile(HexFile(), path, *this, Prompts(), AppSettings().GlobalState(),
                         [this] { mnuFileLoad_Click(); });
}

void FrmMain::restoreMostRecentFile(const QString &path)
{
    // A file named on the command line was read by the load handler and stays loaded.
    if (m_commandLinePath.isEmpty())
        ReadHexFile(path);
}

// Coming back from another application reads the file again, so the next download sends
// the fresh build. The first activation, when the program starts, is not a coming back.
void FrmMain::applicationStateChanged(Qt::ApplicationState state)
{
    if (state != Qt::ApplicationActive) {
        m_wasInactive = true;
        return;
    }
    if (!m_activationHook || !m_wasInactive)
        return;
    m_wasInactive = false;
    if (!AppSettingsExists() || !AppSettings().ReloadHexOnfocus())
        return;
    // The record list must not change under a running exchange: read it when that ends.
    if (exchangeRunning())
        m_reloadPending = true;
    else
        ReadHexFile(QString());
}

bool FrmMain::exchangeRunning() const
{
    return LinkIfExists() && LinkIfExists()->dispatcher().isWaiting();
}

// Kernel commands run through here, so a reload put off during their wait happens after.
void FrmMain::afterExchange()
{
    if (m_reloadPending && !exchangeRunning()) {
        m_reloadPending = false;
        ReadHexFile(QString());
    }
}

// --- kernel and port commands -----------------------------------------------

void FrmMain::mnuFileSettings_Click()
{
    static MainSettingsHost host;
    frmSettings::Open(host, this);
}

void FrmMain::mnuFileInitSeriel_Click()
{
    Link().port().mnuFileInitSeriel_Click();
}

void FrmMain::mnuKernelKrnlVersion_Click()
{
    Link().kernel().mnuKernelKrnlVersion_Click();
    afterExchange();
}

void FrmMain::mnuKernelDownload_Click()
{
    wireDownloadProgress();
    Downloader().mnuKernelDownload_Click();
    afterExchange();
}

void FrmMain::mnuKernelRun_Click()
{
    Runner().mnuKernelRun_Click();
    afterExchange();
}

void FrmMain::mnuKernelDownloadRun_Click()
{
    wireDownloadProgress();
    Runner().mnuKernelDownloadRun_Click();
    afterExchange();
}

// Records sent of records in all, in the status bar while a download runs.
void FrmMain::wireDownloadProgress()
{
    if (m_downloadWired)
        return;
    m_downloadWired = true;
    HexDownload &download = Downloader();
    connect(&download, &HexDownload::downloadStarted, this, [this](int total) {
        if (!m_progress) {
            m_progress = new QProgressBar(this);
            m_progress->setFormat(QStringLiteral("%v of %m records"));
            m_progress->setMaximumWidth(fontMetrics().averageCharWidth() * 40);
            statusBar()->addPermanentWidget(m_progress);
        }
        m_progress->setRange(0, qMax(total, 1));
        m_progress->setValue(0);
        m_progress->show();
        statusBar()->show();
    });
    connect(&download, &HexDownload::progressChanged, this, [this](int sent, int) {
        if (m_progress)
            m_progress->setValue(sent);
    });
    connect(&download, &HexDownload::downloadFinished, this, [this](bool) {
        if (m_progress)
            m_progress->hide();
        statusBar()->hide();
    });
}

// --- file commands ----------------------------------------------------------

void FrmMain::mnuFileLoad_Click()
{
    // An activation while the dialog is up must not open a second one.
    if (m_loadDialogOpen)
        return;
    m_loadDialogOpen = true;
    const QString chosen = Prompts().openFileName(QStringLiteral("Open Intel Hex file"),
                                                  QStringLiteral("Intel Hex files (*.hex)|*.hex|All files (*.*)|*.*"),
                                                  m_fileDialogName);
    m_loadDialogOpen = false;
    if (chosen.isEmpty())
        return;
    m_fileDialogName = chosen;
    ReadHexFile(chosen);
}

void FrmMain::mnuFileReload_Click()
{
    ReadHexFile(QString());
}

void FrmMain::mnuFileRecentfiles_Click(int Index)
{
    ReadHexFile(RecentFiles().GetPath(Index));
}

void FrmMain::mnuViewHexFile_Click()
{
    TextEditor::Open(AppSettingsExists() ? AppSettings().Editor() : QString(), HexFile().Path());
}

double FrmMain::twipsPerPixelX() const
{
    return 1440.0 / (logicalDpiX() > 0 ? logicalDpiX() : 96);
}

double FrmMain::twipsPerPixelY() const
{
    return 1440.0 / (logicalDpiY() > 0 ? logicalDpiY() : 96);
}

double FrmMain::HeightTwips()
{
    return qRound(frameGeometry().height() * twipsPerPixelY());
}

double FrmMain::WidthTwips()
{
    return qRound(frameGeometry().width() * twipsPerPixelX());
}

// The stored sizes are outer sizes. The frame is known only once the window shows, so
// the size is applied again then.
void FrmMain::setHeightTwips(double twips)
{
    m_outerHeight = qMax(1, qRound(twips / twipsPerPixelY()));
    applyOuterSize();
}

void FrmMain::setWidthTwips(double twips)
{
    m_outerWidth = qMax(1, qRound(twips / twipsPerPixelX()));
    applyOuterSize();
}

void FrmMain::applyOuterSize()
{
    const int frameW = frameGeometry().width() - geometry().width();
    const int frameH = frameGeometry().height() - geometry().height();
    resize(m_outerWidth > 0 ? qMax(1, m_outerWidth - frameW) : width(),
           m_outerHeight > 0 ? qMax(1, m_outerHeight - frameH) : height());
}

// --- shutdown ---------------------------------------------------------------

void FrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_outerWidth > 0 || m_outerHeight > 0) {
        applyOuterSize();
        m_outerWidth = m_outerHeight = 0;
    }
    if (m_pendingTile) {
        const Qt::Orientation orientation = *m_pendingTile;
        m_pendingTile.reset();
        if (layout())
            layout()->activate();
        tile(orientation);
    }
}

// --- saving and printing ----------------------------------------------------

WindowCommands FrmMain::windowCommands()
{
    return WindowCommands(Prompts(), *this, printer());
}

QPrinter &FrmMain::printer()
{
    // Created on first use: it stays for the run, so a printer setup holds.
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>();
    return *m_printer;
}

// A window the user closed is saved or printed as a fresh one would be: empty.
void FrmMain::mnuFileSaveStatus_Click()
{
    const QString text = showStatus().text();
    windowCommands().mnuFileSaveStatus(text, m_fileDialogName);
}

void FrmMain::mnuFileSaveTerminal_Click()
{
    ::frmTerminal &terminal = showTerminal();
    windowCommands().mnuFileSaveTerminal(&terminal.store(), statusText(), m_fileDialogName);
}

void FrmMain::mnuFilePrint_Click()
{
    PrintSources sources;
    sources.hexPath = HexFile().Path();
    sources.statusText = [this] { return showStatus().text(); };
    sources.terminal = [this]() -> const TerminalStore * { return &showTerminal().store(); };
    windowCommands().mnuFilePrint(sources, this);
}

void FrmMain::mnuFilePrintSetup_Click()
{
    windowCommands().mnuFilePrintSetup(this);
}

// --- help -------------------------------------------------------------------

void FrmMain::mnuHelpHowTo_Click()
{
    CExShell().RunURL(HowToPath());
}

// One About box at a time; a second command brings it to the front.
void FrmMain::mnuHelpAbout_Click()
{
    if (!m_about) {
        m_about = new FrmAbout(TheKernelVersion(), Prompts(), this);
        m_about->setModal(false);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void FrmMain::mnuFileExit_Click()
{
    close();
}

bool FrmMain::busyForClose() const
{
    return StartingUp() || exchangeRunning() || QApplication::activeModalWidget() != nullptr;
}

void FrmMain::closeEvent(QCloseEvent *event)
{
    // Closing is never refused, but inside a kernel wait or a message box the code that
    // waits still needs the settings and the port. End those first, then close.
    if (busyForClose()) {
        event->ignore();
        if (exchangeRunning())
            Link().dispatcher().abortExchange();
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
        QTimer::singleShot(50, this, &QWidget::close);
        return;
    }
    // Children first, then the port and the settings.
    m_mdi->closeAllSubWindows();
    Form_Unload();
    event->accept();
}

void FrmMain::Form_Unload()
{
    m_activationHook = false;
    if (AppSettingsExists()) {
        if (AppSettings().GlobalState().SerielReady() && LinkIfExists())
            LinkIfExists()->link().close();
        ReleaseAppSettings();
    }
}
