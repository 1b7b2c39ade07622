#include "mcs51/Cpu.h"

#include "mcs51/Opcodes.h"

#include <algorithm>
#include <cmath>

namespace mcs51 {

namespace {

constexpr std::uint8_t kCY = 0x80, kAC = 0x40, kOV = 0x04;

// TCON, SCON, IE and T2CON bits.
constexpr std::uint8_t kTF1 = 0x80, kTR1 = 0x40, kTF0 = 0x20, kTR0 = 0x10;
constexpr std::uint8_t kIE1 = 0x08, kIT1 = 0x04, kIE0 = 0x02, kIT0 = 0x01;
constexpr std::uint8_t kREN = 0x10, kTI = 0x02, kRI = 0x01;
constexpr std::uint8_t kEA = 0x80;
constexpr std::uint8_t kTF2 = 0x80, kEXF2 = 0x40, kRCLK = 0x20, kTCLK = 0x10, kTR2 = 0x04;

bool parity(std::uint8_t v)
{
    v ^= v >> 4;
    v ^= v >> 2;
    v ^= v >> 1;
    return v & 1;
}

} // namespace

Cpu::Cpu(Variant variant, double crystalHz)
    : m_variant(variant)
    , m_crystalHz(crystalHz)
    , m_iramTop(variant == Variant::I8052 ? 0xFF : 0x7F)
    , m_code(0x10000, 0)
    , m_xram(0x10000, 0)
{
    reset();
}

void Cpu::loadCode(std::uint16_t address, const std::uint8_t *data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        m_code[std::uint16_t(address + i)] = data[i];
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
    m_activeLevels = 0;
    m_irqCheck = m_irqHold = false;
    m_t1Half = false;
    m_txTicksLeft = m_rxTicksLeft = m_frameCycles = 0;
    m_frameIsRx = false;
    updateActivity();
}

std::uint8_t Cpu::psw() const
{
    const std::uint8_t p = m_sfr[sfr::PSW - 0x80];
    return std::uint8_t((p & 0xFE) | parity(m_sfr[sfr::ACC - 0x80]));
}

std::uint8_t Cpu::peekDirect(std::uint8_t address) const
{
    if (address < 0x80)
        return m_iram[address];
    if (address == sfr::PSW)
        return psw();
    if (address == sfr::SBUF)
        return m_rxBuffer;
    return sfrVal(address);
}

void Cpu::pokeDirect(std::uint8_t address, std::uint8_t value)
{
    if (address < 0x80)
        m_iram[address] = value;
    else
        sfrRef(address) = value;
    updateActivity();
    m_irqCheck = true;
}

// ---- memory access ------------------------------------------------------

std::uint8_t Cpu::readSfr(std::uint8_t address)
{
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
    case sfr::TCON:
    case sfr::TMOD:
    case sfr::SCON:
    case sfr::T2CON:
    case sfr::PCON:
    case sfr::P3: // gate inputs INT0/INT1
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
    if (sfrWriteHook)
        sfrWriteHook(address, value);
}

inline std::uint8_t Cpu::readDirect(std::uint8_t address)
{
    return address < 0x80 ? m_iram[address] : readSfr(address);
}

inline void Cpu::writeDirect(std::uint8_t address, std::uint8_t value)
{
    if (address < 0x80)
        m_iram[address] = value;
    else
        writeSfr(address, value);
}

// Bit addresses 0x00-0x7F live in RAM bytes 0x20-0x2F; 0x80-0xFF in the SFRs
// whose address ends in 0 or 8.
inline bool Cpu::readBit(std::uint8_t bit)
{
    const std::uint8_t mask = std::uint8_t(1u << (bit & 7));
    if (bit < 0x80)
        return m_iram[0x20 + (bit >> 3)] & mask;
    return readSfr(bit & 0xF8) & mask;
}

inline void Cpu::writeBit(std::uint8_t bit, bool value)
{
    const std::uint8_t mask = std::uint8_t(1u << (bit & 7));
    if (bit < 0x80) {
        std::uint8_t &byte = m_iram[0x20 + (bit >> 3)];
        byte = std::uint8_t(value ? byte | mask : byte & ~mask);
        return;
    }
    const std::uint8_t address = bit & 0xF8;
    // The read-modify-write takes the latch, not the pin or the receive buffer.
    const std::uint8_t latch = address == sfr::SBUF ? m_txByte : sfrVal(address);
    writeSfr(address, std::uint8_t(value ? latch | mask : latch & ~mask));
}

inline std::uint8_t Cpu::readIndirect(std::uint8_t address) const
{
    // Without the 8052's upper RAM an indirect read above 0x7F finds nothing.
    return address <= m_iramTop ? m_iram[address] : 0xFF;
}

inline void Cpu::writeIndirect(std::uint8_t address, std::uint8_t value)
{
    if (address <= m_iramTop)
        m_iram[address] = value;
}

inline std::uint8_t Cpu::readXdata(std::uint16_t address)
{
    std::uint8_t value;
    if (xdataReadHook && xdataReadHook(address, value))
        return value;
    return m_xram[address];
}

inline void Cpu::writeXdata(std::uint16_t address, std::uint8_t value)
{
    if (xdataWriteHook && xdataWriteHook(address, value))
        return;
    m_xram[address] = value;
}

inline void Cpu::push(std::uint8_t value)
{
    std::uint8_t &sp = sfrRef(sfr::SP);
    ++sp;
    writeIndirect(sp, value);
}

inline std::uint8_t Cpu::pop()
{
    std::uint8_t &sp = sfrRef(sfr::SP);
    const std::uint8_t value = readIndirect(sp);
    --sp;
    return value;
}

// ---- arithmetic: the only places that compute CY, AC and OV -------------

inline void Cpu::addToA(std::uint8_t operand, bool carryIn)
{
    const unsigned a = accRef();
    const unsigned c = carryIn ? 1 : 0;
    const unsigned sum = a + operand + c;
    std::uint8_t flags = 0;
    if (sum > 0xFF)
        flags |= kCY;
    if ((a & 0x0F) + (operand & 0x0F) + c > 0x0F)
        flags |= kAC;
    // Signed overflow: both operands of one sign, the result of the other.
    if (~(a ^ operand) & (a ^ sum) & 0x80)
        flags |= kOV;
    pswRef() = std::uint8_t((pswRef() & ~(kCY | kAC | kOV)) | flags);
    accRef() = std::uint8_t(sum);
}

inline void Cpu::subtractFromA(std::uint8_t operand)
{
    const unsigned a = accRef();
    const unsigned c = carry() ? 1 : 0;
    const unsigned diff = a - operand - c;
    std::uint8_t flags = 0;
    if (a < operand + c)
        flags |= kCY;
    if ((a & 0x0F) < (operand & 0x0F) + c)
        flags |= kAC;
    if ((a ^ operand) & (a ^ diff) & 0x80)
        flags |= kOV;
    pswRef() = std::uint8_t((pswRef() & ~(kCY | kAC | kOV)) | flags);
    accRef() = std::uint8_t(diff);
}

inline void Cpu::compareAndJump(std::uint8_t first, std::uint8_t second, std::int8_t rel)
{
    setCarry(first < second);
    if (first != second)
        m_pc = std::uint16_t(m_pc + rel);
}

// ---- the interpreter ----------------------------------------------------

inline int Cpu::execute()
{
    const std::uint8_t *code = m_code.data();
    const std::uint8_t op = code[m_pc];
    const std::uint8_t op1 = code[std::uint16_t(m_pc + 1)];
    const std::uint8_t op2 = code[std::uint16_t(m_pc + 2)];
    const OpcodeInfo &info = kOpcodes[op];
    m_pc = std::uint16_t(m_pc + info.bytes);
    std::uint8_t &acc = accRef();

    switch (op) {
    // NOP  0000 0000
    case 0x00: break;
    // AJMP addr11  aaa0 0001
    case 0x01: case 0x21: case 0x41: case 0x61: case 0x81: case 0xA1: case 0xC1: case 0xE1:
        m_pc = std::uint16_t((m_pc & 0xF800) | ((op & 0xE0) << 3) | op1);
        break;
    // ACALL addr11  aaa1 0001
    case 0x11: case 0x31: case 0x51: case 0x71: case 0x91: case 0xB1: case 0xD1: case 0xF1:
        push(std::uint8_t(m_pc));
        push(std::uint8_t(m_pc >> 8));
        m_pc = std::uint16_t((m_pc & 0xF800) | ((op & 0xE0) << 3) | op1);
        break;
    // LJMP addr16  0000 0010
    case 0x02: m_pc = std::uint16_t(op1 << 8 | op2); break;
    // LCALL addr16  0001 0010
    case 0x12:
        push(std::uint8_t(m_pc));
        push(std::uint8_t(m_pc >> 8));
        m_pc = std::uint16_t(op1 << 8 | op2);
        break;
    // RET  0010 0010
    case 0x22: {
        const std::uint8_t hi = pop();
        m_pc = std::uint16_t(hi << 8 | pop());
        break;
    }
    // RETI  0011 0010
    case 0x32: {
        const std::uint8_t hi = pop();
        m_pc = std::uint16_t(hi << 8 | pop());
        // Ends the routine of the highest level in progress.
        if (m_activeLevels & 2)
            m_activeLevels &= 1;
        else
            m_activeLevels = 0;
        m_irqHold = true;
        m_irqCheck = true;
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
    case 0x05: writeDirect(op1, std::uint8_t(readDirect(op1) + 1)); break;
    // INC @Ri  0000 011i
    case 0x06: case 0x07: {
        const std::uint8_t r = regRef(op & 1);
        writeIndirect(r, std::uint8_t(readIndirect(r) + 1));
        break;
    }
    // INC Rn  0000 1rrr
    case 0x08: case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x0E: case 0x0F:
        ++regRef(op & 7);
        break;
    // DEC A  0001 0100
    case 0x14: --acc; break;
    // DEC direct  0001 0101
    case 0x15: writeDirect(op1, std::uint8_t(readDirect(op1) - 1)); break;
    // DEC @Ri  0001 011i
    case 0x16: case 0x17: {
        const std::uint8_t r = regRef(op & 1);
        writeIndirect(r, std::uint8_t(readIndirect(r) - 1));
        break;
    }
    // DEC Rn  0001 1rrr
    case 0x18: case 0x19: case 0x1A: case 0x1B: case 0x1C: case 0x1D: case 0x1E: case 0x1F:
        --regRef(op & 7);
        break;
    // JBC bit,rel  0001 0000
    case 0x10:
        if (readBit(op1)) {
            writeBit(op1, false);
            m_pc = std::uint16_t(m_pc + std::int8_t(op2));
        }
        break;
    // JB bit,rel  0010 0000
    case 0x20:
        if (readBit(op1))
            m_pc = std::uint16_t(m_pc + std::int8_t(op2));
        break;
    // JNB bit,rel  0011 0000
    case 0x30:
        if (!readBit(op1))
            m_pc = std::uint16_t(m_pc + std::int8_t(op2));
        break;
    // ADD A,#data  0010 0100
    case 0x24: addToA(op1, false); break;
    // ADD A,direct  0010 0101
    case 0x25: addToA(readDirect(op1), false); break;
    // ADD A,@Ri  0010 011i
    case 0x26: case 0x27: addToA(readIndirect(regRef(op & 1)), false); break;
    // ADD A,Rn  0010 1rrr
    case 0x28: case 0x29: case 0x2A: case 0x2B: case 0x2C: case 0x2D: case 0x2E: case 0x2F:
        addToA(regRef(op & 7), false);
        break;
    // ADDC A,#data  0011 0100
    case 0x34: addToA(op1, carry()); break;
    // ADDC A,direct  0011 0101
    case 0x35: addToA(readDirect(op1), carry()); break;
    // ADDC A,@Ri  0011 011i
    case 0x36: case 0x37: addToA(readIndirect(regRef(op & 1)), carry()); break;
    // ADDC A,Rn  0011 1rrr
    case 0x38: case 0x39: case 0x3A: case 0x3B: case 0x3C: case 0x3D: case 0x3E: case 0x3F:
        addToA(regRef(op & 7), carry());
        break;
    // JC rel  0100 0000
    case 0x40:
        if (carry())
            m_pc = std::uint16_t(m_pc + std::int8_t(op1));
        break;
    // JNC rel  0101 0000
    case 0x50:
        if (!carry())
            m_pc = std::uint16_t(m_pc + std::int8_t(op1));
        break;
    // JZ rel  0110 0000
    case 0x60:
        if (acc == 0)
            m_pc = std::uint16_t(m_pc + std::int8_t(op1));
        break;
    // JNZ rel  0111 0000
    case 0x70:
        if (acc != 0)
            m_pc = std::uint16_t(m_pc + std::int8_t(op1));
        break;
    // SJMP rel  1000 0000
    case 0x80: m_pc = std::uint16_t(m_pc + std::int8_t(op1)); break;
    // ORL direct,A  0100 0010
    case 0x42: writeDirect(op1, readDirect(op1) | acc); break;
    // ORL direct,#data  0100 0011
    case 0x43: writeDirect(op1, readDirect(op1) | op2); break;
    // ORL A,#data  0100 0100
    case 0x44: acc |= op1; break;
    // ORL A,direct  0100 0101
    case 0x45: acc |= readDirect(op1); break;
    // ORL A,@Ri  0100 011i
    case 0x46: case 0x47: acc |= readIndirect(regRef(op & 1)); break;
    // ORL A,Rn  0100 1rrr
    case 0x48: case 0x49: case 0x4A: case 0x4B: case 0x4C: case 0x4D: case 0x4E: case 0x4F:
        acc |= regRef(op & 7);
        break;
    // ANL direct,A  0101 0010
    case 0x52: writeDirect(op1, readDirect(op1) & acc); break;
    // ANL direct,#data  0101 0011
    case 0x53: writeDirect(op1, readDirect(op1) & op2); break;
    // ANL A,#data  0101 0100
    case 0x54: acc &= op1; break;
    // ANL A,direct  0101 0101
    case 0x55: acc &= readDirect(op1); break;
    // ANL A,@Ri  0101 011i
    case 0x56: case 0x57: acc &= readIndirect(regRef(op & 1)); break;
    // ANL A,Rn  0101 1rrr
    case 0x58: case 0x59: case 0x5A: case 0x5B: case 0x5C: case 0x5D: case 0x5E: case 0x5F:
        acc &= regRef(op & 7);
        break;
    // XRL direct,A  0110 0010
    case 0x62: writeDirect(op1, readDirect(op1) ^ acc); break;
    // XRL direct,#data  0110 0011
    case 0x63: writeDirect(op1, readDirect(op1) ^ op2); break;
    // XRL A,#data  0110 0100
    case 0x64: acc ^= op1; break;
    // XRL A,direct  0110 0101
    case 0x65: acc ^= readDirect(op1); break;
    // XRL A,@Ri  0110 011i
    case 0x66: case 0x67: acc ^= readIndirect(regRef(op & 1)); break;
    // XRL A,Rn  0110 1rrr
    case 0x68: case 0x69: case 0x6A: case 0x6B: case 0x6C: case 0x6D: case 0x6E: case 0x6F:
        acc ^= regRef(op & 7);
        break;
    // ORL C,bit  0111 0010
    case 0x72: if (readBit(op1)) setCarry(true); break;
    // ORL C,/bit  1010 0000
    case 0xA0: if (!readBit(op1)) setCarry(true); break;
    // ANL C,bit  1000 0010
    case 0x82: if (!readBit(op1)) setCarry(false); break;
    // ANL C,/bit  1011 0000
    case 0xB0: if (readBit(op1)) setCarry(false); break;
    // JMP @A+DPTR  0111 0011
    case 0x73: m_pc = std::uint16_t(dptr() + acc); break;
    // MOV A,#data  0111 0100
    case 0x74: acc = op1; break;
    // MOV direct,#data  0111 0101
    case 0x75: writeDirect(op1, op2); break;
    // MOV @Ri,#data  0111 011i
    case 0x76: case 0x77: writeIndirect(regRef(op & 1), op1); break;
    // MOV Rn,#data  0111 1rrr
    case 0x78: case 0x79: case 0x7A: case 0x7B: case 0x7C: case 0x7D: case 0x7E: case 0x7F:
        regRef(op & 7) = op1;
        break;
    // MOVC A,@A+PC  1000 0011
    case 0x83: acc = code[std::uint16_t(m_pc + acc)]; break;
    // MOVC A,@A+DPTR  1001 0011
    case 0x93: acc = code[std::uint16_t(dptr() + acc)]; break;
    // DIV AB  1000 0100
    case 0x84: {
        std::uint8_t &b = sfrRef(sfr::B);
        // Division by zero leaves A and B as they were and sets OV.
        if (b == 0) {
            pswRef() = std::uint8_t((pswRef() & ~kCY) | kOV);
        } else {
            const std::uint8_t q = std::uint8_t(acc / b), r = std::uint8_t(acc % b);
            acc = q;
            b = r;
            pswRef() &= std::uint8_t(~(kCY | kOV));
        }
        break;
    }
    // MUL AB  1010 0100
    case 0xA4: {
        std::uint8_t &b = sfrRef(sfr::B);
        const unsigned product = unsigned(acc) * b;
        acc = std::uint8_t(product);
        b = std::uint8_t(product >> 8);
        pswRef() = std::uint8_t((pswRef() & ~(kCY | kOV)) | (product > 0xFF ? kOV : 0));
        break;
    }
    // MOV direct,direct  1000 0101 (source byte first)
    case 0x85: writeDirect(op2, readDirect(op1)); break;
    // MOV direct,@Ri  1000 011i
    case 0x86: case 0x87: writeDirect(op1, readIndirect(regRef(op & 1))); break;
    // MOV direct,Rn  1000 1rrr
    case 0x88: case 0x89: case 0x8A: case 0x8B: case 0x8C: case 0x8D: case 0x8E: case 0x8F:
        writeDirect(op1, regRef(op & 7));
        break;
    // MOV DPTR,#data16  1001 0000
    case 0x90:
        sfrRef(sfr::DPH) = op1;
        sfrRef(sfr::DPL) = op2;
        break;
    // MOV bit,C  1001 0010
    case 0x92: writeBit(op1, carry()); break;
    // SUBB A,#data  1001 0100
    case 0x94: subtractFromA(op1); break;
    // SUBB A,direct  1001 0101
    case 0x95: subtractFromA(readDirect(op1)); break;
    // SUBB A,@Ri  1001 011i
    case 0x96: case 0x97: subtractFromA(readIndirect(regRef(op & 1))); break;
    // SUBB A,Rn  1001 1rrr
    case 0x98: case 0x99: case 0x9A: case 0x9B: case 0x9C: case 0x9D: case 0x9E: case 0x9F:
        subtractFromA(regRef(op & 7));
        break;
    // MOV C,bit  1010 0010
    case 0xA2: setCarry(readBit(op1)); break;
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
    case 0xA6: case 0xA7: writeIndirect(regRef(op & 1), readDirect(op1)); break;
    // MOV Rn,direct  1010 1rrr
    case 0xA8: case 0xA9: case 0xAA: case 0xAB: case 0xAC: case 0xAD: case 0xAE: case 0xAF:
        regRef(op & 7) = readDirect(op1);
        break;
    // CPL bit  1011 0010
    case 0xB2: writeBit(op1, !readBit(op1)); break;
    // CPL C  1011 0011
    case 0xB3: setCarry(!carry()); break;
    // CJNE A,#data,rel  1011 0100
    case 0xB4: compareAndJump(acc, op1, std::int8_t(op2)); break;
    // CJNE A,direct,rel  1011 0101
    case 0xB5: compareAndJump(acc, readDirect(op1), std::int8_t(op2)); break;
    // CJNE @Ri,#data,rel  1011 011i
    case 0xB6: case 0xB7: compareAndJump(readIndirect(regRef(op & 1)), op1, std::int8_t(op2)); break;
    // CJNE Rn,#data,rel  1011 1rrr
    case 0xB8: case 0xB9: case 0xBA: case 0xBB: case 0xBC: case 0xBD: case 0xBE: case 0xBF:
        compareAndJump(regRef(op & 7), op1, std::int8_t(op2));
        break;
    // PUSH direct  1100 0000
    case 0xC0: push(readDirect(op1)); break;
    // POP direct  1101 0000
    case 0xD0: writeDirect(op1, pop()); break;
    // CLR bit  1100 0010
    case 0xC2: writeBit(op1, false); break;
    // CLR C  1100 0011
    case 0xC3: setCarry(false); break;
    // SETB bit  1101 0010
    case 0xD2: writeBit(op1, true); break;
    // SETB C  1101 0011
    case 0xD3: setCarry(true); break;
    // SWAP A  1100 0100
    case 0xC4: acc = std::uint8_t(acc << 4 | acc >> 4); break;
    // XCH A,direct  1100 0101
    case 0xC5: {
        const std::uint8_t t = readDirect(op1);
        writeDirect(op1, acc);
        acc = t;
        break;
    }
    // XCH A,@Ri  1100 011i
    case 0xC6: case 0xC7: {
        const std::uint8_t r = regRef(op & 1);
        const std::uint8_t t = readIndirect(r);
        writeIndirect(r, acc);
        acc = t;
        break;
    }
    // XCH A,Rn  1100 1rrr
    case 0xC8: case 0xC9: case 0xCA: case 0xCB: case 0xCC: case 0xCD: case 0xCE: case 0xCF: {
        std::uint8_t &r = regRef(op & 7);
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
        if ((v & 0x0F) > 9 || (pswRef() & kAC)) {
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
        const std::uint8_t v = std::uint8_t(readDirect(op1) - 1);
        writeDirect(op1, v);
        if (v != 0)
            m_pc = std::uint16_t(m_pc + std::int8_t(op2));
        break;
    }
    // XCHD A,@Ri  1101 011i
    case 0xD6: case 0xD7: {
        const std::uint8_t r = regRef(op & 1);
        const std::uint8_t m = readIndirect(r);
        writeIndirect(r, std::uint8_t((m & 0xF0) | (acc & 0x0F)));
        acc = std::uint8_t((acc & 0xF0) | (m & 0x0F));
        break;
    }
    // DJNZ Rn,rel  1101 1rrr
    case 0xD8: case 0xD9: case 0xDA: case 0xDB: case 0xDC: case 0xDD: case 0xDE: case 0xDF:
        if (--regRef(op & 7) != 0)
            m_pc = std::uint16_t(m_pc + std::int8_t(op1));
        break;
    // MOVX A,@DPTR  1110 0000
    case 0xE0: acc = readXdata(dptr()); break;
    // MOVX A,@Ri  1110 001i: P2 gives the high address byte
    case 0xE2: case 0xE3:
        acc = readXdata(std::uint16_t(sfrVal(sfr::P2) << 8 | regRef(op & 1)));
        break;
    // CLR A  1110 0100
    case 0xE4: acc = 0; break;
    // MOV A,direct  1110 0101
    case 0xE5: acc = readDirect(op1); break;
    // MOV A,@Ri  1110 011i
    case 0xE6: case 0xE7: acc = readIndirect(regRef(op & 1)); break;
    // MOV A,Rn  1110 1rrr
    case 0xE8: case 0xE9: case 0xEA: case 0xEB: case 0xEC: case 0xED: case 0xEE: case 0xEF:
        acc = regRef(op & 7);
        break;
    // MOVX @DPTR,A  1111 0000
    case 0xF0: writeXdata(dptr(), acc); break;
    // MOVX @Ri,A  1111 001i
    case 0xF2: case 0xF3:
        writeXdata(std::uint16_t(sfrVal(sfr::P2) << 8 | regRef(op & 1)), acc);
        break;
    // CPL A  1111 0100
    case 0xF4: acc = std::uint8_t(~acc); break;
    // MOV direct,A  1111 0101
    case 0xF5: writeDirect(op1, acc); break;
    // MOV @Ri,A  1111 011i
    case 0xF6: case 0xF7: writeIndirect(regRef(op & 1), acc); break;
    // MOV Rn,A  1111 1rrr
    case 0xF8: case 0xF9: case 0xFA: case 0xFB: case 0xFC: case 0xFD: case 0xFE: case 0xFF:
        regRef(op & 7) = acc;
        break;
    }
    ++m_instructions;
    return info.cycles;
}

// ---- time ---------------------------------------------------------------

inline void Cpu::tick(int cycles)
{
    m_cycles += std::uint64_t(cycles);
    if (m_timersActive)
        tickTimers(cycles);
    if (m_frameCycles > 0)
        tickFrameTimes(cycles);
}

int Cpu::step()
{
    // Taking an interrupt is a step of its own: the hardware LCALL to the vector.
    const int cycles = (m_irqCheck && checkInterrupts()) ? 2 : execute();
    tick(cycles);
    return cycles;
}

std::uint64_t Cpu::run(std::uint64_t cycles, int stopAt)
{
    const std::uint64_t start = m_cycles;
    const std::uint64_t end = start + cycles;
    while (m_cycles < end) {
        if (m_irqCheck && checkInterrupts()) {
            tick(2);
            continue;
        }
        if (int(m_pc) == stopAt)
            break;
        tick(execute());
    }
    return m_cycles - start;
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

    if ((m_txTicksLeft > 0 || m_rxTicksLeft > 0) && (t1Overflows || t2Overflows)) {
        // The serial port's 16x clock: timer 1 overflows, halved unless SMOD
        // is set, or timer 2 overflows directly.
        int t1Ticks = t1Overflows;
        if (!(sfrVal(sfr::PCON) & 0x80)) {
            t1Ticks = (t1Overflows + (m_t1Half ? 1 : 0)) / 2;
            m_t1Half = ((t1Overflows + (m_t1Half ? 1 : 0)) & 1) != 0;
        }
        const std::uint8_t t2con = sfrVal(sfr::T2CON);
        const bool t2Tx = m_variant == Variant::I8052 && (t2con & kTCLK);
        const bool t2Rx = m_variant == Variant::I8052 && (t2con & kRCLK);
        tickUart(t2Tx ? t2Overflows : t1Ticks, t2Rx ? t2Overflows : t1Ticks);
    } else if (t1Overflows & 1) {
        m_t1Half = !m_t1Half;
    }
}

// ---- serial port --------------------------------------------------------

void Cpu::startTransmit(std::uint8_t byte)
{
    m_txByte = byte;
    const int mode = sfrVal(sfr::SCON) >> 6;
    switch (mode) {
    case 0: // shift register: eight bits at one per machine cycle
        m_frameCycles = 8;
        m_frameIsRx = false;
        break;
    case 2: // eleven bits at 1/64 (SMOD: 1/32) of the crystal
        m_frameCycles = (sfrVal(sfr::PCON) & 0x80) ? 30 : 59;
        m_frameIsRx = false;
        break;
    default: // start bit, 8 data bits (and TB8 in mode 3), stop bit; 16 clocks each
        m_txTicksLeft = (mode == 1 ? 10 : 11) * 16;
        m_t1Half = false;
        break;
    }
}

void Cpu::tickUart(int txTicks, int rxTicks)
{
    if (m_txTicksLeft > 0 && txTicks > 0) {
        m_txTicksLeft -= txTicks;
        if (m_txTicksLeft <= 0) {
            m_txTicksLeft = 0;
            sfrRef(sfr::SCON) |= kTI;
            m_irqCheck = true;
            if (onTransmit)
                onTransmit(m_txByte, uartBaud());
        }
    }
    if (m_rxTicksLeft > 0 && rxTicks > 0) {
        m_rxTicksLeft -= rxTicks;
        if (m_rxTicksLeft <= 0) {
            m_rxTicksLeft = 0;
            std::uint8_t &scon = sfrRef(sfr::SCON);
            // A frame that arrives while RI is still set is lost (overrun);
            // the stop bit (RB8) is 1, so SM2 never holds it back.
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
    m_frameCycles -= cycles;
    if (m_frameCycles > 0)
        return;
    m_frameCycles = 0;
    if (!m_frameIsRx) {
        sfrRef(sfr::SCON) |= kTI;
        m_irqCheck = true;
        if (onTransmit)
            onTransmit(m_txByte, uartBaud());
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
    if (m_rxTicksLeft > 0)
        return RxResult::Busy;
    const bool t2 = m_variant == Variant::I8052 && (sfrVal(sfr::T2CON) & kRCLK);
    const double rate = t2 ? timer2Baud() : timer1Baud();
    // A UART samples mid-bit: beyond a few percent the stop bit is misread.
    if (rate <= 0.0 || std::fabs(lineBaud - rate) > 0.025 * rate)
        return RxResult::RateMismatch;
    m_rxByte = byte;
    m_rxTicksLeft = (mode == 1 ? 10 : 11) * 16;
    return RxResult::Accepted;
}

// ---- interrupts ---------------------------------------------------------

bool Cpu::checkInterrupts()
{
    if (m_irqHold) {
        m_irqHold = false;
        return false;
    }
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
    return true;
}

} // namespace mcs51
