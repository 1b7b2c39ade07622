// Runs of any length must leave the core exactly where single steps do. The
// run loop brings timers and the serial port up to date only when something
// can change, so these programs keep every timer mode, both serial clocks,
// frame-timed modes, gating and nested interrupts busy while the test cuts
// the run into chunks of random size and compares all state after each.
#include "mcs51/Cpu.h"
#include "mcs51/HexImage.h"

#include <QFile>
#include <QtTest>

#include <memory>
#include <random>
#include <vector>

using mcs51::Cpu;
using mcs51::RxResult;
using mcs51::Variant;
namespace sfr = mcs51::sfr;

namespace {

// What a board would see of a core: transmitted frames and hooked SFR writes,
// with the time and the counters at that moment.
struct Observer
{
    std::vector<std::uint64_t> events;
    int frames = 0;

    // loopback: every frame sent comes straight back to the receiver.
    void attach(Cpu &cpu, bool hooks, bool loopback)
    {
        cpu.onTransmit = [this, &cpu, loopback](std::uint8_t byte, double baud) {
            events.insert(events.end(), {1, byte, std::uint64_t(baud), cpu.cycles()});
            ++frames;
            if (loopback)
                events.push_back(std::uint64_t(cpu.receiveByte(byte, baud)));
        };
        if (!hooks)
            return;
        cpu.sfrWriteHook = [this, &cpu](std::uint8_t address, std::uint8_t value) {
            events.insert(events.end(), {2, address, value, cpu.cycles(), cpu.peekDirect(sfr::TL0),
                                         cpu.peekDirect(sfr::TL1), cpu.peekDirect(sfr::TL2)});
        };
        cpu.sfrReadHook = [this, &cpu](std::uint8_t address, std::uint8_t &) {
            events.insert(events.end(), {3, address, cpu.cycles(), cpu.peekDirect(sfr::TH0)});
            return false;
        };
        cpu.xdataWriteHook = [](std::uint16_t, std::uint8_t) { return false; };
        cpu.xdataReadHook = [](std::uint16_t, std::uint8_t &) { return false; };
    }
};

// The first difference between the two cores' visible state, or empty.
QString difference(const Cpu &run, const Cpu &stepped)
{
    auto diff = [](const char *what, quint64 a, quint64 b) {
        return QStringLiteral("%1: run %2, steps %3").arg(QLatin1String(what)).arg(a, 0, 16).arg(b, 0, 16);
    };
    if (run.cycles() != stepped.cycles())
        return diff("cycles", run.cycles(), stepped.cycles());
    if (run.pc() != stepped.pc())
        return diff("pc", run.pc(), stepped.pc());
    if (run.instructions() != stepped.instructions())
        return diff("instructions", run.instructions(), stepped.instructions());
    if (run.receiverBusy() != stepped.receiverBusy())
        return diff("receiver busy", run.receiverBusy(), stepped.receiverBusy());
    for (int a = 0; a < 256; ++a) {
        if (run.iram(std::uint8_t(a)) != stepped.iram(std::uint8_t(a)))
            return QStringLiteral("RAM %1: ").arg(a, 2, 16, QLatin1Char('0'))
                + diff("value", run.iram(std::uint8_t(a)), stepped.iram(std::uint8_t(a)));
        if (a >= 0x80 && run.peekDirect(std::uint8_t(a)) != stepped.peekDirect(std::uint8_t(a)))
            return QStringLiteral("SFR %1: ").arg(a, 2, 16, QLatin1Char('0'))
                + diff("value", run.peekDirect(std::uint8_t(a)), stepped.peekDirect(std::uint8_t(a)));
    }
    return {};
}

} // namespace

class TestScheduling : public QObject
{
    Q_OBJECT
private slots:
    void chunksMatchSteps_data();
    void chunksMatchSteps();
};

