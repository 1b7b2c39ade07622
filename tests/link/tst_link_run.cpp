// The run request and the Run and Download+Run commands on the fake link.
#include "link/KernelLink.h"
#include "link/RunRequest.h"
#include "link/TerminalSession.h"
#include "tests/link/RunTestRig.h"

#include <QTimer>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
const QString kRunning = QStringLiteral("Running file on 8051...");
const QString kClosing = QStringLiteral("Closing serial port, to use external terminal");

// Stands in for HexFile's download: current while it runs, writes through the dispatcher
// like the real one, and reports the outcome the test chose.
class DownloadStandIn : public LinkHandler {
public:
    void receive(const QByteArray &) override {}
    int packetsToReceive() const override { return 1; }
};

QString handlerKind(const std::shared_ptr<LinkHandler> &h)
{
    if (!h)
        return QStringLiteral("none");
    if (std::dynamic_pointer_cast<TerminalSession>(h))
        return QStringLiteral("terminal");
    if (std::dynamic_pointer_cast<RunRequest>(h))
        return QStringLiteral("run");
    return QStringLiteral("other");
}
} // namespace

class TestLinkRun : public QObject {
    Q_OBJECT

private slots:
    void runRequest()
    {
        RunRig rig;
        auto run = std::make_shared<RunRequest>(rig.dispatcher);
        rig.dispatcher.setCurrentHandler(run);
        run->setPacketsReceived(5);

        QVERIFY(run->send());
        QCOMPARE(rig.link.written(), QByteArray("\x03"));
        QCOMPARE(rig.status.lines(), QStringList{kRunning});
        QCOMPARE(run->packetsReceived(), 0);
        QVERIFY2(!rig.request.isEnabled(), "nothing waits for the kernel's echo");
        // The echo is never handed to the run handler: the dispatcher drops it.
        QVERIFY(run->ignoreReceive());
        rig.link.inject(QByteArray("\x03"));
        QCOMPARE(rig.status.lines(), QStringList{kRunning});
    }

    void kernelAnswer_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("received");

