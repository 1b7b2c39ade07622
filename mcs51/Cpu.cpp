#include "mcs51/Cpu.h"

#include "mcs51/Opcodes.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

namespace mcs51 {

namespace {

constexpr std::uint8_t kCY = 0x80, kAC = 0x40, kOV = 0x04;

// TCON, SCON, IE and T2CON bits.
constexpr std::uint8_t kTF1 = 0x80, kTR1 = 0x40, kTF0 = 0x20, kTR0 = 0x10;
constexpr std::uint8_t kIE1 = 0x08, kIT1 = 0x04, kIE0 = 0x02, kIT0 = 0x01;
constexpr std::uint8_t kREN = 0x10, kTI = 0x02, kRI = 0x01;
constexpr std::uint8_t kEA = 0x80;
constexpr std::uint8_t kTF2 = 0x80, kEXF2 = 0x40, kRCLK = 0x20, kTCLK = 0x10, kEXEN2 = 0x08, kTR2 = 0x04;
constexpr std::uint8_t kCPRL2 = 0x01;

// Code memory carries a copy of its first bytes past 0xFFFF, so an
// instruction's operand bytes are fetched without wrapping the address.
constexpr std::size_t kCodeMirror = 2;

// The most machine cycles the timers are left behind, which also keeps the
// counts handed to the tick functions small.
constexpr std::uint64_t kMaxBatch = 1u << 24;

constexpr std::array<std::uint8_t, 256> makeParity()
{
    std::array<std::uint8_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned p = v ^ (v >> 4);
        p ^= p >> 2;
        p ^= p >> 1;
        t[v] = std::uint8_t(p & 1);
    }
    return t;
}
constexpr auto kParity = makeParity();

// Lengths and cycle counts of the opcode table in the form the interpreter's
// loop reads them.
constexpr std::array<std::uint8_t, 256> makeLengths()
{
    std::array<std::uint8_t, 256> t{};
    for (std::size_t i = 0; i < 256; ++i)
        t[i] = kOpcodes[i].bytes;
    return t;
}
constexpr std::array<std::uint8_t, 256> makeCycles()
{
    std::array<std::uint8_t, 256> t{};
    for (std::size_t i = 0; i < 256; ++i)
        t[i] = kOpcodes[i].cycles;
    return t;
}
constexpr auto kLength = makeLengths();
constexpr auto kCycles = makeCycles();

// SFRs the interpreter must not treat as plain bytes: reading the timer
// counters brings the timers up to date first, PSW gets its parity bit and
// SBUF reads the receive buffer; writes to these change timers, the serial
// port or the interrupt system (P3 carries INT0/INT1 and P1 the 8052's T2EX,
// whose pins follow the latch). TCON, SCON and T2CON read as plain bytes: their flags only change
// at the moments the timers are brought up to date or a port is written.
constexpr std::uint8_t kReadSide = 1, kWriteSide = 2;
constexpr std::array<std::uint8_t, 128> makeSfrSideEffects()
{
    std::array<std::uint8_t, 128> t{};
    for (std::uint8_t a : {sfr::TL0, sfr::TH0, sfr::TL1, sfr::TH1, sfr::TL2, sfr::TH2, sfr::SBUF})
        t[a - 0x80] |= kReadSide | kWriteSide;
    t[sfr::PSW - 0x80] |= kReadSide;
    for (std::uint8_t a : {sfr::TCON, sfr::TMOD, sfr::SCON, sfr::T2CON, sfr::PCON, sfr::P1, sfr::P3, sfr::IE,
                           sfr::IP, sfr::RCAP2L, sfr::RCAP2H})
        t[a - 0x80] |= kWriteSide;
    return t;
}
constexpr auto kSfrSideEffects = makeSfrSideEffects();

} // namespace

Cpu::Cpu(Variant variant, double crystalHz)
    : m_variant(variant)
    , m_crystalHz(crystalHz)
    , m_iramTop(variant == Variant::I8052 ? 0xFF : 0x7F)
    , m_code(0x10000 + kCodeMirror, 0)
    , m_xram(0x10000, 0)
{
    reset();
}

void Cpu::loadCode(std::uint16_t address, const std::uint8_t *data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        m_code[std::uint16_t(address + i)] = data[i];
    std::copy_n(m_code.begin(), kCodeMirror, m_code.begin() + 0x10000);
}

void Cpu::reset()
{
    std::fill(std::begin(m_iram), std::end(m_iram), 0);
    std::fill(std::begin(m_sfr), std::end(m_sfr), 0);
    std::fill(m_xram.begin(), m_xram.end(), 0);
    sfrRef(sfr::P0) = sfrRef(sfr::P1) = sfrRef(sfr::P2) = sfrRef(sfr::P3) = 0xFF;
    sfrRef(sfr::SP) = 0x07;
    m_pc = 0;
    m_rxBuffer = 0;
    m_cycles = m_instructions = m_undefined = 0;
    m_syncedAt = 0;
    m_activeLevels = 0;
    m_irqCheck = m_irqHold = false;
    m_t1Half = false;
    m_txPhase = m_txTicksLeft = m_stopTicksLeft = m_rxTicksLeft = 0;
    m_frameCycles = m_frameStopCycles = 0;
    m_frameHasStop = false;
    updateActivity();
    scheduleNextEvent();
}

std::uint8_t Cpu::psw() const
{
    const std::uint8_t p = m_sfr[sfr::PSW - 0x80];
    return std::uint8_t((p & 0xFE) | kParity[m_sfr[sfr::ACC - 0x80]]);
}

std::uint8_t Cpu::peekDirect(std::uint8_t address) const
{
    if (address < 0x80)
        return m_iram[address];
    // A hook may look while the timers lag behind. Bringing them up to date
    // cannot raise a flag or end a frame here (no event is due inside a run),
    // so it changes nothing a caller could see.
    if ((kSfrSideEffects[address - 0x80] & kReadSide) && m_cycles != m_syncedAt)
        const_cast<Cpu *>(this)->syncPeripherals();
    if (address == sfr::PSW)
        return psw();
    if (address == sfr::SBUF)
        return m_rxBuffer;
    return sfrVal(address);
}

void Cpu::pokeDirect(std::uint8_t address, std::uint8_t value)
{
    syncPeripherals();
    if (address < 0x80)
        m_iram[address] = value;
    else
        sfrRef(address) = value;
    updateActivity();
    m_irqCheck = true;
    scheduleNextEvent();
}

// ---- out-of-line memory paths -------------------------------------------

std::uint8_t Cpu::readSfr(std::uint8_t address)
{
    // The program sees the counters as they are at this instruction.
    if (kSfrSideEffects[address - 0x80] & kReadSide)
        syncPeripherals();
    std::uint8_t value;
    switch (address) {
    case sfr::PSW: value = psw(); break;
    case sfr::SBUF: value = m_rxBuffer; break;
    default: value = sfrVal(address); break;
    }
    if (sfrReadHook)
        sfrReadHook(address, value);
    return value;
}

