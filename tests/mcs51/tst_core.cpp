// The 8051/8052 core against the data sheet: small programs as hex bytes with their final state,
// the serial port's frame timing, and runs cut into chunks of any size against single steps.
#include "mcs51/Cpu.h"
#include "mcs51/HexImage.h"

#include <QFile>
#include <QtTest>

#include <memory>
#include <random>

using mcs51::Cpu;
using mcs51::RxResult;
using mcs51::Variant;
namespace sfr = mcs51::sfr;

namespace {
constexpr int CY = 0x80, AC = 0x40, OV = 0x04;

// "bytes @hhhh bytes ...": hex code from 0x0000, or from the address after each @. The
// PC starts at the first byte loaded.
std::unique_ptr<Cpu> load(QByteArray program, Variant variant = Variant::I8052)
{
    auto cpu = std::make_unique<Cpu>(variant);
    int start = -1;
    const QByteArrayList parts = program.replace(' ', "").split('@');
    for (int i = 0; i < parts.size(); ++i) {
        const int address = i == 0 ? 0 : parts[i].left(4).toInt(nullptr, 16);
        const QByteArray bytes = QByteArray::fromHex(i == 0 ? parts[i] : parts[i].mid(4));
        cpu->loadCode(std::uint16_t(address), reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
        start = start < 0 && !bytes.isEmpty() ? address : start;
    }
    cpu->reset();
    cpu->setPc(std::uint16_t(std::max(start, 0)));
    return cpu;
}

QByteArray h(int byte) { return QByteArray::number(byte | 0x100, 16).right(2); }

// The first item of "NAME=value ..." the core does not match: registers, SFRs, flags, or two
// hex digits for internal RAM as @Ri sees it. Values are hex but for the counts CYC and UND.
QString mismatch(const Cpu &c, const QString &expected)
{
    static const QHash<QString, int> sfrs{{"A", sfr::ACC},     {"B", sfr::B},     {"SP", sfr::SP},   {"P1", sfr::P1},
                                          {"TCON", sfr::TCON}, {"TL0", sfr::TL0}, {"TH0", sfr::TH0}, {"TL1", sfr::TL1},
                                          {"T2CON", sfr::T2CON}, {"TL2", sfr::TL2}, {"TH2", sfr::TH2}};
    static const QHash<QString, int> flags{{"CY", CY}, {"AC", AC}, {"OV", OV}, {"P", 0x01}};
    for (const QString &item : expected.split(' ')) {
        const QString name = item.section('=', 0, 0);
        const quint64 want = item.section('=', 1).toULongLong(nullptr, name == "CYC" || name == "UND" ? 10 : 16);
        const quint64 got = name == "PC" ? c.pc() : name == "CYC" ? c.cycles() : name == "UND" ? c.undefinedOpcodes()
            : name[0] == 'R' ? c.reg(name[1].digitValue()) : flags.contains(name) ? (c.psw() & flags[name]) != 0
            : sfrs.contains(name) ? c.peekDirect(std::uint8_t(sfrs[name])) : c.iram(std::uint8_t(name.toUInt(0, 16)));
        if (got != want)
            return QStringLiteral("%1, but it is %2").arg(item).arg(got, 0, 16);
    }
    return {};
}

void program(const char *name, const QByteArray &code, int steps, const QString &expected, bool i8051 = false)
{
    QTest::newRow(name) << code << steps << i8051 << expected;
}

// ADD, ADDC or SUBB (op: its #data form) on #data, direct 40, @R0 and R2 must agree, after MOV 40,#operand ;
// MOV R0,#40 ; MOV R2,#operand ; MOV PSW,#preset (AC, OV set where they must clear) ; MOV A,#a.
void alu(const char *name, int op, int a, int operand, bool carryIn, int result, int flags)
{
    const int preset = (carryIn ? CY : 0) | (flags & OV ? 0 : OV) | (flags & AC ? 0 : AC);
    const QByteArray setup = "7540" + h(operand) + "7840 7A" + h(operand) + "75D0" + h(preset) + "74" + h(a);
    const QString expected = QStringLiteral("A=%1 CY=%2 AC=%3 OV=%4")
                                 .arg(result, 0, 16).arg(flags >> 7).arg(flags >> 6 & 1).arg(flags >> 2 & 1);
    for (const QByteArray &form : {h(op) + h(operand), h(op + 1) + "40", h(op + 2), h(op + 6)})
        program(qPrintable(QStringLiteral("%1 (%2)").arg(name, form.left(2))), setup + form, 6, expected);
}

// The serial port's clock at 11.0592 MHz: timer 1 reloading FD (an overflow every 3 machine
// cycles) or timer 2 reloading FFDC for both directions (a 16x tick every 6).
enum SerialClock { Timer1, Timer2 };
struct Frames {
    int mode;
    SerialClock clock;
    bool smod;
    double baud, bitCycles;
    double secondWriteBits; // after TI was seen; < 1: within the stop bit
    double tolerance;       // cycles: a poll loop's pass and one 16x tick
    QByteArray setup() const // SCON: the mode with REN ; PCON: SMOD ; the clock running
    {
        static const QByteArray clocks[] = {"758920758DFD758BFDD28E", "75CBFF75CADC75CDFF75CCDC75C834"};
        return "7598" + h(mode << 6 | 0x10) + "7587" + (smod ? "80" : "00") + clocks[clock];
    }
};

} // namespace
Q_DECLARE_METATYPE(Frames)

class TestCore : public QObject {
    Q_OBJECT
private slots:
    void programs_data();
    void programs();
    void uartFrames_data();
    void uartFrames();
    void hooks();
    void chunksMatchSteps_data();
    void chunksMatchSteps();
};

void TestCore::programs_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<int>("steps");
    QTest::addColumn<bool>("i8051");
    QTest::addColumn<QString>("expected");