void TestScheduling::chunksMatchSteps_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<bool>("is8051");
    QTest::addColumn<bool>("hooks");
    QTest::addColumn<bool>("receive"); // bytes offered between chunks
    QTest::addColumn<bool>("loopback");
    // The scenario must really get this busy.
    QTest::addColumn<int>("minInterrupts");
    QTest::addColumn<int>("minFrames");

    QTest::newRow("timer 1 baud clock, polled transmitter, timer 0 mode 1")
        << 0x100 << false << false << true << false << 20 << 100;
    QTest::newRow("same on the 8051") << 0x100 << true << false << true << false << 20 << 100;
    QTest::newRow("same with every hook set") << 0x100 << false << true << true << false << 20 << 100;
    QTest::newRow("SMOD, interrupt-driven serial port, timer 0 mode 2")
        << 0x200 << false << false << true << false << 100 << 200;
    QTest::newRow("same with every hook set") << 0x200 << false << true << true << false << 100 << 200;
    QTest::newRow("same with the transmitter looped back to the receiver")
        << 0x200 << false << false << false << true << 100 << 200;
    QTest::newRow("timer 0 mode 3, timer 2 transmit clock") << 0x300 << false << false << true << false << 20 << 200;
    QTest::newRow("gated timer 0 mode 0, timer 2 reload, serial modes 2 and 0")
        << 0x400 << false << false << false << false << 20 << 1000;
    QTest::newRow("same with every hook set") << 0x400 << false << true << false << false << 20 << 1000;
    QTest::newRow("nested timer interrupts, INT0 by the program") << 0x500 << false << false << false << false << 100 << 0;
    QTest::newRow("same on the 8051") << 0x500 << true << false << false << false << 100 << 0;
}

void TestScheduling::chunksMatchSteps()
{
    QFETCH(int, entry);
    QFETCH(bool, is8051);
    QFETCH(bool, hooks);
    QFETCH(bool, receive);
    QFETCH(bool, loopback);
    QFETCH(int, minInterrupts);
    QFETCH(int, minFrames);

    QFile file(QStringLiteral(TIMERS_HEX));
    QVERIFY2(file.open(QIODevice::ReadOnly), TIMERS_HEX);
    const auto image = mcs51::HexImage::parse(file.readAll().toStdString());
    QVERIFY(image);
    const Variant variant = is8051 ? Variant::I8051 : Variant::I8052;
    Cpu run(variant, 11059200.0), stepped(variant, 11059200.0);
    Observer runSeen, stepSeen;
    for (auto [cpu, seen] : {std::make_pair(&run, &runSeen), std::make_pair(&stepped, &stepSeen)}) {
        image->loadAndReset(*cpu);
        cpu->setPc(std::uint16_t(entry));
        seen->attach(*cpu, hooks, loopback);
    }

    std::mt19937 random(std::uint32_t(entry) * 7 + (is8051 ? 1 : 0) + (hooks ? 2 : 0));
    std::vector<std::uint16_t> seenPcs{std::uint16_t(entry)};
    std::uint8_t rxByte = 0x20;
    int chunks = 0;
    while (run.cycles() < 400000) {
        // Chunks from one cycle to tens of thousands, some ending at an
        // address the program passes.
        const std::uint64_t size = 1 + (random() % (1u << (random() % 16)));
        const bool stop = random() % 4 == 0;
        run.run(size, stop ? int(seenPcs[random() % seenPcs.size()]) : -1);
        while (stepped.cycles() < run.cycles()) {
            stepped.step();
            if (seenPcs.size() < 4096)
                seenPcs.push_back(stepped.pc());
        }
        ++chunks;
        const QString diff = difference(run, stepped);
        QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("after chunk %1 (%2 cycles): %3")
                                                .arg(chunks).arg(run.cycles()).arg(diff)));
        QVERIFY2(runSeen.events == stepSeen.events,
                 qPrintable(QStringLiteral("events differ after chunk %1 (%2 and %3 words)")
                                .arg(chunks).arg(runSeen.events.size()).arg(stepSeen.events.size())));
        if (receive && random() % 3 == 0) {
            const double baud = run.uartBaud();
            const RxResult a = run.receiveByte(rxByte, baud);
            QCOMPARE(stepped.receiveByte(rxByte, baud), a);
            if (a == RxResult::Accepted)
                ++rxByte;
        }
    }
    int interrupts = 0;
    for (std::uint8_t a = 0x30; a <= 0x38; ++a)
        interrupts += run.iram(a);
    QVERIFY2(interrupts >= minInterrupts, qPrintable(QString::number(interrupts)));
    QVERIFY2(runSeen.frames >= minFrames, qPrintable(QString::number(runSeen.frames)));
    if (receive || loopback)
        QVERIFY2(run.iram(0x35) > 0, "nothing was received");
}

QTEST_APPLESS_MAIN(TestScheduling)
#include "tst_scheduling.moc"
