#include "app/MainWindow.h"

#include "core/Prompter.h"
#include "core/StatusLog.h"
#include "hexfile/HexFile.h"
#include "hexfile/RecentFiles.h"
#include "hexfile/HexLoad.h"
#include "hexfile/HexDownload.h"
#include "link/FileSender.h"
#include "link/RunLink.h"
#include "link/SerialLink.h"
#include "link/TerminalCapture.h"
#include "link/TerminalSession.h"
#include "shell/DesktopShell.h"
#include "shell/TextEditor.h"
#include "widgets/AboutDialog.h"
#include "widgets/LogicalPixels.h"
#include "widgets/ThrottledProgressBar.h"
#include "widgets/StatusWindow.h"
#include "widgets/TerminalWindow.h"
#include "widgets/WindowCommands.h"
#include "widgets/WindowPrinter.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPrinter>
#include <QProgressDialog>
#include <QScreen>
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

MainWindow::MainWindow(Settings &settings, StatusLog &statusLog, Readiness &readiness, Prompter &prompter,
                       SerialLink &link, HexFile &hexFile, RecentFiles &recentFiles, HexDownload &download,
                       QWidget *parent)
    : QMainWindow(parent),
      m_settings(settings),
      m_statusLog(statusLog),
      m_readiness(readiness),
      m_prompter(prompter),
      m_link(link),
      m_hexFile(hexFile),
      m_recentFiles(recentFiles),
      m_download(download),
      m_settingsHost(settings, prompter, link, readiness),
      m_mdi(new QMdiArea(this))
{
    setObjectName(QStringLiteral("mainWindow"));
    setCentralWidget(m_mdi);
    setWindowTitle(kTitle);
    createMenus();
    setKernelMenuEnabled(false); // neither a file nor the port is ready yet
    m_recentFiles.setMenu(this);
    m_readiness.setView(this);
    connect(&m_statusLog, &StatusLog::appended, this, &MainWindow::statusAppended);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, &MainWindow::applicationStateChanged);
    resize(logicalPixels(758, logicalDpiX()), logicalPixels(577, logicalDpiY()));
}

MainWindow::~MainWindow()
{
    m_readiness.setView(nullptr);
    m_recentFiles.setMenu(nullptr);
}

QAction *MainWindow::addItem(QMenu *menu, const char *name, const QString &caption, const QKeySequence &key)
{
    QAction *a = menu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    if (!key.isEmpty())
        a->setShortcut(key);
    return a;
}