void Cpu::writeSfr(std::uint8_t address, std::uint8_t value)
{
    // Cycles up to this instruction count under the old settings.
    if (kSfrSideEffects[address - 0x80] & kWriteSide)
        syncPeripherals();
    switch (address) {
    case sfr::SBUF:
        startTransmit(value);
        break;
    case sfr::IE:
    case sfr::IP:
        // An interrupt is never taken right after a write to IE or IP.
        sfrRef(address) = value;
        m_irqHold = true;
        m_irqCheck = true;
        break;
    case sfr::P1: {
        // T2EX is P1.1 on the 8052.
        const std::uint8_t before = sfrVal(sfr::P1);
        sfrRef(address) = value;
        if (m_variant == Variant::I8052 && (before & 0x02) && !(value & 0x02))
            timer2ExternalEdge();
        break;
    }
    case sfr::P3: {
        // INT0/INT1 are timer gates and interrupt inputs.
        const std::uint8_t before = sfrVal(sfr::P3);
        sfrRef(address) = value;
        sampleExternalInterrupts(before);
        updateActivity();
        m_irqCheck = true;
        break;
    }
    case sfr::TCON:
        // A level-triggered request stays while its pin is low, whatever the program clears.
        sfrRef(address) = value;
        sampleExternalInterrupts(sfrVal(sfr::P3));
        updateActivity();
        m_irqCheck = true;
        break;
    case sfr::TMOD:
    case sfr::SCON:
    case sfr::T2CON:
    case sfr::PCON:
    case sfr::TH1:
    case sfr::RCAP2H:
    case sfr::RCAP2L:
        sfrRef(address) = value;
        updateActivity();
        m_irqCheck = true;
        break;
    default:
        sfrRef(address) = value;
        break;
    }
    if (kSfrSideEffects[address - 0x80] & kWriteSide)
        scheduleNextEvent();
    if (sfrWriteHook)
        sfrWriteHook(address, value);
}

// Bit addresses 0x80-0xFF live in the SFRs whose address ends in 0 or 8.
void Cpu::writeSfrBit(std::uint8_t bit, bool value)
{
    const std::uint8_t mask = std::uint8_t(1u << (bit & 7));
    const std::uint8_t address = bit & 0xF8;
    if (kSfrSideEffects[address - 0x80] & kWriteSide)
        syncPeripherals();
    // The read-modify-write takes the latch, not the pin or the receive buffer.
    const std::uint8_t latch = address == sfr::SBUF ? m_txByte : sfrVal(address);
    writeSfr(address, std::uint8_t(value ? latch | mask : latch & ~mask));
}

std::uint8_t Cpu::readXdataSlow(std::uint16_t address)
{
    std::uint8_t value;
    if (xdataReadHook(address, value))
        return value;
    return m_xram[address];
}

void Cpu::writeXdataSlow(std::uint16_t address, std::uint8_t value)
{
    if (!xdataWriteHook(address, value))
        m_xram[address] = value;
}

// ---- the interpreter ----------------------------------------------------

