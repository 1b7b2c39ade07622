// The main window in the test process, without a board: the readiness modes, the child
// windows and menus, the file commands, and what the window keeps in the settings store from
// one run to the next.
#include "core/Readiness.h"
#include "app/MainWindow.h"
#include "widgets/StatusWindow.h"
#include "widgets/ThrottledProgressBar.h"
#include "widgets/TerminalView.h"
#include "widgets/TerminalWindow.h"
#include "app/Application.h"
#include "hexfile/HexDownload.h"
#include "hexfile/HexFile.h"
#include "hexfile/HexLoad.h"
#include "link/VersionQuery.h"
#include "settings/Settings.h"
#include "support/RunRig.h"
#include "support/TestDoubles.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QTextLayout>
#include <QtTest>

#include <csignal>
#include <memory>
#include <pty.h>
#include <unistd.h>

namespace {
QMdiSubWindow *frameOf(QWidget *w) { return w ? qobject_cast<QMdiSubWindow *>(w->parentWidget()) : nullptr; }

// Status above terminal (or left of it), both as wide (or high) as the client area.
bool tiled(MainWindow &w, Qt::Orientation orientation)
{
    const QRect status = frameOf(w.statusWindow())->geometry(), terminal = frameOf(w.terminalWindow())->geometry();
    const QRect both = status.united(terminal), area = w.mdiArea()->viewport()->rect();
    return both == area && (orientation == Qt::Horizontal ? terminal.y() > status.y() : terminal.x() > status.x());
}

// The four recent-file items of the File menu, "-" for a hidden one.
QStringList recentItems(MainWindow &w)
{
    QStringList items;
    for (int i = 0; i < 4; ++i) {
        QAction *item = w.action(QStringLiteral("mnuFileRecentfiles%1").arg(i));
        items << (item->isVisible() ? item->text() : QStringLiteral("-"));
    }
    return items;
}

// Raises SIGTERM when a real message box shows: the stop comes while the user is asked.
struct StopAtBox : QObject {
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Show && qobject_cast<QMessageBox *>(o))
            std::raise(SIGTERM);
        return false;
    }
};

// Counts the paint events a widget gets.
struct PaintCounter : QObject {
    PaintCounter(QWidget *widget, int &paints) : m_paints(paints) { widget->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *e) override
    {
        m_paints += e->type() == QEvent::Paint;
        return false;
    }
    int &m_paints;
};
} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    TestFolder m_dir;
    ScriptedPrompter m_prompts;
    std::unique_ptr<Application> m_app;

    // The program as main() starts it, with a port that names no device (its box is
    // answered Ignore), so no kernel is asked.
    MainWindow &start(const QString &commandLine = {})
    {
        m_app.reset();
        QSettings(storeFile(), QSettings::IniFormat).setValue("Ports/COM 2", m_dir.filePath("no-such-device"));
        m_prompts = ScriptedPrompter();
        m_app = std::make_unique<Application>(commandLine, &m_prompts);
        m_app->start();
        QCoreApplication::processEvents();
        return m_app->mainWindow();
    }
    void appendStatus(const QString &text, bool endLine) { m_app->statusLog().appendStatus(text, endLine); }
    QString storeFile() const { return m_dir.filePath(QStringLiteral("config/Corvade/Corvade.conf")); }
    QString hex(const QString &name, const QByteArray &text = ":03000000020003F8\r\n:00000001FF\r\n")
    {
        return m_dir.file(name, text);
    }

