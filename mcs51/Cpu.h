#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace mcs51 {

// SFR addresses used by the core and by anyone wiring it to a board.
namespace sfr {
constexpr std::uint8_t P0 = 0x80, SP = 0x81, DPL = 0x82, DPH = 0x83, PCON = 0x87;
constexpr std::uint8_t TCON = 0x88, TMOD = 0x89, TL0 = 0x8A, TL1 = 0x8B, TH0 = 0x8C, TH1 = 0x8D;
constexpr std::uint8_t P1 = 0x90, SCON = 0x98, SBUF = 0x99, P2 = 0xA0, IE = 0xA8, P3 = 0xB0;
constexpr std::uint8_t IP = 0xB8, T2CON = 0xC8, RCAP2L = 0xCA, RCAP2H = 0xCB, TL2 = 0xCC;
constexpr std::uint8_t TH2 = 0xCD, PSW = 0xD0, ACC = 0xE0, B = 0xF0;
} // namespace sfr

enum class Variant {
    I8051, // 128 bytes of internal RAM, timers 0 and 1
    I8052, // 256 bytes (upper half reached only indirectly), timer 2
};

// Why a byte offered to the receiver was not taken.
enum class RxResult {
    Accepted,     // the frame is being shifted in; RI rises when it is complete
    Disabled,     // REN is clear, or the port is not in a timer-clocked mode (1 or 3)
    Busy,         // a frame is still being received
    RateMismatch, // the line's bit rate differs from the program's by more than 2.5 %
};

// An 8051/8052 instruction-set core with its timers, serial port and
// interrupt system. Time is counted in machine cycles (12 crystal periods).
//
// Running a downloaded image: reset() puts the PC at 0x0000, where the reset
// vector lives; a loader whose image names another entry (an Intel HEX start
// address record) calls setPc() with it after reset().
//
// Not modelled: port pins other than the latches (a pin reads as its latch,
// so the counter inputs T0/T1/T2 never toggle, INT0/INT1 see the edges and
// levels the program itself writes to P3.2/P3.3 and T2EX the edges it writes
// to P1.1), idle and power-down modes, serial modes 0 and 2 beyond their
// frame time.
class Cpu
{
public:
    explicit Cpu(Variant variant = Variant::I8052, double crystalHz = 11059200.0);

    Variant variant() const { return m_variant; }
    double crystalHz() const { return m_crystalHz; }
    void setCrystalHz(double hz) { m_crystalHz = hz; }
    double machineCyclesPerSecond() const { return m_crystalHz / 12.0; }

    // Copies bytes into code memory from address on; bytes beyond 0xFFFF wrap to 0.
    void loadCode(std::uint16_t address, const std::uint8_t *data, std::size_t size);
    void loadCode(std::uint16_t address, const std::vector<std::uint8_t> &data)
    {
        loadCode(address, data.data(), data.size());
    }

    // Hardware reset: SFRs to their reset values (ports 0xFF, SP 7, the rest 0),
    // PC 0, no interrupt in progress, serial port idle. Code memory is kept;
    // internal and external RAM are cleared so runs are repeatable.
    void reset();

    // Executes one instruction (or the entry into an interrupt routine, which
    // takes 2 cycles like an LCALL) and returns the machine cycles it took.
    int step();

    // Runs until at least `cycles` machine cycles have passed, or until the PC
    // reaches stopAt (when >= 0) before an instruction. Returns the cycles run.
    std::uint64_t run(std::uint64_t cycles, int stopAt = -1);

    // Registers and memories.
    std::uint16_t pc() const { return m_pc; }
    void setPc(std::uint16_t pc) { m_pc = pc; }
    std::uint8_t a() const { return m_sfr[sfr::ACC - 0x80]; }
    std::uint8_t b() const { return m_sfr[sfr::B - 0x80]; }
    std::uint8_t sp() const { return m_sfr[sfr::SP - 0x80]; }
    std::uint16_t dptr() const { return std::uint16_t(m_sfr[sfr::DPH - 0x80] << 8 | m_sfr[sfr::DPL - 0x80]); }
    // PSW as the program reads it: the parity bit always follows A.
    std::uint8_t psw() const;
    // Rn of the bank PSW.4/PSW.3 select at this moment.
    std::uint8_t reg(int n) const { return m_iram[(m_sfr[sfr::PSW - 0x80] & 0x18) | (n & 7)]; }
    // Direct addresses: 0x00-0x7F internal RAM, 0x80-0xFF SFRs (reading an SFR
    // here has no side effects and calls no hook, except that SBUF gives the receive buffer).
    std::uint8_t peekDirect(std::uint8_t address) const;
    void pokeDirect(std::uint8_t address, std::uint8_t value);
    // Internal RAM as @Ri sees it (0x80-0xFF exist only on the 8052).
    std::uint8_t iram(std::uint8_t address) const { return m_iram[address]; }
    void setIram(std::uint8_t address, std::uint8_t value) { m_iram[address] = value; }
    std::uint8_t code(std::uint16_t address) const { return m_code[address]; }
    std::uint8_t xram(std::uint16_t address) const { return m_xram[address]; }
    void setXram(std::uint16_t address, std::uint8_t value) { m_xram[address] = value; }

    std::uint64_t cycles() const { return m_cycles; }
    std::uint64_t instructions() const { return m_instructions; }
    std::uint64_t undefinedOpcodes() const { return m_undefined; }

    // Serial port. The bit rate the program set, in baud (0 when its clock
    // source is stopped or the port is in a mode without a timer clock).
    double uartBaud() const;
    // Offers one received frame at lineBaud, its start bit beginning now. When
    // accepted, RI rises (and the byte can be read from SBUF) halfway through
    // the stop bit, 9.5 bit times later (10.5 in mode 3), when the receiver
    // takes its last sample; from then on it looks for the next start bit.
    RxResult receiveByte(std::uint8_t byte, double lineBaud);
    bool receiverBusy() const { return m_rxTicksLeft > 0; }

