#include "terminal/PrintLineBreaker.h"

#include "terminal/TerminalStore.h"

PrintLineBreaker::PrintLineBreaker(qreal limit, WidthFn width, LineFn emitLine)
    : m_limit(limit), m_width(std::move(width)), m_emit(std::move(emitLine))
{
}

void PrintLineBreaker::endLine()
{
    m_emit(m_line);
    m_line.clear();
    m_x = 0;
}

void PrintLineBreaker::feed(QStringView text)
{
    for (const QChar c : text) {
        if (c == u'\n' && m_afterCR) {
            m_afterCR = false;
            continue;
        }
        m_afterCR = c == u'\r';
        if (c == u'\r' || c == u'\n') {
            endLine();
            continue;
        }
        const qreal w = m_width(c);
        // An empty line takes the character whatever its width, so printing always advances.
        if (m_x + w > m_limit && !m_line.isEmpty())
            endLine();
        m_x += w;
        m_line += c;
    }
}

void PrintLineBreaker::finish()
{
    if (!m_line.isEmpty())
        endLine();
    m_afterCR = false;
}

QStringList printLines(QStringView text, qreal limit, const PrintLineBreaker::WidthFn &width)
{
    QStringList lines;
    PrintLineBreaker breaker(limit, width, [&lines](const QString &line) { lines << line; });
    breaker.feed(text);
    breaker.finish();
    return lines;
}

void printStoreLines(const TerminalStore &store, qreal limit, const PrintLineBreaker::WidthFn &width,
                     const PrintLineBreaker::LineFn &emitLine)
{
    PrintLineBreaker breaker(limit, width, emitLine);
    store.forEachPiece(0, store.size(), [&breaker](QByteArrayView piece, ColorRef) {
        breaker.feed(QString::fromLatin1(piece));
        return true;
    });
    breaker.finish();
}
