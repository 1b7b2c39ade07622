// The download loop on the fake link: what goes on the wire, the progress line, the result,
// and how the transfer ends on refusals, time-outs, failed writes and lost lines.
#include "core/Readiness.h"
#include "hexfile/HexFile.h"
#include "hexfile/HexDownload.h"
#include "hexfile/HexLoad.h"
#include "link/FakeByteLink.h"
#include "link/KernelLink.h"
#include "link/LinkDispatcher.h"
#include "support/TestDoubles.h"
#include "support/TestFiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
// A kernel script: for each write (0 = the start byte) the deliveries that answer it, each
// injected as its own receive event once the loop waits. "@ms" steps the request timer
// instead. A write beyond the script is acknowledged with 0x02; an empty list stays silent.
using Script = QList<QList<QByteArray>>;

class ScriptedLink : public FakeByteLink {
public:
    std::function<void(int index)> onWrite;
    LinkResult write(const QByteArray &bytes) override
    {
        const LinkResult result = FakeByteLink::write(bytes);
        if (result.ok() && onWrite) {
            const int index = int(writes().size()) - 1;
            QTimer::singleShot(0, this, [this, index] { onWrite(index); });
        }
        return result;
    }
};

const QString kStarted = QStringLiteral("Downloading hexfile");

struct Rig {
    ScriptedLink link;
    FakeRequestTimer request{5000ms};
    FakeRequestTimer join{60ms};
    RecordingStatus status;
    ScriptedPrompter prompter;
    LinkDispatcher dispatcher{link, request, join, status};
    HexFile hex;
    HexDownload download{dispatcher, hex};
    Script script;
    std::function<void(int index)> beforeAnswer;
    bool hung = false;

    explicit Rig(const QString &path)
    {
        link.open(QStringLiteral("fake"), 19200);
        hex.setPath(path);
        link.onWrite = [this](int index) { answer(index); };
    }

    void answer(int index)
    {
        if (beforeAnswer)
            beforeAnswer(index);
        const QList<QByteArray> replies = index < script.size() ? script[index] : QList<QByteArray>{"\x02"};
        for (const QByteArray &reply : replies) {
            if (reply.startsWith('@'))
                request.advance(std::chrono::milliseconds(reply.mid(1).toInt()));
            else
                link.inject(reply);
        }
    }

    // A script that leaves the loop waiting for ever must fail the test, not hang it.
    bool run()
    {
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            hung = true;
            dispatcher.abortExchange();
        });
        watchdog.start(30000);
        return download.download();
    }

    QList<QByteArray> expectedWrites(const QList<int> &order) const
    {
        QList<QByteArray> out;
        for (int n : order)
            out << (n == 0 ? QByteArray("\x02") : hex.records().at(n - 1).toLatin1());
        return out;
    }
};

QStringList abortLines(const QString &first)
{
    return {first, HexFile::transmissionErrorText(), HexFile::notDownloadedText()};
}
} // namespace