// Runs instructions while the cycle count is below limit and, with kStopAt,
// the PC is not at stopAt; always runs at least one. The hot state lives in
// locals; it is written back before anything out of line may look at it.
// An instruction that asks for attention (an interrupt request may have
// changed, or the next timer event came closer) ends the run after itself.
template <bool kStopAt>
void Cpu::interpret(std::uint64_t limit, std::uint16_t stopAt)
{
    const std::uint8_t *const code = m_code.data();
    std::uint8_t *const iram = m_iram;
    std::uint8_t *const xram = m_xram.data();
    std::uint8_t &acc = m_sfr[sfr::ACC - 0x80];
    std::uint8_t &psw = m_sfr[sfr::PSW - 0x80];
    std::uint16_t pc = m_pc;
    std::uint64_t cyc = m_cycles;
    std::uint64_t ins = m_instructions;

    auto save = [&] {
        m_pc = pc;
        m_cycles = cyc;
        m_instructions = ins;
    };
    auto attend = [&] {
        if (m_irqCheck)
            limit = 0;
        else if (m_nextEvent < limit)
            limit = m_nextEvent;
    };
    auto reg = [&](int n) -> std::uint8_t & { return iram[(psw & 0x18) | n]; };
    auto carry = [&] { return (psw & kCY) != 0; };
    auto setCarry = [&](bool c) { psw = std::uint8_t((psw & 0x7F) | (c ? 0x80 : 0)); };
    auto jump = [&](std::uint8_t rel) { pc = std::uint16_t(pc + std::int8_t(rel)); };

    auto rd = [&](std::uint8_t address) -> std::uint8_t {
        if (address < 0x80)
            return iram[address];
        if (!(kSfrSideEffects[address - 0x80] & kReadSide) && !sfrReadHook)
            return m_sfr[address - 0x80];
        save();
        const std::uint8_t value = readSfr(address);
        attend();
        return value;
    };
    auto wr = [&](std::uint8_t address, std::uint8_t value) {
        if (address < 0x80) {
            iram[address] = value;
        } else if (!(kSfrSideEffects[address - 0x80] & kWriteSide) && !sfrWriteHook) {
            m_sfr[address - 0x80] = value;
        } else {
            save();
            writeSfr(address, value);
            attend();
        }
    };
    // Bit addresses 0x00-0x7F live in RAM bytes 0x20-0x2F.
    auto rdBit = [&](std::uint8_t bit) -> bool {
        const std::uint8_t mask = std::uint8_t(1u << (bit & 7));
        if (bit < 0x80)
            return iram[0x20 + (bit >> 3)] & mask;
        return rd(bit & 0xF8) & mask;
    };
    auto wrBit = [&](std::uint8_t bit, bool value) {
        const std::uint8_t mask = std::uint8_t(1u << (bit & 7));
        std::uint8_t *byte;
        if (bit < 0x80) {
            byte = &iram[0x20 + (bit >> 3)];
        } else if (!(kSfrSideEffects[(bit & 0xF8) - 0x80] & kWriteSide) && !sfrWriteHook) {
            byte = &m_sfr[(bit & 0xF8) - 0x80];
        } else {
            save();
            writeSfrBit(bit, value);
            attend();
            return;
        }
        *byte = std::uint8_t(value ? *byte | mask : *byte & ~mask);
    };
    auto rdX = [&](std::uint16_t address) -> std::uint8_t {
        if (!xdataReadHook)
            return xram[address];
        save();
        const std::uint8_t value = readXdataSlow(address);
        attend();
        return value;
    };
    auto wrX = [&](std::uint16_t address, std::uint8_t value) {
        if (!xdataWriteHook) {
            xram[address] = value;
            return;
        }
        save();
        writeXdataSlow(address, value);
        attend();
    };

    // The only places that compute CY, AC and OV. Each flag is a carry or
    // borrow bit of a wider sum moved to its place in PSW.
    auto add = [&](std::uint8_t operand, unsigned carryIn) {
        const unsigned a = acc;
        const unsigned sum = a + operand + carryIn;
        const unsigned half = (a & 0x0F) + (operand & 0x0F) + carryIn;
        // Signed overflow: both operands of one sign, the result of the other.
        const unsigned ov = ~(a ^ operand) & (a ^ sum) & 0x80;
        psw = std::uint8_t((psw & ~(kCY | kAC | kOV)) | ((sum >> 1) & kCY) | ((half << 2) & kAC) | (ov >> 5));
        acc = std::uint8_t(sum);
    };
    auto sub = [&](std::uint8_t operand) {
        const unsigned a = acc;
        const unsigned c = (psw >> 7) & 1;
        const unsigned diff = a - operand - c;
        const unsigned half = (a & 0x0F) - (operand & 0x0F) - c;
        const unsigned ov = (a ^ operand) & (a ^ diff) & 0x80;
        psw = std::uint8_t((psw & ~(kCY | kAC | kOV)) | ((diff >> 1) & kCY) | ((half << 2) & kAC) | (ov >> 5));
        acc = std::uint8_t(diff);
    };
    auto cjne = [&](std::uint8_t first, std::uint8_t second, std::uint8_t rel) {
        setCarry(first < second);
        if (first != second)
            jump(rel);
    };
    auto call = [&](std::uint16_t target) {
        push(std::uint8_t(pc));
        push(std::uint8_t(pc >> 8));
        pc = target;
    };

    do {
        // ip[1] and ip[2] are the operand bytes.
        const std::uint8_t *const ip = code + pc;
        const std::uint8_t op = ip[0];
        pc = std::uint16_t(pc + kLength[op]);

        switch (op) {
        // NOP  0000 0000
        case 0x00: break;
        // AJMP addr11  aaa0 0001
        case 0x01: case 0x21: case 0x41: case 0x61: case 0x81: case 0xA1: case 0xC1: case 0xE1:
            pc = std::uint16_t((pc & 0xF800) | ((op & 0xE0) << 3) | ip[1]);
            break;
        // ACALL addr11  aaa1 0001
        case 0x11: case 0x31: case 0x51: case 0x71: case 0x91: case 0xB1: case 0xD1: case 0xF1:
            call(std::uint16_t((pc & 0xF800) | ((op & 0xE0) << 3) | ip[1]));
            break;
        // LJMP addr16  0000 0010
        case 0x02: pc = std::uint16_t(ip[1] << 8 | ip[2]); break;
        // LCALL addr16  0001 0010
        case 0x12:
            call(std::uint16_t(ip[1] << 8 | ip[2]));
            break;
        // RET  0010 0010
        case 0x22: {
            const std::uint8_t hi = pop();
            pc = std::uint16_t(hi << 8 | pop());
            break;
        }
        // RETI  0011 0010
        case 0x32: {
            const std::uint8_t hi = pop();
            pc = std::uint16_t(hi << 8 | pop());
            // Ends the routine of the highest level in progress.
            if (m_activeLevels & 2)
                m_activeLevels &= 1;
            else
                m_activeLevels = 0;
            m_irqHold = true;
            m_irqCheck = true;
            limit = 0;
            break;
        }
        // RR A  0000 0011
        case 0x03: acc = std::uint8_t(acc >> 1 | acc << 7); break;
        // RRC A  0001 0011
        case 0x13: {
            const bool c = acc & 1;
            acc = std::uint8_t(acc >> 1 | (carry() ? 0x80 : 0));
            setCarry(c);
            break;
        }
        // RL A  0010 0011
        case 0x23: acc = std::uint8_t(acc << 1 | acc >> 7); break;
        // RLC A  0011 0011
        case 0x33: {
            const bool c = acc & 0x80;
            acc = std::uint8_t(acc << 1 | (carry() ? 1 : 0));
            setCarry(c);
            break;
        }
        // INC A  0000 0100
        case 0x04: ++acc; break;
        // INC direct  0000 0101
        case 0x05: wr(ip[1], std::uint8_t(rd(ip[1]) + 1)); break;
        // INC @Ri  0000 011i
        case 0x06: case 0x07: {
            const std::uint8_t r = reg(op & 1);
            writeIndirect(r, std::uint8_t(readIndirect(r) + 1));
            break;
        }
        // INC Rn  0000 1rrr
        case 0x08: case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x0E: case 0x0F:
            ++reg(op & 7);
            break;
        // DEC A  0001 0100
        case 0x14: --acc; break;
        // DEC direct  0001 0101
        case 0x15: wr(ip[1], std::uint8_t(rd(ip[1]) - 1)); break;
        // DEC @Ri  0001 011i
        case 0x16: case 0x17: {
            const std::uint8_t r = reg(op & 1);
            writeIndirect(r, std::uint8_t(readIndirect(r) - 1));
            break;
        }
        // DEC Rn  0001 1rrr
        case 0x18: case 0x19: case 0x1A: case 0x1B: case 0x1C: case 0x1D: case 0x1E: case 0x1F:
            --reg(op & 7);
            break;
        // JBC bit,rel  0001 0000
        case 0x10:
            if (rdBit(ip[1])) {
                wrBit(ip[1], 0);
                jump(ip[2]);
            }
            break;
        // JB bit,rel  0010 0000
        case 0x20:
            if (rdBit(ip[1]))
                jump(ip[2]);
            break;
        // JNB bit,rel  0011 0000
        case 0x30:
            if (!rdBit(ip[1]))
                jump(ip[2]);
            break;
        // ADD A,#data  0010 0100
        case 0x24: add(ip[1], 0); break;
        // ADD A,direct  0010 0101
        case 0x25: add(rd(ip[1]), 0); break;
        // ADD A,@Ri  0010 011i
        case 0x26: case 0x27: add(readIndirect(reg(op & 1)), 0); break;
        // ADD A,Rn  0010 1rrr
        case 0x28: case 0x29: case 0x2A: case 0x2B: case 0x2C: case 0x2D: case 0x2E: case 0x2F:
            add(reg(op & 7), 0);
            break;
        // ADDC A,#data  0011 0100
        case 0x34: add(ip[1], carry()); break;
        // ADDC A,direct  0011 0101
        case 0x35: add(rd(ip[1]), carry()); break;
        // ADDC A,@Ri  0011 011i
        case 0x36: case 0x37: add(readIndirect(reg(op & 1)), carry()); break;
        // ADDC A,Rn  0011 1rrr
        case 0x38: case 0x39: case 0x3A: case 0x3B: case 0x3C: case 0x3D: case 0x3E: case 0x3F:
            add(reg(op & 7), carry());
            break;
        // JC rel  0100 0000
        case 0x40:
            if (carry())
                jump(ip[1]);
            break;
        // JNC rel  0101 0000
        case 0x50:
            if (!carry())
                jump(ip[1]);
            break;
        // JZ rel  0110 0000
        case 0x60:
            if (acc == 0)
                jump(ip[1]);
            break;
        // JNZ rel  0111 0000
        case 0x70:
            if (acc != 0)
                jump(ip[1]);
            break;
        // SJMP rel  1000 0000
        case 0x80: jump(ip[1]); break;
        // ORL direct,A  0100 0010
        case 0x42: wr(ip[1], rd(ip[1]) | acc); break;
        // ORL direct,#data  0100 0011
        case 0x43: wr(ip[1], rd(ip[1]) | ip[2]); break;
        // ORL A,#data  0100 0100
        case 0x44: acc |= ip[1]; break;
        // ORL A,direct  0100 0101
        case 0x45: acc |= rd(ip[1]); break;
        // ORL A,@Ri  0100 011i
        case 0x46: case 0x47: acc |= readIndirect(reg(op & 1)); break;
        // ORL A,Rn  0100 1rrr
        case 0x48: case 0x49: case 0x4A: case 0x4B: case 0x4C: case 0x4D: case 0x4E: case 0x4F:
            acc |= reg(op & 7);
            break;
        // ANL direct,A  0101 0010
        case 0x52: wr(ip[1], rd(ip[1]) & acc); break;
        // ANL direct,#data  0101 0011
        case 0x53: wr(ip[1], rd(ip[1]) & ip[2]); break;
        // ANL A,#data  0101 0100
        case 0x54: acc &= ip[1]; break;
        // ANL A,direct  0101 0101
        case 0x55: acc &= rd(ip[1]); break;
        // ANL A,@Ri  0101 011i
        case 0x56: case 0x57: acc &= readIndirect(reg(op & 1)); break;
        // ANL A,Rn  0101 1rrr
        case 0x58: case 0x59: case 0x5A: case 0x5B: case 0x5C: case 0x5D: case 0x5E: case 0x5F:
            acc &= reg(op & 7);
            break;
        // XRL direct,A  0110 0010
        case 0x62: wr(ip[1], rd(ip[1]) ^ acc); break;
        // XRL direct,#data  0110 0011
        case 0x63: wr(ip[1], rd(ip[1]) ^ ip[2]); break;
        // XRL A,#data  0110 0100
        case 0x64: acc ^= ip[1]; break;
        // XRL A,direct  0110 0101
        case 0x65: acc ^= rd(ip[1]); break;
        // XRL A,@Ri  0110 011i
        case 0x66: case 0x67: acc ^= readIndirect(reg(op & 1)); break;
        // XRL A,Rn  0110 1rrr
        case 0x68: case 0x69: case 0x6A: case 0x6B: case 0x6C: case 0x6D: case 0x6E: case 0x6F:
            acc ^= reg(op & 7);
            break;
        // ORL C,bit  0111 0010
        case 0x72: if (rdBit(ip[1])) setCarry(true); break;
        // ORL C,/bit  1010 0000
        case 0xA0: if (!rdBit(ip[1])) setCarry(true); break;
        // ANL C,bit  1000 0010
        case 0x82: if (!rdBit(ip[1])) setCarry(false); break;
        // ANL C,/bit  1011 0000
        case 0xB0: if (rdBit(ip[1])) setCarry(false); break;
        // JMP @A+DPTR  0111 0011
        case 0x73: pc = std::uint16_t(dptr() + acc); break;
        // MOV A,#data  0111 0100
        case 0x74: acc = ip[1]; break;
        // MOV direct,#data  0111 0101
        case 0x75: wr(ip[1], ip[2]); break;
        // MOV @Ri,#data  0111 011i
        case 0x76: case 0x77: writeIndirect(reg(op & 1), ip[1]); break;
        // MOV Rn,#data  0111 1rrr
        case 0x78: case 0x79: case 0x7A: case 0x7B: case 0x7C: case 0x7D: case 0x7E: case 0x7F:
            reg(op & 7) = ip[1];
            break;
        // MOVC A,@A+PC  1000 0011
        case 0x83: acc = code[std::uint16_t(pc + acc)]; break;
        // MOVC A,@A+DPTR  1001 0011
        case 0x93: acc = code[std::uint16_t(dptr() + acc)]; break;
        // DIV AB  1000 0100
        case 0x84: {
            std::uint8_t &b = sfrRef(sfr::B);
            // Division by zero leaves A and B as they were and sets OV.
            if (b == 0) {
                psw = std::uint8_t((psw & ~kCY) | kOV);
            } else {
                const std::uint8_t q = std::uint8_t(acc / b), r = std::uint8_t(acc % b);
                acc = q;
                b = r;
                psw &= std::uint8_t(~(kCY | kOV));
            }
            break;
        }
        // MUL AB  1010 0100
        case 0xA4: {
            std::uint8_t &b = sfrRef(sfr::B);
            const unsigned product = unsigned(acc) * b;
            acc = std::uint8_t(product);
            b = std::uint8_t(product >> 8);
            psw = std::uint8_t((psw & ~(kCY | kOV)) | (product > 0xFF ? kOV : 0));
            break;
        }
        // MOV direct,direct  1000 0101 (source byte first)
        case 0x85: wr(ip[2], rd(ip[1])); break;
        // MOV direct,@Ri  1000 011i
        case 0x86: case 0x87: wr(ip[1], readIndirect(reg(op & 1))); break;
        // MOV direct,Rn  1000 1rrr
        case 0x88: case 0x89: case 0x8A: case 0x8B: case 0x8C: case 0x8D: case 0x8E: case 0x8F:
            wr(ip[1], reg(op & 7));
            break;
        // MOV DPTR,#data16  1001 0000
        case 0x90:
            sfrRef(sfr::DPH) = ip[1];
            sfrRef(sfr::DPL) = ip[2];
            break;
        // MOV bit,C  1001 0010
        case 0x92: wrBit(ip[1], carry()); break;
        // SUBB A,#data  1001 0100
        case 0x94: sub(ip[1]); break;
        // SUBB A,direct  1001 0101
        case 0x95: sub(rd(ip[1])); break;
        // SUBB A,@Ri  1001 011i
        case 0x96: case 0x97: sub(readIndirect(reg(op & 1))); break;
        // SUBB A,Rn  1001 1rrr
        case 0x98: case 0x99: case 0x9A: case 0x9B: case 0x9C: case 0x9D: case 0x9E: case 0x9F:
            sub(reg(op & 7));
            break;
        // MOV C,bit  1010 0010
        case 0xA2: setCarry(rdBit(ip[1])); break;
        // INC DPTR  1010 0011
        case 0xA3: {
            const std::uint16_t d = std::uint16_t(dptr() + 1);
            sfrRef(sfr::DPH) = std::uint8_t(d >> 8);
            sfrRef(sfr::DPL) = std::uint8_t(d);
            break;
        }
        // undefined  1010 0101: a no-op here, counted
        case 0xA5: ++m_undefined; break;
        // MOV @Ri,direct  1010 011i
        case 0xA6: case 0xA7: writeIndirect(reg(op & 1), rd(ip[1])); break;
        // MOV Rn,direct  1010 1rrr
        case 0xA8: case 0xA9: case 0xAA: case 0xAB: case 0xAC: case 0xAD: case 0xAE: case 0xAF:
            reg(op & 7) = rd(ip[1]);
            break;
        // CPL bit  1011 0010
        case 0xB2: wrBit(ip[1], !rdBit(ip[1])); break;
        // CPL C  1011 0011
        case 0xB3: setCarry(!carry()); break;
        // CJNE A,#data,rel  1011 0100
        case 0xB4: cjne(acc, ip[1], ip[2]); break;
        // CJNE A,direct,rel  1011 0101
        case 0xB5: cjne(acc, rd(ip[1]), ip[2]); break;
        // CJNE @Ri,#data,rel  1011 011i
        case 0xB6: case 0xB7: cjne(readIndirect(reg(op & 1)), ip[1], ip[2]); break;
        // CJNE Rn,#data,rel  1011 1rrr
        case 0xB8: case 0xB9: case 0xBA: case 0xBB: case 0xBC: case 0xBD: case 0xBE: case 0xBF:
            cjne(reg(op & 7), ip[1], ip[2]);
            break;
        // PUSH direct  1100 0000
        case 0xC0: {
            // SP goes up before the operand is read, so PUSH SP stores the new SP.
            std::uint8_t &sp = sfrRef(sfr::SP);
            ++sp;
            const std::uint8_t value = rd(ip[1]);
            writeIndirect(sp, value);
            break;
        }
        // POP direct  1101 0000
        case 0xD0: wr(ip[1], pop()); break;
        // CLR bit  1100 0010
        case 0xC2: wrBit(ip[1], 0); break;
        // CLR C  1100 0011
        case 0xC3: setCarry(false); break;
        // SETB bit  1101 0010
        case 0xD2: wrBit(ip[1], true); break;
        // SETB C  1101 0011
        case 0xD3: setCarry(true); break;
        // SWAP A  1100 0100
        case 0xC4: acc = std::uint8_t(acc << 4 | acc >> 4); break;
        // XCH A,direct  1100 0101
        case 0xC5: {
            const std::uint8_t t = rd(ip[1]);
            wr(ip[1], acc);
            acc = t;
            break;
        }
        // XCH A,@Ri  1100 011i
        case 0xC6: case 0xC7: {
            const std::uint8_t r = reg(op & 1);
            const std::uint8_t t = readIndirect(r);
            writeIndirect(r, acc);
            acc = t;
            break;
        }
        // XCH A,Rn  1100 1rrr
        case 0xC8: case 0xC9: case 0xCA: case 0xCB: case 0xCC: case 0xCD: case 0xCE: case 0xCF: {
            std::uint8_t &r = reg(op & 7);
            const std::uint8_t t = r;
            r = acc;
            acc = t;
            break;
        }
        // DA A  1101 0100
        case 0xD4: {
            // Decimal adjust after ADD/ADDC: CY may be set here but is never cleared.
            unsigned v = acc;
            bool c = carry();
            if ((v & 0x0F) > 9 || (psw & kAC)) {
                v += 0x06;
                if (v > 0xFF)
                    c = true;
                v &= 0xFF;
            }
            if ((v >> 4) > 9 || c) {
                v += 0x60;
                if (v > 0xFF)
                    c = true;
            }
            acc = std::uint8_t(v);
            setCarry(c);
            break;
        }
        // DJNZ direct,rel  1101 0101
        case 0xD5: {
            const std::uint8_t v = std::uint8_t(rd(ip[1]) - 1);
            wr(ip[1], v);
            if (v != 0)
                jump(ip[2]);
            break;
        }
        // XCHD A,@Ri  1101 011i
        case 0xD6: case 0xD7: {
            const std::uint8_t r = reg(op & 1);
            const std::uint8_t m = readIndirect(r);
            writeIndirect(r, std::uint8_t((m & 0xF0) | (acc & 0x0F)));
            acc = std::uint8_t((acc & 0xF0) | (m & 0x0F));
            break;
        }
        // DJNZ Rn,rel  1101 1rrr
        case 0xD8: case 0xD9: case 0xDA: case 0xDB: case 0xDC: case 0xDD: case 0xDE: case 0xDF:
            if (--reg(op & 7) != 0)
                jump(ip[1]);
            break;
        // MOVX A,@DPTR  1110 0000
        case 0xE0: acc = rdX(dptr()); break;
        // MOVX A,@Ri  1110 001i: P2 gives the high address byte
        case 0xE2: case 0xE3:
            acc = rdX(std::uint16_t(sfrVal(sfr::P2) << 8 | reg(op & 1)));
            break;
        // CLR A  1110 0100
        case 0xE4: acc = 0; break;
        // MOV A,direct  1110 0101
        case 0xE5: acc = rd(ip[1]); break;
        // MOV A,@Ri  1110 011i
        case 0xE6: case 0xE7: acc = readIndirect(reg(op & 1)); break;
        // MOV A,Rn  1110 1rrr
        case 0xE8: case 0xE9: case 0xEA: case 0xEB: case 0xEC: case 0xED: case 0xEE: case 0xEF:
            acc = reg(op & 7);
            break;
        // MOVX @DPTR,A  1111 0000
        case 0xF0: wrX(dptr(), acc); break;
        // MOVX @Ri,A  1111 001i
        case 0xF2: case 0xF3:
            wrX(std::uint16_t(sfrVal(sfr::P2) << 8 | reg(op & 1)), acc);
            break;
        // CPL A  1111 0100
        case 0xF4: acc = std::uint8_t(~acc); break;
        // MOV direct,A  1111 0101
        case 0xF5: wr(ip[1], acc); break;
        // MOV @Ri,A  1111 011i
        case 0xF6: case 0xF7: writeIndirect(reg(op & 1), acc); break;
        // MOV Rn,A  1111 1rrr
        case 0xF8: case 0xF9: case 0xFA: case 0xFB: case 0xFC: case 0xFD: case 0xFE: case 0xFF:
            reg(op & 7) = acc;
            break;
        }
        cyc += kCycles[op];
        ++ins;
    } while (cyc < limit && (!kStopAt || pc != stopAt));
    save();
}

