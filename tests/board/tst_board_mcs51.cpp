// The emulated 8052 as the board's program: the line's sampling rule, pacing against a
// stepped clock, the serial port both ways, and where the program starts.
#include "board/Mcs51Program.h"
#include "board/UartSampling.h"
#include "mcs51/HexImage.h"

#include <QFile>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
const QByteArray kHelloGreeting = "Hello from the 8051!\r\nType something and it comes back.\r\n";

struct Sink : BoardOutput {
    QByteArray got;
    void send(const QByteArray &bytes) override { got += bytes; }
    QByteArray take()
    {
        QByteArray out;
        out.swap(got);
        return out;
    }
};

// A program with a stepped clock.
struct Rig {
    Mcs51Program::Clock::time_point now{};
    Sink out;
    Mcs51Program program;
    explicit Rig(Mcs51Options options = {}) : program(options, [this] { return now; }) {}
    void advance(std::chrono::milliseconds span)
    {
        for (auto passed = 0ms; passed < span; passed += Mcs51Program::kSlice) {
            now += Mcs51Program::kSlice;
            program.tick(out);
        }
    }
};

BoardMemory exampleMemory(const char *name)
{
    QFile file(QStringLiteral(CORVADE_EXAMPLES_DIR "/%1.hex").arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    const auto image = mcs51::HexImage::parse(file.readAll().toStdString());
    if (!image)
        qFatal("%s is not a HEX image", qPrintable(file.fileName()));
    BoardMemory memory;
    for (const auto &chunk : image->chunks)
        for (std::size_t i = 0; i < chunk.bytes.size(); ++i)
            memory.code[int((chunk.address + i) & 0xFFFF)] = char(chunk.bytes[i]);
    memory.entry = image->entry;
    memory.loaded = true;
    return memory;
}

// Serial port to mode 1 at 19200 baud (timer 1 auto-reload 0xFD, SMOD), receiver on.
const QByteArray kUartInit = QByteArray::fromHex("759850" "758920" "758DFD" "758BFD" "438780" "D28E");

QByteArray sendsThenStops(char byte)
{
    return kUartInit + QByteArray::fromHex("7599") + byte + QByteArray::fromHex("80FE"); // MOV SBUF,#b; SJMP $
}
} // namespace

class TestBoardMcs51 : public QObject {
    Q_OBJECT
private slots:
    void sampleFrame_data();
    void sampleFrame();
    void everyByteCrossesCloseRates_data();
    void everyByteCrossesCloseRates();
    void helloGreetsAndEchoes();
    void typedBurstIsNotOverrun_data();
    void typedBurstIsNotOverrun();
    void slowEchoFallsBehindABurst();
    void pacedByTheClock();
    void longStallIsSkippedNotRaced();
    void fastRunsWithoutTheClock();
    void mismatchedLineGarblesBothWays_data();
    void mismatchedLineGarblesBothWays();
    void startsAtTheNamedEntry_data();
    void startsAtTheNamedEntry();
    void receiverOffLosesBytes();
    void byteTypedBeforeTheFirstSliceArrivesOnTime();
};

void TestBoardMcs51::sampleFrame_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<double>("sent");
    QTest::addColumn<double>("read");
    QTest::addColumn<int>("seen"); // -1: lost

    QTest::newRow("same rate") << 0x55 << 19200.0 << 19200.0 << 0x55;
    QTest::newRow("reader 4 % fast") << 0xA5 << 19200.0 << 19968.0 << 0xA5;
    QTest::newRow("reader 4 % slow") << 0xA5 << 19200.0 << 18432.0 << 0xA5;
    // Read at half the rate, every other bit lands in the sample: bits 2, 4, 6, then stop.
    QTest::newRow("read at half rate") << int('H') << 19200.0 << 9600.0 << 0xFC;
    QTest::newRow("half rate, bit 0 set: start missed") << int('e') << 19200.0 << 9600.0 << -1;
    // Read at twice the rate, each bit is seen twice and the top ones never.
    QTest::newRow("read at double rate") << 0x0F << 19200.0 << 38400.0 << 0xFE;
    QTest::newRow("8 % off: last bit read from the stop bit") << 0x00 << 19200.0 << 17664.0 << 0x80;
    QTest::newRow("sender without a bit clock") << 0x41 << 0.0 << 19200.0 << -1;
    QTest::newRow("reader without a bit clock") << 0x41 << 19200.0 << 0.0 << -1;
}

void TestBoardMcs51::sampleFrame()
{
    QFETCH(int, byte);
    QFETCH(double, sent);
    QFETCH(double, read);
    QFETCH(int, seen);
    const std::optional<quint8> got = ::sampleFrame(quint8(byte), sent, read);
    QCOMPARE(got ? int(*got) : -1, seen);
}

