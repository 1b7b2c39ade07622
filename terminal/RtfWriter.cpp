#include "terminal/RtfWriter.h"

#include "terminal/TerminalStore.h"

#include <QByteArray>
#include <QHash>

#include <algorithm>

namespace {
// RTF readers do not need short source lines, but some editors choke on long ones.
constexpr int SourceLineLimit = 200;

class RtfEncoder : public TerminalEncoder {
public:
    explicit RtfEncoder(const TerminalStore &store)
    {
        // index 0 of the table is the reader's default colour; ours start at 1.
        for (ColorRef c : store.palette()) {
            if (m_index.contains(c))
                continue;
            m_index.insert(c, int(m_index.size()) + 1);
            m_table.push_back(c);
        }
    }

    void begin(QByteArray &out) override
    {
        raw(out, "{\\rtf1\\ansi\\ansicpg1252\\deff0"
                 "{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}");
        newline(out);
        raw(out, "{\\colortbl;");
        for (ColorRef c : m_table) {
            raw(out, QByteArray("\\red") + QByteArray::number(colorRefRed(c)) + "\\green"
                         + QByteArray::number(colorRefGreen(c)) + "\\blue" + QByteArray::number(colorRefBlue(c)) + ';');
        }
        raw(out, "}");
        newline(out);
        raw(out, "\\pard\\plain\\f0\\fs17");
    }

    void piece(QByteArrayView piece, ColorRef color, QByteArray &out) override
    {
        const int ci = m_index.value(color, 0);
        if (ci != m_current) {
            const QByteArray cf = "\\cf" + QByteArray::number(ci) + ' ';
            token(out, cf.constData(), cf.size());
            m_current = ci;
        }
        static const char hex[] = "0123456789abcdef";
        const auto plain = [](unsigned char c) { return c >= 0x20 && c <= 0x7E && c != '\\' && c != '{' && c != '}'; };
        const char *data = piece.data();
        const qsizetype size = piece.size();
        for (qsizetype i = 0; i < size; ++i) {
            qsizetype j = i;
            while (j < size && plain(static_cast<unsigned char>(data[j])))
                ++j;
            if (j > i) {
                span(out, data + i, j - i);
                m_afterCR = false;
                i = j - 1;
                continue;
            }
            const auto c = static_cast<unsigned char>(data[i]);
            if (c == '\n' && m_afterCR) {
                m_afterCR = false;
                continue;
            }
            m_afterCR = c == '\r';
            if (c == '\r' || c == '\n') {
                token(out, "\\par", 4);
                newline(out);
            } else if (c == '\\' || c == '{' || c == '}') {
                const char esc[2] = {'\\', char(c)};
                token(out, esc, 2);
            } else if (c == '\t') {
                token(out, "\\tab ", 5);
            } else {
                const char esc[4] = {'\\', '\'', hex[c >> 4], hex[c & 0xF]};
                token(out, esc, 4);
            }
        }
    }

    void end(QByteArray &out) override
    {
        raw(out, "}");
        newline(out);
    }

private:
    void raw(QByteArray &out, const QByteArray &s)
    {
        out += s;
        m_column += int(s.size());
    }
    void newline(QByteArray &out)
    {
        out += '\n';
        m_column = 0;
    }
    void token(QByteArray &out, const char *s, qsizetype n)
    {
        if (m_column >= SourceLineLimit)
            newline(out);
        out.append(s, n);
        m_column += int(n);
    }
    // Characters that need no escape, broken only to keep source lines short.
    void span(QByteArray &out, const char *s, qsizetype n)
    {
        while (n > 0) {
            if (m_column >= SourceLineLimit)
                newline(out);
            const qsizetype take = std::min<qsizetype>(n, SourceLineLimit - m_column);
            out.append(s, take);
            m_column += int(take);
            s += take;
            n -= take;
        }
    }

    std::vector<ColorRef> m_table;
    QHash<ColorRef, int> m_index;
    int m_current = -1;
    int m_column = 0;
    bool m_afterCR = false;
};
} // namespace

std::unique_ptr<TerminalEncoder> makeRtfEncoder(const TerminalStore &store)
{
    return std::make_unique<RtfEncoder>(store);
}

WriteResult writeTerminalRtf(const TerminalStore &store, QIODevice &out)
{
    TerminalWriteJob job(store, out, makeRtfEncoder(store));
    runJobToEnd(job, QString());
    return job.result();
}