// ---- time ---------------------------------------------------------------

int Cpu::step()
{
    const std::uint64_t before = m_cycles;
    // Taking an interrupt is a step of its own: the hardware LCALL to the vector.
    if (m_irqCheck && !m_irqHold && checkInterrupts()) {
        m_cycles += 2;
    } else {
        // A hold (after RETI or an IE/IP write) lasts for one instruction.
        m_irqHold = false;
        interpret<false>(m_cycles + 1, 0);
    }
    syncPeripherals();
    return int(m_cycles - before);
}

std::uint64_t Cpu::run(std::uint64_t cycles, int stopAt)
{
    const std::uint64_t start = m_cycles;
    const std::uint64_t end = start + cycles;
    const bool stops = stopAt >= 0 && stopAt <= 0xFFFF;
    if (m_cycles >= m_nextEvent)
        syncPeripherals();
    while (m_cycles < end) {
        if (m_irqCheck && !m_irqHold && checkInterrupts()) {
            m_cycles += 2;
        } else if (stops && m_pc == stopAt) {
            // A hold stays for the instruction at stopAt, as in single steps.
            break;
        } else {
            // While a request is pending (or held back for one instruction)
            // look again after every instruction.
            const std::uint64_t limit = m_irqCheck ? m_cycles + 1 : std::min(end, m_nextEvent);
            m_irqHold = false;
            if (stops)
                interpret<true>(limit, std::uint16_t(stopAt));
            else
                interpret<false>(limit, 0);
        }
        if (m_cycles >= m_nextEvent)
            syncPeripherals();
    }
    syncPeripherals();
    return m_cycles - start;
}

