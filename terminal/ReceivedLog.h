#pragma once
#include "core/ColorRef.h"
#include "terminal/TerminalStore.h"

#include <QByteArrayView>

#include <functional>
#include <vector>

// What reached the terminal, as it came: the received bytes with the time each delivery
// arrived, and local text (the echo) in its colour. The terminal's text is rendered from
// it, so a change of the view can render everything held again. The bytes live in a store
// of their own, which moves its oldest blocks to a spill file as the terminal's text does.
class ReceivedLog {
public:
    // Received bytes are kept under a mark that is no colour (colours keep the top byte 0).
    static constexpr ColorRef ReceivedMark = 0xFF000000u;

    // Where reading stopped; a default cursor is the start.
    struct Cursor {
        qint64 pos = 0;
        size_t arrival = 0;   // the next arrival not yet passed
        qint64 arrivalPos = 0; // where it begins
        qint64 ms = 0;        // the time of the arrival passed last
    };
    using PieceFn = std::function<void(QByteArrayView piece, bool received, ColorRef color, qint64 ms)>;

    ReceivedLog() = default;

    TerminalStore &bytes() { return m_bytes; }
    qint64 size() const { return m_bytes.size(); }

    void appendReceived(QByteArrayView bytes, qint64 ms);
    // color must not be the mark.
    void appendLocal(QByteArrayView text, ColorRef color);
    void clear();

    // Hands fn the pieces from the cursor on, about maxBytes of them, in order: a received
    // piece with the time it arrived (a delivery may come in parts), a local piece with its
    // colour. Moves the cursor past them.
    void read(Cursor &cursor, qint64 maxBytes, const PieceFn &fn) const;

    // Bytes of memory the arrival times take.
    qint64 arrivalMemory() const { return qint64(m_arrivals.capacity() * sizeof(Arrival)); }

private:
    // Deliveries in the same millisecond share one entry; each entry is counted from the one
    // before, which keeps it to 8 bytes.
    struct Arrival {
        quint32 posStep;
        qint32 msStep;
    };
    void advance(Cursor &c) const;

    TerminalStore m_bytes;
    std::vector<Arrival> m_arrivals;
    qint64 m_lastPos = 0;
    qint64 m_lastMs = 0;
};