void TestBoardMcs51::everyByteCrossesCloseRates_data()
{
    QTest::addColumn<double>("read");
    QTest::newRow("same") << 19200.0;
    QTest::newRow("2 % fast") << 19584.0;
    QTest::newRow("5 % slow") << 18240.0;
}

void TestBoardMcs51::everyByteCrossesCloseRates()
{
    QFETCH(double, read);
    for (int byte = 0; byte < 256; ++byte) {
        const std::optional<quint8> got = ::sampleFrame(quint8(byte), 19200.0, read);
        QVERIFY2(got && *got == byte, qPrintable(QString::number(byte, 16)));
    }
}

void TestBoardMcs51::helloGreetsAndEchoes()
{
    Rig rig;
    rig.program.start(exampleMemory("hello"), rig.out);
    rig.advance(200ms);
    QCOMPARE(rig.out.take(), kHelloGreeting);

    rig.program.receive("hi\r", rig.out);
    rig.advance(50ms);
    QCOMPARE(rig.out.take(), QByteArray("hi\r\n"));
    QCOMPARE(rig.program.counts().received, quint64(3));
    QCOMPARE(rig.program.counts().sentGarbled + rig.program.counts().sentLost, quint64(0));
}

void TestBoardMcs51::typedBurstIsNotOverrun_data()
{
    // When the burst comes, relative to the slices and so to the program's bit clock.
    QTest::addColumn<int>("startMicroseconds");
    QTest::newRow("on a slice") << 0;
    QTest::newRow("a third of a bit into a slice") << 3017;
    QTest::newRow("half a bit later") << 3043;
    QTest::newRow("most of a bit later") << 3060;
}

void TestBoardMcs51::typedBurstIsNotOverrun()
{
    // A paste arrives in one read; on the line the bytes still come back to back, one frame
    // apart, so a program that echoes each one as it comes loses none, as on the chip.
    QFETCH(int, startMicroseconds);
    Rig rig;
    rig.program.start(exampleMemory("hello"), rig.out);
    rig.advance(200ms);
    rig.out.take();
    rig.now += std::chrono::microseconds(startMicroseconds);
    const QByteArray burst = QByteArray("The quick brown fox jumps over the lazy dog 0123456789 ").repeated(4);
    rig.program.receive(burst, rig.out);
    rig.advance(500ms);
    QCOMPARE(rig.out.take(), burst);
    QCOMPARE(rig.program.counts().receivedLost, quint64(0));
    QCOMPARE(rig.program.counts().received, quint64(burst.size()));
}

void TestBoardMcs51::slowEchoFallsBehindABurst()
{
    // commands takes 52 cycles from TI to its next SBUF write, more than the stop bit's 48:
    // each echo starts a bit time late, so a burst at the line's full rate overruns the
    // receiver now and then, as it does on the chip. Typed keys all come back.
    Rig rig;
    rig.program.start(exampleMemory("commands"), rig.out);
    rig.advance(200ms);
    rig.out.take();
    const QByteArray burst = "abcdefghijklmnopqrst"; // the line holds 24
    rig.program.receive(burst, rig.out);
    rig.advance(100ms);
    const QByteArray echoed = rig.out.take();
    QVERIFY2(echoed.size() < burst.size(), echoed.constData());
    QCOMPARE(rig.program.counts().received, quint64(burst.size())); // lost inside the chip
    for (char key : QByteArray("xyz")) {
        rig.program.receive(QByteArray(1, key), rig.out);
        rig.advance(10ms);
    }
    QCOMPARE(rig.out.take(), QByteArray("xyz"));
}

void TestBoardMcs51::pacedByTheClock()
{
    Rig rig;
    rig.program.start(exampleMemory("hello"), rig.out);
    QCOMPARE(rig.program.tick(rig.out), int(Mcs51Program::kSlice.count()));
    QCOMPARE(rig.program.cpu().cycles(), quint64(0)); // no time has passed

    rig.advance(1000ms);
    // One second at 11.0592 MHz is 921600 machine cycles; the last instruction may overrun.
    QVERIFY2(rig.program.cpu().cycles() >= 921600 && rig.program.cpu().cycles() < 921600 + 4,
             qPrintable(QString::number(rig.program.cpu().cycles())));
}

