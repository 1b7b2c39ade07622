#pragma once
#include <QtGlobal>

#include <chrono>
#include <optional>
#include <random>

// Noise on the line: single random bytes at random moments, as a loose connector or a
// board that prints stray characters would produce. Free of I/O and seeded, so the same
// seed gives the same bytes at the same offsets and a test can repeat a run.
class LineNoise {
public:
    using Clock = std::chrono::steady_clock;

    // `every` is the mean gap between two bytes; each gap is drawn evenly from half to one
    // and a half times it. A zero `every` means no noise at all.
    LineNoise(std::chrono::milliseconds every, quint32 seed, Clock::time_point start = Clock::now());

    bool enabled() const { return m_every.count() > 0; }
    // When the next byte is due (meaningless while !enabled()).
    Clock::time_point nextAt() const { return m_next; }
    // The byte to send now, if one is due; the next moment is then drawn. A loop that was
    // held up longer than several gaps still sends one byte only: noise does not pile up.
    std::optional<quint8> take(Clock::time_point now);

private:
    Clock::duration drawGap();

    std::chrono::milliseconds m_every;
    // mt19937's output is fixed by the standard for a given seed; the distributions are
    // not, so the mapping to gaps and bytes is done here by hand.
    std::mt19937 m_random;
    Clock::time_point m_next;
};
