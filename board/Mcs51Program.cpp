#include "board/Mcs51Program.h"

#include "board/UartSampling.h"

#include <algorithm>
#include <cmath>

using namespace std::chrono;

namespace {
// A receiver still shifting in the previous frame is looked at again this much later
// (one sixteenth of a bit at 19200 baud at 11.0592 MHz is about 3 cycles).
constexpr std::uint64_t kBusyRetryCycles = 8;
// Host bytes reach the pin back to back, 10 bit times apart, as a real line sends a paste.
// A program that echoes each byte keeps up: RI rises halfway through the stop bit and TI
// as the echo's stop bit begins, so it sends one frame per frame received.
constexpr double kHostBitsPerByte = 10.0;
} // namespace

Mcs51Program::Mcs51Program(Mcs51Options options, Now now)
    : m_options(options), m_now(std::move(now)), m_cpu(mcs51::Variant::I8052, options.crystalHz)
{
    m_frameCycles = std::max<std::uint64_t>(
        1, std::uint64_t(std::llround(kHostBitsPerByte / m_options.lineBaud * m_cpu.machineCyclesPerSecond())));
    m_cpu.onTransmit = [this](std::uint8_t byte, double baud) {
        ++m_counts.sent;
        const std::optional<quint8> seen = sampleFrame(byte, baud, m_options.lineBaud);
        if (!seen) {
            ++m_counts.sentLost;
            return;
        }
        if (*seen != byte)
            ++m_counts.sentGarbled;
        m_tx.append(char(*seen));
    };
}

std::uint64_t Mcs51Program::cyclesFor(Clock::duration d) const
{
    return std::uint64_t(duration<double>(d).count() * m_cpu.machineCyclesPerSecond());
}

void Mcs51Program::start(const BoardMemory &memory, BoardOutput &)
{
    m_cpu.loadCode(0, reinterpret_cast<const std::uint8_t *>(memory.code.constData()), std::size_t(memory.code.size()));
    m_cpu.reset();
    if (memory.entry)
        m_cpu.setPc(*memory.entry);
    m_started = true;
    m_originTime = m_now();
    m_originCycles = m_cpu.cycles();
    m_rxDue = m_cpu.cycles();
}

void Mcs51Program::receive(const QByteArray &bytes, BoardOutput &)
{
    // The bytes are on the line now; they reach the pin one frame apart. "Now" is the wall
    // clock, not the core, which lags it by up to a slice: a byte typed just after the run
    // request must not meet the program before it had the time to switch its receiver on.
    if (m_rx.empty()) {
        std::uint64_t arrival = m_cpu.cycles();
        if (m_started && !m_options.fast) {
            const std::uint64_t wall = m_originCycles + cyclesFor(m_now() - m_originTime);
            // After a stall the next tick skips ahead by one slice only; so does the byte.
            arrival = std::max(arrival, std::min(wall, m_cpu.cycles() + cyclesFor(kSlice)));
        }
        m_rxDue = std::max(m_rxDue, arrival);
    }
    for (char byte : bytes)
        m_rx.push_back(quint8(byte));
}

int Mcs51Program::tick(BoardOutput &out)
{
    if (!m_started)
        return -1;
    if (m_options.fast) {
        runUntil(m_cpu.cycles() + kFastBudget, out);
        return 0;
    }
    const Clock::time_point now = m_now();
    std::uint64_t target = m_originCycles + cyclesFor(now - m_originTime);
    if (target > m_cpu.cycles() + cyclesFor(kMaxLag)) {
        // Far behind: time the core did not see is skipped, not run at full speed.
        target = m_cpu.cycles() + cyclesFor(kSlice);
        m_originTime = now;
        m_originCycles = target;
    }
    runUntil(target, out);
    return int(kSlice.count());
}

void Mcs51Program::runUntil(std::uint64_t target, BoardOutput &out)
{
    while (m_cpu.cycles() < target) {
        if (!m_rx.empty() && m_rxDue <= m_cpu.cycles())
            offerReceived();
        std::uint64_t until = target;
        if (!m_rx.empty())
            until = std::min(until, std::max(m_rxDue, m_cpu.cycles() + 1));
        m_cpu.run(until - m_cpu.cycles());
    }
    if (!m_tx.isEmpty()) {
        out.send(m_tx);
        m_tx.clear();
    }
}

void Mcs51Program::offerReceived()
{
    const quint8 byte = m_rx.front();
    mcs51::RxResult result = m_cpu.receiveByte(byte, m_options.lineBaud);
    if (result == mcs51::RxResult::Busy) {
        // A receiver a little slower than the line still catches the next start bit.
        m_rxDue = m_cpu.cycles() + kBusyRetryCycles;
        return;
    }
    if (result == mcs51::RxResult::RateMismatch) {
        // The frame is read at the program's rate: the transmit rate stands in for the
        // receive rate, which differs only on an 8052 clocking the two from different timers.
        const double rate = m_cpu.uartBaud();
        const std::optional<quint8> seen = sampleFrame(byte, m_options.lineBaud, rate);
        result = seen ? m_cpu.receiveByte(*seen, rate) : mcs51::RxResult::Disabled;
        if (result == mcs51::RxResult::Accepted && *seen != byte)
            ++m_counts.receivedGarbled;
    }
    if (result == mcs51::RxResult::Accepted)
        ++m_counts.received;
    else
        ++m_counts.receivedLost;
    m_rx.pop_front();
    m_rxDue += m_frameCycles;
}
