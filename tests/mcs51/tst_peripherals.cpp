// Timers, the serial port and the interrupt system, driven by small programs.
#include "mcs51/Cpu.h"

#include <QtTest>

#include <memory>
#include <vector>

using mcs51::Cpu;
using mcs51::RxResult;
using mcs51::Variant;
namespace sfr = mcs51::sfr;

namespace {

std::unique_ptr<Cpu> makeCpu(const std::vector<std::uint8_t> &code, Variant variant = Variant::I8052)
{
    auto cpu = std::make_unique<Cpu>(variant);
    cpu->loadCode(0, code);
    cpu->reset();
    return cpu;
}

// Steps until pc is reached; returns false when it takes more than limit steps.
bool stepTo(Cpu &cpu, std::uint16_t pc, int limit = 100000)
{
    for (int i = 0; i < limit; ++i) {
        if (cpu.pc() == pc)
            return true;
        cpu.step();
    }
    return false;
}

// Timer 1 mode 2 at TH1 = 0xFD, mode 1 with REN; 9600 baud (SMOD 0) or 19200 at 11.0592 MHz.
std::vector<std::uint8_t> uartSetup(bool smod)
{
    return {0x75, 0x98, 0x50, 0x75, 0x87, std::uint8_t(smod ? 0x80 : 0x00), 0x75, 0x89, 0x20,
            0x75, 0x8D, 0xFD, 0x75, 0x8B, 0xFD, 0xD2, 0x8E};
}

} // namespace

class TestPeripherals : public QObject
{
    Q_OBJECT
private slots:
    void timerModes_data();
    void timerModes();
    void timer0Mode3SplitsTimers();
    void timer2AutoReload();
    void interruptPriority();
    void interruptWaitsAfterReti();
    void uartTransmitTiming_data();
    void uartTransmitTiming();
    void uartReceive();
    void hooks();
};

void TestPeripherals::timerModes_data()
{
    QTest::addColumn<quint8>("tmod");
    QTest::addColumn<quint8>("th");
    QTest::addColumn<quint8>("tl");
    QTest::addColumn<int>("cyclesToOverflow");

    QTest::newRow("mode 0, 13 bits") << quint8(0x00) << quint8(0xFF) << quint8(0x1C) << 4;
    QTest::newRow("mode 0 ignores TL bits 5-7") << quint8(0x00) << quint8(0xFF) << quint8(0xFC) << 4;
    QTest::newRow("mode 1, 16 bits") << quint8(0x01) << quint8(0xFF) << quint8(0xF0) << 16;
    QTest::newRow("mode 2 reload") << quint8(0x02) << quint8(0xF0) << quint8(0xFE) << 2;
    QTest::newRow("mode 1 full period") << quint8(0x01) << quint8(0x00) << quint8(0x00) << 65536;
}

void TestPeripherals::timerModes()
{
    QFETCH(quint8, tmod);
    QFETCH(quint8, th);
    QFETCH(quint8, tl);
    QFETCH(int, cyclesToOverflow);
    // MOV TMOD,#tmod ; MOV TH0,#th ; MOV TL0,#tl ; SETB TR0 ; loop: NOP ; SJMP loop
    auto cpu = makeCpu({0x75, 0x89, tmod, 0x75, 0x8C, th, 0x75, 0x8A, tl, 0xD2, 0x8C, 0x00, 0x80, 0xFD});
    for (int i = 0; i < 4; ++i)
        cpu->step();
    const quint64 started = cpu->cycles();
    while (!(cpu->peekDirect(sfr::TCON) & 0x20) && cpu->cycles() - started < 200000)
        cpu->step();
    // TF0 rises within the instruction during which the count passes the top;
    // the cycle of the SETB TR0 that started the timer already counts.
    const qint64 elapsed = qint64(cpu->cycles() - started) + 1;
    QVERIFY2(elapsed >= cyclesToOverflow && elapsed <= cyclesToOverflow + 1, qPrintable(QString::number(elapsed)));
    if (tmod == 0x02)
        QVERIFY(cpu->peekDirect(sfr::TL0) >= 0xF0); // reloaded from TH0
}

