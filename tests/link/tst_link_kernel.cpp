// The version query and the port set-up on the fake link: status lines, dialogs, readiness.
#include "core/Readiness.h"
#include "link/FakeByteLink.h"
#include "link/KernelLink.h"
#include "link/LinkDispatcher.h"
#include "link/SerialPortSetup.h"
#include "link/VersionQuery.h"
#include "support/TestDoubles.h"

#include <QTimer>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
const QString kCompiled = QStringLiteral("Corvade is compiled for Kernel version 1.0.0");
const QString kConflict = QStringLiteral("WARNING: Version conflict! This version of Corvade is compiled for use "
                                         "with another 8051 kernel. Some functions may not work.");
const QString kInfo = QStringLiteral("INFORMATION: Check out the Readme file or look at the Corvade website "
                                     "(corvade.example.org/kernel), for combatibility information.");

struct Rig {
    FakeByteLink link;
    FakeRequestTimer request{5000ms};
    FakeRequestTimer join{60ms};
    RecordingStatus status;
    ScriptedPrompter prompter;
    LinkDispatcher dispatcher{link, request, join, status};
    KernelLink kernel{dispatcher, prompter};
    Rig() { link.open(QStringLiteral("fake"), 19200); }

    // Runs the command; `during` runs inside its wait, as the receive event would.
    void query(std::function<void()> during)
    {
        QTimer::singleShot(0, std::move(during));
        kernel.queryKernelVersion();
    }
};

struct PortRig {
    FakeByteLink link;
    RecordingStatus status;
    ScriptedPrompter prompter;
    Readiness state;
    int port = 2;
    int aborts = 0;
    SerialPortSetup setup{link, status, prompter, state,
                          {[this] { return port; }, [](int n) { return QStringLiteral("/dev/fake%1").arg(n); },
                           [this] { ++aborts; }}};
};

LinkResult missing() { return LinkResult::failure(LinkError::NoSuchDevice, 2, QStringLiteral("no such device")); }
LinkResult busy() { return LinkResult::failure(LinkError::InUse, 16, QStringLiteral("busy")); }
} // namespace

class TestLinkKernel : public QObject {
    Q_OBJECT

private slots:
    void versionReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("stored");

