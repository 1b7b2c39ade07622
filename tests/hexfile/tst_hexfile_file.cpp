// The HEX file: reading and checking it, how a load reports its outcome, the recent-file
// list, and the download loop on the fake link: what goes on the wire, the progress, the
// result, and how a transfer ends on refusals, time-outs, failed writes and other commands.
#include "core/Readiness.h"
#include "hexfile/HexFile.h"
#include "hexfile/RecentFiles.h"
#include "hexfile/HexDownload.h"
#include "hexfile/HexLoad.h"
#include "hexfile/RecentFileMenu.h"
#include "link/FakeByteLink.h"
#include "link/LinkDispatcher.h"
#include "link/RunRequest.h"
#include "support/TestDoubles.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {
const QByteArray kEof = ":00000001FF";
const QString kStarted = QStringLiteral("Downloading hexfile");

// Mirrors the four menu items as the window would.
class FakeMenu : public RecentFileMenu {
public:
    void showRecentItem(int index) override { visible[index] = true; }
    void setRecentCaption(int index, const QString &caption) override { captions[index] = caption; }
    bool visible[4] = {};
    QString captions[4];
};

// The kernel's side: for each write (0 = the start byte) its answers, each a receive event
// once the loop waits, or "@ms" to step the request timer, "!" to close the port, "~" to pull
// the cable, "^" for another command taking the line. Past the script, 0x02 answers.
using Script = QList<QList<QByteArray>>;

class ScriptedLink : public FakeByteLink {
public:
    std::function<void(int index)> onWrite;
    LinkResult write(const QByteArray &bytes) override
    {
        const LinkResult result = FakeByteLink::write(bytes);
        if (result.ok())
            QTimer::singleShot(0, this, [this, index = int(writes().size()) - 1] { onWrite(index); });
        return result;
    }
};

struct Rig {
    ScriptedLink link;
    FakeRequestTimer request{5000ms};
    FakeRequestTimer join{60ms};
    RecordingStatus status;
    LinkDispatcher dispatcher{link, request, join, status};
    HexFile hex;
    HexDownload download{dispatcher, hex};
    Script script;
    std::function<void(int index)> beforeAnswer = [](int) {};
    std::shared_ptr<LinkHandler> other;
    TestFolder dir;

    explicit Rig(const QStringList &records)
    {
        link.open(QStringLiteral("fake"), 19200);
        hex.setPath(dir.filePath("file.hex"));
        if (!writeHexFile(hex.path(), records) || hex.readHexFile() != 0)
            qFatal("cannot read the test file");
        link.onWrite = [this](int index) {
            beforeAnswer(index);
            for (const QByteArray &reply : script.value(index, {"\x02"})) {
                if (reply.startsWith('@'))
                    request.advance(std::chrono::milliseconds(reply.mid(1).toInt()));
                else if (reply == "!")
                    link.close();
                else if (reply == "~")
                    link.pull();
                else if (reply == "^")
                    dispatcher.setCurrentHandler(other = std::make_shared<RunRequest>(dispatcher));
                else
                    link.inject(reply);
            }
        };
    }
    // 0 the start byte, n record n.
    QList<QByteArray> wire(const QList<int> &order) const
    {
        QList<QByteArray> out;
        for (int n : order)
            out << (n == 0 ? QByteArray("\x02") : hex.record(n - 1));
        return out;
    }
};

QStringList recordsOf(const HexFile &hex)
{
    QStringList out;
    for (int i = 0; i < hex.recordCount(); ++i)
        out << QString::fromLatin1(hex.record(i));
    return out;
}

QStringList abortLines(const QString &first)
{
    return {first, HexFile::transmissionErrorText(), HexFile::notDownloadedText()};
}
} // namespace