void TestPeripherals::timer0Mode3SplitsTimers()
{
    // TMOD: timer 0 mode 3, timer 1 mode 2. TL0 runs on TR0 and sets TF0; TH0
    // runs on TR1 and sets TF1; timer 1 keeps counting with TR1 but sets no flag.
    // MOV TMOD,#0x23 ; MOV TL0,#0xFE ; MOV TH0,#0x00 ; SETB TR1 ; SETB TR0 ; SJMP $
    auto cpu = makeCpu({0x75, 0x89, 0x23, 0x75, 0x8A, 0xFE, 0x75, 0x8C, 0x00, 0xD2, 0x8E, 0xD2, 0x8C, 0x80, 0xFE});
    cpu->run(5 * 2);
    cpu->run(20);
    const quint8 tcon = cpu->peekDirect(sfr::TCON);
    QVERIFY(tcon & 0x20);                   // TF0 from TL0
    QVERIFY(!(tcon & 0x80));                // TH0 has not wrapped yet
    QVERIFY(cpu->peekDirect(sfr::TL1) != 0); // timer 1 counts
    cpu->run(300);
    QVERIFY(cpu->peekDirect(sfr::TCON) & 0x80); // TF1 from TH0
}

void TestPeripherals::timer2AutoReload()
{
    // MOV RCAP2H,#0xFF ; MOV RCAP2L,#0xF0 ; MOV TH2,#0xFF ; MOV TL2,#0xFE ; SETB TR2 ; SJMP $
    auto cpu = makeCpu({0x75, 0xCB, 0xFF, 0x75, 0xCA, 0xF0, 0x75, 0xCD, 0xFF, 0x75, 0xCC, 0xFE, 0xD2, 0xCA, 0x80, 0xFE});
    for (int i = 0; i < 6; ++i)
        cpu->step(); // the SJMP's 2 cycles overflow it
    QVERIFY(cpu->peekDirect(sfr::T2CON) & 0x80);
    QCOMPARE(cpu->peekDirect(sfr::TH2), quint8(0xFF));
    QVERIFY(cpu->peekDirect(sfr::TL2) >= 0xF0);
    // The 8051 has no timer 2: the same program leaves the bytes as written.
    auto c51 = makeCpu({0x75, 0xCD, 0xFF, 0x75, 0xCC, 0xFE, 0xD2, 0xCA, 0x80, 0xFE}, Variant::I8051);
    c51->run(100);
    QCOMPARE(c51->peekDirect(sfr::TL2), quint8(0xFE));
}

void TestPeripherals::interruptPriority()
{
    // Both INT0 (low priority) and timer 0 (high) are requested; timer 0 goes first,
    // then its RETI lets INT0 in; INT0's routine is interrupted by nothing low.
    std::vector<std::uint8_t> code(0x100, 0);
    // 0000: MOV IP,#0x02 ; MOV IE,#0x83 ; MOV TCON,#0x23 (TF0, IE0, IT0) ; SJMP $
    const std::uint8_t main[] = {0x75, 0xB8, 0x02, 0x75, 0xA8, 0x83, 0x75, 0x88, 0x23, 0x80, 0xFE};
    std::copy(std::begin(main), std::end(main), code.begin() + 0x40);
    code[0] = 0x02; code[1] = 0x00; code[2] = 0x40;                  // LJMP 0x40
    code[0x03] = 0x05; code[0x04] = 0x30; code[0x05] = 0x32;          // INT0: INC 0x30 ; RETI
    code[0x0B] = 0x85; code[0x0C] = 0x30; code[0x0D] = 0x31; code[0x0E] = 0x32; // T0: MOV 0x31,0x30 ; RETI
    auto cpu = makeCpu(code);
    QVERIFY(stepTo(*cpu, 0x49));
    cpu->step(); // IE/IP were written two instructions ago, TCON just now: entry to timer 0
    QCOMPARE(cpu->pc(), quint16(0x0B));
    QVERIFY(!(cpu->peekDirect(sfr::TCON) & 0x20)); // TF0 cleared by the hardware
    QVERIFY(cpu->peekDirect(sfr::TCON) & 0x02);    // IE0 still waiting
    QVERIFY(stepTo(*cpu, 0x03, 10));
    QCOMPARE(cpu->iram(0x31), quint8(0)); // timer 0 ran before INT0
    QVERIFY(!(cpu->peekDirect(sfr::TCON) & 0x02)); // edge-triggered: cleared on entry
    QVERIFY(stepTo(*cpu, 0x49, 10));
    QCOMPARE(cpu->iram(0x30), quint8(1));
    QCOMPARE(cpu->sp(), quint8(0x07));

    // A low-priority request waits while a low routine runs, and a high one does not.
    std::vector<std::uint8_t> nest(0x100, 0);
    nest[0] = 0x02; nest[1] = 0x00; nest[2] = 0x40;
    // main: MOV IP,#0x02 ; MOV IE,#0x87 ; SETB IT0 ; SETB IE0 ; SJMP $
    const std::uint8_t nmain[] = {0x75, 0xB8, 0x02, 0x75, 0xA8, 0x87, 0xD2, 0x88, 0xD2, 0x89, 0x80, 0xFE};
    std::copy(std::begin(nmain), std::end(nmain), nest.begin() + 0x40);
    // INT0 (low): SETB IE1 (low, must wait) ; SETB TF0 (high, nests) ; NOP ; NOP ; RETI
    const std::uint8_t int0[] = {0xD2, 0x8B, 0xD2, 0x8D, 0x00, 0x00, 0x32};
    std::copy(std::begin(int0), std::end(int0), nest.begin() + 0x03);
    nest[0x0B] = 0x05; nest[0x0C] = 0x31; nest[0x0D] = 0x32; // T0: INC 0x31 ; RETI
    nest[0x13] = 0x05; nest[0x14] = 0x32; nest[0x15] = 0x32; // INT1: INC 0x32 ; RETI
    auto n = makeCpu(nest);
    QVERIFY(stepTo(*n, 0x03));
    QVERIFY(stepTo(*n, 0x0B, 10)); // the high-priority timer nests into INT0
    QCOMPARE(n->iram(0x32), quint8(0));
    QVERIFY(stepTo(*n, 0x13, 20)); // INT1 only after INT0's RETI
    QCOMPARE(n->iram(0x31), quint8(1));
    QVERIFY(stepTo(*n, 0x4A, 10));
    QCOMPARE(n->iram(0x32), quint8(1));
}