        const QString get = QStringLiteral("Getting Kernel Version...");
        QTest::newRow("1.0.0 matches") << QByteArray("\x01\x01\x00\x00", 4)
                                       << QStringList{get, "Kernel version 1.0.0", kCompiled} << "1.0.0";
        QTest::newRow("2.0.0 conflicts") << QByteArray("\x01\x02\x00\x00", 4)
                                         << QStringList{get, "Kernel version 2.0.0", kCompiled, kConflict, kInfo}
                                         << "2.0.0";
        QTest::newRow("second part alone differs")
            << QByteArray("\x01\x01\x01\x00", 4) << QStringList{get, "Kernel version 1.1.0", kCompiled, kConflict, kInfo}
            << "1.1.0";
        QTest::newRow("third part alone differs")
            << QByteArray("\x01\x01\x00\x01", 4) << QStringList{get, "Kernel version 1.0.1", kCompiled, kConflict, kInfo}
            << "1.0.1";
        QTest::newRow("high values in plain decimal")
            << QByteArray("\x01\xFF\x0A\x07", 4)
            << QStringList{get, "Kernel version 255.10.7", kCompiled, kConflict, kInfo} << "255.10.7";
        QTest::newRow("0.0.0") << QByteArray("\x01\x00\x00\x00", 4)
                               << QStringList{get, "Kernel version 0.0.0", kCompiled, kConflict, kInfo} << "0.0.0";
        QTest::newRow("bytes after the fourth ignored")
            << QByteArray("\x01\x01\x00\x00\x09\x09", 6) << QStringList{get, "Kernel version 1.0.0", kCompiled} << "1.0.0";
        QTest::newRow("wrong first byte") << QByteArray("\x02\x01\x00\x00", 4)
                                          << QStringList{get, "ERROR: Commands do not match"} << "0.0.0";
    }

    void versionReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, lines);
        QFETCH(QString, stored);

        Rig rig;
        rig.query([&] { rig.link.inject(reply); });

        QCOMPARE(rig.link.written(), QByteArray("\x01"));
        QCOMPARE(rig.status.lines(), lines);
        QCOMPARE(rig.kernel.version().toString(), stored);
        QVERIFY(!rig.request.isEnabled());
        QVERIFY(!rig.dispatcher.currentHandler());
        QVERIFY(rig.prompter.boxes.isEmpty());

        // Nothing waits any more: a late answer is dropped and changes nothing.
        rig.link.inject(QByteArray("\x01\x03\x03\x03", 4));
        QCOMPARE(rig.kernel.version().toString(), stored);
    }

    void shortReplyIsJudgedStepByStep()
    {
        Rig rig;
        rig.query([&] {
            rig.link.inject(QByteArray("\x01\x02", 2));
            rig.join.advance(60ms); // the rest never comes
        });
        QCOMPARE(rig.status.lines(), (QStringList{"Getting Kernel Version...", kCompiled, kConflict, kInfo}));
        // One box for the version line, one for each missing part.
        QCOMPARE(rig.prompter.boxes.size(), 3);
        QVERIFY(rig.prompter.boxes.first().text.startsWith(QStringLiteral("9: ")));
        QCOMPARE(rig.kernel.version().toString(), QStringLiteral("2.0.0"));
        QVERIFY(!rig.request.isEnabled());
    }

    void failedQueryKeepsEarlierVersion_data()
    {
        QTest::addColumn<bool>("timeout");
        QTest::newRow("no reply") << true;
        QTest::newRow("mismatching first byte") << false;
    }

    void failedQueryKeepsEarlierVersion()
    {
        QFETCH(bool, timeout);
        Rig rig;
        rig.query([&] { rig.link.inject(QByteArray("\x01\x03\x02\x01", 4)); });
        rig.status.clear();

        rig.query([&] {
            if (timeout)
                rig.request.advance(5000ms);
            else
            {
                rig.link.inject(QByteArray("\x07", 1));
                rig.join.advance(60ms);
            }
        });
        const QStringList expected = timeout ? QStringList{"Getting Kernel Version...", "", "ERROR: Request time out"}
                                             : QStringList{"Getting Kernel Version...", "ERROR: Commands do not match"};
        QCOMPARE(rig.status.lines(), expected);
        QCOMPARE(rig.kernel.version().toString(), QStringLiteral("3.2.1"));
        QVERIFY(!rig.dispatcher.currentHandler());
    }

    void secondQueryDuringWaitIsRefused()
    {
        Rig rig;
        rig.query([&] {
            rig.kernel.queryKernelVersion(); // F12 again while the first waits
            rig.link.inject(QByteArray("\x01\x01\x00\x00", 4));
        });
        QCOMPARE(rig.link.written(), QByteArray("\x01"));
        QCOMPARE(rig.status.lines(), (QStringList{"Getting Kernel Version...", LinkDispatcher::busyText(),
                                                  "Kernel version 1.0.0", kCompiled}));

        // Once the first has ended, the next query runs normally.
        rig.status.clear();
        rig.query([&] { rig.link.inject(QByteArray("\x01\x01\x00\x00", 4)); });
        QCOMPARE(rig.status.lines().size(), 3);
    }

    void portProblems_data()
    {
        QTest::addColumn<QList<LinkResult>>("failures");
        QTest::addColumn<QList<Prompter::Answer>>("answers");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<Prompter::Answer>("defaultButton");

        using A = Prompter::Answer;
        const QString opening = QStringLiteral("Initializing serielport (Port 2)...");
        const QString ignored = QStringLiteral("WARNING Serielport not initialized!\r\nYou will not be able to connect "
                                               "to the 8051, and many Corvade functions will be disabled\r\n");
        const QString retry = QStringLiteral("Retrying to initialize seriel port\r\n");
        const QString inUse = SerialPortSetup::inUseText(2);

        QTest::newRow("busy twice, then Ignore")
            << QList<LinkResult>{busy(), busy()} << QList<A>{A::Retry, A::Ignore} << false
            << opening + retry + ignored << QStringList{inUse, inUse} << A::Retry;
        QTest::newRow("missing, Retry, then Ignore")
            << QList<LinkResult>{missing(), missing()} << QList<A>{A::Retry, A::Ignore} << false
            << opening + retry + ignored << QStringList{SerialPortSetup::invalidText(2), SerialPortSetup::invalidText(2)}
            << A::Ignore;
    }

    void portProblems()
    {
        QFETCH(QList<LinkResult>, failures);
        QFETCH(QList<Prompter::Answer>, answers);
        QFETCH(bool, opened);
        QFETCH(QString, log);
        QFETCH(QStringList, boxes);
        QFETCH(Prompter::Answer, defaultButton);

        PortRig rig;
        rig.link.failOpens(failures);
        rig.prompter.answers = answers;
        QCOMPARE(rig.setup.openPort(), opened);
        QCOMPARE(rig.status.text, log);
        QCOMPARE(rig.state.serialReady(), opened);
        QCOMPARE(rig.link.isOpen(), opened);
        QCOMPARE(rig.prompter.boxes.size(), boxes.size());
        for (int i = 0; i < boxes.size(); ++i) {
            QCOMPARE(rig.prompter.boxes[i].text, boxes[i]);
            QVERIFY(rig.prompter.boxes[i].abortRetryIgnore);
            QCOMPARE(rig.prompter.boxes[i].defaultButton, defaultButton);
        }
    }

    void otherErrorShowsOneBox()
    {
        PortRig rig;
        rig.state.setSerialReady();
        rig.link.failOpens({LinkResult::failure(LinkError::NoPermission, 13,
                                                QStringLiteral("Permission denied. Add yourself to dialout"))});
        QVERIFY(!rig.setup.openPort());
        QCOMPARE(rig.prompter.boxes.size(), 1);
        QCOMPARE(rig.prompter.boxes[0].text, QStringLiteral("13 Permission denied. Add yourself to dialout"));
        QVERIFY(!rig.prompter.boxes[0].abortRetryIgnore);
        QCOMPARE(rig.status.text, QStringLiteral("Initializing serielport (Port 2)..."));
        QVERIFY2(rig.state.serialReady(), "the readiness mode is left as it was");
    }

    void abortEndsAtOnce()
    {
        PortRig rig;
        rig.port = 3;
        rig.link.failOpens({busy()});
        rig.prompter.answers = {Prompter::Answer::Abort};
        QVERIFY(!rig.setup.openPort());
        QCOMPARE(rig.aborts, 1);
        QCOMPARE(rig.prompter.boxes[0].text, SerialPortSetup::inUseText(3));
        QCOMPARE(rig.status.text, QStringLiteral("Initializing serielport (Port 3)..."));
    }

    void reopenAtTerminalSpeed()
    {
        PortRig rig;
        rig.setup.openPort();
        QVERIFY(rig.setup.reopenAt(9600));
        QCOMPARE(rig.link.baud(), 9600);
        QVERIFY(rig.state.serialReady());

        rig.link.failOpens({missing()});
        QVERIFY(!rig.setup.reopenAt(9600));
        QVERIFY(rig.status.lines().last().startsWith(QStringLiteral("ERROR: ")));
        QVERIFY(!rig.state.serialReady());
    }
};

QTEST_GUILESS_MAIN(TestLinkKernel)
#include "tst_link_kernel.moc"