QAction *MainWindow::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void MainWindow::createMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    connect(addItem(file, "mnuFileLoad", QStringLiteral("&Load..."), Qt::Key_F2), &QAction::triggered, this,
            &MainWindow::loadFile);
    connect(addItem(file, "mnuFileReload", QStringLiteral("&Reload"), Qt::Key_F3), &QAction::triggered, this,
            &MainWindow::reloadFile);
    file->addSeparator();
    connect(addItem(file, "mnuFileSaveTerminal", QStringLiteral("Save &Terminal window...")), &QAction::triggered,
            this, &MainWindow::saveTerminal);
    connect(addItem(file, "mnuFileSaveStatus", QStringLiteral("Save St&atus window...")), &QAction::triggered, this,
            &MainWindow::saveStatus);
    connect(addItem(file, "mnuFilePrint", QStringLiteral("&Print..."), QKeySequence(Qt::CTRL | Qt::Key_P)),
            &QAction::triggered, this, &MainWindow::print);
    connect(addItem(file, "mnuFilePrintSetup", QStringLiteral("Printer set&up...")), &QAction::triggered, this,
            &MainWindow::printSetup);
    file->addSeparator();
    connect(addItem(file, "mnuFileSettings", QStringLiteral("&Settings..."), QKeySequence(Qt::CTRL | Qt::Key_S)),
            &QAction::triggered, this, &MainWindow::showSettings);
    connect(addItem(file, "mnuFileInitSeriel", QStringLiteral("&Initialise serielport"), Qt::Key_F4),
            &QAction::triggered, this, &MainWindow::initializeSerialPort);
    file->addSeparator();
    for (int i = 0; i < 4; ++i) {
        m_recent[i] = file->addAction(QString());
        m_recent[i]->setObjectName(QStringLiteral("mnuFileRecentfiles%1").arg(i));
        m_recent[i]->setVisible(false);
        connect(m_recent[i], &QAction::triggered, this, [this, i] { loadRecentFile(i); });
    }
    file->addSeparator();
    connect(addItem(file, "mnuFileExit", QStringLiteral("E&xit")), &QAction::triggered, this,
            &MainWindow::exitProgram);

    QMenu *view = menuBar()->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("mnuView"));
    QAction *viewTerminal = addItem(view, "mnuViewTerminal", QStringLiteral("&Terminal"));
    viewTerminal->setCheckable(true);
    connect(viewTerminal, &QAction::triggered, this, &MainWindow::toggleTerminalWindow);
    QAction *viewStatus = addItem(view, "mnuViewStatus", QStringLiteral("&Status"));
    viewStatus->setCheckable(true);
    connect(viewStatus, &QAction::triggered, this, &MainWindow::toggleStatusWindow);
    connect(addItem(view, "mnuViewHexFile", QStringLiteral("&Hex File"), QKeySequence(Qt::CTRL | Qt::Key_H)),
            &QAction::triggered, this, &MainWindow::viewHexFile);
    view->addSeparator();

    m_kernelMenu = menuBar()->addMenu(QStringLiteral("&Kernel"));
    m_kernelMenu->setObjectName(QStringLiteral("mnuKernel"));
    connect(addItem(m_kernelMenu, "mnuKernelDownload", QStringLiteral("&Download HEX-file"), Qt::Key_F5),
            &QAction::triggered, this, &MainWindow::download);
    connect(addItem(m_kernelMenu, "mnuKernelRun", QStringLiteral("&Run"), Qt::Key_F6), &QAction::triggered, this,
            &MainWindow::run);
    connect(addItem(m_kernelMenu, "mnuKernelDownloadRun", QStringLiteral("Download&+Run"), Qt::Key_F7),
            &QAction::triggered, this, &MainWindow::downloadAndRun);
    m_kernelMenu->addSeparator();
    connect(addItem(m_kernelMenu, "mnuKernelKrnlVersion", QStringLiteral("&Kernel Version"), Qt::Key_F12),
            &QAction::triggered, this, &MainWindow::queryKernelVersion);

    createTerminalMenu();

    m_windowMenu = menuBar()->addMenu(QStringLiteral("&Window"));
    m_windowMenu->setObjectName(QStringLiteral("mnuWindow"));
    connect(addItem(m_windowMenu, "mnuwindowTileV", QStringLiteral("Tile &Vertical")), &QAction::triggered, this,
            &MainWindow::tileVertically);
    connect(addItem(m_windowMenu, "mnuWindowTileH", QStringLiteral("Tile &Horizontaly")), &QAction::triggered, this,
            &MainWindow::tileHorizontally);
    m_windowListSeparator = m_windowMenu->addSeparator();
    connect(m_windowMenu, &QMenu::aboutToShow, this, &MainWindow::fillWindowMenu);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    connect(addItem(help, "mnuHelpHowTo", QStringLiteral("How to &Corvade")), &QAction::triggered, this,
            &MainWindow::showHowTo);
    help->addSeparator();
    connect(addItem(help, "mnuHelpAbout", QStringLiteral("&About Corvade...")), &QAction::triggered, this,
            &MainWindow::showAbout);
}