void TestPeripherals::interruptWaitsAfterReti()
{
    // After RETI at least one instruction of the interrupted program runs
    // before the next interrupt, even if one is pending (data sheet,
    // interrupt response). Timer 0 keeps TF0 set by the routine itself.
    std::vector<std::uint8_t> code(0x80, 0);
    code[0] = 0x02; code[1] = 0x00; code[2] = 0x40;
    // main: MOV IE,#0x82 ; SETB TF0 ; loop: INC 0x30 ; SJMP loop
    const std::uint8_t main[] = {0x75, 0xA8, 0x82, 0xD2, 0x8D, 0x05, 0x30, 0x80, 0xFC};
    std::copy(std::begin(main), std::end(main), code.begin() + 0x40);
    code[0x0B] = 0xD2; code[0x0C] = 0x8D; code[0x0D] = 0x32; // SETB TF0 ; RETI
    auto cpu = makeCpu(code);
    for (int i = 0; i < 200; ++i)
        cpu->step();
    // Each round: entry, SETB, RETI, then one INC or SJMP of the main loop.
    QVERIFY(cpu->iram(0x30) >= 20);
}

void TestPeripherals::uartTransmitTiming_data()
{
    QTest::addColumn<int>("variant");
    QTest::addColumn<bool>("smod");
    QTest::addColumn<double>("baud");
    QTest::addColumn<int>("frameCycles");

    // Ten bits of 32 (SMOD: 16) timer overflows every 3 machine cycles.
    // s51 sends twice as fast on its 8052 types with SMOD clear; the data
    // sheet's rate is the same for both parts.
    QTest::newRow("8051 9600") << int(Variant::I8051) << false << 9600.0 << 960;
    QTest::newRow("8052 9600") << int(Variant::I8052) << false << 9600.0 << 960;
    QTest::newRow("8052 19200") << int(Variant::I8052) << true << 19200.0 << 480;
}

void TestPeripherals::uartTransmitTiming()
{
    QFETCH(int, variant);
    QFETCH(bool, smod);
    QFETCH(double, baud);
    QFETCH(int, frameCycles);
    std::vector<std::uint8_t> code = uartSetup(smod);
    const std::uint16_t send = std::uint16_t(code.size());
    // MOV SBUF,#'A' ; JNB TI,$ ; MOV SBUF,#'B' ; JNB TI,$ ; SJMP $ (TI is not cleared:
    // the second byte is measured from its own SBUF write)
    code.insert(code.end(), {0x75, 0x99, 0x41, 0x30, 0x99, 0xFD, 0xC2, 0x99, 0x75, 0x99, 0x42, 0x30, 0x99, 0xFD, 0x80, 0xFE});
    auto cpu = makeCpu(code, Variant(variant));
    std::vector<std::pair<quint8, double>> sent;
    std::vector<quint64> when;
    cpu->onTransmit = [&](std::uint8_t byte, double rate) {
        sent.emplace_back(byte, rate);
        when.push_back(cpu->cycles());
    };
    QVERIFY(stepTo(*cpu, send));
    QCOMPARE(cpu->uartBaud(), baud);
    const quint64 start = cpu->cycles();
    QVERIFY(stepTo(*cpu, std::uint16_t(send + 6)));
    QCOMPARE(sent.size(), size_t(1));
    QCOMPARE(sent[0].first, quint8('A'));
    QCOMPARE(sent[0].second, baud);
    // TI rises one frame after the write, give or take one timer period.
    const qint64 frame = qint64(when[0] - start) - 2; // the MOV SBUF itself
    QVERIFY2(qAbs(frame - frameCycles) <= 3, qPrintable(QString::number(frame)));
    QVERIFY(stepTo(*cpu, std::uint16_t(send + 14)));
    QCOMPARE(sent.size(), size_t(2));
    QVERIFY(qAbs(qint64(when[1] - when[0]) - frameCycles) <= 8);
}

