#include "terminal/RtfWriter.h"

#include "terminal/TerminalStore.h"

#include <QByteArray>
#include <QHash>
#include <QIODevice>

#include <algorithm>

namespace {
// RTF readers do not need short source lines, but some editors choke on long ones.
constexpr int SourceLineLimit = 200;
constexpr qsizetype FlushSize = 64 * 1024;

class RtfOut {
public:
    explicit RtfOut(QIODevice &dev) : m_dev(dev) { m_buf.reserve(FlushSize + 256); }

    void raw(const QByteArray &s)
    {
        m_buf += s;
        m_column += int(s.size());
    }
    void newline()
    {
        m_buf += '\n';
        m_column = 0;
    }
    void token(const char *s, qsizetype n)
    {
        if (m_column >= SourceLineLimit)
            newline();
        m_buf.append(s, n);
        m_column += int(n);
    }
    // Characters that need no escape, broken only to keep source lines short.
    void span(const char *s, qsizetype n)
    {
        while (n > 0) {
            if (m_column >= SourceLineLimit)
                newline();
            const qsizetype take = std::min<qsizetype>(n, SourceLineLimit - m_column);
            m_buf.append(s, take);
            m_column += int(take);
            s += take;
            n -= take;
        }
    }
    bool flushIfFull() { return m_buf.size() < FlushSize || flush(); }
    bool flush()
    {
        if (!m_buf.isEmpty() && m_dev.write(m_buf) != m_buf.size())
            return false;
        m_buf.clear();
        return true;
    }

private:
    QIODevice &m_dev;
    QByteArray m_buf;
    int m_column = 0;
};
} // namespace

WriteResult writeTerminalRtf(const TerminalStore &store, QIODevice &out)
{
    RtfOut rtf(out);
    rtf.raw("{\\rtf1\\ansi\\ansicpg1252\\deff0"
            "{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}");
    rtf.newline();
    // index 0 of the table is the reader's default colour; ours start at 1.
    QHash<ColorRef, int> index;
    rtf.raw("{\\colortbl;");
    for (ColorRef c : store.palette()) {
        if (index.contains(c))
            continue;
        index.insert(c, int(index.size()) + 1);
        rtf.raw(QByteArray("\\red") + QByteArray::number(colorRefRed(c)) + "\\green"
                + QByteArray::number(colorRefGreen(c)) + "\\blue" + QByteArray::number(colorRefBlue(c)) + ';');
    }
    rtf.raw("}");
    rtf.newline();
    rtf.raw("\\pard\\plain\\f0\\fs17");

    int current = -1;
    bool afterCR = false;
    static const char hex[] = "0123456789abcdef";
    const bool ok = store.forEachPiece(0, store.size(), [&](QByteArrayView piece, ColorRef color) {
        const int ci = index.value(color, 0);
        if (ci != current) {
            const QByteArray cf = "\\cf" + QByteArray::number(ci) + ' ';
            rtf.token(cf.constData(), cf.size());
            current = ci;
        }
        const auto plain = [](unsigned char c) { return c >= 0x20 && c <= 0x7E && c != '\\' && c != '{' && c != '}'; };
        const char *data = piece.data();
        const qsizetype size = piece.size();
        for (qsizetype i = 0; i < size; ++i) {
            qsizetype j = i;
            while (j < size && plain(static_cast<unsigned char>(data[j])))
                ++j;
            if (j > i) {
                rtf.span(data + i, j - i);
                afterCR = false;
                i = j - 1;
                continue;
            }
            const char ch = data[i];
            const auto c = static_cast<unsigned char>(ch);
            if (c == '\n' && afterCR) {
                afterCR = false;
                continue;
            }
            afterCR = c == '\r';
            if (c == '\r' || c == '\n') {
                rtf.token("\\par", 4);
                rtf.newline();
            } else if (c == '\\' || c == '{' || c == '}') {
                const char esc[2] = {'\\', char(c)};
                rtf.token(esc, 2);
            } else if (c == '\t') {
                rtf.token("\\tab ", 5);
            } else {
                const char esc[4] = {'\\', '\'', hex[c >> 4], hex[c & 0xF]};
                rtf.token(esc, 4);
            }
        }
        return rtf.flushIfFull();
    });
    rtf.raw("}");
    rtf.newline();
    if (!ok || !rtf.flush())
        return WriteResult::failure(out.errorString());
    return {};
}