class TestHexfileFile : public QObject {
    Q_OBJECT
    TestFolder m_dir;

private slots:
    void checkRecord_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("result");
        QTest::newRow("end-of-file record") << QString(kEof) << 0;
        QTest::newRow("last digit changed") << ":00000001FE" << -2;
        QTest::newRow("lower case") << ":0300300002337a1e" << 0;
        QTest::newRow("empty") << "" << -1;
        // Each of these adds up to zero; the kernel would still refuse it.
        QTest::newRow("colon alone") << ":" << -2;
        QTest::newRow("one digit") << ":0" << -2;
        QTest::newRow("not hexadecimal") << ":GG000001FF" << -2;
        QTest::newRow("fewer bytes than the count") << ":0200000041BD" << -2;
        QTest::newRow("more bytes than the count") << ":0000000000FF01" << -2;
        QTest::newRow("trailing tab") << ":00000001FF\t" << -2;
        QTest::newRow("line feed inside") << ":0100000041BE\n:00000001FF" << -2;
        QTest::newRow("DEL") << ":00000001FF\x7f" << -2;
        QTest::newRow("255 data bytes") << QString::fromLatin1(hexRecord(0, 0, QByteArray(255, '\xa5'))) << 0;
        QTest::newRow("one past the longest") << ":" + QString(HexFile::MaxLineLength, '0') << -2;
    }
    void checkRecord()
    {
        QFETCH(QString, line);
        QFETCH(int, result);
        QCOMPARE(HexFile::checkRecord(line.toLatin1()), result);
    }

    // A failed line keeps the records before it; a dot per record, in a few log updates.
    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("records");
        const QByteArray data = hexRecord(0x0100, 0, "Corvade").toLower();
        const QString d = QString::fromLatin1(data), eof = QString::fromLatin1(kEof);
        const int noData = HexFile::NoData;
        QTest::newRow("empty file") << QByteArray() << noData << QStringList();
        QTest::newRow("no data record") << kEof + "\r\n" << noData << QStringList{eof};
        QTest::newRow("CR LF, lower case kept") << data + "\r\n" + kEof + "\r\n" << 0 << QStringList{d, eof};
        QTest::newRow("CR only") << data + "\r" + kEof + "\r" << 0 << QStringList{d, eof};
        QTest::newRow("no line end at the end") << data + "\r\n" + kEof << 0 << QStringList{d, eof};
        QTest::newRow("lines after the end record") << kEof + "\r\n" + data << 0 << QStringList{eof, d};
        QTest::newRow("blank line") << data + "\r\n\r\n" + kEof << -1 << QStringList{d};
        QTest::newRow("CR LF LF: the lone LF starts a line") << data + "\r\n\n" + kEof << -1 << QStringList{d};
        // Joined by lone LFs the records would sum to zero as one line; it must not pass.
        QTest::newRow("LF only") << data + "\n" + kEof + "\n" << -2 << QStringList();
        QTest::newRow("Latin-1 byte after a record") << data + "\r\n" + kEof + "\xe9" << -2 << QStringList{d};
        QStringList records;
        for (int i = 0; i < 40000; ++i)
            records << QString::fromLatin1(hexRecord(i, 0, QByteArray::number(i).rightJustified(16, '0')));
        QTest::newRow("more records than a 16-bit counter holds") << records.join("\r").toLatin1() << 0 << records;
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, result);
        QFETCH(QStringList, records);
        RecordingStatus status;
        HexFile hex(&status);
        hex.setPath(m_dir.file("read.hex", content));
        QCOMPARE(hex.readHexFile(), result);
        QCOMPARE(recordsOf(hex), records);
        QCOMPARE(status.text, "Reading Hex file" + QString(records.size(), '.'));
        QVERIFY2(status.calls < 100, qPrintable(QString::number(status.calls)));
    }

    // After good.hex was loaded or not: the boxes, completed status lines and window changes
    // that follow a load of `path`, in order.
    void load_data()
    {
        QTest::addColumn<bool>("preload");
        QTest::addColumn<QString>("path"); // in the test's folder unless absolute
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<bool>("fileReady");
        QTest::addColumn<int>("records");
        const QString notLoaded = QStringLiteral("caption:Corvade - No File loaded");
        const QString corrupt = QStringLiteral("box:The hex file is corrupt, try reloading or re compile the hex file\n\n");
        const QString lfOnly = QStringLiteral("The lines end with LF alone; the kernel needs CR LF or CR line ends.");
        const QStringList noData{"line:", "line:ERROR: Hex file holds no data record. Nothing to download.", notLoaded,
                                 "kernel:off"};
        QTest::newRow("good file")
            << false << "good.hex"
            << QStringList{"line:Ok", "line:Loaded 2 records, 1 data byte: 0000-0000.", "caption:Corvade - good.hex",
                           "recent:@good.hex", "kernel:on"}
            << true << 2;
        QTest::newRow("checksum error")
            << true << "sum.hex"
            << QStringList{corrupt + "Line 2.", "line:", "line:ERROR: Hex file is corrupt. Checksum error. Line 2.",
                           notLoaded, "kernel:off"}
            << false << 1;
        QTest::newRow("LF only: the line ends are named")
            << false << "lf.hex"
            << QStringList{corrupt + "Line 1.\n" + lfOnly, "line:",
                           "line:ERROR: Hex file is corrupt. Checksum error. Line 1.", "line:ERROR: " + lfOnly,
                           notLoaded, "kernel:off"}
            << false << 0;
        // Nothing to download: the Kernel menu goes off, even after a good file.
        QTest::newRow("empty file") << true << "/dev/null" << noData << false << 0;
        QTest::newRow("pipe without a writer") << false << "pipe.hex" << noData << false << 0;
        // The read stops after a bounded line.
        QTest::newRow("endless device without a colon")
            << false << "/dev/zero"
            << QStringList{"box:This is not a valid Intel Hex file, or file is corrupt\n\nLine 1.", "line:",
                           "line:ERROR: Hex file is corrupt. ':' missing at beginning of line. Line 1.", notLoaded,
                           "kernel:off"}
            << false << 0;
        QTest::newRow("missing file keeps the readiness")
            << true << "missing.hex" << QStringList{"line:", "line:ERROR: File not found."} << true << 0;
        QTest::newRow("other file error")
            << true << "folder.hex"
            << QStringList{"line:", "line:ERROR: 21 " + QString::fromLocal8Bit(strerror(21)),
                           "line:Warning: No hex file loaded", notLoaded, "kernel:off"}
            << false << 0;
        QTest::newRow("no file named: the Load command runs")
            << false << "" << QStringList{"line:WARNING: No hex file specified. No file loaded", "load command"}
            << false << 0;
    }
    void load()
    {
        QFETCH(bool, preload);
        QFETCH(QString, path);
        QFETCH(QStringList, events);
        QFETCH(bool, fileReady);
        QFETCH(int, records);
        const QString good = m_dir.file("good.hex", ":0100000041BE\r\n:00000001FF\r\n");
        m_dir.file("sum.hex", ":0100000041BE\r\n:00000001FE\r\n");
        m_dir.file("lf.hex", ":0100000041BE\n:00000001FF\n");
        ::mkfifo(QFile::encodeName(m_dir.filePath("pipe.hex")).constData(), 0600);
        QDir(m_dir.path()).mkdir("folder.hex");
        Journal journal;
        RecordingStatus status(&journal);
        ScriptedPrompter prompter(&journal);
        RecordingView view(&journal);
        Readiness state(&view);
        HexFile hex;
        const auto loadCommand = [&] { journal.events << "load command"; };
        state.setSerialReady();
        if (preload)
            HexLoad::readHexFile(hex, good, status, prompter, state, loadCommand);
        journal.events.clear();

        const QString asked = path.isEmpty() || path.startsWith('/') ? path : m_dir.filePath(path);
        HexLoad::readHexFile(hex, asked, status, prompter, state, loadCommand);
        QCOMPARE(journal.events, events.replaceInStrings("@", m_dir.path() + '/'));
        QCOMPARE(state.fileReady(), fileReady);
        QCOMPARE(hex.recordCount(), records);
        QCOMPARE(hex.path(), path.isEmpty() ? QString() : asked); // kept whatever the outcome
        QCOMPARE(prompter.icons, QList<Prompter::Icon>(prompter.icons.size(), Prompter::Icon::Exclamation));
    }

    // The lines after "Ok" of a good load; the warnings inform, the file is loaded all the same.
    void summary_data()
    {
        QTest::addColumn<QByteArrayList>("records");
        QTest::addColumn<int>("codeMemoryKB");
        QTest::addColumn<QStringList>("lines");
        const QByteArray sixteen(16, '\x11'), end = kEof;
        QTest::newRow("neighbours joined, a gap, a start record")
            << QByteArrayList{hexRecord(0x10, 0, sixteen), hexRecord(0, 0, sixteen), hexRecord(0x2000, 0, "abcd"),
                              hexRecord(0, 3, QByteArray::fromHex("00000100")), end}
            << 64 << QStringList{"Loaded 5 records, 36 data bytes: 0000-001F, 2000-2003. Start address 0100."};
        QTest::newRow("overlap named at its first address")
            << QByteArrayList{hexRecord(0x100, 0, sixteen), hexRecord(0, 0, sixteen), hexRecord(0x108, 0, sixteen),
                              hexRecord(0xf8, 0, sixteen)}
            << 64
            << QStringList{"Loaded 4 records, 64 data bytes: 0000-000F, 00F8-0117.", "WARNING: Records overlap at 0108."};
        QTest::newRow("linear address past 64 KB, linear start")
            << QByteArrayList{hexRecord(0xfff0, 0, sixteen), hexRecord(0, 4, QByteArray::fromHex("0001")),
                              hexRecord(0, 0, sixteen), hexRecord(0, 5, QByteArray::fromHex("00010000")), end}
            << 64
            << QStringList{"Loaded 5 records, 32 data bytes: FFF0-1000F. Start address 10000.",
                           "WARNING: Data lies beyond the code memory size of 64 KB (at 10000-1000F)."};
        // The offset wraps round within its segment.
        QTest::newRow("segment address, 1 KB of code memory")
            << QByteArrayList{hexRecord(0x3f8, 0, sixteen), hexRecord(0, 2, QByteArray::fromHex("1000")),
                              hexRecord(0xfffe, 0, "wxyz")}
            << 1
            << QStringList{"Loaded 3 records, 20 data bytes: 03F8-0407, 10000-10001, 1FFFE-1FFFF.",
                           "WARNING: Data lies beyond the code memory size of 1 KB (at 0400-0407, 10000-10001, "
                           "1FFFE-1FFFF)."};
    }
    void summary()
    {
        QFETCH(QByteArrayList, records);
        QFETCH(int, codeMemoryKB);
        QFETCH(QStringList, lines);
        RecordingStatus status;
        ScriptedPrompter prompter;
        Readiness state;
        HexFile hex;
        hex.setCodeMemorySize([codeMemoryKB] { return codeMemoryKB * 1024; });
        HexLoad::readHexFile(hex, m_dir.file("summary.hex", records.join("\r\n")), status, prompter, state, {});
        QCOMPARE(status.lines(), QStringList{"Reading Hex file" + QString(records.size(), '.') + "Ok"} + lines);
        QVERIFY(state.fileReady());
    }

    // The paths added in order, and the entries that follow, newest first.
    void recentList_data()
    {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("paths");
        QTest::newRow("an empty path or the top one again changes nothing")
            << QStringList{"", "/a/one.hex", "/a/one.hex"} << QStringList{"/a/one.hex"};
        // Only the top entry is compared, so a lower one can stand twice.
        QTest::newRow("the oldest of five goes; a lower entry stands twice")
            << QStringList{"/1.hex", "/2.hex", "/3.hex", "/1.hex", "/4.hex"}
            << QStringList{"/4.hex", "/1.hex", "/3.hex", "/2.hex"};
        QTest::newRow("paths compare whole, letter case counts")
            << QStringList{"/a/x.hex", "/b/x.hex", "/b/X.hex"} << QStringList{"/b/X.hex", "/b/x.hex", "/a/x.hex"};
    }
    void recentList()
    {
        QFETCH(QStringList, added);
        QFETCH(QStringList, paths);
        FakeMenu menu;
        RecentFiles list(&menu), bare;
        for (const QString &p : added) {
            list.add(p);
            bare.add(p);
        }
        for (int i = 0; i < 4; ++i) {
            const bool shown = i < paths.size();
            QCOMPARE(list.pathAt(i), paths.value(i));
            QCOMPARE(list.caption(i), shown ? paths[i].mid(paths[i].lastIndexOf('/') + 1) : QString());
            QCOMPARE(menu.captions[i], list.caption(i));
            QCOMPARE(menu.visible[i], shown);
            QCOMPARE(list.itemVisible(i), shown);
            QCOMPARE(bare.itemVisible(i), shown);
        }
        QVERIFY(!list.itemVisible(-1) && !list.itemVisible(4));
    }

    void transfer_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<Script>("script");
        QTest::addColumn<QList<int>>("wire");
        QTest::addColumn<QStringList>("lines");

        const QList<QByteArray> ack{"\x02"};
        const QString timedOut = QStringLiteral("ERROR: Request time out");
        QTest::newRow("every record acknowledged") << 3 << Script{} << QList<int>{0, 1, 2, 3}
                                                   << QStringList{kStarted + "...Ok"};
        QTest::newRow("0x03 ends it early") << 3 << Script{ack, {"\x03"}} << QList<int>{0, 1}
                                            << QStringList{kStarted + ".Ok"};
        QTest::newRow("only the first byte of a delivery counts")
            << 2 << Script{{"\x02\x06"}, {"\x02\x07"}} << QList<int>{0, 1, 2} << QStringList{kStarted + "..Ok"};
        QTest::newRow("0x04 and 0x05 ask for record 2 again")
            << 3 << Script{ack, ack, {"\x04"}, {"\x05"}} << QList<int>{0, 1, 2, 2, 2, 3}
            << QStringList{kStarted + "..EE.Ok"};
        QTest::newRow("a resend asked for the start byte sends it again")
            << 1 << Script{{"\x04"}} << QList<int>{0, 0, 1} << QStringList{kStarted + "E.Ok"};
        QTest::newRow("any other byte refuses") << 3 << Script{ack, ack, {"\x06"}} << QList<int>{0, 1, 2}
                                                << abortLines(kStarted + "..Abort");
        QTest::newRow("no answer to record 2") << 3 << Script{ack, ack, {"@4999", "@1"}} << QList<int>{0, 1, 2}
                                               << QStringList{kStarted + "..", timedOut} + abortLines("Abort");
        // The time-out counts from the last transmission; a resend starts it afresh.
        QTest::newRow("slow answers within the time-out")
            << 2 << Script{{"@4999", "\x02"}, {"@4999", "\x04"}, {"@4999", "\x02"}} << QList<int>{0, 1, 1, 2}
            << QStringList{kStarted + ".E.Ok"};
        QTest::newRow("port closed before record 2")
            << 3 << Script{ack, {"!", "\x02"}} << QList<int>{0, 1}
            << QStringList{kStarted + "..", "ERROR: The serial port is not open"} + abortLines("Abort");
        QTest::newRow("cable pulled after record 1") << 3 << Script{ack, {"~"}} << QList<int>{0, 1}
                                                     << abortLines(kStarted + ".Abort");
        // "&Run" installs its own handler without asking; the download cannot go on then.
        QTest::newRow("another command takes the line") << 3 << Script{ack, {"^"}} << QList<int>{0, 1}
                                                        << abortLines(kStarted + ".Abort");
        QList<int> all;
        for (int n = 0; n <= 40000; ++n)
            all << n;
        QTest::newRow("more records than a 16-bit counter holds") << 40000 << Script{} << all
                                                                  << QStringList{kStarted + QString(40000, '.') + "Ok"};
    }
    void transfer()
    {
        QFETCH(int, records);
        QFETCH(Script, script);
        QFETCH(QList<int>, wire);
        QFETCH(QStringList, lines);
        Rig rig(dataRecords(records, false));
        rig.script = script;
        QSignalSpy started(&rig.download, &HexDownload::downloadStarted);
        QSignalSpy progress(&rig.download, &HexDownload::progressChanged);
        QSignalSpy finished(&rig.download, &HexDownload::downloadFinished);
        const bool ok = lines.last().endsWith("Ok");
        bool hung = false;
        QTimer::singleShot(30000, &rig.link, [&] { hung = true; rig.dispatcher.abortExchange(); });

        QCOMPARE(rig.download.download(), ok);
        QVERIFY(!hung);
        QCOMPARE(rig.link.writes(), rig.wire(wire));
        QCOMPARE(rig.status.lines(), lines);
        QVERIFY(!rig.request.isEnabled() && !rig.hex.isDownloading() && !rig.status.lineOpen());
        QCOMPARE(rig.dispatcher.currentHandler(), rig.other);
        // A progress step for each record sent (a dot), none for a resend.
        QCOMPARE(started.takeFirst(), QVariantList{records});
        QCOMPARE(progress.size(), lines.first().count('.'));
        for (int i = 0; i < progress.size(); ++i)
            QCOMPARE(progress[i], (QVariantList{i + 1, records}));
        QCOMPARE(finished.takeFirst(), QVariantList{ok});
    }

    void otherCommandsWaitForTheDownload()
    {
        Rig rig(dataRecords(2, false));
        const QStringList before = recordsOf(rig.hex);
        const QString path = rig.hex.path();
        QVERIFY(writeHexFile(path, dataRecords(5, true)));
        ScriptedPrompter prompter;
        Readiness state;
        bool again = true;
        int reread = 0;
        rig.beforeAnswer = [&](int index) {
            if (index != 1)
                return;
            again = rig.download.download() || rig.hex.send(rig.dispatcher);
            HexLoad::readHexFile(rig.hex, QString(), rig.status, prompter, state, {});
            HexLoad::readHexFile(rig.hex, rig.dir.filePath("other.hex"), rig.status, prompter, state, {});
            reread = rig.hex.readHexFile();
        };
        QVERIFY(rig.download.download());
        QVERIFY(!again);
        QCOMPARE(reread, int(HexFile::Downloading));
        QCOMPARE(recordsOf(rig.hex), before);
        QCOMPARE(rig.hex.path(), path);
        QCOMPARE(rig.link.writes(), rig.wire({0, 1, 2}));
        // The refusals end the open progress line first, as the window's log does.
        const QString busy = LinkDispatcher::busyText(), reading = HexLoad::downloadingText();
        QCOMPARE(rig.status.lines(), (QStringList{kStarted + ".", busy, "", reading, "", reading, ".Ok"}));
        QVERIFY(!state.fileReady());

        // Once the transfer is over, the file is read again as usual.
        HexLoad::readHexFile(rig.hex, QString(), rig.status, prompter, state, {});
        QCOMPARE(rig.hex.recordCount(), 6);
        QVERIFY(state.fileReady());
    }
};

QTEST_GUILESS_MAIN(TestHexfileFile)
#include "tst_hexfile_file.moc"
