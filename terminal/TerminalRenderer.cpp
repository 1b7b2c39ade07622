#include "terminal/TerminalRenderer.h"

#include "terminal/TerminalStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <array>

namespace {
constexpr char CR = '\r';
constexpr char LF = '\n';
constexpr int RowBytes = 16;
// Log bytes rendered between two looks at the clock while rendering again.
constexpr qint64 StepBytes = 64 * 1024;
// Time a step may take, so the view's frames keep coming.
constexpr qint64 StepBudgetMs = 8;

int belowLimit(const TerminalRenderSettings &s)
{
    return s.printAscii ? std::clamp(s.asciiBelow, 0, 255) : 0;
}
} // namespace

void renderDelivery(QByteArrayView bytes, const TerminalRenderSettings &settings,
                    const std::function<void(QByteArrayView text, ColorRef color)> &emitPiece)
{
    // Unsigned comparison against a byte-sized limit: nothing is below 0, and 255 is
    // never below any limit a byte can hold.
    const int below = belowLimit(settings);
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    QByteArray numbers;
    while (i < n) {
        qsizetype j = i;
        while (j < n && p[j] >= below)
            ++j;
        if (j > i) {
            emitPiece(bytes.sliced(i, j - i), 0);
            i = j;
        }
        if (i >= n)
            break;
        numbers.truncate(0); // keeps the buffer for the next run of control bytes
        while (i < n && p[i] < below) {
            const unsigned v = p[i];
            char form[6];
            int k = 0;
            form[k++] = '<';
            if (v >= 100)
                form[k++] = char('0' + v / 100);
            if (v >= 10)
                form[k++] = char('0' + v / 10 % 10);
            form[k++] = char('0' + v % 10);
            form[k++] = '>';
            numbers.append(form, k);
            ++i;
        }
        emitPiece(numbers, settings.asciiColor);
    }
}

void appendHexRow(QByteArray &out, qint64 offset, QByteArrayView bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    char row[96];
    if (bytes.size() >= RowBytes && offset < (qint64(1) << 32)) {
        // The common case, a full row, without a test per byte: a flood of it is the norm.
        static const auto pairs = [] {
            std::array<std::array<char, 2>, 256> t{};
            for (int b = 0; b < 256; ++b)
                t[size_t(b)] = {digits[b >> 4], digits[b & 0xF]};
            return t;
        }();
        for (int i = 0; i < 8; ++i)
            row[i] = digits[(offset >> (28 - 4 * i)) & 0xF];
        char *p = row + 8;
        *p++ = ' ';
        for (int i = 0; i < RowBytes; ++i) {
            if (i % 8 == 0)
                *p++ = ' ';
            const auto b = static_cast<unsigned char>(bytes[i]);
            *p++ = pairs[b][0];
            *p++ = pairs[b][1];
            *p++ = ' ';
        }
        *p++ = ' ';
        for (int i = 0; i < RowBytes; ++i) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            *p++ = b >= 0x20 && b < 0x7F ? char(b) : '.';
        }
        out.append(row, p - row);
        return;
    }
    int k = 0;
    int shift = 28;
    while (shift < 60 && (offset >> (shift + 4)) != 0) // offsets past 4 GB take more digits
        shift += 4;
    for (; shift >= 0; shift -= 4)
        row[k++] = digits[(offset >> shift) & 0xF];
    row[k++] = ' ';
    const qsizetype n = std::min<qsizetype>(bytes.size(), RowBytes);
    for (int i = 0; i < RowBytes; ++i) {
        if (i % 8 == 0)
            row[k++] = ' ';
        const auto b = static_cast<unsigned char>(i < n ? bytes[i] : 0);
        row[k++] = i < n ? digits[b >> 4] : ' ';
        row[k++] = i < n ? digits[b & 0xF] : ' ';
        row[k++] = ' ';
    }
    row[k++] = ' ';
    for (qsizetype i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        row[k++] = b >= 0x20 && b < 0x7F ? char(b) : '.';
    }
    out.append(row, k);
}