// The Terminal menu: the view options, kept in the settings (a change renders what the
// terminal holds again), then capture and sending a file.
void MainWindow::createTerminalMenu()
{
    QMenu *terminal = menuBar()->addMenu(QStringLiteral("&Terminal"));
    terminal->setObjectName(QStringLiteral("mnuTerminal"));
    QAction *hex = addItem(terminal, "mnuTerminalHexView", QStringLiteral("&Hex View"));
    hex->setCheckable(true);
    connect(hex, &QAction::triggered, this, [this](bool on) {
        m_settings.setHexView(on);
        applyViewOptions();
    });
    QAction *stamps = addItem(terminal, "mnuTerminalTimeStamps", QStringLiteral("&Time Stamps"));
    stamps->setCheckable(true);
    connect(stamps, &QAction::triggered, this, [this](bool on) {
        m_settings.setTimeStamps(on);
        applyViewOptions();
    });
    terminal->addSeparator();
    QAction *capture = addItem(terminal, "mnuTerminalCapture", QStringLiteral("&Capture..."));
    capture->setCheckable(true);
    connect(capture, &QAction::triggered, this, &MainWindow::toggleCapture);
    connect(addItem(terminal, "mnuTerminalSendFile", QStringLiteral("Send &File...")), &QAction::triggered, this,
            &MainWindow::sendFile);
}

void MainWindow::applyViewOptions()
{
    action(QStringLiteral("mnuTerminalHexView"))->setChecked(m_settings.hexView());
    action(QStringLiteral("mnuTerminalTimeStamps"))->setChecked(m_settings.timeStamps());
    if (m_terminal)
        m_terminal->renderer().setViewOptions(TerminalSession::viewOptions(m_settings));
}

void MainWindow::initialize(const QString &commandLinePath)
{
    initializeWindows(commandLinePath);
    loadCommandLineFile();
}

void MainWindow::initializeWindows(const QString &commandLinePath)
{
    m_commandLinePath = commandLinePath;
    m_commandLineFilePending = !commandLinePath.isEmpty();
    m_activationHook = true;
    setWindowTitle(kTitle + QStringLiteral(" - No file loaded"));
    action(QStringLiteral("mnuViewStatus"))->setChecked(true);
    action(QStringLiteral("mnuViewTerminal"))->setChecked(true);
    showStatus();
    showTerminal();
    applyViewOptions();
    tile(Qt::Horizontal);
    if (m_terminal)
        m_terminal->setFocus();
}

void MainWindow::loadCommandLineFile()
{
    if (!m_commandLineFilePending)
        return;
    m_commandLineFilePending = false;
    readHexFile(m_commandLinePath);
}

// --- status log -------------------------------------------------------------

StatusWindow &MainWindow::showStatus()
{
    if (!m_status) {
        auto *status = new StatusWindow(m_statusLog);
        // The check mark follows the status window whichever way it closes; the log's
        // text lives only as long as its window.
        QPointer<QAction> mark = action(QStringLiteral("mnuViewStatus"));
        QMdiSubWindow *sub = addChild(m_mdi, status, [this, mark] {
            m_status = nullptr;
            m_statusLog.clear();
            if (mark)
                mark->setChecked(false);
        });
        m_status = status;
        sub->show();
    }
    return *m_status;
}

// A line written while the user has the status window closed brings it back.
void MainWindow::statusAppended(const QString &piece)
{
    if (m_status)
        m_status->showAppended(piece);
    else
        showStatus();
}

QString MainWindow::statusText() const
{
    return m_statusLog.text();
}

// --- terminal window --------------------------------------------------------

TerminalRenderer &MainWindow::renderer()
{
    return showTerminal().renderer();
}

TerminalWindow *MainWindow::terminalWindow() const
{
    return m_terminal;
}

TerminalWindow &MainWindow::showTerminal()
{
    if (!m_terminal) {
        auto *terminal = new TerminalWindow;
        terminal->store().setStatusSink(&m_statusLog);
        terminal->store().setMemoryWindow(qint64(m_settings.terminalMemoryMB()) * 1024 * 1024);
        // The log of what arrived holds the bytes before they are rendered: a quarter will do.
        terminal->renderer().log().bytes().setStatusSink(&m_statusLog);
        terminal->renderer().log().bytes().setMemoryWindow(qint64(m_settings.terminalMemoryMB()) * 256 * 1024);
        terminal->renderer().setViewOptions(TerminalSession::viewOptions(m_settings));
        // Typed keys go to the running program while a terminal handler is current; the
        // echo follows the settings of the moment.
        terminal->setSendHook([this, terminal](quint8 code) {
            if (!m_run)
                return false;
            terminal->setEcho(m_settings.echo(), ColorRef(m_settings.echoColor()));
            return m_run->sendKey(code);
        });
        // No check-mark handling here: the View item keeps its mark when the box closes it.
        QMdiSubWindow *sub = addChild(m_mdi, terminal, [this] { m_terminal = nullptr; });
        m_terminal = terminal;
        sub->show();
    }
    return *m_terminal;
}