    // Called when a frame is complete on the wire, with the bit rate it was
    // sent at, so the board can compare it with its line. That is the end of
    // the stop bit, one bit time after TI rose at its beginning (in mode 0,
    // which has no stop bit, together with TI after the eighth bit). A byte
    // written to SBUF during the stop bit starts when the stop bit is over.
    std::function<void(std::uint8_t byte, double baud)> onTransmit;
    // SFR hooks: the read hook may replace the value a program reads (return
    // true and set value); the write hook sees every SFR write after it took effect.
    std::function<bool(std::uint8_t address, std::uint8_t &value)> sfrReadHook;
    std::function<void(std::uint8_t address, std::uint8_t value)> sfrWriteHook;
    // MOVX hooks: return true when the hook handled the access (the read hook
    // then sets value); otherwise the external RAM is used.
    std::function<bool(std::uint16_t address, std::uint8_t &value)> xdataReadHook;
    std::function<bool(std::uint16_t address, std::uint8_t value)> xdataWriteHook;

private:
    template <bool kStopAt>
    void interpret(std::uint64_t limit, std::uint16_t stopAt);
    void syncPeripherals();
    void scheduleNextEvent();
    void tickTimers(int cycles);
    void timer2ExternalEdge();
    void tickUart(int txTicks, int rxTicks);
    void tickFrameTimes(int cycles);
    bool checkInterrupts();
    void sampleExternalInterrupts(std::uint8_t p3Before);
    void startTransmit(std::uint8_t byte);
    void frameOnWire(std::uint8_t byte);
    int cyclesToMode2Rollover(std::uint64_t extraBits) const;
    void updateActivity();
    double timer1Baud() const;
    double timer2Baud() const;

    // Out-of-line paths of the interpreter: SFRs with side effects, hooks.
    std::uint8_t readSfr(std::uint8_t address);
    void writeSfr(std::uint8_t address, std::uint8_t value);
    void writeSfrBit(std::uint8_t bit, bool value);
    std::uint8_t readXdataSlow(std::uint16_t address);
    void writeXdataSlow(std::uint16_t address, std::uint8_t value);

    std::uint8_t readIndirect(std::uint8_t address) const
    {
        // Without the 8052's upper RAM an indirect read above 0x7F finds nothing.
        return address <= m_iramTop ? m_iram[address] : 0xFF;
    }
    void writeIndirect(std::uint8_t address, std::uint8_t value)
    {
        if (address <= m_iramTop)
            m_iram[address] = value;
    }
    void push(std::uint8_t value)
    {
        std::uint8_t &sp = sfrRef(sfr::SP);
        ++sp;
        writeIndirect(sp, value);
    }
    std::uint8_t pop()
    {
        std::uint8_t &sp = sfrRef(sfr::SP);
        const std::uint8_t value = readIndirect(sp);
        --sp;
        return value;
    }

    std::uint8_t &sfrRef(std::uint8_t address) { return m_sfr[address - 0x80]; }
    std::uint8_t sfrVal(std::uint8_t address) const { return m_sfr[address - 0x80]; }

    Variant m_variant;
    double m_crystalHz;
    std::uint8_t m_iramTop; // highest address @Ri reaches
    std::uint16_t m_pc = 0;
    std::uint8_t m_iram[256] = {};
    std::uint8_t m_sfr[128] = {};
    std::uint8_t m_rxBuffer = 0; // SBUF as read; writes go to the transmitter
    std::vector<std::uint8_t> m_code;
    std::vector<std::uint8_t> m_xram;

    std::uint64_t m_cycles = 0;
    // Timers and the serial port are brought up to date lazily: m_syncedAt is
    // the cycle count they have reached, m_nextEvent the earliest count at
    // which one of them can change anything a program or a hook could see.
    std::uint64_t m_syncedAt = 0;
    std::uint64_t m_nextEvent = 0;
    std::uint64_t m_instructions = 0;
    std::uint64_t m_undefined = 0;

    // Interrupts. m_activeLevels: bit 0 a low-priority routine runs, bit 1 a high one.
    std::uint8_t m_activeLevels = 0;
    bool m_irqCheck = false; // something may be pending: look after the next instruction
    bool m_irqHold = false;  // RETI or an IE/IP write: one more instruction first

    bool m_timersActive = false;
    bool m_uartActive = false;
    // Serial modes 1 and 3 count the 16x clock (timer 1 or timer 2 overflows).
    // The transmitter shifts a bit out at each rollover of its divide-by-16
    // counter, so a frame starts at the first rollover after the SBUF write.
    bool m_t1Half = false;    // divide-by-two of timer 1 overflows when SMOD is 0
    int m_txPhase = 0;        // the transmitter's divide-by-16 counter
    int m_txTicksLeft = 0;    // 16x clock ticks until TI, as the stop bit begins
    int m_stopTicksLeft = 0;  // ... until the stop bit of m_stopByte's frame ends
    std::uint8_t m_txByte = 0;
    std::uint8_t m_stopByte = 0;
    int m_rxTicksLeft = 0;
    std::uint8_t m_rxByte = 0;
    // Serial modes 0 and 2, timed in machine cycles from the oscillator.
    int m_frameCycles = 0;     // until TI
    int m_frameStopCycles = 0; // until the mode 2 stop bit of m_frameStopByte ends
    int m_frameStopDelay = 0;  // from TI to the end of the stop bit
    bool m_frameHasStop = false;
    std::uint8_t m_frameStopByte = 0;
};

} // namespace mcs51