void TestPeripherals::uartReceive()
{
    std::vector<std::uint8_t> code = uartSetup(true);
    code.insert(code.end(), {0x80, 0xFE}); // SJMP $
    auto cpu = makeCpu(code);
    QCOMPARE(cpu->receiveByte('x', 19200), RxResult::Disabled); // REN not yet set
    QVERIFY(stepTo(*cpu, std::uint16_t(code.size() - 2)));
    QCOMPARE(cpu->receiveByte('x', 9600), RxResult::RateMismatch);
    QCOMPARE(cpu->receiveByte('x', 19200 * 1.04), RxResult::RateMismatch);
    const quint64 start = cpu->cycles();
    QCOMPARE(cpu->receiveByte('x', 19200 * 1.01), RxResult::Accepted);
    QCOMPARE(cpu->receiveByte('y', 19200), RxResult::Busy);
    QVERIFY(cpu->receiverBusy());
    while (!(cpu->peekDirect(sfr::SCON) & 0x01) && cpu->cycles() - start < 5000)
        cpu->step();
    // RI rises a frame (480 cycles at 19200) after the byte began.
    QVERIFY(qAbs(qint64(cpu->cycles() - start) - 480) <= 4);
    QCOMPARE(cpu->peekDirect(sfr::SBUF), quint8('x'));
    QVERIFY(!cpu->receiverBusy());
    // While RI is still set, the next frame is lost (overrun), as on the chip.
    QCOMPARE(cpu->receiveByte('z', 19200), RxResult::Accepted);
    cpu->run(600);
    QCOMPARE(cpu->peekDirect(sfr::SBUF), quint8('x'));
    // REN clear: nothing is received.
    auto off = makeCpu({0x75, 0x98, 0x40, 0x80, 0xFE});
    off->step();
    QCOMPARE(off->receiveByte('x', 19200), RxResult::Disabled);
}

void TestPeripherals::hooks()
{
    // MOV DPTR,#0x8000 ; MOV A,#0x12 ; MOVX @DPTR,A ; MOVX A,@DPTR ; MOV P1,A ; MOV A,P2 ; SJMP $
    auto cpu = makeCpu({0x90, 0x80, 0x00, 0x74, 0x12, 0xF0, 0xE0, 0xF5, 0x90, 0xE5, 0xA0, 0x80, 0xFE});
    std::vector<std::pair<int, int>> xwrites, sfrWrites;
    cpu->xdataWriteHook = [&](std::uint16_t a, std::uint8_t v) {
        xwrites.emplace_back(a, v);
        return a >= 0x8000; // memory-mapped device above 0x8000
    };
    cpu->xdataReadHook = [](std::uint16_t a, std::uint8_t &v) {
        v = std::uint8_t(a >> 8);
        return a >= 0x8000;
    };
    cpu->sfrWriteHook = [&](std::uint8_t a, std::uint8_t v) { sfrWrites.emplace_back(a, v); };
    cpu->sfrReadHook = [](std::uint8_t a, std::uint8_t &v) {
        if (a != sfr::P2)
            return false;
        v = 0x3C; // pins driven from outside
        return true;
    };
    cpu->run(20, 0x0B);
    QCOMPARE(xwrites.size(), size_t(1));
    QCOMPARE(xwrites[0], std::make_pair(0x8000, 0x12));
    QCOMPARE(cpu->xram(0x8000), quint8(0)); // the hook took it
    QCOMPARE(cpu->peekDirect(sfr::P1), quint8(0x80));
    QVERIFY(sfrWrites.size() == 1 && sfrWrites[0] == std::make_pair(int(sfr::P1), 0x80));
    QCOMPARE(cpu->a(), quint8(0x3C));
    QCOMPARE(cpu->pc(), quint16(0x0B));
}

QTEST_APPLESS_MAIN(TestPeripherals)
#include "tst_peripherals.moc"