void MainWindow::closeChild(QWidget *child)
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
void MainWindow::toggleStatusWindow()
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

void MainWindow::toggleTerminalWindow()
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

void MainWindow::tile(Qt::Orientation orientation)
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

void MainWindow::tileHorizontally()
{
    tile(Qt::Horizontal);
    m_settings.setTile(QStringLiteral("Horizontal"));
}

void MainWindow::tileVertically()
{
    tile(Qt::Vertical);
    m_settings.setTile(QStringLiteral("Vertical"));
}

void MainWindow::fillWindowMenu()
{
    const QList<QAction *> items = m_windowMenu->actions();
    const int first = items.indexOf(m_windowListSeparator) + 1;
    for (int i = first; i < items.size(); ++i) {
        m_windowMenu->removeAction(items[i]);
        items[i]->deleteLater();
    }
    const QList<QMdiSubWindow *> windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    int number = 1;
    for (QMdiSubWindow *w : windows) {
        QAction *a = m_windowMenu->addAction(QStringLiteral("&%1 %2").arg(number++).arg(w->windowTitle()));
        a->setCheckable(true);
        a->setChecked(w == m_mdi->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, sub = QPointer<QMdiSubWindow>(w)] {
            if (sub)
                m_mdi->setActiveSubWindow(sub);
        });
    }
}

// --- readiness --------------------------------------------------------------

void MainWindow::setCaption(const QString &caption)
{
    setWindowTitle(caption);
}

void MainWindow::setKernelMenuEnabled(bool enabled)
{
    // Disable the items as well, so their shortcuts follow the menu.
    m_kernelMenu->menuAction()->setEnabled(enabled);
    for (QAction *a : m_kernelMenu->actions())
        a->setEnabled(enabled);
}

// --- workspace --------------------------------------------------------------

void MainWindow::addRecentFile(const QString &path)
{
    // A restored entry for the file about to be read from the command line would stay
    // below it as a second copy; the read puts it on top once.
    if (m_commandLineFilePending && path == m_commandLinePath)
        return;
    m_recentFiles.add(path);
}

QString MainWindow::recentPath(int index)
{
    return m_recentFiles.pathAt(index);
}

void MainWindow::showRecentItem(int index)
{
    if (index >= 0 && index < 4)
        m_recent[index]->setVisible(true);
}

void MainWindow::setRecentCaption(int index, const QString &caption)
{
    if (index >= 0 && index < 4)
        m_recent[index]->setText(caption);
}

void MainWindow::readHexFile(const QString &path)
{
    HexLoad::readHexFile(m_hexFile, path, m_statusLog, m_prompter, m_readiness,
                         [this] { loadFile(); });
}

void MainWindow::restoreHexFile(const QString &path)
{
    // A file named on the command line was read by the load handler and stays loaded.
    if (m_commandLinePath.isEmpty())
        readHexFile(path);
}

// Coming back from another application reads the file again, so the next download sends
// the fresh build. The first activation, when the program starts, is not a coming back.
void MainWindow::applicationStateChanged(Qt::ApplicationState state)
{
    if (state != Qt::ApplicationActive) {
        m_wasInactive = true;
        return;
    }
    if (!m_activationHook || !m_wasInactive)
        return;
    m_wasInactive = false;
    if (!m_settings.reloadHexOnFocus())
        return;
    // The record list must not change under a running exchange: read it when that ends.
    if (exchangeRunning())
        m_reloadPending = true;
    else
        reloadOnActivation();
}