class TestHexfileDownload : public QObject {
    Q_OBJECT
    QString file(const QString &name, int records)
    {
        const QString path = m_dir.filePath(name);
        if (!writeHexFile(path, dataRecords(records, false)))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void transfer_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<Script>("script");
        QTest::addColumn<QList<int>>("wire"); // 0 the start byte, n record n
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("error");

        const QList<QByteArray> silence;
        const QList<QByteArray> timeOut{"@4999", "@1"};
        const QString timedOut = QStringLiteral("ERROR: Request time out");

        QTest::newRow("every record acknowledged")
            << 3 << Script{} << QList<int>{0, 1, 2, 3} << QStringList{kStarted + "...Ok"} << 0;
        QTest::newRow("empty record list") << 0 << Script{} << QList<int>{0} << QStringList{kStarted + "Ok"} << 0;
        QTest::newRow("0x03 to the start byte")
            << 3 << Script{{"\x03"}} << QList<int>{0} << QStringList{kStarted + "Ok"} << 0;
        QTest::newRow("0x03 to record 1 of 3")
            << 3 << Script{{"\x02"}, {"\x03"}} << QList<int>{0, 1} << QStringList{kStarted + ".Ok"} << 0;
        QTest::newRow("two acknowledgements in one delivery count once")
            << 3 << Script{{QByteArray("\x02\x02")}, {"\x02"}, {"\x03"}} << QList<int>{0, 1, 2}
            << QStringList{kStarted + "..Ok"} << 0;
        QTest::newRow("only the first byte of a delivery counts")
            << 2 << Script{{QByteArray("\x02\x06")}, {QByteArray("\x02\x07")}} << QList<int>{0, 1, 2}
            << QStringList{kStarted + "..Ok"} << 0;
        QTest::newRow("two acknowledgements in separate deliveries send two records")
            << 3 << Script{{"\x02", "\x02"}, silence, {"\x02"}} << QList<int>{0, 1, 2, 3}
            << QStringList{kStarted + "...Ok"} << 0;
        QTest::newRow("0x04 after record 2 resends it")
            << 3 << Script{{"\x02"}, {"\x02"}, {"\x04"}} << QList<int>{0, 1, 2, 2, 3}
            << QStringList{kStarted + "..E.Ok"} << 0;
        QTest::newRow("0x05 after record 1, twice")
            << 2 << Script{{"\x02"}, {"\x05"}, {"\x05"}} << QList<int>{0, 1, 1, 1, 2}
            << QStringList{kStarted + ".EE.Ok"} << 0;
        QTest::newRow("resend asked for the start byte sends it again")
            << 1 << Script{{"\x04"}} << QList<int>{0, 0, 1} << QStringList{kStarted + "E.Ok"} << 0;
        QTest::newRow("0x06 refuses record 2")
            << 3 << Script{{"\x02"}, {"\x02"}, {"\x06"}} << QList<int>{0, 1, 2} << abortLines(kStarted + "..Abort") << -4;
        QTest::newRow("0x07 refuses the start")
            << 3 << Script{{"\x07"}} << QList<int>{0} << abortLines(kStarted + "Abort") << -4;
        QTest::newRow("an unknown byte refuses")
            << 3 << Script{{"\x02"}, {QByteArray(1, 0)}} << QList<int>{0, 1} << abortLines(kStarted + ".Abort") << -4;
        QTest::newRow("no answer to the start byte")
            << 2 << Script{timeOut} << QList<int>{0} << QStringList{kStarted, timedOut} + abortLines("Abort") << -4;
        QTest::newRow("no answer to record 2")
            << 3 << Script{{"\x02"}, {"\x02"}, timeOut} << QList<int>{0, 1, 2}
            << QStringList{kStarted + "..", timedOut} + abortLines("Abort") << -4;
        // The time-out counts from the last transmission, and every resend starts it afresh.
        QTest::newRow("slow answers inside the time-out")
            << 2 << Script{{"@4999", "\x02"}, {"@4999", "\x04"}, {"@4999", "\x02"}} << QList<int>{0, 1, 1, 2}
            << QStringList{kStarted + ".E.Ok"} << 0;
        QTest::newRow("answers that never stop asking for a resend")
            << 1 << Script{{"\x02"}, {"@3000", "\x04"}, {"@3000", "\x04"}, {"@3000", "\x04"}, timeOut}
            << QList<int>{0, 1, 1, 1, 1} << QStringList{kStarted + ".EEE", timedOut} + abortLines("Abort") << -4;
    }

    void transfer()
    {
        QFETCH(int, records);
        QFETCH(Script, script);
        QFETCH(QList<int>, wire);
        QFETCH(QStringList, lines);
        QFETCH(int, error);

        Rig rig(file(QStringLiteral("%1.hex").arg(records), records));
        QCOMPARE(rig.hex.readHexFile(), 0);
        QCOMPARE(rig.hex.packetsToReceive(), records + 1);
        rig.script = script;

        QCOMPARE(rig.run(), error == 0);
        QVERIFY(!rig.hung);
        QCOMPARE(rig.link.writes(), rig.expectedWrites(wire));
        QCOMPARE(rig.status.lines(), lines);
        QCOMPARE(rig.hex.error(), error);
        QCOMPARE(rig.hex.sentCount(), 0);
        QVERIFY(!rig.request.isEnabled());
        QVERIFY(!rig.dispatcher.currentHandler());
        QVERIFY(!rig.hex.isDownloading());
        if (lines.contains(QStringLiteral("ERROR: Request time out")))
            QVERIFY(rig.hex.ignoreReceive());
    }