        QTest::newRow("echo of the request") << QByteArray("\x03") << QStringList{"Ok"} << 1;
        QTest::newRow("echo followed by output") << QByteArray("\x03Hi") << QStringList{"Ok"} << 1;
        QTest::newRow("another byte") << QByteArray("\x02")
                                      << QStringList{"Abort", "ERROR: Commands do not match"} << 0;
    }

    void kernelAnswer()
    {
        QFETCH(QByteArray, packet);
        QFETCH(QStringList, lines);
        QFETCH(int, received);

        RunRig rig;
        RunRequest run(rig.dispatcher);
        rig.request.setEnabled(true);
        run.receive(packet);
        QCOMPARE(rig.status.lines(), lines);
        QCOMPARE(run.packetsReceived(), received);
        QVERIFY(!rig.request.isEnabled());
    }

    void runCommand_data()
    {
        QTest::addColumn<bool>("external");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("current");
        QTest::addColumn<bool>("open");

        QTest::newRow("internal terminal at 9600")
            << false << "9600" << QStringList{kRunning} << QStringList{"write 03", "flush", "close", "open 9600"}
            << "terminal" << true;
        QTest::newRow("external terminal")
            << true << "9600" << QStringList{kRunning, kClosing} << QStringList{"write 03", "flush", "close"} << "run"
            << false;
    }

    void runCommand()
    {
        QFETCH(bool, external);
        QFETCH(QString, speed);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, events);
        QFETCH(QString, current);
        QFETCH(bool, open);

        RunRig rig;
        rig.settings.setUseExternalTerminal(external);
        rig.settings.setTerminalSpeed(speed);
        rig.surface.renderer().addText(QStringLiteral("old text"), 0);

        rig.run.run();

        QCOMPARE(rig.status.lines(), lines);
        // The request is flushed out before the port closes, whichever way the line goes on.
        QCOMPARE(rig.link.events, events);
        QCOMPARE(handlerKind(rig.dispatcher.currentHandler()), current);
        QCOMPARE(rig.link.isOpen(), open);
        // The readiness modes stay as they were for the external terminal.
        QVERIFY(rig.state.serialReady());
        QVERIFY(!rig.request.isEnabled());
        QVERIFY(rig.prompter.boxes.isEmpty());
        if (external) {
            QVERIFY(rig.dispatcher.currentHandler()->ignoreReceive());
            QCOMPARE(rig.surface.text(), QByteArray("old text"));
        } else {
            QCOMPARE(rig.surface.text(), QByteArray());
        }
    }

    void programOutputGoesToTerminal()
    {
        RunRig rig;
        rig.run.run();
        rig.surface.closeWindow();

        // The kernel's echo comes after the terminal took over: it is terminal text, not a log line.
        rig.link.inject(QByteArray("\x03Hello\r\n"));
        QCOMPARE(rig.surface.text(), QByteArray("<3>Hello\r<10>"));
        QCOMPARE(rig.surface.created, 2);
        QCOMPARE(rig.status.lines(), QStringList{kRunning});

        // Another exchange takes the line: the program's bytes no longer reach the terminal.
        rig.dispatcher.setCurrentHandler(nullptr);
        rig.link.inject(QByteArray("more"));
        QCOMPARE(rig.surface.text(), QByteArray("<3>Hello\r<10>"));
    }

    void runOnClosedPortStartsNothing()
    {
        RunRig rig;
        rig.settings.setUseExternalTerminal(true);
        rig.run.run();
        rig.status.clear();
        rig.link.events.clear();

        // The Kernel menu stays enabled after the port was released; F6 again.
        rig.settings.setUseExternalTerminal(false);
        rig.run.run();
        QCOMPARE(rig.status.lines(), (QStringList{kRunning, "ERROR: The serial port is not open"}));
        QCOMPARE(rig.link.events, QStringList{"refused"});
        QVERIFY(!rig.dispatcher.currentHandler());
        QVERIFY(!rig.link.isOpen());
        QCOMPARE(rig.surface.created, 0);
    }

    void downloadRun_data()
    {
        QTest::addColumn<int>("outcome"); // -1: no download available, 0: failed, 1: went through
        QTest::addColumn<bool>("external");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("current");

        const QString ok = QStringLiteral("Downloading hexfile.Ok");
        const QString failed = QStringLiteral("Downloading hexfile.Abort");
        QTest::newRow("went through") << 1 << false << QStringList{ok, kRunning} << QByteArray("\x02:00\x03")
                                      << "terminal";
        QTest::newRow("went through, external terminal")
            << 1 << true << QStringList{ok, kRunning, kClosing} << QByteArray("\x02:00\x03") << "run";
        QTest::newRow("failed") << 0 << false << QStringList{failed} << QByteArray("\x02:00") << "none";
        QTest::newRow("failed, external terminal") << 0 << true << QStringList{failed} << QByteArray("\x02:00")
                                                   << "none";
        QTest::newRow("no download") << -1 << false << QStringList{} << QByteArray() << "none";
    }

    void downloadRun()
    {
        QFETCH(int, outcome);
        QFETCH(bool, external);
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, written);
        QFETCH(QString, current);

        RunRig rig;
        rig.settings.setUseExternalTerminal(external);
        QString currentDuringDownload;
        if (outcome >= 0) {
            rig.run.setDownload([&] {
                auto hexFile = std::make_shared<DownloadStandIn>();
                rig.dispatcher.setCurrentHandler(hexFile);
                currentDuringDownload = handlerKind(rig.dispatcher.currentHandler());
                rig.status.appendStatus(QStringLiteral("Downloading hexfile"), false);
                rig.dispatcher.send(QByteArray("\x02"), true);
                rig.dispatcher.send(QByteArray(":00"), true);
                rig.status.appendStatus(QStringLiteral("."), false);
                rig.status.appendStatus(outcome ? QStringLiteral("Ok") : QStringLiteral("Abort"), true);
                return outcome == 1;
            });
        }

        rig.run.downloadAndRun();

        QCOMPARE(rig.status.lines(), lines);
        QCOMPARE(rig.link.written(), written);
        QCOMPARE(handlerKind(rig.dispatcher.currentHandler()), current);
        if (outcome >= 0)
            QCOMPARE(currentDuringDownload, QStringLiteral("other"));
    }

    void refusedWhileRequestWaits()
    {
        RunRig rig;
        KernelLink kernel(rig.dispatcher, rig.prompter);
        rig.run.setDownload([&] {
            rig.link.write("download");
            return true;
        });

        // F6 and F7 pressed while the version query waits for its answer.
        QTimer::singleShot(0, [&] {
            rig.run.run();
            rig.run.downloadAndRun();
            rig.link.inject(QByteArray("\x01\x01\x00\x00", 4));
        });
        kernel.queryKernelVersion();

        QCOMPARE(rig.link.written(), QByteArray("\x01"));
        const QStringList lines = rig.status.lines();
        QCOMPARE(lines.count(LinkDispatcher::busyText()), 2);
        QVERIFY(!lines.contains(kRunning));
        QVERIFY(!rig.dispatcher.currentHandler());

        // With the query over, Run goes ahead.
        rig.run.run();
        QCOMPARE(handlerKind(rig.dispatcher.currentHandler()), QStringLiteral("terminal"));
    }

    void keyPath_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QStringList>("boxes");

        QTest::newRow("terminal current") << "terminal" << true << QByteArray("\r") << QStringList{};
        QTest::newRow("no handler after a download") << "none" << false << QByteArray() << QStringList{};
        QTest::newRow("external terminal run") << "external" << false << QByteArray() << QStringList{};
        QTest::newRow("terminal whose port went away")
            << "lost" << false << QByteArray() << QStringList{"The serial port is not open"};
    }

    void keyPath()
    {
        QFETCH(QString, situation);
        QFETCH(bool, taken);
        QFETCH(QByteArray, written);
        QFETCH(QStringList, boxes);

        RunRig rig;
        rig.settings.setUseExternalTerminal(situation == QLatin1String("external"));
        if (situation != QLatin1String("none"))
            rig.run.run();
        if (situation == QLatin1String("lost"))
            rig.link.pull();
        rig.link.clearWritten();

        QCOMPARE(rig.run.sendKey(13), taken);
        QCOMPARE(rig.link.written(), written);
        QStringList shown;
        for (const auto &box : rig.prompter.boxes)
            shown << box.text;
        QCOMPARE(shown, boxes);
        QCOMPARE(rig.run.currentTerminal() != nullptr, situation == QLatin1String("terminal")
                                                           || situation == QLatin1String("lost"));

        if (situation == QLatin1String("lost")) {
            // The program goes on: once the port is back, keys go out again.
            QVERIFY(rig.port.reopenAt(19200));
            QVERIFY(rig.run.sendKey('x'));
            QCOMPARE(rig.link.written(), QByteArray("x"));
        }
    }
};

QTEST_GUILESS_MAIN(TestLinkRun)
#include "tst_link_run.moc"
