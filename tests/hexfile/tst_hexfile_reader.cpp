#include "hexfile/HexFile.h"

#include "support/TestDoubles.h"
#include "support/TestFiles.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>

namespace {
const QByteArray Eof = ":00000001FF";
}

class HexReaderTest : public QObject {
    Q_OBJECT

    TestFolder m_dir;

    QString file(const QString &name, const QByteArray &content) { return m_dir.file(name, content); }

    static QString dots(int n) { return QString(n, QLatin1Char('.')); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void hexByteValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("upper");
        QTest::newRow("pair") << "1F" << 0x1f << "1F";
        QTest::newRow("lower case is raised") << "af" << 0xaf << "AF";
        QTest::newRow("single digit doubles") << "7" << 0x77 << "7";
        QTest::newRow("non-hex counts as zero") << "G5" << 0x05 << "G5";
        QTest::newRow("blank low digit") << "A " << 0xa0 << "A ";
        QTest::newRow("empty") << "" << 0 << "";
        QTest::newRow("last character is the low digit") << "1x2" << 0x12 << "1X2";
    }
    void hexByteValue()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(QString, upper);
        QCOMPARE(hexByteValue(text), value);
        QCOMPARE(text, upper);
    }

    void checkRecord_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("result");
        QTest::newRow("end-of-file record") << ":00000001FF" << 0;
        QTest::newRow("end-of-file record, last digit changed") << ":00000001FE" << -2;
        QTest::newRow("all zeros") << ":0000000000" << 0;
        QTest::newRow("lower case") << ":0300300002337a1e" << 0;
        QTest::newRow("empty line") << "" << -1;
        QTest::newRow("leading blank") << " :00000001FF" << -1;
        QTest::newRow("colon only") << ":" << 0;
        QTest::newRow("odd length: trailing A adds 0xAA") << ":00000001FFA" << -2;
        QTest::newRow("odd length: trailing F doubles to 0xFF") << ":01F" << 0;
        QTest::newRow("non-hex digit counts as 0") << ":0G000001FF" << 0;
        QTest::newRow("trailing blank") << ":00000001FF " << 0;
        QTest::newRow("tab is text") << ":00000001FF\t" << 0;
        QTest::newRow("line feed inside") << ":0100000041BE\n:00000001FF" << -2;
        QTest::newRow("NUL byte") << QStringLiteral(":00000001FF") + QChar(0) << -2;
        QTest::newRow("DEL byte") << QStringLiteral(":00000001FF") + QChar(0x7f) << -2;
        QTest::newRow("longest allowed line") << ":" + QString(HexFile::MaxLineLength - 1, '0') << 0;
        QTest::newRow("one past the longest") << ":" + QString(HexFile::MaxLineLength, '0') << -2;
        QTest::newRow("very long without colon") << QString(100000, 'A') << -1;
        QTest::newRow("sum wraps past 255 several times")
            << QString::fromLatin1(hexRecord(0x1234, 0, QByteArray(200, char(0xff)))) << 0;
    }
    void checkRecord()
    {
        QFETCH(QString, line);
        QFETCH(int, result);
        QCOMPARE(HexFile::checkRecord(line), result);
    }

    void readFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("records");

        const QByteArray data = hexRecord(0x0100, 0, "Corvade");
        const QString d = QString::fromLatin1(data);
        QByteArray big(255, '\0');
        for (int i = 0; i < 255; ++i)
            big[i] = char(i * 7);
        const QByteArray r255 = hexRecord(0xff00, 0, big);
        QCOMPARE(r255.size(), 1 + 2 * (255 + 5));

        QTest::newRow("empty file") << QByteArray() << 0 << QStringList();
        QTest::newRow("end-of-file record") << Eof + "\r\n" << 0 << QStringList{":00000001FF"};
        QTest::newRow("end-of-file record changed") << QByteArray(":00000001FE\r\n") << -2 << QStringList();
        QTest::newRow("all zeros") << QByteArray(":0000000000\r\n") << 0 << QStringList{":0000000000"};
        QTest::newRow("lower case kept") << data.toLower() + "\r\n" + Eof + "\r\n" << 0
                                         << QStringList{d.toLower(), ":00000001FF"};
        QTest::newRow("blank line inside") << data + "\r\n\r\n" + Eof + "\r\n" << -1 << QStringList{d};
        QTest::newRow("trailing blank line") << data + "\r\n" + Eof + "\r\n\r\n" << -1
                                             << QStringList{d, ":00000001FF"};
        QTest::newRow("line begins with blank") << data + "\r\n " + Eof + "\r\n" << -1 << QStringList{d};
        QTest::newRow("odd length") << data + "A\r\n" << -2 << QStringList();
        QTest::newRow("blank after end record is stored") << Eof + " \r\n" << 0 << QStringList{":00000001FF "};
        QTest::newRow("lines after end record") << Eof + "\r\n" + data + "\r\n" << 0
                                                << QStringList{":00000001FF", d};
        QTest::newRow("255-byte record") << r255 + "\r\n" + Eof + "\r\n" << 0
                                         << QStringList{QString::fromLatin1(r255), ":00000001FF"};
        QTest::newRow("CR only") << data + "\r" + Eof + "\r" << 0 << QStringList{d, ":00000001FF"};
        QTest::newRow("no terminator on last line") << data + "\r\n" + Eof << 0 << QStringList{d, ":00000001FF"};
        QTest::newRow("CR LF LF: lone LF starts a bad line") << data + "\r\n\n" + Eof + "\r\n" << -1 << QStringList{d};
        // Joined by lone LFs the records would sum to zero as one line; that one line must
        // not be accepted and sent to the kernel.
        QTest::newRow("LF only") << data + "\n" + Eof + "\n" << -2 << QStringList();
        QTest::newRow("LF only, one record") << Eof + "\n" << -2 << QStringList();
        QTest::newRow("binary, no colon") << QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0", 10) << -1 << QStringList();
        QTest::newRow("binary after colon") << QByteArray(":0000") + QByteArray(4, '\0') + "0000\r\n" << -2 << QStringList();
        QTest::newRow("absurd line of zeros")
            << ":" + QByteArray(3 * 1024 * 1024, '0') + "\r\n" << -2 << QStringList();
        QTest::newRow("absurd line after a good one")
            << data + "\r\n" + QByteArray(3 * 1024 * 1024, 'x') << -1 << QStringList{d};
        QTest::newRow("Latin-1 byte kept as one character")
            << Eof + "\xe9\r\n" << 0 << QStringList{QStringLiteral(":00000001FF") + QChar(0xe9)};
    }
    void readFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, result);
        QFETCH(QStringList, records);

        RecordingStatus sink;
        HexFile hex(&sink);
        hex.setPath(file(QStringLiteral("case.hex"), content));
        QCOMPARE(hex.readHexFile(), result);
        QCOMPARE(hex.records(), records);
        QCOMPARE(sink.text, QStringLiteral("Reading Hex file") + dots(records.size()));
    }

    void fileErrors()
    {
        RecordingStatus sink;
        HexFile hex(&sink);

        QCOMPARE(hex.readHexFile(), int(HexFile::NoPath));
        QVERIFY(sink.text.isEmpty());

        const QString good = file(QStringLiteral("good.hex"), ":0100000041BE\r\n" + Eof + "\r\n");
        hex.setPath(good);
        QCOMPARE(hex.readHexFile(), 0);
        QCOMPARE(hex.recordCount(), 2);

        // Setting an empty path and reading leaves everything as it was.
        hex.setPath(QString());
        sink.text.clear();
        QCOMPARE(hex.readHexFile(), -3);
        QCOMPARE(hex.recordCount(), 2);
        QVERIFY(sink.text.isEmpty());

        const QString missing = m_dir.filePath(QStringLiteral("missing.hex"));
        hex.setPath(missing);
        QCOMPARE(hex.readHexFile(), 53);
        QCOMPARE(hex.path(), missing);
        QCOMPARE(hex.recordCount(), 0);
        QCOMPARE(sink.text, QStringLiteral("Reading Hex file"));

        hex.setPath(m_dir.path());
        QCOMPARE(hex.readHexFile(), EISDIR);
        hex.setPath(good + QStringLiteral("/inside.hex"));
        QCOMPARE(hex.readHexFile(), ENOTDIR);
        QVERIFY(!HexFile::errorText(ENOTDIR).isEmpty());
        QVERIFY(HexFile::errorText(ENOTDIR) != HexFile::errorText(EISDIR));
    }

    // A device that never ends a line must be refused after a bounded read.
    void endlessDevice()
    {
        HexFile hex;
        hex.setPath(QStringLiteral("/dev/zero"));
        QCOMPARE(hex.readHexFile(), -1);
        QCOMPARE(hex.recordCount(), 0);
    }

    void manyRecords()
    {
        // More records than a signed 16-bit counter holds.
        const int count = 40000;
        QByteArray content;
        for (int i = 0; i < count - 1; ++i)
            content += hexRecord(i & 0xffff, 0, QByteArray::number(i).rightJustified(16, '0')) + "\r\n";
        content += Eof + "\r\n";
        RecordingStatus sink;
        HexFile hex(&sink);
        hex.setPath(file(QStringLiteral("many.hex"), content));
        QCOMPARE(hex.readHexFile(), 0);
        QCOMPARE(hex.recordCount(), count);
        QCOMPARE(hex.records().last(), QStringLiteral(":00000001FF"));
        QCOMPARE(hex.records().at(32767), QString::fromLatin1(hexRecord(32767, 0, "0000000000032767")));
        QCOMPARE(sink.text, QStringLiteral("Reading Hex file") + dots(count));
        // The dots reach the log in a handful of pieces, not one call per record.
        QVERIFY2(sink.calls < 100, qPrintable(QString::number(sink.calls)));
    }

    void srecCatFiles_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("result");
        QTest::newRow("16-byte records, CR LF")
            << QStringList{"-generate", "0", "0x1000", "-repeat-string", "Corvade 8051", "-o", "@", "-intel", "-CRLF"} << 0;
        QTest::newRow("255-byte records")
            << QStringList{"-generate", "0", "0x4000", "-repeat-string", "kernel", "-o", "@", "-intel",
                           "-Output_Block_Size=255", "-CRLF"} << 0;
        QTest::newRow("segments above 64K, CR only")
            << QStringList{"-generate", "0xFFF0", "0x12000", "-constant", "0xA5", "-o", "@", "-intel",
                           "-line-termination=cr"} << 0;
    }
    void srecCatFiles()
    {
        QFETCH(QStringList, args);
        QFETCH(int, result);
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
        QVERIFY2(!tool.isEmpty(), "srec_cat is needed (package srecord, see scripts/install-deps.sh)");
        const QString path = m_dir.filePath(QStringLiteral("srec.hex"));
        args.replaceInStrings(QStringLiteral("@"), path);
        QProcess p;
        p.start(tool, args);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);

        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        RecordingStatus sink;
        HexFile hex(&sink);
        hex.setPath(path);
        QCOMPARE(hex.readHexFile(), result);
        if (result != 0)
            return;
        QStringList lines = QString::fromLatin1(bytes).split(QRegularExpression(QStringLiteral("\r\n?")));
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(hex.records(), lines);
        QCOMPARE(hex.records().last(), QStringLiteral(":00000001FF"));
    }
};

QTEST_GUILESS_MAIN(HexReaderTest)
#include "tst_hexfile_reader.moc"