// Brings the timers and the serial port up to the current cycle count. Runs
// end at m_nextEvent at the latest, so the cycles handed on here contain at
// most one event, at their end, exactly as when ticking after every instruction.
// Before m_nextEvent nothing but the counters moves, and the next event stays
// where it was found.
void Cpu::syncPeripherals()
{
    if (m_cycles == m_syncedAt)
        return;
    std::uint64_t n = m_cycles - m_syncedAt;
    const bool eventDue = m_cycles >= m_nextEvent;
    m_syncedAt = m_cycles;
    while (n > 0) {
        const int chunk = int(std::min(n, kMaxBatch));
        n -= std::uint64_t(chunk);
        if (m_timersActive)
            tickTimers(chunk);
        if (m_frameCycles > 0 || m_frameStopCycles > 0)
            tickFrameTimes(chunk);
    }
    if (eventDue)
        scheduleNextEvent();
}

// ---- timers -------------------------------------------------------------

namespace {

// Advances an 8-bit auto-reload counter by n; returns the overflows.
int advanceReload8(std::uint8_t &count, std::uint8_t reload, int n)
{
    unsigned v = unsigned(count) + unsigned(n);
    if (v <= 0xFF) {
        count = std::uint8_t(v);
        return 0;
    }
    const unsigned period = 0x100u - reload;
    const unsigned excess = v - 0x100u;
    count = std::uint8_t(reload + excess % period);
    return int(1 + excess / period);
}

// Timer modes 0 (13 bits: TH and the low five bits of TL), 1 (16 bits) and
// 2 (TL reloaded from TH). Returns the overflows.
int advanceTimer(std::uint8_t &tl, std::uint8_t &th, int mode, int n)
{
    switch (mode) {
    case 0: {
        const unsigned v = ((unsigned(th) << 5) | (tl & 0x1Fu)) + unsigned(n);
        th = std::uint8_t(v >> 5);
        tl = std::uint8_t((tl & 0xE0) | (v & 0x1F));
        return int(v >> 13);
    }
    case 1: {
        const unsigned v = ((unsigned(th) << 8) | tl) + unsigned(n);
        th = std::uint8_t(v >> 8);
        tl = std::uint8_t(v);
        return int(v >> 16);
    }
    default:
        return advanceReload8(tl, th, n);
    }
}

} // namespace

