#pragma once
#include "board/BoardProgram.h"
#include "mcs51/Cpu.h"

#include <chrono>
#include <deque>
#include <functional>

struct Mcs51Options {
    double crystalHz = 11059200.0;
    // The bit rate of the host's end of the line. A pseudo-terminal does not carry the
    // host's setting to the board, so it is told; 19200 is Corvade's terminal speed.
    double lineBaud = 19200.0;
    // Run unpaced instead of against the wall clock.
    bool fast = false;
};

// The downloaded program executed by an emulated 8052. Its serial port is the line: what
// it transmits goes to the host and what the host sends reaches its receiver, both through
// sampleFrame(), so a program that set another bit rate than the line's sees and sends
// garbage. The core runs in slices: in real time each tick brings it up to the wall clock
// (idle programs cost a slice's worth of cycles per tick and the board sleeps between);
// fast mode runs a fixed budget per tick and never sleeps.
class Mcs51Program : public BoardProgram {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    // Time between two slices in real time.
    static constexpr std::chrono::milliseconds kSlice{10};
    // Behind by more than this (the board was stopped or starved), the core skips ahead
    // instead of racing to catch up.
    static constexpr std::chrono::milliseconds kMaxLag{200};
    // Cycles per tick when running unpaced.
    static constexpr std::uint64_t kFastBudget = 200'000;

    struct Counts {
        quint64 sent = 0;         // bytes the program transmitted
        quint64 sentGarbled = 0;  // ... that reached the host changed
        quint64 sentLost = 0;     // ... that the host's UART did not see at all
        quint64 received = 0;     // host bytes that reached the receiver
        quint64 receivedGarbled = 0;
        quint64 receivedLost = 0; // receiver off, no bit clock, or the start bit missed
    };

    explicit Mcs51Program(Mcs51Options options, Now now = &Clock::now);

    void start(const BoardMemory &memory, BoardOutput &out) override;
    void receive(const QByteArray &bytes, BoardOutput &out) override;
    int tick(BoardOutput &out) override;

    const mcs51::Cpu &cpu() const { return m_cpu; }
    const Counts &counts() const { return m_counts; }

private:
    void runUntil(std::uint64_t target, BoardOutput &out);
    void offerReceived();
    std::uint64_t cyclesFor(Clock::duration d) const;

    Mcs51Options m_options;
    Now m_now;
    mcs51::Cpu m_cpu;
    bool m_started = false;
    // Real-time origin: at wall time m_originTime the core stood at m_originCycles.
    Clock::time_point m_originTime{};
    std::uint64_t m_originCycles = 0;
    std::uint64_t m_frameCycles = 0;  // from one host byte to the next, in machine cycles
    std::deque<quint8> m_rx;          // host bytes not yet on the receiver's pin
    std::uint64_t m_rxDue = 0;        // cycle at which the next one arrives
    QByteArray m_tx;                  // what the program sent during this slice
    Counts m_counts;
};