void MainWindow::reloadOnActivation()
{
    // Coming back while the file is being read: that read is as fresh as another one.
    if (!m_hexFile.isReading())
        HexLoad::readHexFile(m_hexFile, QString(), m_statusLog, m_prompter, m_readiness, [this] { loadFile(); },
                             HexLoad::Reread::IfChanged);
}

bool MainWindow::exchangeRunning() const
{
    return m_link.dispatcher().isWaiting();
}

// Kernel commands run through here, so a reload put off during their wait happens after.
void MainWindow::afterExchange()
{
    if (m_reloadPending && !exchangeRunning()) {
        m_reloadPending = false;
        reloadOnActivation();
    }
}

// --- kernel and port commands -----------------------------------------------

void MainWindow::showSettings()
{
    SettingsDialog::open(m_settingsHost, this);
}

void MainWindow::initializeSerialPort()
{
    m_link.port().initializeSerialPort();
}

void MainWindow::queryKernelVersion()
{
    m_link.kernel().queryKernelVersion();
    afterExchange();
}

void MainWindow::download()
{
    wireDownloadProgress();
    m_download.download();
    afterExchange();
}

void MainWindow::run()
{
    if (m_run)
        m_run->run();
    afterExchange();
}

void MainWindow::downloadAndRun()
{
    wireDownloadProgress();
    if (m_run)
        m_run->downloadAndRun();
    afterExchange();
}

// Records sent of records in all, in the status bar while a download runs.
void MainWindow::wireDownloadProgress()
{
    if (m_downloadWired)
        return;
    m_downloadWired = true;
    HexDownload &download = m_download;
    connect(&download, &HexDownload::downloadStarted, this, [this](int total) {
        if (!m_progress) {
            m_progress = new ThrottledProgressBar(this);
            m_progress->setFormat(QStringLiteral("%v of %m records"));
            m_progress->setMaximumWidth(fontMetrics().averageCharWidth() * 40);
            statusBar()->addPermanentWidget(m_progress);
        }
        m_progress->flush();
        m_progress->setRange(0, qMax(total, 1));
        m_progress->setValue(0);
        m_progress->show();
        statusBar()->show();
    });
    connect(&download, &HexDownload::progressChanged, this, [this](int sent, int) {
        if (m_progress)
            m_progress->setValueLater(sent);
    });
    connect(&download, &HexDownload::downloadFinished, this, [this](bool) {
        if (m_progress)
            m_progress->hide();
        statusBar()->hide();
    });
}

// --- file commands ----------------------------------------------------------

void MainWindow::loadFile()
{
    // An activation while the dialog is up must not open a second one.
    if (m_loadDialogOpen)
        return;
    m_loadDialogOpen = true;
    const QString chosen = m_prompter.openFileName(QStringLiteral("Open Intel Hex file"),
                                                  QStringLiteral("Intel Hex files (*.hex)|*.hex|All files (*.*)|*.*"),
                                                  m_fileDialogName);
    m_loadDialogOpen = false;
    if (chosen.isEmpty())
        return;
    m_fileDialogName = chosen;
    readHexFile(chosen);
}

void MainWindow::reloadFile()
{
    readHexFile(QString());
}

void MainWindow::loadRecentFile(int index)
{
    readHexFile(m_recentFiles.pathAt(index));
}

void MainWindow::viewHexFile()
{
    TextEditor::open(m_settings.editor(), m_hexFile.path());
}

QSize MainWindow::outerSize()
{
    return frameGeometry().size();
}

int MainWindow::horizontalDpi()
{
    return logicalDpiX();
}

int MainWindow::verticalDpi()
{
    return logicalDpiY();
}

// The stored sizes are outer sizes. The frame is known only once the window shows, so
// the size is applied again then.
void MainWindow::setOuterHeight(int pixels)
{
    m_outerHeight = pixels;
    applyOuterSize();
}

void MainWindow::setOuterWidth(int pixels)
{
    m_outerWidth = pixels;
    applyOuterSize();
}

