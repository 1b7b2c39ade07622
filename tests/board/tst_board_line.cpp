// corvade-board as a program: its options, its device, its log and when it ends.
#include "tests/link/BoardProcess.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Reads from the port until `count` bytes came or nothing more comes; counts the deliveries.
QByteArray readBytes(QSerialPort &port, int count, int *deliveries = nullptr)
{
    QByteArray got;
    int reads = 0;
    while (got.size() < count && port.waitForReadyRead(5000)) {
        got += port.readAll();
        ++reads;
    }
    if (deliveries)
        *deliveries = reads;
    return got;
}

bool openPort(QSerialPort &port, const QString &device)
{
    port.setPortName(device);
    port.setBaudRate(19200);
    return port.open(QIODevice::ReadWrite);
}
} // namespace

class TestBoardLine : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void helpNamesEveryOption();
    void badOptionsAreRejected_data();
    void badOptionsAreRejected();
    void linkNamesTheDevice();
    void conversation();
    void splitRepliesComeByteByByte();
    void endsWhenTheHostCloses();
    void reopenWithinGraceKeepsTheBoard();
    void endsAtTimeLimit();

private:
    QTemporaryDir m_dir;
};

void TestBoardLine::helpNamesEveryOption()
{
    QProcess board;
    board.start(QStringLiteral(CORVADE_BOARD_PATH), {QStringLiteral("--help")});
    QVERIFY(board.waitForFinished(10000));
    QCOMPARE(board.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(board.readAllStandardOutput());
    for (const char *option : {"--link", "--kernel-version", "--silent", "--first-byte", "--refuse-at", "--resend-at",
                               "--pull-at", "--split", "--split-gap", "--delay", "--baud", "--log", "--time-limit",
                               "--hangup-grace", "--program", "--line-baud", "--crystal", "--fast"})
        QVERIFY2(help.contains(QLatin1String(option)), option);
}

void TestBoardLine::badOptionsAreRejected_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("version with two parts") << QStringList{"--kernel-version", "1.0"};
    QTest::newRow("version part too big") << QStringList{"--kernel-version", "1.256.0"};
    QTest::newRow("first byte too big") << QStringList{"--first-byte", "0x100"};
    QTest::newRow("record 0") << QStringList{"--refuse-at", "0"};
    QTest::newRow("baud not a number") << QStringList{"--baud", "fast"};
    QTest::newRow("stray argument") << QStringList{"extra"};
    QTest::newRow("unknown program") << QStringList{"--program", "z80"};
    QTest::newRow("line baud 0") << QStringList{"--line-baud", "0"};
    QTest::newRow("crystal not a number") << QStringList{"--crystal", "12MHz"};
    QTest::newRow("noise every 0") << QStringList{"--garbage-every", "0"};
    QTest::newRow("noise every not a number") << QStringList{"--garbage-every", "often"};
    QTest::newRow("negative noise seed") << QStringList{"--garbage-seed", "-1"};
}

void TestBoardLine::badOptionsAreRejected()
{
    QFETCH(QStringList, args);
    QProcess board;
    board.start(QStringLiteral(CORVADE_BOARD_PATH), args);
    QVERIFY(board.waitForFinished(10000));
    QCOMPARE(board.exitCode(), 2);
    QVERIFY(board.readAllStandardOutput().isEmpty());
}

void TestBoardLine::linkNamesTheDevice()
{
    const QString link = m_dir.filePath(QStringLiteral("board-link"));
    QFile::link(QStringLiteral("/nonexistent"), link); // a stale link from an earlier run is replaced
    BoardProcess board;
    const QString device = board.start({}, link);
    QVERIFY(device.startsWith(QStringLiteral("/dev/")));
    QCOMPARE(QFileInfo(link).symLinkTarget(), device);
    board.stop();
    QVERIFY2(!QFileInfo(link).isSymLink(), "the link goes with the board");
}

void TestBoardLine::conversation()
{
    const QString log = m_dir.filePath(QStringLiteral("conversation.log"));
    BoardProcess board;
    QSerialPort port;
    QVERIFY(openPort(port, board.start({"--kernel-version", "2.5.9", "--program", "echo"}, {}, log)));

    port.write("\x01");
    QCOMPARE(readBytes(port, 4), QByteArray("\x01\x02\x05\x09", 4));
    port.write("\x02");
    QCOMPARE(readBytes(port, 1), QByteArray("\x02"));
    port.write(":0300000002000BF0");
    QCOMPARE(readBytes(port, 1), QByteArray("\x02"));
    port.write(":00000001FF");
    QCOMPARE(readBytes(port, 1), QByteArray("\x03"));
    port.write("\x03");
    const QByteArray greeting = "\x03Hello from corvade-board\r\n";
    QCOMPARE(readBytes(port, greeting.size()), greeting);
    port.write("hi\n");
    QCOMPARE(readBytes(port, 3), QByteArray("hi\n"));

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray wire = QByteArray::fromHex(file.readAll().replace(' ', "").replace('\n', ""));
    QCOMPARE(wire, QByteArray("\x01\x02:0300000002000BF0:00000001FF\x03hi\n"));
}

void TestBoardLine::splitRepliesComeByteByByte()
{
    BoardProcess board;
    QSerialPort port;
    QVERIFY(openPort(port, board.start({"--split", "--split-gap", "40"})));
    port.write("\x01");
    int deliveries = 0;
    QCOMPARE(readBytes(port, 4, &deliveries), QByteArray("\x01\x01\x00\x00", 4));
    QVERIFY2(deliveries >= 2, "a split reply arrives in pieces");
}

void TestBoardLine::endsWhenTheHostCloses()
{
    BoardProcess board;
    QSerialPort port;
    QVERIFY(openPort(port, board.start({"--hangup-grace", "200"})));
    port.write("\x01");
    readBytes(port, 4);
    port.close();
    QVERIFY(board.process().waitForFinished(10000));
    QCOMPARE(board.process().exitCode(), 0);
}

void TestBoardLine::reopenWithinGraceKeepsTheBoard()
{
    BoardProcess board;
    QSerialPort port;
    const QString device = board.start({"--hangup-grace", "3000"});
    QVERIFY(openPort(port, device));
    port.close();
    QVERIFY(openPort(port, device));
    port.write("\x01");
    QCOMPARE(readBytes(port, 4), QByteArray("\x01\x01\x00\x00", 4));
    QCOMPARE(board.process().state(), QProcess::Running);
}

void TestBoardLine::endsAtTimeLimit()
{
    QProcess board;
    board.start(QStringLiteral(CORVADE_BOARD_PATH), {QStringLiteral("--time-limit"), QStringLiteral("1")});
    QVERIFY(board.waitForFinished(10000));
    QCOMPARE(board.exitStatus(), QProcess::NormalExit);
    QCOMPARE(board.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestBoardLine)
#include "tst_board_line.moc"
