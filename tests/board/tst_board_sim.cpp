// The simulated board without a pseudo-terminal: the kernel's protocol byte by byte, the
// line noise, the UART sampling rule, and the emulated 8052 running the examples against a
// clock the test steps.
#include "board/KernelSim.h"
#include "board/LineNoise.h"
#include "board/Mcs51Program.h"
#include "board/UartSampling.h"

#include <QFile>
#include <QtTest>

using namespace std::chrono;
using Mode = KernelSim::Mode;

namespace {
const QByteArray kRec1 = ":0300000002000BF0"; // 3 bytes at 0x0000
const QByteArray kRec2 = ":02010000E4F326";   // 2 bytes at 0x0100
const QByteArray kEof = ":00000001FF";
const QByteArray kHello = "Hello from the 8051!\r\nType something and it comes back.\r\n";

// Kernel 2.5.9 wired as in corvade-board: a run request after a download of data starts the
// emulated 8052, otherwise the echoing stand-in. The test steps the clock.
struct Board {
    QByteArray replies, output;
    int pulls = 0;
    Mcs51Program::Clock::time_point now{};
    Mcs51Program *mcs51;
    std::unique_ptr<KernelSim> kernel;
    explicit Board(KernelFaults faults = {}, Mcs51Options options = {})
    {
        auto program = std::make_unique<Mcs51Program>(options, [this] { return now; });
        mcs51 = program.get();
        kernel = std::make_unique<KernelSim>(
            2, 5, 9, faults,
            KernelSim::Callbacks{[this](const QByteArray &b) { replies += b; },
                                 [this](const QByteArray &b) { output += b; }, [this] { ++pulls; }},
            std::make_unique<DownloadedOrStandIn>(std::move(program), std::make_unique<EchoProgram>()));
    }
    void run(const char *example) // downloads the example's HEX file and runs it
    {
        QFile file(QStringLiteral(CORVADE_EXAMPLES_DIR "/%1.hex").arg(QLatin1String(example)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        kernel->receive("\x02" + file.readAll().simplified().replace(' ', "") + "\x03");
    }
    void advance(milliseconds span)
    {
        for (auto passed = 0ms; passed < span; passed += Mcs51Program::kSlice) {
            now += Mcs51Program::kSlice;
            kernel->tick();
        }
    }
    QByteArray take() { return std::exchange(output, {}); }
    std::uint64_t cycles() const { return mcs51->cpu().cycles(); }
};

struct Exchange {
    KernelFaults faults; // silent, first byte, refuse at, resend at, pull at
    QByteArrayList reads;
    QByteArray replies, output; // the kernel's, and the started program's
    Mode mode;
    int pc;          // where the 8052 starts; -1: not looked at
    QByteArray code; // 4 bytes at 0x0000 and 0x0100 in hex; empty: not looked at
};

} // namespace
Q_DECLARE_METATYPE(Exchange)

class TestBoardSim : public QObject {
    Q_OBJECT
private slots:
    void kernelExchanges_data();
    void kernelExchanges();
    void noise();
    void sampleFrame_data();
    void sampleFrame();
    void helloEchoesWhatIsTyped_data();
    void helloEchoesWhatIsTyped();
    void pacedByTheClock();
    void aSlowEchoLosesPartOfABurst();
};

void TestBoardSim::kernelExchanges_data()
{
    QTest::addColumn<Exchange>("x");
    const QByteArray all = "\x02" + kRec1 + kRec2 + kEof, greeting = EchoProgram::greeting();
    QByteArrayList perByte;
    for (char c : all)
        perByte << QByteArray(1, c);
    const auto exchange = [](const char *name, KernelFaults faults, QByteArrayList reads, const char *replies,
                             Mode mode = Mode::Command, const QByteArray &output = {}, int pc = -1,
                             const char *code = "") {
        QTest::newRow(name) << Exchange{faults, reads, QByteArray::fromHex(replies), output, mode, pc, code};
    };
    const QByteArray linear = ":0400000500000123D3", segment = ":0400000300100004E5"; // 0x0123, 0010:0004
    exchange("version", {}, {"\x01"}, "01020509");
    exchange("unknown byte ignored, two requests in one read", {}, {"\x55\x01\x01"}, "0102050901020509");
    exchange("replies start with another byte", {false, 7}, {"\x01\x02"}, "0702050907", Mode::Download);
    exchange("silent", {true}, {"\x01"}, "");
    exchange("download in one read, the end record completes", {}, {all}, "02020203");
    exchange("download a byte a read", {}, perByte, "02020203");
    exchange("lower-case hex", {}, {"\x02", ":0300000002000bf0", kEof}, "020203");
    exchange("bad checksum asks for a resend", {}, {"\x02", ":0300000002000BF1", kRec1, kEof}, "02040203");
    exchange("not a record is refused", {}, {"\x02", "hello"}, "0206");
    exchange("non-hex inside a record is refused", {}, {"\x02", ":03000000020G0BF0"}, "0206");
    exchange("refuse record 2", {false, -1, 2}, {"\x02", kRec1, kRec2}, "020206");
    exchange("resend record 2 once", {false, -1, 0, 2}, {"\x02", kRec1, kRec2, kRec2, kEof}, "0202040203");
    exchange("pulled at record 2, then deaf", {false, -1, 0, 0, 2}, {all, "\x01"}, "0202", Mode::Pulled);
    exchange("a request ends an abandoned download", {}, {"\x02", kRec1, "\x01"}, "020201020509");
    exchange("run without a download: the stand-in gets the line", {}, {"\x03" "ab", "\x01\x02\x03"}, "03",
             Mode::Running, greeting + "ab\x01\x02\x03");
    exchange("run after a download: it, from 0000", {}, {all, "\x03"}, "0202020303", Mode::Running, {}, 0,
             "02000bffe4f3ffff");
    exchange("linear start address", {}, {"\x02" + kRec1 + linear + kEof + "\x03"}, "0202020303", Mode::Running, {},
             0x123);
    exchange("segment start address", {}, {"\x02" + segment + kRec1 + kEof + "\x03"}, "0202020303", Mode::Running, {},
             0x104);
    exchange("a later download without one", {}, {"\x02" + kRec1 + linear + kEof, "\x02" + kRec2 + kEof + "\x03"},
             "0202020302020303", Mode::Running, {}, 0, "02000bffe4f3ffff");
    exchange("run after a download of no data", {}, {"\x02", kEof, "\x03"}, "020303", Mode::Running, greeting);
}

void TestBoardSim::kernelExchanges()
{
    QFETCH(Exchange, x);
    Board board(x.faults);
    for (const QByteArray &read : x.reads)
        board.kernel->receive(read);
    QCOMPARE(board.replies.toHex(' '), x.replies.toHex(' '));
    QCOMPARE(board.output, x.output);
    QCOMPARE(board.kernel->mode(), x.mode);
    QCOMPARE(board.pulls, x.mode == Mode::Pulled ? 1 : 0);
    if (x.pc >= 0)
        QCOMPARE(board.mcs51->cpu().pc(), x.pc);
    const QByteArray &code = board.kernel->memory().code;
    QVERIFY(x.code.isEmpty() || (code.left(4) + code.mid(0x100, 4)).toHex() == x.code);
}

void TestBoardSim::noise()
{
    const auto punctualNoise = [](milliseconds every, quint32 seed, int count) { // each byte taken on time
        LineNoise noise(every, seed, {});
        QByteArray out;
        while (out.size() < count)
            out.append(char(*noise.take(noise.nextAt())));
        return out;
    };
    QCOMPARE(punctualNoise(5ms, 7, 4000), punctualNoise(5ms, 7, 4000));
    QVERIFY(punctualNoise(5ms, 7, 200) != punctualNoise(5ms, 8, 200));
    const QByteArray all = punctualNoise(5ms, 1, 4000);
    const QSet<char> seen(all.cbegin(), all.cend());
    for (char code : {0, 1, 2, 3, 4, 6, -1}) // or noise would never pass for a reply
        QVERIFY(seen.contains(code));
    // Gaps from half to one and a half times the mean, both ends reached.
    for (const microseconds every : {1000us, 50000us}) {
        LineNoise a(duration_cast<milliseconds>(every), 11, {});
        LineNoise::Clock::duration shortest = 1h, longest{};
        LineNoise::Clock::time_point last{};
        for (int i = 0; i < 2000; ++i) {
            shortest = std::min(shortest, a.nextAt() - last);
            longest = std::max(longest, a.nextAt() - last);
            last = a.nextAt();
            QVERIFY(a.take(last));
        }
        QVERIFY(shortest >= every / 2 && longest <= every * 3 / 2 && longest - shortest > every / 2);
        const double mean = double(duration_cast<microseconds>(last.time_since_epoch()).count()) / 2000;
        QVERIFY2(std::abs(mean / double(every.count()) - 1) < 0.05, qPrintable(QString::number(mean)));
    }
    // Nothing before its moment; a loop held up for many gaps sends one byte only.
    LineNoise noise(30ms, 5, {});
    const auto due = noise.nextAt(), late = due + 3s;
    QVERIFY(!noise.take(due - 1us) && noise.nextAt() == due);
    QVERIFY(noise.take(due) && noise.nextAt() > due);
    QVERIFY(noise.take(late) && !noise.take(late) && noise.nextAt() > late);
}

void TestBoardSim::sampleFrame_data()
{
    QTest::addColumn<QList<double>>("frame"); // byte (-1: every byte, each seen as itself), sent, read, seen (-1: lost)
    QTest::newRow("reader 2 % fast") << QList<double>{-1, 19200, 19584, -1};
    QTest::newRow("reader 5 % slow") << QList<double>{-1, 19200, 18240, -1};
    // At half the rate every other bit lands in the sample: bits 2, 4, 6, then the stop bit.
    QTest::newRow("read at half rate") << QList<double>{'H', 19200, 9600, 0xFC};
    QTest::newRow("half rate, bit 0 set: start bit missed") << QList<double>{'e', 19200, 9600, -1};
    QTest::newRow("read at double rate: bits seen twice") << QList<double>{0x0F, 19200, 38400, 0xFE};
    QTest::newRow("8 % slow: last bit read from the stop bit") << QList<double>{0x00, 19200, 17664, 0x80};
    QTest::newRow("sender without a bit clock") << QList<double>{0x41, 0, 19200, -1};
    QTest::newRow("reader without a bit clock") << QList<double>{0x41, 19200, 0, -1};
}

void TestBoardSim::sampleFrame()
{
    QFETCH(QList<double>, frame);
    const int byte = int(frame[0]);
    for (int b = std::max(byte, 0); b <= (byte < 0 ? 255 : byte); ++b) {
        const std::optional<quint8> got = ::sampleFrame(quint8(b), frame[1], frame[2]);
        QCOMPARE(got ? int(*got) : -1, byte < 0 ? b : int(frame[3]));
    }
}

void TestBoardSim::helloEchoesWhatIsTyped_data()
{
    QTest::addColumn<double>("lineBaud"); // hello sets 19200
    QTest::addColumn<int>("typedAt");     // microseconds after the run request
    QTest::addColumn<QByteArray>("typed"); // and echoed
    // The core lags the wall clock by up to a slice: a key 5 ms after the run must find the receiver on.
    QTest::newRow("a key before the first slice") << 19200.0 << 5000 << QByteArray("x");
    // A paste comes in one read but reaches the pin a frame a byte: echoed as it comes, none lost.
    const QByteArray paste = QByteArray("The quick brown fox jumps over the lazy dog 0123456789 ").repeated(4);
    for (int phase : {0, 3017, 3043, 3060})
        QTest::newRow(qPrintable(QStringLiteral("a paste %1 us into a slice").arg(phase)))
            << 19200.0 << 200000 + phase << paste;
    // Another rate on the line garbles both ways, as on a real one.
    for (double lineBaud : {9600.0, 38400.0, 17280.0})
        QTest::newRow(qPrintable(QStringLiteral("line at %1 baud").arg(lineBaud)))
            << lineBaud << 200000 << QByteArray("abcdefgh");
}

void TestBoardSim::helloEchoesWhatIsTyped()
{
    QFETCH(double, lineBaud);
    QFETCH(int, typedAt);
    QFETCH(QByteArray, typed);
    Board board({}, Mcs51Options{11059200.0, lineBaud, false});
    board.run("hello");
    board.advance(milliseconds(typedAt / 10000 * 10));
    board.now += microseconds(typedAt % 10000);
    board.kernel->receive(typed);
    board.advance(700ms);
    QCOMPARE(board.take() == kHello + typed, lineBaud == 19200);
    const Mcs51Program::Counts &c = board.mcs51->counts();
    const quint64 spoilt = c.sentGarbled + c.sentLost, unread = c.receivedGarbled + c.receivedLost;
    QVERIFY(lineBaud == 19200 ? spoilt + unread == 0 && c.received == quint64(typed.size()) : spoilt && unread);
}

void TestBoardSim::pacedByTheClock()
{
    Board board;
    board.run("hello");
    QCOMPARE(board.kernel->tick(), int(Mcs51Program::kSlice.count())); // the board may sleep a slice
    board.advance(1000ms); // 921600 machine cycles at 11.0592 MHz; the last instruction may overrun
    QVERIFY2(board.cycles() - 921600 < 4, qPrintable(QString::number(board.cycles())));
    // Time the core did not see (the board was stopped) is skipped, not raced through: a slice a tick.
    const std::uint64_t before = board.cycles();
    board.now += 30s;
    board.advance(100ms);
    QVERIFY2(board.cycles() - before - (92160 - 4) <= 8, qPrintable(QString::number(board.cycles() - before)));
    Board fast({}, Mcs51Options{11059200.0, 19200.0, true}); // unpaced: a fixed budget a tick, no sleep
    fast.run("hello");
    QCOMPARE(fast.kernel->tick(), 0);
    QVERIFY(fast.cycles() >= Mcs51Program::kFastBudget);
    QCOMPARE(fast.take(), kHello); // 57 frames of 480 cycles fit in one budget
}

void TestBoardSim::aSlowEchoLosesPartOfABurst()
{
    // commands takes 52 cycles from TI to its next SBUF write, a stop bit 48: a burst overruns it now and then.
    Board board;
    board.run("commands");
    board.advance(200ms);
    board.kernel->receive("abcdefghijklmnopqrst");
    board.advance(100ms);
    QVERIFY(board.take().size() < QByteArray("Ready. Type help.\r\n> abcdefghijklmnopqrst").size());
    QCOMPARE(board.mcs51->counts().received, 20u);
}

QTEST_GUILESS_MAIN(TestBoardSim)
#include "tst_board_sim.moc"