void MainWindow::applyOuterSize()
{
    // A stored size beyond the screen (an edited or foreign settings file) would ask for a
    // backing store of gigabytes and freeze the start: keep it within the available area.
    int outerW = m_outerWidth;
    int outerH = m_outerHeight;
    if (QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        const QSize available = s->availableGeometry().size();
        outerW = qMin(outerW, available.width());
        outerH = qMin(outerH, available.height());
    }
    const int frameW = frameGeometry().width() - geometry().width();
    const int frameH = frameGeometry().height() - geometry().height();
    resize(outerW > 0 ? qMax(1, outerW - frameW) : width(), outerH > 0 ? qMax(1, outerH - frameH) : height());
}

// --- shutdown ---------------------------------------------------------------

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_outerWidth > 0 || m_outerHeight > 0) {
        applyOuterSize();
        // A window manager's frame is not known yet; sized without it, the window would grow
        // by the title bar at every start. moveEvent sizes it again once the frame is there.
        m_outerAfterFrame = QSize(m_outerWidth, m_outerHeight);
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

// A window manager frames the window after it is shown, which moves the client area.
// Only then is the frame's size known, and the stored outer size can be met exactly.
void MainWindow::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    if (m_outerAfterFrame.isNull() || !isVisible() || frameGeometry().size() == geometry().size())
        return;
    m_outerWidth = m_outerAfterFrame.width();
    m_outerHeight = m_outerAfterFrame.height();
    m_outerAfterFrame = QSize();
    applyOuterSize();
    m_outerWidth = m_outerHeight = 0;
}

// --- saving and printing ----------------------------------------------------

WindowCommands MainWindow::windowCommands()
{
    return WindowCommands(m_prompter, m_statusLog, printer(), this);
}

QPrinter &MainWindow::printer()
{
    // Created on first use: it stays for the run, so a printer setup holds.
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>();
    return *m_printer;
}

// A window the user closed is saved or printed as a fresh one would be: empty.
void MainWindow::saveStatus()
{
    const QString text = showStatus().text();
    windowCommands().saveStatus(text, m_fileDialogName);
}

void MainWindow::saveTerminal()
{
    TerminalWindow &terminal = showTerminal();
    terminal.renderer().finishRendering(); // the whole terminal, not the part rendered again so far
    windowCommands().saveTerminal(&terminal.store(), statusText(), m_fileDialogName);
}

void MainWindow::print()
{
    PrintSources sources;
    sources.hexPath = m_hexFile.path();
    sources.statusText = [this] { return showStatus().text(); };
    sources.terminal = [this]() -> const TerminalStore * {
        showTerminal().renderer().finishRendering();
        return &showTerminal().store();
    };
    windowCommands().print(sources, this);
}

void MainWindow::printSetup()
{
    windowCommands().printSetup(this);
}

// --- help -------------------------------------------------------------------

void MainWindow::showHowTo()
{
    DesktopShell().runUrl(howToPath());
}

