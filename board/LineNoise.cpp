#include "board/LineNoise.h"

#include <algorithm>

using namespace std::chrono;

LineNoise::LineNoise(milliseconds every, quint32 seed, Clock::time_point start)
    : m_every(std::max(every, milliseconds(0))), m_random(seed), m_next(start)
{
    if (enabled())
        m_next = start + drawGap();
}

LineNoise::Clock::duration LineNoise::drawGap()
{
    // Evenly from every/2 to 3*every/2, in microseconds, so small gaps still vary.
    const quint64 span = quint64(duration_cast<microseconds>(m_every).count());
    const quint64 offset = span == 0 ? 0 : quint64(m_random()) % (span + 1);
    return duration_cast<Clock::duration>(microseconds(span / 2 + offset));
}

std::optional<quint8> LineNoise::take(Clock::time_point now)
{
    if (!enabled() || now < m_next)
        return std::nullopt;
    const quint8 byte = quint8(m_random() >> 24);
    m_next += drawGap();
    if (m_next <= now)
        m_next = now + duration_cast<Clock::duration>(m_every) / 2;
    return byte;
}