TerminalRenderer::TerminalRenderer(TerminalStore &store)
    : m_store(store), m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    m_log.bytes().setMemoryWindow(store.memoryWindow() / 4);
    m_stepTimer.setInterval(0);
    QObject::connect(&m_stepTimer, &QTimer::timeout, [this] { renderStep(StepBudgetMs); });
}

void TerminalRenderer::setViewOptions(const TerminalViewOptions &options)
{
    const bool stampsShown = options.timeStamps && !options.hexView;
    const bool changed = options.hexView != m_options.hexView || options.timeStamps != m_options.timeStamps
        || (stampsShown && options.stampGapMs != m_options.stampGapMs);
    m_options = options;
    if (changed)
        restart();
}

void TerminalRenderer::restart()
{
    m_store.clear();
    m_cursor = {};
    m_lineStart = true;
    m_afterCR = false;
    m_arrived = false;
    m_lastMs = 0;
    m_rowOffset = 0;
    m_partialAt = -1;
    m_row.clear();
    m_catchingUp = m_log.size() > 0;
    if (m_catchingUp)
        renderStep(StepBudgetMs);
}

void TerminalRenderer::renderStep(qint64 budgetMs)
{
    QElapsedTimer spent;
    spent.start();
    {
        const TerminalStore::Batch batch(m_store);
        // At least one portion a step, so a small terminal is shown again at once.
        do {
            m_log.read(m_cursor, StepBytes, [this](QByteArrayView piece, bool received, ColorRef color, qint64 ms) {
                if (received)
                    renderReceived(piece, ms);
                else
                    renderLocal(piece, color);
            });
        } while (m_cursor.pos < m_log.size() && (budgetMs < 0 || spent.elapsed() < budgetMs));
        showPartialRow();
    }
    m_catchingUp = m_cursor.pos < m_log.size();
    if (m_catchingUp && !m_stepTimer.isActive())
        m_stepTimer.start();
    else if (!m_catchingUp)
        m_stepTimer.stop();
}

void TerminalRenderer::finishRendering()
{
    if (m_catchingUp)
        renderStep(-1);
}

void TerminalRenderer::receive(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    const qint64 ms = m_clock();
    m_log.appendReceived(bytes, ms);
    if (m_catchingUp)
        return; // the next step reaches it
    const TerminalStore::Batch batch(m_store);
    renderReceived(bytes, ms);
    showPartialRow();
}

void TerminalRenderer::renderReceived(QByteArrayView bytes, qint64 ms)
{
    if (m_options.hexView) {
        renderHex(bytes, ms);
    } else if (m_options.timeStamps) {
        renderStamped(bytes, ms);
    } else {
        renderDelivery(bytes, m_settings, [this](QByteArrayView text, ColorRef color) {
            m_store.append(text, color);
        });
    }
}

void TerminalRenderer::appendStamp(QByteArray &out, qint64 ms)
{
    // A flood brings many lines in one millisecond: format each time once.
    if (ms != m_stampMs || m_stamp.isEmpty()) {
        m_stampMs = ms;
        m_stamp = '[' + QDateTime::fromMSecsSinceEpoch(ms).time().toString(QStringLiteral("hh:mm:ss.zzz")).toLatin1()
            + "] ";
    }
    out += m_stamp;
}