void Cpu::updateActivity()
{
    const std::uint8_t tcon = sfrVal(sfr::TCON);
    m_timersActive = (tcon & (kTR0 | kTR1)) || (sfrVal(sfr::TMOD) & 3) == 3
        || (m_variant == Variant::I8052 && (sfrVal(sfr::T2CON) & kTR2));
}

namespace {

// Counts until a timer in mode 0 (13 bits), 1 (16 bits) or 2 (8-bit reload) overflows.
std::uint64_t countsToOverflow(std::uint8_t tl, std::uint8_t th, int mode)
{
    switch (mode) {
    case 0: return 0x2000u - ((unsigned(th) << 5) | (tl & 0x1Fu));
    case 1: return 0x10000u - (unsigned(th) << 8 | tl);
    default: return 0x100u - tl;
    }
}

// Counts from one overflow to the next.
std::uint64_t countsPerOverflow(std::uint8_t th, int mode)
{
    switch (mode) {
    case 0: return 0x2000u;
    case 1: return 0x10000u;
    default: return 0x100u - th;
    }
}

} // namespace

// Finds the earliest cycle count at which a timer or the serial port can
// change something visible: a timer flag that is still clear rising, a
// serial frame ending. It may be early (the run only stops to look), never
// late. Overflows that only raise a flag already set change nothing but the
// counters, which are brought up to date whenever they are read.
void Cpu::scheduleNextEvent()
{
    std::uint64_t ahead = kMaxBatch;
    if (m_frameCycles > 0)
        ahead = std::min(ahead, std::uint64_t(m_frameCycles));
    if (m_frameStopCycles > 0)
        ahead = std::min(ahead, std::uint64_t(m_frameStopCycles));
    if (m_timersActive) {
        const std::uint8_t tcon = sfrVal(sfr::TCON);
        const std::uint8_t tmod = sfrVal(sfr::TMOD);
        const std::uint8_t p3 = sfrVal(sfr::P3);
        const int mode0 = tmod & 3;
        const int mode1 = (tmod >> 4) & 3;
        const std::uint8_t t2con = m_variant == Variant::I8052 ? sfrVal(sfr::T2CON) : 0;
        const bool t2Tx = t2con & kTCLK, t2Rx = t2con & kRCLK;
        // Serial ticks until the first frame clocked by timer 1 (or timer 2) ends.
        int t1Ticks = INT_MAX, t2Ticks = INT_MAX;
        // The transmitter's next event: TI, or the end of a stop bit.
        int txTicks = INT_MAX;
        if (m_txTicksLeft > 0)
            txTicks = m_txTicksLeft;
        if (m_stopTicksLeft > 0)
            txTicks = std::min(txTicks, m_stopTicksLeft);
        if (txTicks != INT_MAX)
            (t2Tx ? t2Ticks : t1Ticks) = txTicks;
        if (m_rxTicksLeft > 0) {
            int &ticks = t2Rx ? t2Ticks : t1Ticks;
            ticks = std::min(ticks, m_rxTicksLeft);
        }

        const bool gate0 = !(tmod & 0x08) || (p3 & 0x04);
        if ((tcon & kTR0) && gate0 && !(tmod & 0x04) && !(tcon & kTF0)) {
            const std::uint8_t tl0 = sfrVal(sfr::TL0);
            ahead = std::min(ahead, mode0 == 3 ? 0x100u - tl0 : countsToOverflow(tl0, sfrVal(sfr::TH0), mode0));
        }
        if (mode0 == 3 && (tcon & kTR1) && !(tcon & kTF1))
            ahead = std::min(ahead, std::uint64_t(0x100u - sfrVal(sfr::TH0)));

        const bool gate1 = !(tmod & 0x80) || (p3 & 0x08);
        if (mode1 != 3 && (mode0 == 3 || (tcon & kTR1)) && gate1 && !(tmod & 0x40)) {
            const std::uint8_t th1 = sfrVal(sfr::TH1);
            const std::uint64_t first = countsToOverflow(sfrVal(sfr::TL1), th1, mode1);
            if (mode0 != 3 && !(tcon & kTF1))
                ahead = std::min(ahead, first);
            if (t1Ticks != INT_MAX) {
                // Without SMOD two overflows make one tick; m_t1Half holds a spare one.
                const std::uint64_t overflows = (sfrVal(sfr::PCON) & 0x80)
                    ? std::uint64_t(t1Ticks)
                    : 2 * std::uint64_t(t1Ticks) - (m_t1Half ? 1 : 0);
                ahead = std::min(ahead, first + (overflows - 1) * countsPerOverflow(th1, mode1));
            }
        }

        if ((t2con & kTR2) && !(t2con & 0x02)) {
            const bool baudMode = t2con & (kRCLK | kTCLK);
            const std::uint64_t count = unsigned(sfrVal(sfr::TH2)) << 8 | sfrVal(sfr::TL2);
            const std::uint64_t first = 0x10000u - count;
            if (!baudMode && !(t2con & kTF2)) {
                ahead = std::min(ahead, first);
            } else if (baudMode && t2Ticks != INT_MAX) {
                // As the serial clock timer 2 counts six times per machine cycle.
                const std::uint64_t reload = unsigned(sfrVal(sfr::RCAP2H)) << 8 | sfrVal(sfr::RCAP2L);
                const std::uint64_t counts = first + std::uint64_t(t2Ticks - 1) * (0x10000u - reload);
                ahead = std::min(ahead, (counts + 5) / 6);
            }
        }
    }
    m_nextEvent = m_syncedAt + ahead;
}

