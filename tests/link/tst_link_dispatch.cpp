// The dispatcher, the request time-out, the joining of split answers and the wait,
// driven through the fake link and hand-stepped timers.
#include "link/FakeByteLink.h"
#include "link/LinkDispatcher.h"
#include "link/RequestTimer.h"
#include "support/TestDoubles.h"

#include <QTimer>
#include <QtTest>
#include <stdexcept>

using namespace std::chrono_literals;

namespace {
class ProbeHandler : public LinkHandler {
public:
    explicit ProbeHandler(int answerLength = 0, int toReceive = 1) : m_answerLength(answerLength), m_toReceive(toReceive) {}
    void receive(const QByteArray &bytes) override
    {
        received.append(bytes);
        if (throwOnReceive)
            throw std::runtime_error("handler failure");
        setPacketsReceived(packetsReceived() + 1);
    }
    int packetsToReceive() const override { return m_toReceive; }
    int answerLength() const override { return m_answerLength; }
    void onRequestAborted() override { ++aborted; }

    QList<QByteArray> received;
    bool throwOnReceive = false;
    int aborted = 0;

private:
    int m_answerLength;
    int m_toReceive;
};

struct Rig {
    FakeByteLink link;
    FakeRequestTimer request{5000ms};
    FakeRequestTimer join{60ms};
    RecordingStatus status;
    LinkDispatcher dispatcher{link, request, join, status};
    Rig() { link.open(QStringLiteral("fake"), 19200); }
};
} // namespace

class TestLinkDispatch : public QObject {
    Q_OBJECT

private slots:
    void deliveryRules_data()
    {
        QTest::addColumn<bool>("withHandler");
        QTest::addColumn<bool>("ignore");
        QTest::addColumn<int>("deliveries");

        QTest::newRow("no handler: read and dropped") << false << false << 0;
        QTest::newRow("IgnoreReceive: read and dropped") << true << true << 0;
        QTest::newRow("current handler: handed over") << true << false << 1;
    }

    void deliveryRules()
    {
        QFETCH(bool, withHandler);
        QFETCH(bool, ignore);
        QFETCH(int, deliveries);

        Rig rig;
        auto handler = std::make_shared<ProbeHandler>();
        handler->setIgnoreReceive(ignore);
        if (withHandler)
            rig.dispatcher.setCurrentHandler(handler);
        rig.link.inject(QByteArray("\x02\x03", 2));

        QCOMPARE(handler->received.size(), deliveries);
        QVERIFY2(rig.link.readAll().isEmpty(), "bytes must be consumed even when nobody takes them");
        if (deliveries)
            QCOMPARE(handler->received.first(), QByteArray("\x02\x03", 2));
        QVERIFY(rig.status.text.isEmpty());
    }

    void failingReceiveIsSwallowed()
    {
        Rig rig;
        auto handler = std::make_shared<ProbeHandler>(0, 5);
        rig.dispatcher.setCurrentHandler(handler);
        handler->throwOnReceive = true;
        rig.link.inject("a");
        handler->throwOnReceive = false;
        rig.link.inject("b");

        QCOMPARE(handler->received, (QList<QByteArray>{"a", "b"}));
        QCOMPARE(handler->packetsReceived(), 1);
        QVERIFY(rig.status.text.isEmpty());
    }

    void timeout_data()
    {
        QTest::addColumn<bool>("withHandler");
        QTest::newRow("pending request") << true;
        QTest::newRow("no current handler: nothing happens") << false;
    }

    void timeout()
    {
        QFETCH(bool, withHandler);
        Rig rig;
        auto handler = std::make_shared<ProbeHandler>(0, 3);
        if (withHandler)
            rig.dispatcher.setCurrentHandler(handler);
        rig.request.setEnabled(true);
        rig.request.advance(4999ms);
        QVERIFY(rig.status.text.isEmpty());
        rig.request.advance(1ms);

        QVERIFY(!rig.request.isEnabled());
        if (!withHandler) {
            QVERIFY(rig.status.text.isEmpty());
            QCOMPARE(handler->aborted, 0);
            return;
        }
        QCOMPARE(rig.status.text, QStringLiteral("\r\nERROR: Request time out\r\n"));
        QCOMPARE(handler->packetsReceived(), 3);
        QVERIFY(handler->ignoreReceive());
        QCOMPARE(handler->aborted, 1);

        rig.link.inject("late");
        QVERIFY2(handler->received.isEmpty(), "an answer after the time-out is dropped");
    }

    void timerEnableDoesNotRestart()
    {
        Rig rig;
        rig.dispatcher.setCurrentHandler(std::make_shared<ProbeHandler>());
        rig.request.setEnabled(true);
        rig.request.advance(3000ms);
        rig.request.setEnabled(true); // as the download loop does on every pass
        rig.request.advance(2000ms);
        QVERIFY(rig.status.text.contains(QStringLiteral("ERROR: Request time out")));

        rig.status.clear();
        rig.dispatcher.setCurrentHandler(std::make_shared<ProbeHandler>());
        rig.request.setEnabled(true);
        rig.request.advance(3000ms);
        rig.request.setEnabled(false);
        rig.request.setEnabled(true); // off and on again starts afresh
        rig.request.advance(3000ms);
        QVERIFY(rig.status.text.isEmpty());
    }

    void joiningSplitAnswers_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<bool>("gapPasses");
        QTest::addColumn<QList<QByteArray>>("expected");