private slots:
    void init()
    {
        QDir(m_dir.filePath(QStringLiteral("config"))).removeRecursively();
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
    }
    void cleanup() { m_app.reset(); }

    // Enter and each line end of a paste (CR LF, LF or CR) go out as the chosen line end.
    void enterSends_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("CR, as before") << int(Settings::EnterSends::CR) << QByteArray("a\rb\rc\rd\r");
        QTest::newRow("LF") << int(Settings::EnterSends::LF) << QByteArray("a\nb\nc\nd\n");
        QTest::newRow("CR LF") << int(Settings::EnterSends::CRLF) << QByteArray("a\r\nb\r\nc\r\nd\r\n");
    }
    void enterSends()
    {
        QFETCH(int, choice);
        QFETCH(QByteArray, sent);
        RunRig rig;
        rig.settings.setEnterSends(Settings::EnterSends(choice));
        rig.run.run();
        rig.link.clearWritten();
        TerminalWindow terminal;
        terminal.setSendHook([&rig](quint8 c) { return rig.run.sendKey(c); });
        QCOMPARE(terminal.pasteText(QStringLiteral("a\r\nb\nc\rd")), 7);
        QTest::keyClick(&terminal.view(), Qt::Key_Return);
        QCOMPARE(rig.link.written(), sent);
    }

    // What the window is told as a file and the port come and go; the Kernel menu is on
    // exactly when both are ready.
    void readinessModes_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("seen");
        QTest::newRow("port, then file") << QStringList{"port", "file a\\b.hex"}
                                         << QStringList{"caption:Corvade - a\\b.hex", "recent:a\\b.hex", "kernel:on"};
        QTest::newRow("file, port, both gone") << QStringList{"file /w/x.hex", "port", "no port", "no file"}
                                               << QStringList{"caption:Corvade - x.hex", "recent:/w/x.hex", "kernel:on",
                                                              "kernel:off", "caption:Corvade - No File loaded",
                                                              "kernel:off"};
    }
    void readinessModes()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, seen);
        Journal journal;
        RecordingView view(&journal);
        Readiness state(&view);
        QCOMPARE(journal.events, (QStringList{"caption:Corvade - No File loaded", "kernel:off", "kernel:off"}));
        journal.events.clear();
        for (const QString &step : steps) {
            if (step.startsWith(QLatin1String("file ")))
                state.setFileReady(step.mid(5));
            else if (step == QLatin1String("no file"))
                state.setFileNotReady();
            else
                step == QLatin1String("port") ? state.setSerialReady() : state.setSerialNotReady();
            QCOMPARE(view.kernelEnabled, state.fileReady() && state.serialReady());
        }
        QCOMPARE(journal.events, seen);
    }

    void startUpStatusLogAndWindowMenu()
    {
        MainWindow &w = start();
        QCOMPARE(w.windowTitle(), QStringLiteral("Corvade - No file loaded"));
        // The Kernel menu and its items, and so their shortcuts, are off.
        QVERIFY(!w.kernelMenu()->menuAction()->isEnabled() && !w.action("mnuKernelDownload")->isEnabled());
        QCOMPARE(recentItems(w), QStringList(4, QStringLiteral("-")));
        QVERIFY(tiled(w, Qt::Horizontal));
        w.action(QStringLiteral("mnuViewStatus"))->trigger(); // closed and opened: empty,
        w.action(QStringLiteral("mnuViewStatus"))->trigger(); // without the port's start-up lines
        appendStatus(QStringLiteral("Reading Hex file"), false);
        appendStatus(QStringLiteral("Ok"), true);
        appendStatus(QString(), true);
        QCOMPARE(w.statusText(), QStringLiteral("Reading Hex fileOk\r\n\r\n"));
        QPlainTextEdit *view = w.statusWindow()->textView();
        QTRY_COMPARE(view->toPlainText(), QStringLiteral("Reading Hex fileOk\n\n"));
        QCOMPARE(view->textCursor().position(), view->document()->characterCount() - 1);
        // A download's dots, one append each, reach the view in one go, not one redraw each.
        int edits = 0;
        connect(view->document(), &QTextDocument::contentsChange, view, [&edits] { ++edits; });
        for (int i = 0; i < 500; ++i)
            appendStatus(QStringLiteral("."), false);
        QTRY_VERIFY(view->toPlainText().endsWith(QString(500, QLatin1Char('.'))));
        QCOMPARE(edits, 1);
        appendStatus(QString(), true);
        w.statusWindow()->flush();
        // Only the open line keeps its layout between updates; the ended one gives it up.
        QVERIFY(!view->document()->lastBlock().previous().layout()->cacheEnabled());
        ThrottledProgressBar bar;
        bar.setRange(0, 500);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        bar.repaint();
        QSignalSpy drawn(&bar, &QProgressBar::valueChanged);
        int paints = 0;
        PaintCounter counter(&bar, paints);
        for (int i = 1; i <= 500; ++i)
            bar.setValueLater(i);
        QTRY_COMPARE(bar.value(), 500);
        QCOMPARE(drawn.size(), 1);
        QTRY_COMPARE(paints, 1);
        // Drawn with the window's next update, not at once inside setValue.
        bar.setValueLater(250);
        bar.flush();
        QCOMPARE(paints, 1);
        QTRY_COMPARE(paints, 2);
        // A line longer than the window wraps in the view; the log keeps it as one line.
        const QString conflict = QStringLiteral("WARNING: Version conflict! This version of Corvade is compiled for "
                                                "use with another 8051 kernel. Some functions may not work.");
        appendStatus(conflict, true);
        QVERIFY(w.statusText().endsWith(conflict + "\r\n"));
        QTRY_VERIFY(view->document()->lastBlock().previous().layout()->lineCount() > 1);
        QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
        // The view follows the newest line, and a user typing into it changes nothing.
        for (int i = 0; i < 100; ++i)
            appendStatus(QStringLiteral("line %1").arg(i), true);
        QTRY_VERIFY(view->toPlainText().endsWith(QStringLiteral("line 99\n")));
        QVERIFY(view->verticalScrollBar()->maximum() > 0);
        QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
        QTest::keyClicks(view, QStringLiteral("typed"));
        QVERIFY(view->toPlainText().endsWith(QStringLiteral("line 99\n")));
        // Closed by the user: the next line opens a fresh window holding just that line, and
        // the check mark stays off.
        QVERIFY(w.action(QStringLiteral("mnuViewStatus"))->isChecked());
        frameOf(w.statusWindow())->close();
        QCoreApplication::processEvents();
        QVERIFY(!w.statusWindow() && !w.action(QStringLiteral("mnuViewStatus"))->isChecked());
        appendStatus(QStringLiteral("ERROR: Request time out"), true);
        QCOMPARE(w.statusText(), QStringLiteral("ERROR: Request time out\r\n"));
        QVERIFY(!w.action(QStringLiteral("mnuViewStatus"))->isChecked());
        // The Window menu lists the children, the newest last, made anew each time it opens.
        QMenu *menu = w.findChild<QMenu *>(QStringLiteral("mnuWindow"));
        QMetaObject::invokeMethod(menu, "aboutToShow");
        QMetaObject::invokeMethod(menu, "aboutToShow");
        QCOMPARE(menu->actions().size(), 5);
        QVERIFY(menu->actions()[3]->text().endsWith(QLatin1String("Terminal")));
        QVERIFY(menu->actions()[4]->text().endsWith(QLatin1String("Status")));
        menu->actions()[3]->trigger();
        QCOMPARE(w.mdiArea()->activeSubWindow(), frameOf(w.terminalWindow()));
    }

    void workspaceSurvivesRestart()
    {
        MainWindow &w = start();
        const QString first = hex(QStringLiteral("first.hex")), second = hex(QStringLiteral("second.hex"));
        w.readHexFile(first);
        w.readHexFile(second);
        w.action(QStringLiteral("mnuFileRecentfiles1"))->trigger();
        QCOMPARE(m_app->hexFile().path(), first);
        const QStringList items{"first.hex", "second.hex", "first.hex", "-"};
        QCOMPARE(recentItems(w), items);
        w.action(QStringLiteral("mnuwindowTileV"))->trigger();
        w.hide(); // shown again, say from an icon: the tiling chosen since stays
        w.show();
        QVERIFY(tiled(w, Qt::Vertical));
        w.resize(700, 500);
        QCoreApplication::processEvents();
        const int height = w.outerSize().height();
        w.close(); // by the user, which saves the settings
        QCoreApplication::processEvents();
        QCOMPARE(QSettings(storeFile(), QSettings::IniFormat).value("FileList/Recent 1").toString(), second);
        QVERIFY(tiled(start(), Qt::Vertical));
        QCOMPARE(m_app->mainWindow().outerSize().height(), height);
        QCOMPARE(recentItems(m_app->mainWindow()), items);

        // A size far beyond the screen (an edited store) is kept within the screen's free area.
        QSettings(storeFile(), QSettings::IniFormat).setValue("Window/Width", "20000000");
        QSettings(storeFile(), QSettings::IniFormat).setValue("Window/Height", "20000000");
        const QSize outer = start().outerSize(), free = m_app->mainWindow().screen()->availableGeometry().size();
        QVERIFY2(outer.width() <= free.width() && outer.height() <= free.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(outer.width()).arg(outer.height())));
    }

    // With "Reload Hex" on, the last file is read at start-up, unless the command line names
    // one; that one is then the most recent file, listed once, and the next start reads it.
    void reloadHexAtStart()
    {
        QSettings store(storeFile(), QSettings::IniFormat);
        store.setValue("FileList/Recent 0", hex(QStringLiteral("recent.hex")));
        store.setValue("FileList/Recent 1", hex(QStringLiteral("named.hex")));
        store.setValue("Settings/Reload Hex", "True");
        store.sync();
        QCOMPARE(start().windowTitle(), QStringLiteral("Corvade - recent.hex"));
        MainWindow &named = start(hex(QStringLiteral("named.hex")));
        QCOMPARE(named.windowTitle(), QStringLiteral("Corvade - named.hex"));
        // That file only.
        QVERIFY(m_app->mainWindow().statusText().startsWith(QStringLiteral("Reading Hex file..Ok\r\n")));
        QCOMPARE(recentItems(named), (QStringList{"named.hex", "recent.hex", "-", "-"}));
        named.close();
        QCOMPARE(start().windowTitle(), QStringLiteral("Corvade - named.hex"));
    }

    // Coming back from another program reads the file again, but not at start-up and not with
    // "Reload hex file when receiving focus" off.
    void comingBackReadsTheFileAgain()
    {
        MainWindow &w = start(hex(QStringLiteral("act.hex")));
        const auto reads = [&w] { return w.statusText().count(QStringLiteral("Reading Hex file")); };
        w.applicationStateChanged(Qt::ApplicationActive); // at start-up: not a coming back
        hex(QStringLiteral("act.hex"), ":0100000000FF\r\n");
        w.applicationStateChanged(Qt::ApplicationInactive);
        QCOMPARE(reads(), 1);
        w.applicationStateChanged(Qt::ApplicationActive);
        QVERIFY(reads() == 2 && m_app->hexFile().recordCount() == 1);
        m_app->settings().setReloadHexOnFocus(false);
        w.applicationStateChanged(Qt::ApplicationInactive);
        w.applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(reads(), 2);

        // Nothing loaded (a "&Load..." cancelled): coming back opens the file dialog, and
        // coming back while it is open opens no second one. The file chosen is read.
        MainWindow &empty = start();
        m_prompts.fileNames << QString() << hex(QStringLiteral("chosen.hex"));
        empty.action(QStringLiteral("mnuFileLoad"))->trigger();
        m_prompts.whileDialogOpen = [&empty] {
            empty.applicationStateChanged(Qt::ApplicationInactive);
            empty.applicationStateChanged(Qt::ApplicationActive);
        };
        empty.applicationStateChanged(Qt::ApplicationInactive);
        empty.applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(m_prompts.dialogTitles, QStringList(2, QStringLiteral("Open Intel Hex file")));
        QCOMPARE(empty.windowTitle(), QStringLiteral("Corvade - chosen.hex"));
    }

    // A read leaves the window answering: its dots come through a nested event loop while
    // it runs, and coming back to the window, F3 or a download meanwhile start nothing.
    // Coming back to the file unchanged since then logs what a read of it logs.
    void windowAnswersWhileReading()
    {
        MainWindow &w = start();
        const QString path = hex(QStringLiteral("big.hex"), dataRecords(5000, true).join("\r\n").toLatin1());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite)
                && file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        file.close();
        const int outside = QThread::currentThread()->loopLevel();
        int level = outside;
        bool downloaded = true;
        auto during = connect(&m_app->statusLog(), &StatusLog::appended, this, [&](const QString &piece) {
            if (level != outside || !piece.startsWith('.'))
                return;
            level = QThread::currentThread()->loopLevel();
            w.applicationStateChanged(Qt::ApplicationInactive);
            w.applicationStateChanged(Qt::ApplicationActive);
            w.action(QStringLiteral("mnuFileReload"))->trigger();
            downloaded = m_app->download().download();
        });
        w.readHexFile(path);
        disconnect(during);
        QVERIFY(level > outside && !downloaded);
        const QString log = w.statusText();
        QCOMPARE(log.count(QStringLiteral("Reading Hex file")), 1);
        QVERIFY(log.contains(HexLoad::readingText()) && log.contains(HexDownload::notWhileReadingText()));
        QCOMPARE(m_app->hexFile().recordCount(), 5001);

        m_app->statusLog().clear();
        w.action(QStringLiteral("mnuFileReload"))->trigger();
        const QString read = w.statusText();
        m_app->statusLog().clear();
        w.applicationStateChanged(Qt::ApplicationInactive);
        w.applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(w.statusText(), read);
        QVERIFY(read.endsWith(QStringLiteral("Ok\r\nLoaded 5,001 records, 80,000 data bytes: 0000-FFFF.\r\n"
                                             "WARNING: Records overlap at 0000.\r\n")));
    }

    // SIGTERM at each point of the start procedure: the start ends there (an open box
    // closes, the port box as Ignore), the settings as loaded are saved, and start() says
    // not to enter the main loop. Once started, the window closes the ordinary way.
    void stopDuringStartUp_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<int>("boxes");        // port boxes put to the scripted prompter
        QTest::addColumn<QString>("lastLine"); // of the status log
        const QString ignored = QStringLiteral("You will not be able to connect to the 8051, and many Corvade "
                                               "functions will be disabled");
        QTest::newRow("splash shows") << "splash" << 0 << QString();
        QTest::newRow("port box, Retry pressed") << "box" << 1 << ignored;
        QTest::newRow("real port box") << "real box" << 0 << ignored;
        QTest::newRow("main window shown") << "shown" << 1 << ignored;
        QTest::newRow("version query waits") << "query" << 0 << "Getting Kernel Version...";
        QTest::newRow("main loop") << "running" << 1 << ignored;
    }
    void stopDuringStartUp()
    {
        QFETCH(QString, stage);
        QFETCH(int, boxes);
        QFETCH(QString, lastLine);
        // For the query a line on which the kernel never answers; else a missing device.
        int master = -1, slave = -1;
        char device[256] = "/nonexistent/tty";
        QVERIFY(stage != "query" || ::openpty(&master, &slave, device, nullptr, nullptr) == 0);
        QSettings(storeFile(), QSettings::IniFormat).setValue("Ports/COM 2", QString::fromLocal8Bit(device));
        QSettings(storeFile(), QSettings::IniFormat).setValue("Terminal/Echo", "True");
        m_prompts = ScriptedPrompter();
        std::unique_ptr<QSocketNotifier> line;
        if (master >= 0) {
            line = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
            connect(line.get(), &QSocketNotifier::activated, this, [master] {
                char byte = 0;
                if (::read(master, &byte, 1) == 1 && byte == VersionQuery::kRequest)
                    std::raise(SIGTERM);
            });
        }
        if (stage == "box") {
            m_prompts.answers = {Prompter::Answer::Retry};
            m_prompts.beforeAnswer = [](int) { std::raise(SIGTERM); };
        }
        StopAtBox stopAtBox;
        if (stage == "real box")
            qApp->installEventFilter(&stopAtBox);
        m_app = std::make_unique<Application>(QString(), stage == "real box" ? nullptr : &m_prompts);
        QString log; // closing the window empties the log itself
        connect(&m_app->statusLog(), &StatusLog::appended, this, [&log](const QString &piece) { log += piece; });
        m_app->setStageHook([&stage](Application::StartStage s) {
            if (stage == (s == Application::StartStage::SplashShown ? "splash" : "shown"))
                std::raise(SIGTERM);
        });
        const bool started = m_app->start();
        qApp->removeEventFilter(&stopAtBox);
        QCOMPARE(started, stage == "running");
        if (started)
            std::raise(SIGTERM);
        QTRY_VERIFY(!m_app->mainWindow().isVisible());
        QCOMPARE(m_prompts.boxes.size(), boxes);
        const QStringList lines = log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.value(lines.size() - 1), lastLine);
        QSettings saved(storeFile(), QSettings::IniFormat);
        QVERIFY(saved.value("Terminal/Echo").toString() == "True" && saved.contains("Window/Tile"));
        m_app.reset();
        line.reset();
        if (master >= 0)
            ::close(master), ::close(slave);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