    alu("ADD: AC from bit 3, 08+08", 0x24, 0x08, 0x08, false, 0x10, AC);
    alu("ADD: OV, 7F+1", 0x24, 0x7F, 0x01, false, 0x80, AC | OV);
    alu("ADD: OV and CY, 80+80", 0x24, 0x80, 0x80, false, 0x00, CY | OV);
    alu("ADD: CY, no OV, FF+1", 0x24, 0xFF, 0x01, false, 0x00, CY | AC);
    alu("ADD: two negatives, no OV", 0x24, 0xC0, 0xC0, false, 0x80, CY);
    alu("ADD ignores CY", 0x24, 0x10, 0x20, true, 0x30, 0);
    alu("ADDC: carry makes AC", 0x34, 0x0F, 0x00, true, 0x10, AC);
    alu("ADDC: carry makes CY", 0x34, 0xFF, 0x00, true, 0x00, CY | AC);
    alu("ADDC: carry makes OV", 0x34, 0x7F, 0x00, true, 0x80, AC | OV);
    alu("SUBB: equal", 0x94, 0x42, 0x42, false, 0x00, 0);
    alu("SUBB: borrow from bit 4", 0x94, 0x10, 0x01, false, 0x0F, AC);
    alu("SUBB: borrow out", 0x94, 0x00, 0x01, false, 0xFF, CY | AC);
    alu("SUBB: borrow in", 0x94, 0x05, 0x05, true, 0xFF, CY | AC);
    alu("SUBB: OV, 80-1", 0x94, 0x80, 0x01, false, 0x7F, AC | OV);
    alu("SUBB: OV and CY, 7F-FF", 0x94, 0x7F, 0xFF, false, 0x80, CY | OV);
    // MOV A,#x ; ADD A,#y ; DA A. DA may set CY but never clears it.
    program("DA: low digit over 9", "7415 2406 D4", 3, "A=21 CY=0");
    program("DA: AC from 09+09", "7409 2409 D4", 3, "A=18 CY=0");
    program("DA: high digit over 9", "7450 2460 D4", 3, "A=10 CY=1");
    program("DA: CY from 90+90", "7490 2490 D4", 3, "A=80 CY=1");
    program("DA: 99+01 wraps", "7499 2401 D4", 3, "A=00 CY=1");
    program("DA: low adjust overflows", "74F0 240A D4", 3, "A=60 CY=1");
    program("DA keeps a set carry", "D3 7400 D4", 3, "A=60 CY=1");
    // SETB C ; MOV A,#a ; MOV B,#b ; MUL/DIV AB: CY cleared. Division by 0 keeps A and B.
    program("MUL", "D3 740C 75F00A A4", 4, "A=78 B=00 CY=0 OV=0");
    program("MUL over 255 sets OV", "D3 7450 75F0A0 A4", 4, "A=00 B=32 CY=0 OV=1");
    program("DIV", "D3 74FB 75F012 84", 4, "A=0D B=11 CY=0 OV=0");
    program("DIV by 0", "D3 7433 75F000 84", 4, "A=33 B=00 CY=0 OV=1");
    // P follows A in every cycle and cannot be written (MOV PSW ; MOV C,P ; MOV 30,PSW).
    program("P set by A, not by MOV PSW", "7401 75D000 A2D0 85D030", 4, "P=1 CY=1 30=81");
    program("P clear by A, not by MOV PSW", "7403 75D001 A2D0", 3, "P=0 CY=0");
    // CLR P1.7 ; CLR P1.0 ; SETB B.3 ; CPL ACC.0 ; SETB 2F.7 ; MOV C,B.3 ; MOV 20.0,C ; JBC B.3,+0
    program("bit addresses in SFRs and RAM", "C297 C290 D2F3 B2E0 D27F A2F3 9200 10F300", 8,
            "P1=7E A=01 2F=80 20=01 B=00 PC=0011");
    // The bank is whatever PSW.4 and PSW.3 hold, however they were written; then MOV R7,#22.
    program("bank by MOV PSW", "75D008 7F22", 2, "0F=22 R7=22 07=00");
    program("bank by SETB RS1", "D2D4 7F22", 2, "17=22 R7=22 07=00");
    program("bank by CPL RS0 and RS1", "B2D3 B2D4 7F22", 3, "1F=22 R7=22 07=00");
    // MOV R0,#90 ; MOV @R0,#5A ; MOV P1,#11 ; MOV A,@R0: upper RAM and P1 share the address.
    program("8052 upper RAM", "7890 765A 759011 E6", 4, "A=5A P1=11 90=5A");
    program("8051 has no upper RAM", "7890 765A 759011 E6", 4, "A=FF P1=11 90=00", true);
    program("PUSH SP stores SP after the increment", "758160 C081", 2, "61=61 SP=61");
    // LCALL 0105 ; ACALL 0110 (same 2K page) ; MOV DPTR,#0200 ; MOV A,#2 ; JMP @A+DPTR ; RET ; RET
    program("calls and returns", "120105 80FE @0105 3110 22 @0110 900200 7402 73 @0202 22", 7,
            "PC=0003 SP=07 08=03 09=00 0A=07 0B=01");
    program("AJMP stays in the 2K page", "E123", 1, "PC=0723");
    program("MOVC A,@A+PC counts from the next instruction", "7401 83 00 99", 2, "A=99");
    program("operands wrap past FFFF", "@FFFF 7442", 1, "A=42 PC=0001");
    // With A=1 and CY=1 each of JNZ, JZ, JC, JNC skips the INC Rn after it when it jumps.
    program("conditional jumps", "7401 7001 08 6001 09 D3 4001 0A 5001 0B", 8, "PC=000F R0=00 R1=01 R2=00 R3=01");
    program("CJNE: equal, no CY, no jump; less, CY, jump", "D3 7401 B40101 08 85D030 B40201 09", 6,
            "30=01 R0=01 R1=00 CY=1 PC=000E"); // SETB C ; MOV A,#1 ; CJNE A,#1 ; INC R0 ; MOV 30,PSW ; CJNE A,#2
    // ORL, ANL, XRL, SWAP, RL, RR, CPL, RLC, RRC, each result stored from 30 on.
    program("accumulator operations",
            "745A 4481 F530 54F0 F531 6433 F532 C4 F533 23 F534 03 F535 F4 F536 C3 33 F537 13", 19,
            "30=DB 31=D0 32=E3 33=3E 34=7C 35=3E 36=C1 37=82 A=C1 CY=0");
    program("undefined opcode A5 is a counted NOP", "A5A5 7442", 3, "A=42 PC=0004 CYC=3 UND=2");
    // NOP MUL DIV MOVX INC-DPTR MOV-d,d CJNE DJNZ JBC MOV-C,b MOV-b,C MOV-d,@R MOV-@R,# MOV-R7 DJNZ LJMP
    program("lengths and cycles", "00 A4 84 E0 A3 853031 B40000 D53200 100000 A200 9201 8633 7600 7F03 DFFE 020020",
            18, "PC=0020 CYC=36");

