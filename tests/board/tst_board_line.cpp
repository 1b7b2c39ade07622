// corvade-board as a program on its pseudo-terminal: its options, its device, a download run
// as Corvade drives it, its noise. Waits are for bytes on the line or for the board's own
// count of what it wrote (/proc/<pid>/io), never for a time.
#include "board/LineNoise.h"
#include "board/UartSampling.h"
#include "support/BoardProcess.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QtTest>

namespace {
QByteArray readBytes(QSerialPort &port, int count) // or what came before the line fell quiet
{
    QByteArray got;
    while (got.size() < count && port.waitForReadyRead(5000))
        got += port.readAll();
    return got;
}

// The board's count of bytes written ("wchar") or of write calls ("syscw"), to the line also
// while the host has it closed.
qint64 written(BoardProcess &board, const QByteArray &figure = "wchar")
{
    QFile io(QStringLiteral("/proc/%1/io").arg(board.process().processId()));
    const QByteArray text = io.open(QIODevice::ReadOnly) ? io.readAll() : QByteArray();
    return text.mid(text.indexOf(figure + ": ") + figure.size() + 2).split('\n').first().toLongLong();
}
} // namespace

class TestBoardLine : public QObject {
    Q_OBJECT
private slots:
    void badOptionsAreRejected_data();
    void badOptionsAreRejected();
    void theDevice();
    void runsTheDownloadAtTheLineBaud();
    void noiseIsSeededAndLostWhileTheHostIsAway();
};

void TestBoardLine::badOptionsAreRejected_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("version with two parts") << QStringList{"--kernel-version", "1.0"};
    QTest::newRow("version part too big") << QStringList{"--kernel-version", "1.256.0"};
    QTest::newRow("first byte too big") << QStringList{"--first-byte", "0x100"};
    QTest::newRow("refuse record 0") << QStringList{"--refuse-at", "0"};
    QTest::newRow("resend record 0") << QStringList{"--resend-at", "0"};
    QTest::newRow("baud not a number") << QStringList{"--baud", "fast"};
    QTest::newRow("stray argument") << QStringList{"extra"};
    QTest::newRow("unknown program") << QStringList{"--program", "z80"};
    QTest::newRow("line baud 0") << QStringList{"--line-baud", "0"};
    QTest::newRow("crystal not a number") << QStringList{"--crystal", "12MHz"};
    QTest::newRow("noise every 0") << QStringList{"--garbage-every", "0"};
    QTest::newRow("negative noise seed") << QStringList{"--garbage-seed", "-1"};
    QTest::newRow("link over a file, which stays") << QStringList{"--link", "FILE"};
}

void TestBoardLine::badOptionsAreRejected()
{
    QFETCH(QStringList, args);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("notes"));
    QVERIFY(writeFile(file, "keep me"));
    args.replaceInStrings(QRegularExpression(QStringLiteral("^FILE$")), file);
    QProcess board;
    board.start(QStringLiteral(CORVADE_BOARD_PATH), args);
    QVERIFY(board.waitForFinished(10000));
    QCOMPARE(board.exitCode(), 2);
    QVERIFY(board.readAllStandardOutput().isEmpty()); // no device named
    QCOMPARE(readFile(file), QByteArray("keep me"));
}

void TestBoardLine::theDevice()
{
    // A link replacing a stale one; a byte per write when split; gone with the host, link and all
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("board-link"));
    QFile::link(QStringLiteral("/nonexistent"), link);
    BoardProcess board;
    QSerialPort port(board.start({"--split", "--split-gap", "1", "--hangup-grace", "200"}, link));
    QVERIFY(port.open(QIODevice::ReadWrite));
    QCOMPARE(QFileInfo(link).symLinkTarget(), board.device());
    const qint64 calls = written(board, "syscw");
    port.write("\x01");
    QCOMPARE(readBytes(port, 4), QByteArray("\x01\x01\x00\x00", 4));
    QCOMPARE(written(board, "syscw") - calls, 4);
    port.close();
    QVERIFY(board.process().waitForFinished(10000) && board.process().exitCode() == 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestBoardLine::runsTheDownloadAtTheLineBaud()
{
    // Hello downloaded and run, the port closed and, once the greeting went out, opened again. The
    // host's end runs at 9600 baud, hello at 19200: the greeting arrives as read at 9600.
    BoardProcess board;
    QSerialPort port(board.start({"--line-baud", "9600"}));
    QVERIFY(port.open(QIODevice::ReadWrite));
    QFile hex(QStringLiteral(CORVADE_EXAMPLES_DIR "/hello.hex"));
    QVERIFY(hex.open(QIODevice::ReadOnly));
    port.write("\x02");
    for (const QByteArray &record : hex.readAll().simplified().split(' ')) {
        QCOMPARE(readBytes(port, 1), QByteArray("\x02"));
        port.write(record);
    }
    QCOMPARE(readBytes(port, 1), QByteArray("\x03"));
    QByteArray greeting;
    for (char c : QByteArray("Hello from the 8051!\r\nType something and it comes back.\r\n"))
        if (const std::optional<quint8> seen = sampleFrame(quint8(c), 19200, 9600))
            greeting.append(char(*seen));
    const qint64 before = written(board);
    port.write("\x03");
    QVERIFY(port.waitForBytesWritten(5000));
    port.close();
    QTRY_VERIFY_WITH_TIMEOUT(written(board) >= before + 1 + greeting.size(), 10000);
    QVERIFY(port.open(QIODevice::ReadWrite));
    QByteArray got = readBytes(port, greeting.size());
    if (got.startsWith('\x03')) // the acknowledgement, unless the closing port took it
        got = got.mid(1) + readBytes(port, greeting.size() + 1 - got.size());
    QCOMPARE(got, greeting);
}

void TestBoardLine::noiseIsSeededAndLostWhileTheHostIsAway()
{
    // A reply asked for as the host closes the line comes 300 ms later, while it is away: the
    // noise of that time must not wait for the host.
    BoardProcess board;
    QSerialPort port(board.start({"--garbage-every", "5", "--garbage-seed", "42", "--delay", "300"}));
    QVERIFY(port.open(QIODevice::ReadWrite));
    LineNoise noise(std::chrono::milliseconds(5), 42, {});
    QByteArray model;
    while (model.size() < 20000)
        model.append(char(*noise.take(noise.nextAt())));
    const QByteArray first = readBytes(port, 24); // a run of the model's bytes, its start missed
    qsizetype end = model.indexOf(first.right(8));
    QVERIFY2(end >= 0, first.toHex(' ').constData());
    port.write("\x01");
    QVERIFY(port.waitForBytesWritten(5000));
    end += 8 + port.readAll().size();
    port.close();
    const qint64 away = written(board);
    QTRY_VERIFY_WITH_TIMEOUT(written(board) >= away + 4, 10000); // the reply
    QVERIFY(port.open(QIODevice::ReadWrite));
    const QByteArray reply("\x01\x01\x00\x00", 4);
    QByteArray after;
    while ((!after.contains(reply) || after.size() < after.indexOf(reply) + 12) && port.waitForReadyRead(5000))
        after += port.readAll();
    const qsizetype at = after.indexOf(reply); // after noise sent before the close
    QVERIFY2(at >= 0, after.toHex(' ').constData());
    const qsizetype resumed = model.indexOf(after.mid(at + 4, 8), end);
    QVERIFY2(resumed > end + at, qPrintable(QStringLiteral("resumed at %1, left at %2").arg(resumed).arg(end + at)));
}

QTEST_GUILESS_MAIN(TestBoardLine)
#include "tst_board_line.moc"
