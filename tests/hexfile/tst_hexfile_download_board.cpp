// The download against corvade-board over a real pseudo-terminal: the board's log of what
// arrived is compared byte for byte with the records of the file.
#include "hexfile/HexFile.h"
#include "hexfile/HexDownload.h"
#include "link/LinkTiming.h"
#include "support/BoardProcess.h"
#include "support/LiveLink.h"
#include "support/TestFiles.h"

#include <QtTest>

namespace {
const QString kStarted = QStringLiteral("Downloading hexfile");

struct BoardRig : LiveLink {
    using LiveLink::LiveLink;
    HexFile hex;
    HexDownload download{serial.dispatcher(), hex};
};

QStringList abortLines(const QString &first)
{
    return {first, HexFile::transmissionErrorText(), HexFile::notDownloadedText()};
}

// The board logs every chunk as spaced hex bytes on a line of its own; chunking is the
// line's business, so only the byte stream is compared.
QByteArray loggedBytes(const QString &path)
{
    return QByteArray::fromHex(readFile(path).replace(' ', "").replace('\n', ""));
}
} // namespace

class TestHexfileDownloadBoard : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Keeps the silent-board case short; every answer of the board comes far sooner.
        qputenv("CORVADE_TEST_REQUEST_TIMEOUT_MS", "1000");
        QCOMPARE(requestTimeoutInterval(), std::chrono::milliseconds(1000));
    }

    void download_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("file");
        QTest::addColumn<QList<int>>("wire"); // 0 the start byte, n record n of the file
        QTest::addColumn<QStringList>("lines");

        const QStringList four = dataRecords(3, true);
        QTest::newRow("every record acknowledged")
            << QStringList{} << four << QList<int>{0, 1, 2, 3, 4} << QStringList{kStarted + "....Ok"};
        QTest::newRow("end record ends it early with 0x03")
            << QStringList{} << QStringList{dataRecord(0), dataRecord(1), endRecord(), dataRecord(2)}
            << QList<int>{0, 1, 2, 3} << QStringList{kStarted + "...Ok"};
        QTest::newRow("resend of record 2")
            << QStringList{"--resend-at", "2"} << four << QList<int>{0, 1, 2, 2, 3, 4} << QStringList{kStarted + "..E..Ok"};
        QTest::newRow("refusal of record 2")
            << QStringList{"--refuse-at", "2"} << four << QList<int>{0, 1, 2} << abortLines(kStarted + "..Abort");
        QTest::newRow("silent board") << QStringList{"--silent"} << four << QList<int>{0}
                                      << (QStringList{kStarted, "ERROR: Request time out"} + abortLines("Abort"));
        QTest::newRow("slow answers in split deliveries")
            << QStringList{"--split", "--delay", "30"} << four << QList<int>{0, 1, 2, 3, 4}
            << QStringList{kStarted + "....Ok"};
        // The loss line's reason is the system's; it is checked by its beginning below.
        QTest::newRow("cable pulled at record 3")
            << QStringList{"--pull-at", "3"} << four << QList<int>{0, 1, 2, 3}
            << (QStringList{kStarted + "...", "ERROR: The serielport, port 2 was lost"} + abortLines("Abort"));
        QList<int> all;
        for (int n = 0; n <= 40001; ++n)
            all << n;
        QTest::newRow("40001 records") << QStringList{} << dataRecords(40000, true) << all
                                       << QStringList{kStarted + QString(40001, '.') + "Ok"};
    }

    void download()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, file);
        QFETCH(QList<int>, wire);
        QFETCH(QStringList, lines);

        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-');
        const QString hexPath = m_dir.filePath(tag + ".hex");
        const QString logPath = m_dir.filePath(tag + ".log");
        QVERIFY(writeHexFile(hexPath, file));

        BoardProcess board;
        BoardRig rig(board.start(options, m_dir.filePath(tag + ".tty"), logPath));
        QVERIFY(!rig.device.isEmpty());
        rig.hex.setPath(hexPath);
        QCOMPARE(rig.hex.readHexFile(), 0);
        QVERIFY(rig.serial.port().openPort());
        rig.status.clear();

        const bool expectOk = lines.last().endsWith(QStringLiteral("Ok"));
        QCOMPARE(rig.download.download(), expectOk);

        QStringList got = rig.status.lines();
        if (got.size() > 1 && lines.size() > 1 && got[1].startsWith(lines[1]))
            got[1] = lines[1];
        QCOMPARE(got, lines);
        QVERIFY(!rig.serial.dispatcher().currentHandler());
        QVERIFY(!rig.hex.isDownloading());

        QByteArray expected;
        for (int n : wire)
            expected += n == 0 ? QByteArray("\x02") : file.at(n - 1).toLatin1();
        // The board writes its log as the bytes come; the last chunk may still be on its way.
        QTRY_COMPARE_WITH_TIMEOUT(loggedBytes(logPath).size(), expected.size(), 10000);
        QCOMPARE(loggedBytes(logPath), expected);
    }
};

QTEST_GUILESS_MAIN(TestHexfileDownloadBoard)
#include "tst_hexfile_download_board.moc"
