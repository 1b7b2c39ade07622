// The exchanges on the fake link: the dispatcher, the version query, the port set-up and the
// run commands, with the request time-out and the answer-joining gap stepped by hand.
#include "link/FileSender.h"
#include "link/KernelLink.h"
#include "link/QtRequestTimer.h"
#include "link/RunRequest.h"
#include "support/RunRig.h"
#include "link/TerminalCapture.h"
#include "link/TerminalSession.h"
#include "support/TestFiles.h"

#include <QTimer>
#include <QtTest>

using namespace std::chrono_literals;
using Lines = QStringList;
using A = Prompter::Answer;

namespace {
const QString kGet = QStringLiteral("Getting Kernel Version...");
const QString kCompiled = QStringLiteral("Corvade is compiled for Kernel version 1.0.0");
const QString kConflict = QStringLiteral("WARNING: Version conflict! This version of Corvade is compiled for use "
                                         "with another 8051 kernel. Some functions may not work.");
const QString kInfo = QStringLiteral("INFORMATION: Check out the Readme file or look at the Corvade website "
                                     "(corvade.example.org/kernel), for combatibility information.");
const QString kRunning = QStringLiteral("Running file on 8051...");

class Probe : public LinkHandler {
public:
    explicit Probe(int answerLength = 0) : m_length(answerLength) {}
    void receive(const QByteArray &packet) override { received << packet; }
    int packetsToReceive() const override { return 2; }
    int answerLength() const override { return m_length; }
    QList<QByteArray> received;

private:
    int m_length;
};

struct Rig : RunRig {
    KernelLink kernel{dispatcher, prompter};
    // Runs `inside` from within the command's wait, as a receive event or a key press would.
    void query(std::function<void()> inside)
    {
        QTimer::singleShot(0, &dispatcher, std::move(inside));
        kernel.queryKernelVersion();
    }
    QString current() const
    {
        const auto &h = dispatcher.currentHandler();
        return !h ? "none" : std::dynamic_pointer_cast<TerminalSession>(h) ? "terminal"
                          : std::dynamic_pointer_cast<RunRequest>(h)       ? "run" : "other";
    }
};

LinkResult busy() { return LinkResult::failure(LinkError::InUse, 16, QStringLiteral("busy")); }
} // namespace

class TestLinkExchange : public QObject {
    Q_OBJECT

private slots:
    void currentHandler()
    {
        Rig rig;
        auto mine = std::make_shared<Probe>(), terminal = std::make_shared<Probe>();
        rig.link.inject("a"); // nobody to take it: read and dropped
        rig.dispatcher.setCurrentHandler(mine);
        rig.link.inject("b");
        QCOMPARE(mine->received, QList<QByteArray>{"b"});
        // Ending an exchange leaves a handler that another command installed meanwhile.
        rig.dispatcher.setCurrentHandler(terminal);
        rig.dispatcher.releaseHandler(mine.get());
        QCOMPARE(rig.dispatcher.currentHandler(), terminal);
        rig.dispatcher.releaseHandler(terminal.get());
        QVERIFY(!rig.dispatcher.currentHandler());
        // A time-out with nothing pending says nothing, and does not start the timer again.
        rig.request.setEnabled(true);
        rig.request.advance(5000ms);
        QVERIFY(rig.status.text.isEmpty() && !rig.request.isEnabled());
    }

    void joining()
    {
        // Single bytes, each within the gap of the one before, make one answer.
        Rig rig;
        auto h = std::make_shared<Probe>(4);
        rig.dispatcher.setCurrentHandler(h);
        for (const char c : {'\x01', '\x01', '\x00', '\x00'}) {
            rig.join.advance(59ms);
            rig.link.inject(QByteArray(1, c));
        }
        QCOMPARE(h->received, QList<QByteArray>{QByteArray("\x01\x01\x00\x00", 4)});
        // A part left when the gap passes goes nowhere once the handler stopped listening.
        rig.link.inject("\x01");
        h->setIgnoreReceive(true);
        rig.join.advance(60ms);
        QCOMPARE(h->received.size(), 1);
    }