    // MOV TMOD ; MOV TH0 ; MOV TL0 ; SETB TR0 (its own cycle counts) ; NOP ; SJMP back.
    program("timer mode 0: 13 bits", "758900 758CFF 758A1C D28C 00 80FD", 6, "TCON=30 TH0=00 TL0=00");
    program("timer mode 0 keeps TL bits 5-7", "758900 758CFF 758AFC D28C 00 80FD", 6, "TCON=30 TH0=00 TL0=E0");
    program("timer mode 1: one count short", "758901 758CFF 758AF0 D28C 00 80FD", 13, "TCON=10 TH0=FF TL0=FE");
    program("timer mode 1: 16 bits", "758901 758CFF 758AF0 D28C 00 80FD", 14, "TCON=30 TH0=00 TL0=00");
    program("timer mode 2 reloads TL from TH", "758902 758CF0 758AFE D28C 00 80FD", 5, "TCON=30 TH0=F0 TL0=F0");
    program("timer GATE with INT0 high", "758909 758CFF 758AF0 D28C 00 80FD", 14, "TCON=30 TL0=00");
    program("timer GATE with INT0 low", "758909 758CFF 758AF0 C2B2 D28C 00 80FD", 20, "TCON=12 TL0=F0");
    program("timer counting T0 pin edges", "758905 758CFF 758AF0 D28C 00 80FD", 20, "TCON=10 TL0=F0");
    // Mode 3: TL0 runs on TR0 and sets TF0, TH0 on TR1 and sets TF1, timer 1 runs flagless.
    program("timer 0 mode 3: TL0 overflows", "758923 758AFE 758C80 D28E D28C 80FE", 20, "TCON=70 TL0=1D TH0=A0 TL1=26");
    program("timer 0 mode 3: TH0 overflows", "758923 758AFE 758C80 D28E D28C 80FE", 68, "TCON=F0 TH0=00 TL1=86");
    // RCAP2 = FFF0 ; TH2:TL2 = FFFE ; SETB TR2: reloads and sets TF2 on the 8052 only.
    program("timer 2 auto-reload", "75CBFF 75CAF0 75CDFF 75CCFE D2CA 80FE", 6, "T2CON=84 TH2=FF TL2=F1");
    program("8051 has no timer 2", "75CBFF 75CAF0 75CDFF 75CCFE D2CA 80FE", 6, "TL2=FE", true);
    // EXEN2, then CLR P1.1 (T2EX). Capture, running: RCAP2 (to 30/31) gets the count at the CLR;
    // EXF2 calls CLR EXF2 ; INC 32 ; RETI. Auto-reload: TH2:TL2 from RCAP2.
    program("timer 2 captures on T2EX", "020040 @002B C2CE053232 @0040 D2AD D2AF 75C80D 00 C291 85CA30 85CB31 80FE",
            20, "30=03 31=00 32=01");
    program("timer 2 reloads on T2EX", "75CBAB 75CACD 75C808 C291", 4, "T2CON=48 TH2=AB TL2=CD");