void Cpu::tickTimers(int n)
{
    std::uint8_t tcon = sfrVal(sfr::TCON);
    const std::uint8_t tmod = sfrVal(sfr::TMOD);
    const std::uint8_t p3 = sfrVal(sfr::P3);
    const int mode0 = tmod & 3;
    const int mode1 = (tmod >> 4) & 3;
    const std::uint8_t before = tcon;

    // Timer 0. C/T set counts T0 pin edges, and the pins never move here.
    // GATE set runs the timer only while INT0 is high.
    const bool gate0 = !(tmod & 0x08) || (p3 & 0x04);
    if ((tcon & kTR0) && gate0 && !(tmod & 0x04)) {
        if (mode0 == 3) {
            if (advanceReload8(sfrRef(sfr::TL0), 0, n))
                tcon |= kTF0;
        } else if (advanceTimer(sfrRef(sfr::TL0), sfrRef(sfr::TH0), mode0, n)) {
            tcon |= kTF0;
        }
    }
    // In mode 3, TH0 is a second 8-bit timer that borrows TR1 and TF1.
    if (mode0 == 3 && (tcon & kTR1)) {
        if (advanceReload8(sfrRef(sfr::TH0), 0, n))
            tcon |= kTF1;
    }

    // Timer 1 stops in its own mode 3; while timer 0 is in mode 3 it runs
    // without TR1 (and without TF1), typically as the serial clock.
    int t1Overflows = 0;
    const bool gate1 = !(tmod & 0x80) || (p3 & 0x08);
    if (mode1 != 3 && (mode0 == 3 || (tcon & kTR1)) && gate1 && !(tmod & 0x40)) {
        t1Overflows = advanceTimer(sfrRef(sfr::TL1), sfrRef(sfr::TH1), mode1, n);
        if (t1Overflows && mode0 != 3)
            tcon |= kTF1;
    }
    if (tcon != before) {
        sfrRef(sfr::TCON) = tcon;
        m_irqCheck = true;
    }

    // Timer 2 (8052): 16-bit auto-reload from RCAP2, or with RCLK/TCLK the
    // serial clock, counting at half the crystal and without TF2.
    int t2Overflows = 0;
    if (m_variant == Variant::I8052) {
        std::uint8_t &t2con = sfrRef(sfr::T2CON);
        if ((t2con & kTR2) && !(t2con & 0x02)) {
            const bool baudMode = t2con & (kRCLK | kTCLK);
            const unsigned reload = unsigned(sfrVal(sfr::RCAP2H)) << 8 | sfrVal(sfr::RCAP2L);
            const unsigned count = unsigned(sfrVal(sfr::TH2)) << 8 | sfrVal(sfr::TL2);
            unsigned v = count + unsigned(baudMode ? 6 * n : n);
            if (v > 0xFFFF) {
                const bool autoReload = baudMode || !(t2con & 0x01);
                const unsigned excess = v - 0x10000u;
                if (autoReload) {
                    const unsigned period = 0x10000u - reload;
                    t2Overflows = int(1 + excess / period);
                    v = reload + excess % period;
                } else {
                    t2Overflows = int(1 + excess / 0x10000u);
                    v = excess % 0x10000u;
                }
                if (!baudMode) {
                    t2con |= kTF2;
                    m_irqCheck = true;
                    t2Overflows = 0;
                }
            }
            sfrRef(sfr::TH2) = std::uint8_t(v >> 8);
            sfrRef(sfr::TL2) = std::uint8_t(v);
        }
    }

    if (t1Overflows || t2Overflows) {
        // The serial port's 16x clock: timer 1 overflows, halved unless SMOD
        // is set, or timer 2 overflows directly. It runs whether or not a
        // frame is under way: the transmitter's bit times follow it.
        int t1Ticks = t1Overflows;
        if (!(sfrVal(sfr::PCON) & 0x80)) {
            t1Ticks = (t1Overflows + (m_t1Half ? 1 : 0)) / 2;
            m_t1Half = ((t1Overflows + (m_t1Half ? 1 : 0)) & 1) != 0;
        }
        const std::uint8_t t2con = sfrVal(sfr::T2CON);
        const bool t2Tx = m_variant == Variant::I8052 && (t2con & kTCLK);
        const bool t2Rx = m_variant == Variant::I8052 && (t2con & kRCLK);
        tickUart(t2Tx ? t2Overflows : t1Ticks, t2Rx ? t2Overflows : t1Ticks);
    }
}

// A falling edge on T2EX with EXEN2 set captures the count into RCAP2 (CP/RL2
// set) or reloads the count from RCAP2, and sets EXF2, which requests the
// timer 2 interrupt. As the serial clock timer 2 only reloads on overflow, so
// the edge just sets EXF2. None of this waits for TR2.
void Cpu::timer2ExternalEdge()
{
    std::uint8_t &t2con = sfrRef(sfr::T2CON);
    if (!(t2con & kEXEN2))
        return;
    if (!(t2con & (kRCLK | kTCLK))) {
        if (t2con & kCPRL2) {
            sfrRef(sfr::RCAP2H) = sfrVal(sfr::TH2);
            sfrRef(sfr::RCAP2L) = sfrVal(sfr::TL2);
        } else {
            sfrRef(sfr::TH2) = sfrVal(sfr::RCAP2H);
            sfrRef(sfr::TL2) = sfrVal(sfr::RCAP2L);
        }
    }
    t2con |= kEXF2;
    m_irqCheck = true;
}

// ---- serial port --------------------------------------------------------

// The data sheet's rule for modes 1 to 3: TI "is set by hardware at the
// beginning of the stop bit", and the frame starts at the first rollover of
// the divide-by-16 counter after the SBUF write, not at the write itself, so
// TI rises 9 to 10 bit times after the write in mode 1 (10 to 11 in modes 2
// and 3). A write during a stop bit thus starts its frame when the stop bit
// ends. Mode 0 sets TI at the end of the eighth bit.
void Cpu::startTransmit(std::uint8_t byte)
{
    m_txByte = byte;
    const int mode = sfrVal(sfr::SCON) >> 6;
    switch (mode) {
    case 0: // shift register: eight bits at one per machine cycle
        m_frameCycles = 8;
        m_frameHasStop = false;
        break;
    case 2: // eleven bits at 1/64 (SMOD: 1/32) of the crystal
        m_frameCycles = cyclesToMode2Rollover(10);
        m_frameStopDelay = cyclesToMode2Rollover(11) - m_frameCycles;
        m_frameHasStop = true;
        break;
    default: // start bit, 8 data bits (and TB8 in mode 3), stop bit; 16 clocks each
        m_txTicksLeft = (16 - m_txPhase) + (mode == 1 ? 9 : 10) * 16;
        break;
    }
}

// Mode 2's divide-by-16 counter runs from the oscillator, so its rollovers
// fall on multiples of a bit time counted from reset. Returns the machine
// cycles from now until extraBits bit times after the next rollover.
int Cpu::cyclesToMode2Rollover(std::uint64_t extraBits) const
{
    const std::uint64_t bit = (sfrVal(sfr::PCON) & 0x80) ? 32 : 64; // oscillator periods
    const std::uint64_t now = 12 * m_syncedAt;
    const std::uint64_t at = (now / bit + 1 + extraBits) * bit;
    return int((at + 11) / 12 - m_syncedAt);
}

void Cpu::frameOnWire(std::uint8_t byte)
{
    if (onTransmit)
        onTransmit(byte, uartBaud());
}

void Cpu::tickUart(int txTicks, int rxTicks)
{
    // A frame the transmit callback starts (a loopback) begins after these
    // ticks, however many instructions they cover.
    const bool receiving = m_rxTicksLeft > 0;
    if (txTicks > 0) {
        m_txPhase = (m_txPhase + txTicks) & 15;
        // A stop bit ends (where the next frame may start) long before that
        // frame's TI, so the two never fall into the same ticks.
        if (m_stopTicksLeft > 0) {
            m_stopTicksLeft -= txTicks;
            if (m_stopTicksLeft <= 0) {
                m_stopTicksLeft = 0;
                frameOnWire(m_stopByte);
            }
        }
        if (m_txTicksLeft > 0) {
            m_txTicksLeft -= txTicks;
            if (m_txTicksLeft <= 0) {
                // The last instruction may have run past TI into the stop bit.
                const int intoStop = -m_txTicksLeft;
                m_txTicksLeft = 0;
                sfrRef(sfr::SCON) |= kTI;
                m_irqCheck = true;
                m_stopByte = m_txByte;
                m_stopTicksLeft = 16 - intoStop;
                if (m_stopTicksLeft <= 0) {
                    m_stopTicksLeft = 0;
                    frameOnWire(m_stopByte);
                }
            }
        }
    }
    if (receiving && m_rxTicksLeft > 0 && rxTicks > 0) {
        m_rxTicksLeft -= rxTicks;
        if (m_rxTicksLeft <= 0) {
            m_rxTicksLeft = 0;
            std::uint8_t &scon = sfrRef(sfr::SCON);
            // A frame that arrives while RI is still set is lost (overrun).
            // SM2 never holds one back: RB8 takes the stop bit in mode 1 and
            // the line's stop bit as the ninth bit in mode 3, both 1.
            if (!(scon & kRI)) {
                m_rxBuffer = m_rxByte;
                scon |= kRI | 0x04;
                m_irqCheck = true;
            }
        }
    }
}

