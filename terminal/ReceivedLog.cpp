#include "terminal/ReceivedLog.h"

#include <algorithm>
#include <limits>

void ReceivedLog::appendReceived(QByteArrayView bytes, qint64 ms)
{
    if (bytes.isEmpty())
        return;
    const qint64 pos = m_bytes.size();
    if (m_arrivals.empty() || ms != m_lastMs) {
        // A step too large for an entry is taken in several (a clock set back by weeks, or
        // four gigabytes in one millisecond), so the sum always meets pos and ms again.
        qint64 posLeft = pos - m_lastPos;
        qint64 msLeft = m_arrivals.empty() ? ms : ms - m_lastMs;
        do {
            const qint64 p = std::min<qint64>(posLeft, std::numeric_limits<quint32>::max());
            const qint64 t = std::clamp<qint64>(msLeft, std::numeric_limits<qint32>::min(),
                                                std::numeric_limits<qint32>::max());
            m_arrivals.push_back({quint32(p), qint32(t)});
            posLeft -= p;
            msLeft -= t;
        } while (posLeft > 0 || msLeft != 0);
        m_lastPos = pos;
        m_lastMs = ms;
    }
    m_bytes.append(bytes, ReceivedMark);
}

void ReceivedLog::appendLocal(QByteArrayView text, ColorRef color)
{
    m_bytes.append(text, color);
}

void ReceivedLog::clear()
{
    m_bytes.clear();
    m_arrivals.clear();
    m_arrivals.shrink_to_fit();
    m_lastPos = 0;
    m_lastMs = 0;
}

void ReceivedLog::advance(Cursor &c) const
{
    // Passes every arrival that begins at or before the cursor.
    while (c.arrival < m_arrivals.size()) {
        const Arrival &a = m_arrivals[c.arrival];
        const qint64 begins = c.arrivalPos + a.posStep;
        if (begins > c.pos)
            break;
        c.arrivalPos = begins;
        c.ms += a.msStep;
        ++c.arrival;
    }
}

void ReceivedLog::read(Cursor &c, qint64 maxBytes, const PieceFn &fn) const
{
    const qint64 end = std::min(m_bytes.size(), c.pos + std::max<qint64>(maxBytes, 1));
    m_bytes.forEachPiece(c.pos, end, [&](QByteArrayView piece, ColorRef color) {
        if (color != ReceivedMark) {
            fn(piece, false, color, 0);
            c.pos += piece.size();
            return true;
        }
        while (!piece.isEmpty()) {
            advance(c);
            qint64 take = piece.size();
            if (c.arrival < m_arrivals.size())
                take = std::min(take, c.arrivalPos + m_arrivals[c.arrival].posStep - c.pos);
            fn(piece.first(take), true, 0, c.ms);
            piece = piece.sliced(take);
            c.pos += take;
        }
        return true;
    });
}