    // INT0 (low: INC 30) and timer 0 (high: MOV 31,30) asked for right after the IE, IP writes.
    const char *both = "020040 @0003 053032 @000B 85303132 @0040 75B802 75A883 758823 80FE";
    program("interrupt: high priority first, flag cleared", both, 5, "PC=000B TCON=03 SP=09");
    program("interrupt: low one after the high one's RETI", both, 12, "PC=0049 30=01 31=00 SP=07 TCON=01");
    // INT0 (low) sets IE1 (low) and TF0 (high). Timer 0: SP to 35, 31++; INT1: 31 to 34, SP to 36, 32++.
    program("interrupt: high nests into low, low waits",
            "020040 @0003 D28BD28D000032 @000B 8581350531 32 @0013 853134 858136 0532 C28B 32 "
            "@0040 75B802 75A887 D288 D289 80FE",
            30, "31=01 32=01 34=01 35=0B 36=09 SP=07");
    // After RETI one instruction runs before the next entry: SETB TF0 ; RETI asks again.
    program("interrupt: one instruction after RETI", "020040 @000B D28D32 @0040 75A882 D28D 0530 80FC", 200, "30=19");
    // INT0/INT1 follow P3 as written. Edge INT0 (IT0): CLR P3.2 asks once. Level INT1: MOV P3,#F7
    // asks until the routine (INC 30 ; SETB P3.3 ; RETI) raises the pin.
    program("interrupt: INT0 edge written to P3.2", "020040 @0003 053032 @0040 D288 75A881 C2B2 80FE", 20, "30=01 TCON=01");
    program("interrupt: INT1 level written to P3", "020040 @0013 0530D2B332 @0040 75A884 75B0F7 80FE", 20, "30=01 TCON=00");
}