    void waitSeesDirectChanges()
    {
        // A command inside the wait sets the count without a signal: the wait must look again.
        Rig rig;
        auto h = std::make_shared<Probe>();
        rig.dispatcher.setCurrentHandler(h);
        bool waiting = false;
        QTimer::singleShot(0, &rig.dispatcher, [&] {
            waiting = rig.dispatcher.isWaiting();
            h->setPacketsReceived(2);
        });
        bool hung = false;
        QTimer::singleShot(20000, &rig.dispatcher, [&] { hung = true; rig.dispatcher.setCurrentHandler(nullptr); });
        rig.dispatcher.waitFor(h);
        QVERIFY(!hung && waiting);
    }

    // The timer the program uses fires once by itself; the others here are stepped by hand.
    void realTimerFiresOnce()
    {
        QtRequestTimer timer(1ms);
        int fired = 0;
        timer.setTimeoutCallback([&] { ++fired; });
        timer.setEnabled(true);
        QTRY_COMPARE(fired, 1);
        QVERIFY(!timer.isEnabled());
    }

    // Each row follows a query the kernel answered with 3.2.1.
    void versionQuery_data()
    {
        QTest::addColumn<QByteArray>("reply"); // empty: none comes
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("boxes");
        QTest::newRow("matching") << QByteArray("\x01\x01\x00\x00", 4)
                                  << Lines{kGet, "Kernel version 1.0.0", kCompiled} << "1.0.0" << 0;
        QTest::newRow("high values, first part differs")
            << QByteArray("\x01\xFF\x0A\x07", 4) << Lines{kGet, "Kernel version 255.10.7", kCompiled, kConflict, kInfo}
            << "255.10.7" << 0;
        QTest::newRow("third part alone differs")
            << QByteArray("\x01\x01\x00\x01", 4) << Lines{kGet, "Kernel version 1.0.1", kCompiled, kConflict, kInfo}
            << "1.0.1" << 0;
        // One box for the version line, one for each missing part, which keeps its value.
        QTest::newRow("short answer") << QByteArray("\x01\x02", 2) << Lines{kGet, kCompiled, kConflict, kInfo}
                                      << "2.2.1" << 3;
        QTest::newRow("wrong first byte") << QByteArray("\x02\x01\x00\x00", 4)
                                          << Lines{kGet, "ERROR: Commands do not match"} << "3.2.1" << 0;
        QTest::newRow("no answer") << QByteArray() << Lines{kGet, "", "ERROR: Request time out"} << "3.2.1" << 0;
    }
    void versionQuery()
    {
        QFETCH(QByteArray, reply);
        QFETCH(Lines, lines);
        QFETCH(QString, version);
        QFETCH(int, boxes);
        Rig rig;
        rig.query([&] { rig.link.inject(QByteArray("\x01\x03\x02\x01", 4)); });
        rig.status.clear();
        rig.query([&] {
            if (reply.isEmpty())
                rig.request.advance(5000ms);
            rig.link.inject(reply);
            rig.join.advance(60ms); // the rest of a short answer never comes
        });
        QCOMPARE(rig.link.written(), QByteArray("\x01\x01"));
        QCOMPARE(rig.status.lines(), lines);
        QCOMPARE(rig.kernel.version().toString(), version);
        QCOMPARE(rig.prompter.boxes.size(), boxes);
        QVERIFY(!rig.request.isEnabled() && !rig.dispatcher.currentHandler() && !rig.status.lineOpen());
        rig.link.inject(QByteArray("\x01\x04\x04\x04", 4)); // nothing waits any more
        QCOMPARE(rig.kernel.version().toString(), version);
    }

    void refusedWhileRequestWaits()
    {
        Rig rig;
        // F12, F6 and F7 pressed while the version query waits for its answer.
        rig.query([&] {
            rig.kernel.queryKernelVersion();
            rig.run.run();
            rig.run.downloadAndRun();
            rig.link.inject(QByteArray("\x01\x01\x00\x00", 4));
        });
        const QString busy = LinkDispatcher::busyText();
        QCOMPARE(rig.link.written(), QByteArray("\x01"));
        QCOMPARE(rig.status.lines(), (Lines{kGet, busy, busy, busy, "Kernel version 1.0.0", kCompiled}));
        rig.run.run(); // with the query over, Run goes ahead
        QCOMPARE(rig.current(), "terminal");
    }