void TestBoardMcs51::longStallIsSkippedNotRaced()
{
    Rig rig;
    rig.program.start(exampleMemory("hello"), rig.out);
    rig.advance(100ms);
    const std::uint64_t before = rig.program.cpu().cycles();
    rig.now += 30s; // the board was stopped
    rig.program.tick(rig.out);
    const std::uint64_t afterStall = rig.program.cpu().cycles();
    QVERIFY(afterStall - before <= 9216 + 4);
    rig.advance(100ms);
    QVERIFY(rig.program.cpu().cycles() - afterStall >= 92160 - 4);
    QVERIFY(rig.program.cpu().cycles() - afterStall <= 92160 + 4);
}

void TestBoardMcs51::fastRunsWithoutTheClock()
{
    Mcs51Options options;
    options.fast = true;
    Rig rig(options);
    rig.program.start(exampleMemory("hello"), rig.out);
    QCOMPARE(rig.program.tick(rig.out), 0);
    QVERIFY(rig.program.cpu().cycles() >= Mcs51Program::kFastBudget);
    QCOMPARE(rig.out.take(), kHelloGreeting); // 57 frames of 480 cycles fit in one budget
    rig.program.receive("ok", rig.out);
    rig.program.tick(rig.out);
    QCOMPARE(rig.out.take(), QByteArray("ok"));
}

void TestBoardMcs51::mismatchedLineGarblesBothWays_data()
{
    QTest::addColumn<double>("lineBaud");
    QTest::newRow("line at 9600") << 9600.0;
    QTest::newRow("line at 38400") << 38400.0;
    QTest::newRow("line 10 % slow") << 17280.0;
}

void TestBoardMcs51::mismatchedLineGarblesBothWays()
{
    QFETCH(double, lineBaud);
    Mcs51Options options;
    options.lineBaud = lineBaud;
    Rig rig(options);
    rig.program.start(exampleMemory("hello"), rig.out);
    rig.advance(200ms);
    const QByteArray greeting = rig.out.take();
    QVERIFY(greeting != kHelloGreeting);
    QCOMPARE(rig.program.counts().sent, quint64(kHelloGreeting.size()));
    QVERIFY(rig.program.counts().sentGarbled + rig.program.counts().sentLost > 0);

    const QByteArray typed = "abcdefgh";
    rig.program.receive(typed, rig.out);
    rig.advance(200ms);
    QVERIFY(rig.out.take() != typed);
    QVERIFY(rig.program.counts().receivedGarbled + rig.program.counts().receivedLost > 0);
}

void TestBoardMcs51::startsAtTheNamedEntry_data()
{
    QTest::addColumn<int>("entry"); // -1: none named
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("reset vector") << -1 << QByteArray("A");
    QTest::newRow("start address record") << 0x0100 << QByteArray("B");
}

void TestBoardMcs51::startsAtTheNamedEntry()
{
    QFETCH(int, entry);
    QFETCH(QByteArray, expected);
    BoardMemory memory;
    memory.code.replace(0x0000, sendsThenStops('A').size(), sendsThenStops('A'));
    memory.code.replace(0x0100, sendsThenStops('B').size(), sendsThenStops('B'));
    memory.loaded = true;
    if (entry >= 0)
        memory.entry = quint16(entry);
    Rig rig;
    rig.program.start(memory, rig.out);
    rig.advance(50ms);
    QCOMPARE(rig.out.take(), expected);
}

void TestBoardMcs51::receiverOffLosesBytes()
{
    BoardMemory memory;
    const QByteArray code = QByteArray::fromHex("759840" "758920" "758DFD" "D28E" "80FE"); // mode 1, REN clear
    memory.code.replace(0, code.size(), code);
    memory.loaded = true;
    Rig rig;
    rig.program.start(memory, rig.out);
    rig.advance(20ms);
    rig.program.receive("xy", rig.out);
    rig.advance(20ms);
    QCOMPARE(rig.program.counts().received, quint64(0));
    QCOMPARE(rig.program.counts().receivedLost, quint64(2));
    QCOMPARE(rig.program.cpu().peekDirect(mcs51::sfr::SCON) & 0x01, 0); // RI never rose
}

void TestBoardMcs51::byteTypedBeforeTheFirstSliceArrivesOnTime()
{
    // 5 ms after the run request the program has long switched its receiver on, even
    // though the core has not run a cycle yet when the byte comes in.
    Rig rig;
    rig.program.start(exampleMemory("hello"), rig.out);
    rig.program.tick(rig.out);
    rig.now += 5ms;
    rig.program.receive("x", rig.out);
    rig.advance(200ms);
    QCOMPARE(rig.out.take(), kHelloGreeting + "x");
    QCOMPARE(rig.program.counts().receivedLost, quint64(0));
}

QTEST_GUILESS_MAIN(TestBoardMcs51)
#include "tst_board_mcs51.moc"