        const QByteArray whole("\x01\x01\x00\x00", 4);
        QTest::newRow("whole answer at once") << QList<QByteArray>{whole} << false << QList<QByteArray>{whole};
        QTest::newRow("split in two") << QList<QByteArray>{whole.left(1), whole.mid(1)} << false
                                      << QList<QByteArray>{whole};
        QTest::newRow("split in single bytes")
            << QList<QByteArray>{whole.mid(0, 1), whole.mid(1, 1), whole.mid(2, 1), whole.mid(3, 1)} << false
            << QList<QByteArray>{whole};
        QTest::newRow("short answer judged after the gap")
            << QList<QByteArray>{whole.left(1), whole.mid(1, 1)} << true << QList<QByteArray>{whole.left(2)};
        QTest::newRow("longer answer in one delivery") << QList<QByteArray>{whole + "xy"} << false
                                                       << QList<QByteArray>{whole + "xy"};
    }

    void joiningSplitAnswers()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(bool, gapPasses);
        QFETCH(QList<QByteArray>, expected);

        Rig rig;
        auto handler = std::make_shared<ProbeHandler>(4);
        rig.dispatcher.setCurrentHandler(handler);
        for (const QByteArray &chunk : chunks) {
            rig.join.advance(59ms); // each piece comes just within the gap
            rig.link.inject(chunk);
        }
        if (gapPasses)
            rig.join.advance(60ms);
        QCOMPARE(handler->received, expected);
    }

    void waitEnds_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("answer") << "answer";
        QTest::newRow("time-out") << "timeout";
        QTest::newRow("another command empties CurrentHandler") << "empty";
        QTest::newRow("another command installs its handler") << "replace";
    }

    void waitEnds()
    {
        QFETCH(QString, how);
        Rig rig;
        auto handler = std::make_shared<ProbeHandler>();
        auto other = std::make_shared<ProbeHandler>();
        rig.dispatcher.setCurrentHandler(handler);
        rig.request.setEnabled(true);

        // Runs from inside the wait's event loop, as a receive event or a menu command would.
        QTimer::singleShot(0, [&] {
            if (how == "answer")
                rig.link.inject("x");
            else if (how == "timeout")
                rig.request.advance(5000ms);
            else if (how == "empty")
                rig.dispatcher.setCurrentHandler(nullptr);
            else
                rig.dispatcher.setCurrentHandler(other);
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        bool hung = false;
        connect(&watchdog, &QTimer::timeout, [&] { hung = true; rig.dispatcher.setCurrentHandler(nullptr); });
        watchdog.start(20000);

        QVERIFY(!rig.dispatcher.isWaiting());
        rig.dispatcher.waitFor(handler);
        QVERIFY2(!hung, "the wait did not end");
        QVERIFY(!rig.dispatcher.isWaiting());
    }

    void waitSeesDirectChanges()
    {
        // A command run inside the wait changes the handler's members without any delivery
        // or time-out; the wait must notice before it sleeps again.
        Rig rig;
        auto handler = std::make_shared<ProbeHandler>(0, 2);
        rig.dispatcher.setCurrentHandler(handler);
        QTimer::singleShot(0, [&] { handler->setPacketsReceived(2); });
        bool hung = false;
        QTimer::singleShot(20000, [&] { hung = true; handler->setPacketsReceived(2); rig.link.inject("x"); });
        rig.dispatcher.waitFor(handler);
        QVERIFY(!hung);

        int step = 0;
        QTimer::singleShot(0, [&] { step = 1; });
        QTimer::singleShot(0, [&] { QVERIFY(rig.dispatcher.isWaiting()); step = 2; });
        rig.dispatcher.waitUntil([&] { return step == 2; });
        QCOMPARE(step, 2);
    }

    void releaseKeepsAnotherCommandsHandler()
    {
        Rig rig;
        auto mine = std::make_shared<ProbeHandler>();
        auto terminal = std::make_shared<ProbeHandler>();
        rig.dispatcher.setCurrentHandler(mine);
        rig.dispatcher.setCurrentHandler(terminal);
        rig.dispatcher.releaseHandler(mine.get());
        QCOMPARE(rig.dispatcher.currentHandler(), terminal);
        rig.dispatcher.releaseHandler(terminal.get());
        QVERIFY(!rig.dispatcher.currentHandler());
    }

    void failedWriteEndsExchange()
    {
        Rig rig;
        rig.link.close();
        auto handler = std::make_shared<ProbeHandler>(0, 7);
        rig.dispatcher.setCurrentHandler(handler);
        rig.request.setEnabled(true);
        rig.status.appendStatus(QStringLiteral("Downloading hexfile"), false);

        QVERIFY(!rig.dispatcher.send("\x02", true));
        QCOMPARE(rig.status.lines(),
                 (QStringList{QStringLiteral("Downloading hexfile"), QStringLiteral("ERROR: The serial port is not open")}));
        QVERIFY(handler->exchangeEnded());
        QVERIFY(handler->ignoreReceive());
        QCOMPARE(handler->aborted, 1);
        QVERIFY2(!rig.request.isEnabled(), "no time-out may follow a failed write");
    }

    void lostLineEndsPendingRequest()
    {
        Rig rig;
        auto handler = std::make_shared<ProbeHandler>();
        rig.dispatcher.setCurrentHandler(handler);
        rig.request.setEnabled(true);
        rig.link.pull();
        QVERIFY(handler->exchangeEnded());
        QCOMPARE(handler->aborted, 1);

        // A handler without a pending request (the terminal) stays as it is.
        auto terminal = std::make_shared<ProbeHandler>();
        rig.dispatcher.setCurrentHandler(terminal);
        rig.link.open(QStringLiteral("fake"), 9600);
        rig.link.pull();
        QVERIFY(!terminal->exchangeEnded());
        QVERIFY(!terminal->ignoreReceive());
    }
};

QTEST_GUILESS_MAIN(TestLinkDispatch)
#include "tst_link_dispatch.moc"