void TerminalRenderer::renderStamped(QByteArrayView bytes, qint64 ms)
{
    const int below = belowLimit(m_settings);
    const auto shownAsItself = [below](char c) { return static_cast<unsigned char>(c) >= below; };
    // Text in colour 0 and the stamps gather in m_out and go to the store in one piece.
    m_out.truncate(0); // keeps the buffer
    const auto emitPiece = [this](QByteArrayView text, ColorRef color) {
        if (color == 0) {
            m_out += text;
            return;
        }
        m_store.append(m_out, 0);
        m_out.truncate(0);
        m_store.append(text, color);
    };
    if (m_arrived && ms - m_lastMs > m_options.stampGapMs && !m_lineStart) {
        m_out += CR;
        m_lineStart = true;
        m_afterCR = true;
    }
    m_arrived = true;
    m_lastMs = ms;
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        // An LF that joins the CR before it into one line end does not begin a line.
        if (m_lineStart && !(m_afterCR && bytes[i] == LF && shownAsItself(LF))) {
            appendStamp(m_out, ms);
            m_lineStart = false;
        }
        qsizetype j = i;
        while (j < n && !((bytes[j] == CR || bytes[j] == LF) && shownAsItself(bytes[j])))
            ++j;
        const bool lineEnd = j < n;
        if (lineEnd)
            ++j;
        renderDelivery(bytes.sliced(i, j - i), m_settings, emitPiece);
        m_afterCR = lineEnd && bytes[j - 1] == CR;
        m_lineStart = m_lineStart || lineEnd;
        i = j;
    }
    m_store.append(m_out, 0);
}

void TerminalRenderer::renderHex(QByteArrayView bytes, qint64 ms)
{
    if (m_partialAt >= 0) {
        m_store.truncate(m_partialAt);
        m_partialAt = -1;
    }
    m_out.truncate(0); // keeps the buffer
    m_out.reserve((bytes.size() / RowBytes + 2) * (RowBytes * 5 + 32));
    const auto emitRow = [this](QByteArrayView row, qint64 rowMs) {
        if (m_options.timeStamps)
            appendStamp(m_out, rowMs);
        appendHexRow(m_out, m_rowOffset, row);
        m_out += CR;
        m_rowOffset += RowBytes;
    };
    qsizetype i = 0;
    if (!m_row.isEmpty()) {
        i = std::min(RowBytes - m_row.size(), bytes.size());
        m_row += bytes.first(i);
        if (m_row.size() == RowBytes) {
            emitRow(m_row, m_rowMs);
            m_row.clear();
        }
    }
    for (; bytes.size() - i >= RowBytes; i += RowBytes)
        emitRow(bytes.sliced(i, RowBytes), ms);
    if (i < bytes.size()) {
        m_rowMs = ms;
        m_row += bytes.sliced(i);
    }
    m_store.append(m_out, 0);
}

void TerminalRenderer::showPartialRow()
{
    if (!m_options.hexView || m_row.isEmpty() || m_partialAt >= 0)
        return;
    // The open row grows with the next delivery, which takes it back and writes it again.
    m_partialAt = m_store.size();
    m_out.truncate(0); // keeps the buffer
    if (m_options.timeStamps)
        appendStamp(m_out, m_rowMs);
    appendHexRow(m_out, m_rowOffset, m_row);
    m_store.append(m_out, 0);
}

void TerminalRenderer::renderLocal(QByteArrayView text, ColorRef color)
{
    if (m_options.hexView || text.isEmpty())
        return;
    m_store.append(text, color);
    const char last = text.back();
    if (last == CR || last == LF) {
        m_lineStart = true;
        m_afterCR = last == CR;
    } else {
        m_afterCR = false;
    }
}

void TerminalRenderer::addText(const QString &text, ColorRef color)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        bytes[i] = u > 0xFF ? '?' : char(u);
    }
    addText(QByteArrayView(bytes), color);
}

void TerminalRenderer::addText(QByteArrayView latin1, ColorRef color)
{
    if (color == ReceivedLog::ReceivedMark)
        color = 0; // the same black, told apart from received bytes in the log
    m_log.appendLocal(latin1, color);
    if (!m_catchingUp)
        renderLocal(latin1, color);
}

void TerminalRenderer::clear()
{
    m_log.clear();
    m_stepTimer.stop();
    m_catchingUp = false;
    restart();
}
