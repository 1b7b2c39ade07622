#pragma once
#include "core/ColorRef.h"
#include "terminal/ReceivedLog.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QTimer>

#include <functional>

class TerminalStore;

// The settings that decide how received bytes are shown, passed in as values.
struct TerminalRenderSettings {
    bool printAscii = true;
    int asciiBelow = 13;     // bytes below it show as "<n>"; clamped to 0..255
    ColorRef asciiColor = 0;
};

// How the terminal shows what it holds. Both off is the plain terminal.
struct TerminalViewOptions {
    // Received bytes as rows of 16: offset, the bytes in hex, the bytes as text. Local
    // text (the echo) is not shown, and the offset counts received bytes only.
    bool hexView = false;
    // "[hh:mm:ss.zzz] " (local wall clock) before the first received byte of each line. A
    // line begins after a line end (a CR, or an LF not shown as a number) and after more
    // than stampGapMs without data. In the hex view every row carries the time of its
    // first byte.
    bool timeStamps = false;
    int stampGapMs = 100;
};

// Renders one delivery by the rule of Receive, every byte in order: a byte not below
// asciiBelow, or any byte with printAscii off, is itself in colour 0; otherwise it is
// "<n>" in asciiColor. Consecutive bytes of one kind come out as one piece.
void renderDelivery(QByteArrayView bytes, const TerminalRenderSettings &settings,
                    const std::function<void(QByteArrayView text, ColorRef color)> &emitPiece);

// One row of the hex view for up to 16 bytes starting at offset, without a line end; a
// short row keeps the text column where a full row has it.
void appendHexRow(QByteArray &out, qint64 offset, QByteArrayView bytes);

// The operations the rest of the program calls to put text into the terminal. Everything
// also goes into a log of what arrived when, from which a change of the view options
// renders the whole terminal again: a little each event-loop turn, so a large terminal
// does not freeze the window; what arrives meanwhile waits in the log for its turn.
class TerminalRenderer {
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch

    explicit TerminalRenderer(TerminalStore &store);

    void setSettings(const TerminalRenderSettings &settings) { m_settings = settings; }
    const TerminalRenderSettings &settings() const { return m_settings; }
    // Renders everything held again when what is shown changes.
    void setViewOptions(const TerminalViewOptions &options);
    const TerminalViewOptions &viewOptions() const { return m_options; }
    // The clock that times deliveries; the wall clock unless set.
    void setClock(Clock clock) { m_clock = std::move(clock); }
    ReceivedLog &log() { return m_log; }

    // Whether a new rendering is still working through the log.
    bool rendering() const { return m_catchingUp; }
    // Renders the rest of the log at once, for a save or print that needs all of it.
    void finishRendering();

    // Shows a whole delivery in one batch.
    void receive(QByteArrayView bytes);
    // Adds a piece at the end in its colour. Characters above 255 cannot be one byte
    // and show as "?".
    void addText(const QString &text, ColorRef color);
    void addText(QByteArrayView latin1, ColorRef color);
    // Empties the terminal.
    void clear();

private:
    void restart();
    void renderStep(qint64 budgetMs);
    void renderReceived(QByteArrayView bytes, qint64 ms);
    void renderLocal(QByteArrayView text, ColorRef color);
    void renderStamped(QByteArrayView bytes, qint64 ms);
    void renderHex(QByteArrayView bytes, qint64 ms);
    void showPartialRow();
    void appendStamp(QByteArray &out, qint64 ms);

    TerminalStore &m_store;
    TerminalRenderSettings m_settings;
    TerminalViewOptions m_options;
    Clock m_clock;
    ReceivedLog m_log;
    ReceivedLog::Cursor m_cursor;
    bool m_catchingUp = false;
    QTimer m_stepTimer;

    // Where the rendering stands: the stamps' line state and the hex view's open row.
    bool m_lineStart = true;
    bool m_afterCR = false;
    bool m_arrived = false;
    qint64 m_lastMs = 0;
    qint64 m_rowOffset = 0;
    qint64 m_rowMs = 0;
    qint64 m_partialAt = -1; // where the open row's text begins in the store, -1 if not shown
    QByteArray m_row;
    QByteArray m_out;
    qint64 m_stampMs = -1;
    QByteArray m_stamp;
};