    // Port 3 is configured; the port was ready before. A box shows its default button.
    void portSetup_data()
    {
        QTest::addColumn<QList<LinkResult>>("failures");
        QTest::addColumn<QList<A>>("answers");
        QTest::addColumn<QString>("log");
        QTest::addColumn<Lines>("boxes");
        QTest::addColumn<bool>("ready");
        const QString opening = QStringLiteral("Initializing serielport (Port 3)...");
        const QString retry = QStringLiteral("Retrying to initialize seriel port\r\n");
        const QString ignored = QStringLiteral("WARNING Serielport not initialized! (/dev/fake3)\r\nYou will not be able to connect "
                                               "to the 8051, and many Corvade functions will be disabled\r\n");
        const QString inUse = "Retry? " + SerialPortSetup::inUseText(3, "/dev/fake3");
        QTest::newRow("opens") << QList<LinkResult>{} << QList<A>{} << opening + "Ok\r\n" << Lines{} << true;
        QTest::newRow("busy, Retry, then Ignore") << QList<LinkResult>{busy(), busy()} << QList<A>{A::Retry, A::Ignore}
                                                  << opening + retry + ignored << Lines{inUse, inUse} << false;
        QTest::newRow("missing, Retry after plugging it in")
            << QList<LinkResult>{LinkResult::failure(LinkError::NoSuchDevice, 2, "gone")} << QList<A>{A::Retry}
            << opening + retry + "Ok\r\n"
            << Lines{"Ignore? The serielport, port 3 is invalid.\r\nDevice: /dev/fake3"} << true;
        QTest::newRow("Abort") << QList<LinkResult>{busy()} << QList<A>{A::Abort} << opening << Lines{inUse} << true;
        QTest::newRow("other error: one box, the mode stays")
            << QList<LinkResult>{LinkResult::failure(LinkError::NoPermission, 13, "Permission denied")} << QList<A>{}
            << opening << Lines{"13 Permission denied"} << true;
    }
    void portSetup()
    {
        QFETCH(QList<LinkResult>, failures);
        QFETCH(QList<A>, answers);
        QFETCH(QString, log);
        QFETCH(Lines, boxes);
        QFETCH(bool, ready);
        Rig rig;
        rig.link.close();
        int aborts = 0;
        SerialPortSetup setup{rig.link, rig.status, rig.prompter, rig.state,
                              {[] { return 3; }, [](int n) { return QStringLiteral("/dev/fake%1").arg(n); },
                               [&] { ++aborts; }, {}}};
        rig.link.failOpens(failures);
        rig.prompter.answers = answers;
        const bool opened = log.endsWith("Ok\r\n");
        QCOMPARE(setup.openPort(), opened);
        QCOMPARE(rig.status.text, log);
        Lines shown;
        for (const auto &b : rig.prompter.boxes)
            shown << (b.abortRetryIgnore ? (b.defaultButton == A::Retry ? "Retry? " : "Ignore? ") : "") + b.text;
        QCOMPARE(shown, boxes);
        QCOMPARE(rig.state.serialReady(), ready);
        QCOMPARE(rig.link.isOpen() ? rig.link.device() : QString(), opened ? "/dev/fake3" : "");
        QCOMPARE(aborts, int(answers.contains(A::Abort)));
    }