    void closedPortFailsAtFirstWrite()
    {
        Rig rig(file(QStringLiteral("closed.hex"), 2));
        QCOMPARE(rig.hex.readHexFile(), 0);
        rig.link.close();
        QVERIFY(!rig.run());
        QVERIFY(rig.link.writes().isEmpty());
        QCOMPARE(rig.status.lines(),
                 (QStringList{kStarted, "ERROR: The serial port is not open"} + abortLines("Abort")));
        QCOMPARE(rig.hex.error(), -4);
        QVERIFY(!rig.request.isEnabled());
    }

    void otherExchangesWaitForTheDownload()
    {
        const QString path = file(QStringLiteral("busy.hex"), 2);
        Rig rig(path);
        QCOMPARE(rig.hex.readHexFile(), 0);
        const QStringList before = rig.hex.records();
        KernelLink kernel(rig.dispatcher, rig.prompter);
        Readiness state;
        bool secondDownload = true;
        int reloadResult = 0;
        QVERIFY(writeHexFile(path, dataRecords(5, true)));

        rig.beforeAnswer = [&](int index) {
            if (index != 1)
                return;
            QVERIFY(rig.download.isDownloading());
            kernel.queryKernelVersion();
            secondDownload = rig.download.download() || rig.hex.send(rig.dispatcher);
            HexLoad::readHexFile(rig.hex, QString(), rig.status, rig.prompter, state, {});
            HexLoad::readHexFile(rig.hex, m_dir.filePath("other.hex"), rig.status, rig.prompter, state, {});
            reloadResult = rig.hex.readHexFile();
        };
        QVERIFY(rig.run());
        QVERIFY(!secondDownload);
        QCOMPARE(reloadResult, int(HexFile::Downloading));
        QCOMPARE(rig.hex.records(), before);
        QCOMPARE(rig.hex.path(), path);
        QCOMPARE(rig.link.writes(), rig.expectedWrites({0, 1, 2}));
        // The refusals end the open progress line first, as the window's log does.
        QCOMPARE(rig.status.lines(), (QStringList{kStarted + ".", LinkDispatcher::busyText(), LinkDispatcher::busyText(),
                                                  "", HexLoad::downloadingText(), "", HexLoad::downloadingText(),
                                                  ".Ok"}));
        QVERIFY(!state.fileReady());

        // Once the transfer is over, the file is read again as usual.
        rig.status.clear();
        HexLoad::readHexFile(rig.hex, QString(), rig.status, rig.prompter, state, {});
        QCOMPARE(rig.hex.recordCount(), 6);
        QVERIFY(state.fileReady());
    }

    void takenOverHandlerEndsTransfer()
    {
        // "&Run" installs its own handler without asking; the download cannot go on then.
        struct Other : LinkHandler {
            void receive(const QByteArray &) override { ++deliveries; }
            int packetsToReceive() const override { return 1; }
            int deliveries = 0;
        };
        Rig rig(file(QStringLiteral("taken.hex"), 3));
        QCOMPARE(rig.hex.readHexFile(), 0);
        auto other = std::make_shared<Other>();
        rig.script = {{"\x02"}, {"\x02"}};
        rig.beforeAnswer = [&](int index) {
            if (index == 1)
                rig.dispatcher.setCurrentHandler(other);
        };
        QVERIFY(!rig.run());
        QCOMPARE(rig.status.lines(), abortLines(kStarted + ".Abort"));
        QCOMPARE(rig.dispatcher.currentHandler(), std::shared_ptr<LinkHandler>(other));
        QCOMPARE(other->deliveries, 1);
        QVERIFY(!rig.request.isEnabled());
    }

    void progressIsReported()
    {
        Rig rig(file(QStringLiteral("progress.hex"), 3));
        QCOMPARE(rig.hex.readHexFile(), 0);
        QSignalSpy started(&rig.download, &HexDownload::downloadStarted);
        QSignalSpy progress(&rig.download, &HexDownload::progressChanged);
        QSignalSpy finished(&rig.download, &HexDownload::downloadFinished);
        rig.script = {{"\x02"}, {"\x04"}, {"\x02"}, {"\x02"}, {"\x06"}};
        QVERIFY(!rig.run());

        QCOMPARE(started.size(), 1);
        QCOMPARE(started[0][0].toInt(), 3);
        QCOMPARE(progress.size(), 3); // the resend sends no new record
        for (int i = 0; i < 3; ++i)
            QCOMPARE(progress[i], (QVariantList{i + 1, 3}));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toBool(), false);
    }
};

QTEST_GUILESS_MAIN(TestHexfileDownload)
#include "tst_hexfile_download.moc"
