// corvade-board running a downloaded example on its emulated 8052, over the pseudo-terminal
// as Corvade drives it: start byte, one record per acknowledgement, run request, terminal.
#include "tests/link/BoardProcess.h"

#include <QFile>
#include <QSerialPort>
#include <QThread>
#include <QtTest>

#include <optional>

namespace {
const QByteArray kHelloGreeting = "Hello from the 8051!\r\nType something and it comes back.\r\n";

// Reads until `count` bytes came, or until the line stays quiet for `quietMs`.
QByteArray readBytes(QSerialPort &port, int count, int quietMs = 5000)
{
    QByteArray got;
    while (got.size() < count && port.waitForReadyRead(quietMs))
        got += port.readAll();
    return got;
}

// Everything until the line has been quiet for a while.
QByteArray readUntilQuiet(QSerialPort &port) { return readBytes(port, 1 << 20, 700); }

QList<QByteArray> exampleRecords(const char *name)
{
    QFile file(QStringLiteral(CORVADE_EXAMPLES_DIR "/%1.hex").arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> records;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.trimmed().startsWith(':'))
            records << line.trimmed();
    return records;
}

// Downloads the example as Corvade does and sends the run request. Returns what followed
// the run acknowledgement in the same read, or nothing (with a message in the log) when
// the kernel does not go along.
std::optional<QByteArray> downloadAndRun(QSerialPort &port, const char *example)
{
    const QList<QByteArray> records = exampleRecords(example);
    if (records.isEmpty()) {
        qWarning("no records in %s.hex", example);
        return std::nullopt;
    }
    port.write("\x02");
    if (readBytes(port, 1) != "\x02")
        return std::nullopt;
    for (int i = 0; i < records.size(); ++i) {
        port.write(records[i]);
        const QByteArray answer = readBytes(port, 1);
        const char expected = i + 1 == records.size() ? '\x03' : '\x02';
        if (answer != QByteArray(1, expected)) {
            qWarning("record %d answered %s", i + 1, answer.toHex().constData());
            return std::nullopt;
        }
    }
    port.write("\x03");
    const QByteArray answer = readBytes(port, 1);
    if (!answer.startsWith('\x03'))
        return std::nullopt;
    return answer.mid(1);
}

// The program's first `count` bytes after the run request.
QByteArray runAndRead(QSerialPort &port, const char *example, int count)
{
    const std::optional<QByteArray> first = downloadAndRun(port, example);
    if (!first)
        return "(download or run refused)";
    return *first + readBytes(port, count - int(first->size()));
}

bool openPort(QSerialPort &port, const QString &device)
{
    port.setPortName(device);
    port.setBaudRate(19200);
    return port.open(QIODevice::ReadWrite);
}
} // namespace

class TestBoardRun : public QObject {
    Q_OBJECT
private slots:
    void helloGreetsAndEchoes();
    void commandsComputes();
    void greetingSurvivesTheHostsReopen();
    void mismatchedLineBaudGivesGarbage_data();
    void mismatchedLineBaudGivesGarbage();
};

void TestBoardRun::helloGreetsAndEchoes()
{
    BoardProcess board;
    QSerialPort port;
    QVERIFY(openPort(port, board.start({})));
    QCOMPARE(runAndRead(port, "hello", kHelloGreeting.size()), kHelloGreeting);

    port.write("Corvade\r");
    QCOMPARE(readBytes(port, 9), QByteArray("Corvade\r\n"));
    // Every printable byte comes back as it went.
    QByteArray printable;
    for (int c = 0x20; c < 0x7F; ++c)
        printable.append(char(c));
    port.write(printable);
    QCOMPARE(readBytes(port, printable.size()), printable);
}

void TestBoardRun::commandsComputes()
{
    BoardProcess board;
    QSerialPort port;
    QVERIFY(openPort(port, board.start({})));
    const QByteArray ready = "Ready. Type help.\r\n> ";
    QCOMPARE(runAndRead(port, "commands", ready.size()), ready);
    // Typed, each key after the echo of the last: commands needs more than the stop bit's time
    // between two echoes, so like the chip it cannot echo a line pasted at the line's full rate.
    const QByteArray line = "add 1234 4321";
    for (char key : line) {
        port.write(&key, 1);
        QCOMPARE(readBytes(port, 1), QByteArray(1, key));
    }
    port.write("\r");
    const QByteArray answer = "\r\n5555\r\n> ";
    QCOMPARE(readBytes(port, answer.size()), answer);
}

void TestBoardRun::greetingSurvivesTheHostsReopen()
{
    // Corvade closes the port right after the run request and opens it again at the
    // terminal speed; the program's first words must still reach the terminal.
    BoardProcess board;
    QSerialPort port;
    QVERIFY(openPort(port, board.start({})));
    const QList<QByteArray> records = exampleRecords("hello");
    port.write("\x02");
    QCOMPARE(readBytes(port, 1), QByteArray("\x02"));
    for (int i = 0; i < records.size(); ++i) {
        port.write(records[i]);
        QCOMPARE(readBytes(port, 1).size(), 1);
    }
    port.write("\x03");
    QVERIFY(port.waitForBytesWritten(5000));
    port.close();
    QThread::msleep(150); // a slow reopen: the program has started sending meanwhile
    QVERIFY(openPort(port, board.device()));
    QByteArray got = readBytes(port, 1 + kHelloGreeting.size());
    if (got.startsWith('\x03'))
        got.remove(0, 1); // the acknowledgement, when it came after the reopen
    QCOMPARE(got, kHelloGreeting);
}

void TestBoardRun::mismatchedLineBaudGivesGarbage_data()
{
    QTest::addColumn<QString>("lineBaud");
    QTest::newRow("host at 9600") << QStringLiteral("9600");
    QTest::newRow("host at 38400") << QStringLiteral("38400");
}

void TestBoardRun::mismatchedLineBaudGivesGarbage()
{
    // hello sets 19200 baud; the host's end is said to run at another rate.
    QFETCH(QString, lineBaud);
    BoardProcess board;
    QSerialPort port;
    QVERIFY(openPort(port, board.start({"--line-baud", lineBaud})));
    const std::optional<QByteArray> first = downloadAndRun(port, "hello");
    QVERIFY(first);
    const QByteArray greeting = *first + readUntilQuiet(port);
    QVERIFY(!greeting.isEmpty());
    QVERIFY(greeting != kHelloGreeting);
    QVERIFY(!greeting.contains("Hello"));

    port.write("typed text");
    QVERIFY(!readUntilQuiet(port).contains("typed"));
}

QTEST_GUILESS_MAIN(TestBoardRun)
#include "tst_board_run.moc"