    // The request is flushed out before the port closes, whichever way the line goes on.
    void runCommand_data()
    {
        QTest::addColumn<QString>("terminal");
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<Lines>("events");
        QTest::addColumn<QString>("current");
        QTest::newRow("internal at 9600") << "internal" << Lines{kRunning}
                                          << Lines{"write 03", "flush", "close", "open 9600"} << "terminal";
        QTest::newRow("external") << "external" << Lines{kRunning, "Closing serial port, to use external terminal"}
                                  << Lines{"write 03", "flush", "close"} << "run";
        QTest::newRow("port closed: nothing starts")
            << "closed" << Lines{kRunning, "ERROR: The serial port is not open"} << Lines{"refused"} << "none";
    }
    void runCommand()
    {
        QFETCH(QString, terminal);
        QFETCH(Lines, lines);
        QFETCH(Lines, events);
        QFETCH(QString, current);
        Rig rig;
        rig.settings.setUseExternalTerminal(terminal == "external");
        rig.settings.setTerminalSpeed(QStringLiteral("9600"));
        rig.surface.renderer().addText(QStringLiteral("old text"), 0);
        if (terminal == "closed")
            rig.link.close();
        rig.link.events.clear();
        rig.run.run();
        QCOMPARE(rig.status.lines(), lines);
        QCOMPARE(rig.link.events, events);
        QCOMPARE(rig.current(), current);
        QCOMPARE(rig.link.isOpen(), terminal == "internal");
        QVERIFY(rig.state.serialReady());
        QCOMPARE(rig.surface.text(), terminal == "internal" ? "" : "old text"); // a new terminal starts empty
        // Nothing waits for the kernel's echo: neither it nor a time-out reaches the log.
        rig.link.inject("\x03");
        rig.request.advance(5000ms);
        QCOMPARE(rig.status.lines(), lines);
    }

    void terminalAfterRun()
    {
        Rig rig;
        rig.run.run();
        rig.surface.closeWindow();
        // The echo comes after the terminal took over: it is terminal text, in a new window.
        rig.link.inject("\x03Hello\r\n");
        QCOMPARE(rig.surface.text(), QByteArray("<3>Hello\r<10>"));
        rig.link.clearWritten();
        QVERIFY(rig.run.sendKey(13));
        // The port goes away: the terminal keeps the line, a key is refused with a box.
        rig.link.pull(QStringLiteral("gone"));
        QVERIFY(rig.status.lines().last().startsWith("ERROR: The serielport, port 2 (/dev/fake2) was lost (gone)"));
        QVERIFY(!rig.state.serialReady());
        QVERIFY(!rig.run.sendKey('x'));
        QCOMPARE(rig.prompter.messages, Lines{"The serial port is not open"});
        // Once the port is back, keys go out and output shows again.
        rig.link.failOpens({LinkResult::failure(LinkError::NoSuchDevice, 2, "still gone")});
        QVERIFY(!rig.port.reopenAt(19200));
        QVERIFY(rig.port.reopenAt(19200));
        QVERIFY(rig.run.sendKey('y'));
        rig.link.inject("!");
        // Another exchange takes the line: the program's bytes and keys are not the terminal's.
        rig.dispatcher.setCurrentHandler(nullptr);
        rig.link.inject("more");
        QVERIFY(!rig.run.sendKey('z'));
        QCOMPARE(rig.surface.text(), QByteArray("<3>Hello\r<10>!"));
        QCOMPARE(rig.link.written(), QByteArray("\ry"));
    }