// One About box at a time; a second command brings it to the front.
void MainWindow::showAbout()
{
    if (!m_about) {
        m_about = new AboutDialog(m_link.kernel().version(), m_prompter, this);
        m_about->setModal(false);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void MainWindow::exitProgram()
{
    close();
}

bool MainWindow::busyForClose() const
{
    return m_startingUp || exchangeRunning() || QApplication::activeModalWidget() != nullptr;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Closing is never refused, but inside a kernel wait or a message box the code that
    // waits still needs the settings and the port. End those first, then close.
    if (busyForClose()) {
        event->ignore();
        if (exchangeRunning())
            m_link.dispatcher().abortExchange();
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
        QTimer::singleShot(50, this, &QWidget::close);
        return;
    }
    // Children first, then the port; the settings are saved by whoever listens to closing().
    stopTerminalTools();
    m_mdi->closeAllSubWindows();
    m_activationHook = false;
    if (m_readiness.serialReady())
        m_link.link().close();
    emit closing();
    event->accept();
}

// --- Terminal menu ----------------------------------------------------------

void MainWindow::setTerminalTools(TerminalCapture &capture, FileSender &sender)
{
    m_capture = &capture;
    m_fileSender = &sender;
    connect(&capture, &TerminalCapture::runningChanged, this, &MainWindow::showCaptureState);
    connect(&capture, &TerminalCapture::written, this, &MainWindow::showCaptureState);
    // The end of a download hides the status bar; a running capture shows it again.
    connect(&m_download, &HexDownload::downloadFinished, this, &MainWindow::showCaptureState, Qt::QueuedConnection);
    connect(&sender, &FileSender::progressChanged, this, [this](qint64 sent, qint64 total) {
        if (m_sendProgress)
            m_sendProgress->setValue(total > 0 ? int(sent * 1000 / total) : 1000);
    });
    connect(&sender, &FileSender::finished, this, [this] {
        if (m_sendProgress) {
            m_sendProgress->close();
            m_sendProgress->deleteLater();
        }
    });
}

void MainWindow::toggleCapture()
{
    if (!m_capture)
        return;
    if (m_capture->isRunning()) {
        m_capture->stop();
    } else {
        const QString chosen = m_prompter.saveFileName(QStringLiteral("Capture terminal to file"),
                                                       QStringLiteral("All files (*.*)|*.*"), m_captureName);
        if (!chosen.isEmpty()) {
            m_captureName = chosen;
            m_capture->start(chosen);
        }
    }
    showCaptureState();
}

// The check mark and the status bar follow the capture, whichever way it started or stopped.
void MainWindow::showCaptureState()
{
    const bool running = m_capture && m_capture->isRunning();
    if (QAction *item = action(QStringLiteral("mnuTerminalCapture")))
        item->setChecked(running);
    if (running) {
        if (!m_captureSize) {
            m_captureSize = new QLabel(this);
            m_captureSize->setObjectName(QStringLiteral("captureSize"));
            statusBar()->addPermanentWidget(m_captureSize);
        }
        m_captureSize->setText(QStringLiteral("Capture: %1 %2")
                                   .arg(QFileInfo(m_capture->path()).fileName(),
                                        TerminalCapture::sizeText(m_capture->size())));
        m_captureSize->show();
        statusBar()->show();
    } else if (m_captureSize && !m_captureSize->isHidden()) {
        m_captureSize->hide();
        if (!m_progress || m_progress->isHidden())
            statusBar()->hide();
    }
}

void MainWindow::sendFile()
{
    if (!m_fileSender)
        return;
    if (m_fileSender->isRunning() && m_sendProgress) {
        m_sendProgress->show();
        m_sendProgress->raise();
        return;
    }
    const QString chosen = m_prompter.openFileName(QStringLiteral("Send file to the program"),
                                                   QStringLiteral("All files (*.*)|*.*"), m_sendName);
    if (chosen.isEmpty())
        return;
    m_sendName = chosen;
    auto *dialog = new QProgressDialog(QStringLiteral("Sending %1...").arg(QFileInfo(chosen).fileName()),
                                       QStringLiteral("&Cancel"), 0, 1000, this);
    dialog->setObjectName(QStringLiteral("sendFileProgress"));
    dialog->setWindowTitle(QStringLiteral("Send file"));
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    // Not modal and not taking the focus: the terminal keeps taking keys while it runs.
    dialog->setWindowModality(Qt::NonModal);
    dialog->setAttribute(Qt::WA_ShowWithoutActivating);
    dialog->setMinimumDuration(0);
    connect(dialog, &QProgressDialog::canceled, m_fileSender, &FileSender::cancel);
    m_sendProgress = dialog;
    // A short file may be sent (and its dialog closed) before start() returns.
    const bool started = m_fileSender->start(chosen);
    if (!started)
        dialog->deleteLater();
    else if (m_fileSender->isRunning())
        dialog->show();
}

void MainWindow::stopTerminalTools()
{
    if (m_fileSender)
        m_fileSender->cancel();
    if (m_capture)
        m_capture->stop();
}