void TestCore::programs()
{
    QFETCH(QByteArray, code);
    QFETCH(int, steps);
    QFETCH(bool, i8051);
    QFETCH(QString, expected);
    auto cpu = load(code, i8051 ? Variant::I8051 : Variant::I8052);
    for (int i = 0; i < steps; ++i)
        cpu->step();
    const QString wrong = mismatch(*cpu, expected);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

// The data sheet: TI "is set by hardware ... at the beginning of the stop bit", a frame starting at the
// first rollover of the divide-by-16 counter after the SBUF write: 9 to 10 bit times (10 to 11 with a
// ninth bit) after it, on the wire a bit later. RI "is set ... halfway through the stop bit time".
void TestCore::uartFrames_data()
{
    QTest::addColumn<Frames>("f");
    QTest::newRow("mode 1, timer 1, 9600") << Frames{1, Timer1, false, 9600, 96, 0.5, 8};
    QTest::newRow("mode 1, timer 1, SMOD, 19200") << Frames{1, Timer1, true, 19200, 48, 0.5, 5};
    QTest::newRow("write after the stop bit waits for a rollover") << Frames{1, Timer1, true, 19200, 48, 1.5, 5};
    QTest::newRow("mode 1, timer 2, 9600") << Frames{1, Timer2, false, 9600, 96, 0.5, 8};
    QTest::newRow("timer 2, write after the stop bit") << Frames{1, Timer2, false, 9600, 96, 2.5, 8};
    QTest::newRow("mode 3, timer 1, 19200") << Frames{3, Timer1, true, 19200, 48, 0.5, 5};
}

void TestCore::uartFrames()
{
    QFETCH(Frames, f);
    const int send = f.setup().size() / 2;
    const double frameBits = f.mode == 1 ? 10 : 11, bit = f.bitCycles;
    const auto near = [&f, bit](double cycles, double bits) { return std::abs(cycles - bits * bit) <= f.tolerance; };
    // MOV SBUF,#'A' ; JNB TI,$ ; CLR TI ; MOV R7,#passes ; DJNZ R7,$ (2 cycles) ; MOV SBUF,#'B' ...
    const int passes = std::max(1, int(std::lround((f.secondWriteBits * bit - 2) / 2)));
    auto cpu = load(f.setup() + "759941 3099FD C299 7F" + h(passes) + "DFFE 759942 3099FD 80FE");
    std::vector<std::pair<int, double>> sent;
    std::vector<double> writes, tiRises, onWire;
    cpu->onTransmit = [&](std::uint8_t byte, double rate) {
        sent.emplace_back(byte, rate);
        onWire.push_back(double(cpu->cycles()));
    };
    cpu->sfrWriteHook = [&](std::uint8_t address, std::uint8_t) { // before the writing instruction's cycles
        if (address == sfr::SBUF)
            writes.push_back(double(cpu->cycles()));
    };
    cpu->run(100000, send);
    while (cpu->pc() != send + 18 && cpu->cycles() < 100000) {
        const bool before = cpu->peekDirect(sfr::SCON) & 0x02;
        cpu->step();
        if (!before && (cpu->peekDirect(sfr::SCON) & 0x02))
            tiRises.push_back(double(cpu->cycles()));
    }
    cpu->run(std::uint64_t(2 * bit) + 4); // the second stop bit
    QCOMPARE(sent, (std::vector<std::pair<int, double>>{{'A', f.baud}, {'B', f.baud}}));
    QVERIFY(writes.size() == 2 && tiRises.size() == 2);
    const double toTi = tiRises[0] - writes[0];
    QVERIFY2(toTi >= (frameBits - 1) * bit - f.tolerance && toTi <= frameBits * bit + f.tolerance,
             qPrintable(QString::number(toTi / bit)));
    QVERIFY(near(onWire[0] - tiRises[0], 1) && near(onWire[1] - tiRises[1], 1));
    // The second frame starts at the first rollover after its write: the first stop bit's end or later.
    const double wait = std::floor((writes[1] - tiRises[0]) / bit);
    QCOMPARE(wait, std::floor(f.secondWriteBits));
    QVERIFY(near(tiRises[1] - tiRises[0], frameBits + wait) && near(onWire[1] - onWire[0], frameBits + wait));

    auto rx = load(f.setup() + "80FE");
    rx->run(100000, send);
    for (char byte : QByteArray("ok!")) {
        rx->pokeDirect(sfr::SCON, rx->peekDirect(sfr::SCON) & 0xFE); // CLR RI
        const double start = double(rx->cycles());
        QCOMPARE(rx->receiveByte(quint8(byte), f.baud), RxResult::Accepted);
        while (!(rx->peekDirect(sfr::SCON) & 0x01) && double(rx->cycles()) - start < 5000) {
            rx->step();
            if (rx->receiverBusy()) // up to its very last tick
                QCOMPARE(rx->receiveByte('x', f.baud), RxResult::Busy);
        }
        // Seen after a step, up to 2 cycles late; the first 16x tick is up to a tick late.
        const double toRi = double(rx->cycles()) - start, expected = (frameBits - 0.5) * bit;
        QVERIFY2(toRi >= expected - bit / 16 && toRi <= expected + 2, qPrintable(QString::number(toRi)));
        QCOMPARE(rx->peekDirect(sfr::SBUF), quint8(byte));
        QVERIFY(rx->peekDirect(sfr::SCON) & 0x04); // RB8: the stop bit (mode 3: the ninth bit)
        rx->run(std::uint64_t(std::max(0.0, start + frameBits * bit - double(rx->cycles())))); // the next start bit
    }
    // Another rate is refused; while RI is still set a frame is lost (overrun), as on the chip.
    QCOMPARE(rx->receiveByte('x', f.baud * 1.04), RxResult::RateMismatch);
    QCOMPARE(rx->receiveByte('y', f.baud * 1.01), RxResult::Accepted);
    rx->run(std::uint64_t((frameBits + 1) * bit));
    QCOMPARE(rx->peekDirect(sfr::SBUF), '!');
    rx->pokeDirect(sfr::SCON, rx->peekDirect(sfr::SCON) & 0xEE); // REN and RI clear: nothing more
    QCOMPARE(rx->receiveByte('z', f.baud), RxResult::Disabled);
}

void TestCore::hooks()
{
    // MOVX @DPTR,A ; MOVX A,@DPTR to a device mapped at 8000 ; MOV P1,A ; MOV A,P2 (pins driven)
    auto cpu = load("908000 7412 F0 E0 F590 E5A0 80FE");
    std::vector<int> seen;
    cpu->xdataWriteHook = [&](std::uint16_t a, std::uint8_t v) { return seen.insert(seen.end(), {a, v}), a >= 0x8000; };
    cpu->xdataReadHook = [](std::uint16_t a, std::uint8_t &v) { return v = std::uint8_t(a >> 8), a >= 0x8000; };
    cpu->sfrReadHook = [](std::uint8_t a, std::uint8_t &v) { return v = 0x3C, a == sfr::P2; };
    cpu->run(20, 0x0B);
    QCOMPARE(seen, (std::vector<int>{0x8000, 0x12}));
    QCOMPARE(mismatch(*cpu, "P1=80 A=3C PC=000B"), QString());
    QCOMPARE(cpu->xram(0x8000), 0); // the hook took it
}

// The run loop brings timers and the serial port up to date only when something can change:
// programs/timers.asm keeps them busy while runs in chunks of random size are compared with
// single steps after each chunk, all state and all that a board sees.
void TestCore::chunksMatchSteps_data()
{
    QTest::addColumn<int>("entry");   // of a scenario in programs/timers.asm
    QTest::addColumn<int>("offered"); // 1: bytes offered between chunks; 2: frames sent come back
    QTest::newRow("timer 1 baud clock, polled transmitter, timer 0 mode 1") << 0x100 << 1;
    QTest::newRow("SMOD, interrupt-driven serial port, timer 0 mode 2") << 0x200 << 1;
    QTest::newRow("SMOD, transmitter looped back") << 0x200 << 2;
    QTest::newRow("timer 0 mode 3, timer 2 transmit clock") << 0x300 << 1;
    QTest::newRow("gated timer 0 mode 0, timer 2 reload, serial modes 2 and 0") << 0x400 << 0;
    QTest::newRow("nested timer interrupts, INT0 by the program") << 0x500 << 0;
}

void TestCore::chunksMatchSteps()
{
    QFETCH(int, entry);
    QFETCH(int, offered);
    QFile file(QStringLiteral(TIMERS_HEX));
    QVERIFY2(file.open(QIODevice::ReadOnly), TIMERS_HEX);
    const auto image = mcs51::HexImage::parse(file.readAll().toStdString());
    QVERIFY(image);
    Cpu run, stepped;
    std::vector<std::uint64_t> seen[2]; // the frames a board sees, with the moment
    for (Cpu *cpu : {&run, &stepped}) {
        image->loadAndReset(*cpu);
        cpu->setPc(std::uint16_t(entry));
        cpu->onTransmit = [cpu, &v = seen[cpu == &stepped], loopback = offered == 2](std::uint8_t byte, double baud) {
            v.insert(v.end(), {byte, std::uint64_t(baud), cpu->cycles()});
            if (loopback)
                v.push_back(std::uint64_t(cpu->receiveByte(byte, baud)));
        };
    }
    const auto state = [](const Cpu &c) {
        std::vector<std::uint64_t> v{c.pc(), c.cycles(), c.instructions(), c.receiverBusy()};
        for (int a = 0; a < 256; ++a)
            v.insert(v.end(), {c.iram(std::uint8_t(a)), a < 0x80 ? 0u : c.peekDirect(std::uint8_t(a))});
        return v;
    };
    std::mt19937 random(std::uint32_t(entry + offered));
    std::vector<std::uint16_t> pcs{std::uint16_t(entry)};
    std::uint8_t rxByte = 0x20;
    for (int chunk = 1; run.cycles() < 400000; ++chunk) {
        // From one cycle to tens of thousands, some ending at an address the program passes.
        const std::uint64_t size = 1 + (random() % (1u << (random() % 16)));
        run.run(size, random() % 4 == 0 ? int(pcs[random() % pcs.size()]) : -1);
        while (stepped.cycles() < run.cycles()) {
            stepped.step();
            if (pcs.size() < 4096)
                pcs.push_back(stepped.pc());
        }
        QVERIFY2(state(run) == state(stepped) && seen[0] == seen[1],
                 qPrintable(QStringLiteral("after chunk %1, %2 cycles").arg(chunk).arg(run.cycles())));
        if (offered == 1 && random() % 3 == 0) {
            const RxResult accepted = run.receiveByte(rxByte, run.uartBaud());
            QCOMPARE(stepped.receiveByte(rxByte, run.uartBaud()), accepted);
            rxByte += accepted == RxResult::Accepted;
        }
    }
}

QTEST_APPLESS_MAIN(TestCore)
#include "tst_core.moc"