    // Bytes gather until the tick, or go at once when many came; a failed write stops all.
    void capture_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArrayList>("deliveries");
        QTest::addColumn<qint64>("beforeTick");
        QTest::addColumn<Lines>("lines");
        QTest::newRow("gathered until the tick") << "" << QByteArrayList{"ab", QByteArray("\0\xff\r\n", 4)} << 0LL
                                                 << Lines{"Capturing to %1", "Capture to %1 ended: 6 bytes"};
        QTest::newRow("a flood is written at once") << "" << QByteArrayList{QByteArray(300000, 'x'), "y"} << 300000LL
                                                    << Lines{"Capturing to %1", "Capture to %1 ended: 293.0 KB"};
        QTest::newRow("full disk") << "/dev/full" << QByteArrayList{"x"} << 0LL
                                   << Lines{"Capturing to %1", "ERROR: Capture to %1 stopped: No space left on device"};
    }
    void capture()
    {
        QFETCH(QString, file);
        QFETCH(QByteArrayList, deliveries);
        QFETCH(qint64, beforeTick);
        QFETCH(Lines, lines);
        TestFolder folder;
        const QString path = file.isEmpty() ? folder.filePath("capture.bin") : file;
        Rig rig;
        FakeRequestTimer tick{1000ms};
        TerminalCapture capture(rig.status, tick);
        rig.run.setCapture(&capture);
        rig.run.run();
        rig.status.clear();
        QVERIFY(capture.start(path));
        for (const QByteArray &bytes : deliveries)
            rig.link.inject(bytes);
        if (file.isEmpty())
            QCOMPARE(readFile(path).size(), beforeTick);
        tick.advance(1000ms);
        if (file.isEmpty())
            QCOMPARE(readFile(path), deliveries.join());
        capture.stop();
        QCOMPARE(rig.status.lines().join('\n'), lines.join('\n').arg(path));
    }

    // A chunk per tick, keys between. Steps: t = tick, k = key, c = cancel, p = port pulled.
    void sendFile_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QList<int>>("writes");
        QTest::addColumn<QString>("last");
        QTest::newRow("paced at 19200, a key between") << "19200" << "ktt" << QList<int>{36, 1, 36, 28}
                                                     << "Sent %1: 100 bytes";
        QTest::newRow("110 baud: a byte a tick") << "110" << "t" << QList<int>{1, 1} << "Sending %1 (100 bytes)";
        QTest::newRow("cancelled") << "9600" << "ct" << QList<int>{18} << "Sending %1 cancelled after 18 of 100 bytes";
        QTest::newRow("port lost") << "19200" << "ptt" << QList<int>{36}
                                   << "ERROR: Sending %1 stopped: The serial port is not open";
        QTest::newRow("no program running") << "" << "t" << QList<int>{}
                                            << "ERROR: Cannot send %1: no program is running; start one with Run (F6) first";
    }
    void sendFile()
    {
        QFETCH(QString, speed);
        QFETCH(QString, steps);
        QFETCH(QList<int>, writes);
        QFETCH(QString, last);
        TestFolder folder;
        QByteArray content;
        for (int i = 0; i < 100; ++i)
            content += char(i * 37);
        const QString path = folder.file("send.bin", content);
        Rig rig;
        FakeRequestTimer tick;
        FileSender sender(rig.run, rig.status, rig.settings, tick);
        rig.settings.setTerminalSpeed(speed);
        if (!speed.isEmpty())
            rig.run.run();
        rig.link.clearWritten();
        QCOMPARE(sender.start(path), !speed.isEmpty());
        for (QChar step : steps) {
            if (step == 'k') {
                QVERIFY(rig.run.sendKey('\r')); // a byte the file does not hold
            } else if (step == 'c') {
                sender.cancel();
            } else if (step == 'p') {
                rig.link.pull();
            } else {
                tick.advance(tick.interval());
            }
        }
        QList<int> sizes;
        for (const QByteArray &w : rig.link.writes())
            sizes << int(w.size());
        QCOMPARE(sizes, writes);
        const QByteArray fileBytes = rig.link.written().replace('\r', QByteArray());
        QCOMPARE(fileBytes, content.left(fileBytes.size()));
        QCOMPARE(rig.status.lines().last(), last.arg(path));
    }

    void downloadRun()
    {
        Rig rig;
        rig.run.downloadAndRun(); // no download to run: nothing happens
        bool ok = false;
        QString during;
        rig.run.setDownload([&] {
            rig.dispatcher.setCurrentHandler(std::make_shared<Probe>()); // left current, as HexFile's is
            during = rig.current();
            return ok;
        });
        rig.run.downloadAndRun();
        QCOMPARE(during, "other");
        QCOMPARE(rig.current(), "none"); // a failed download is not run
        ok = true;
        rig.run.downloadAndRun();
        QCOMPARE(rig.link.written(), QByteArray("\x03"));
        QCOMPARE(rig.current(), "terminal");
    }
};

QTEST_GUILESS_MAIN(TestLinkExchange)
#include "tst_link_exchange.moc"