void Cpu::tickFrameTimes(int cycles)
{
    if (m_frameStopCycles > 0) {
        m_frameStopCycles -= cycles;
        if (m_frameStopCycles <= 0) {
            m_frameStopCycles = 0;
            frameOnWire(m_frameStopByte);
        }
    }
    if (m_frameCycles > 0) {
        m_frameCycles -= cycles;
        if (m_frameCycles <= 0) {
            sfrRef(sfr::SCON) |= kTI;
            m_irqCheck = true;
            if (m_frameHasStop) {
                // The last instruction may have run past TI into the stop bit.
                m_frameStopByte = m_txByte;
                m_frameStopCycles = m_frameStopDelay + m_frameCycles;
                m_frameCycles = 0;
                if (m_frameStopCycles <= 0) {
                    m_frameStopCycles = 0;
                    frameOnWire(m_frameStopByte);
                }
            } else {
                m_frameCycles = 0;
                frameOnWire(m_txByte);
            }
        }
    }
}

double Cpu::timer1Baud() const
{
    const std::uint8_t tmod = sfrVal(sfr::TMOD);
    const int mode0 = tmod & 3, mode1 = (tmod >> 4) & 3;
    const bool running = mode1 != 3 && (mode0 == 3 || (sfrVal(sfr::TCON) & kTR1)) && !(tmod & 0x40);
    if (!running)
        return 0.0;
    double period; // machine cycles between overflows
    switch (mode1) {
    case 0: period = 8192.0; break;
    case 1: period = 65536.0; break;
    default: period = 256.0 - sfrVal(sfr::TH1); break;
    }
    const bool smod = sfrVal(sfr::PCON) & 0x80;
    return m_crystalHz / 12.0 / period / (smod ? 16.0 : 32.0);
}

double Cpu::timer2Baud() const
{
    const std::uint8_t t2con = sfrVal(sfr::T2CON);
    if (!(t2con & kTR2) || (t2con & 0x02))
        return 0.0;
    const unsigned reload = unsigned(sfrVal(sfr::RCAP2H)) << 8 | sfrVal(sfr::RCAP2L);
    return m_crystalHz / (32.0 * (0x10000u - reload));
}

double Cpu::uartBaud() const
{
    const bool smod = sfrVal(sfr::PCON) & 0x80;
    switch (sfrVal(sfr::SCON) >> 6) {
    case 0: return m_crystalHz / 12.0;
    case 2: return m_crystalHz / (smod ? 32.0 : 64.0);
    default: break;
    }
    const bool t2 = m_variant == Variant::I8052 && (sfrVal(sfr::T2CON) & kTCLK);
    return t2 ? timer2Baud() : timer1Baud();
}

RxResult Cpu::receiveByte(std::uint8_t byte, double lineBaud)
{
    const std::uint8_t scon = sfrVal(sfr::SCON);
    const int mode = scon >> 6;
    if (!(scon & kREN) || mode == 0 || mode == 2)
        return RxResult::Disabled;
    syncPeripherals();
    if (m_rxTicksLeft > 0)
        return RxResult::Busy;
    const bool t2 = m_variant == Variant::I8052 && (sfrVal(sfr::T2CON) & kRCLK);
    const double rate = t2 ? timer2Baud() : timer1Baud();
    // A UART samples mid-bit: beyond a few percent the stop bit is misread.
    if (rate <= 0.0 || std::fabs(lineBaud - rate) > 0.025 * rate)
        return RxResult::RateMismatch;
    m_rxByte = byte;
    // The data sheet: RI "is set by hardware ... halfway through the stop bit
    // time", when the last sample is taken: 9.5 bit times after the start
    // edge in mode 1 (start, 8 data bits), 10.5 in mode 3 (and the ninth).
    m_rxTicksLeft = (mode == 1 ? 9 : 10) * 16 + 8;
    scheduleNextEvent();
    return RxResult::Accepted;
}

// ---- interrupts ---------------------------------------------------------

// INT0 and INT1 are P3.2 and P3.3. Nothing outside drives them, so each pin
// follows its latch, and p3Before is the pin level before the latest write.
// With ITx set a falling edge latches IEx until the interrupt is taken or the
// program clears it; with ITx clear the request is the low pin itself.
void Cpu::sampleExternalInterrupts(std::uint8_t p3Before)
{
    const std::uint8_t p3 = sfrVal(sfr::P3);
    std::uint8_t &tcon = sfrRef(sfr::TCON);
    for (int n = 0; n < 2; ++n) {
        const std::uint8_t pin = std::uint8_t(0x04 << n);
        const std::uint8_t request = std::uint8_t(kIE0 << 2 * n);
        const bool low = !(p3 & pin), wasLow = !(p3Before & pin);
        if (tcon & (kIT0 << 2 * n)) {
            if (low && !wasLow)
                tcon |= request;
        } else if (low) {
            tcon |= request;
        } else if (wasLow) {
            tcon &= std::uint8_t(~request);
        }
    }
}

bool Cpu::checkInterrupts()
{
    const std::uint8_t ie = sfrVal(sfr::IE);
    if (!(ie & kEA)) {
        m_irqCheck = false;
        return false;
    }
    std::uint8_t &tcon = sfrRef(sfr::TCON);
    const std::uint8_t scon = sfrVal(sfr::SCON);
    // One request bit per source, in the order of polling within a level.
    std::uint8_t requests = 0;
    if (tcon & kIE0) requests |= 0x01;
    if (tcon & kTF0) requests |= 0x02;
    if (tcon & kIE1) requests |= 0x04;
    if (tcon & kTF1) requests |= 0x08;
    if (scon & (kRI | kTI)) requests |= 0x10;
    if (m_variant == Variant::I8052 && (sfrVal(sfr::T2CON) & (kTF2 | kEXF2)))
        requests |= 0x20;
    requests &= ie;
    const std::uint8_t ip = sfrVal(sfr::IP);
    const std::uint8_t high = requests & ip;
    const std::uint8_t low = requests & std::uint8_t(~ip);
    std::uint8_t chosen;
    std::uint8_t level;
    // A high-priority request interrupts a low-priority routine; nothing
    // interrupts a high-priority one, and a low one waits for its level's RETI.
    if (high && !(m_activeLevels & 2)) {
        chosen = high;
        level = 2;
    } else if (low && m_activeLevels == 0) {
        chosen = low;
        level = 1;
    } else {
        m_irqCheck = false; // RETI or a new request looks again
        return false;
    }
    // Bring the counters to this moment before a flag is cleared under them.
    syncPeripherals();
    int source = 0;
    while (!(chosen & (1u << source)))
        ++source;
    // The hardware clears the timer flags, and the edge-triggered external
    // ones; RI, TI and TF2 are left to the routine.
    switch (source) {
    case 0: if (tcon & kIT0) tcon &= std::uint8_t(~kIE0); break;
    case 1: tcon &= std::uint8_t(~kTF0); break;
    case 2: if (tcon & kIT1) tcon &= std::uint8_t(~kIE1); break;
    case 3: tcon &= std::uint8_t(~kTF1); break;
    default: break;
    }
    push(std::uint8_t(m_pc));
    push(std::uint8_t(m_pc >> 8));
    m_pc = std::uint16_t(0x03 + 8 * source);
    m_activeLevels |= level;
    scheduleNextEvent();
    return true;
}

} // namespace mcs51
