#pragma once
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

class TerminalStore;

// Breaks a print body into printed lines: at every line end (CR LF, lone CR, lone LF;
// LF CR is two) and before the character whose width would carry the line past the
// limit. A character that ends exactly at the limit stays; one wider than the limit on
// its own is printed alone on its line. Widths are summed character by character.
// Text may be fed in pieces of any size; a CR LF split between pieces is one line end.
class PrintLineBreaker {
public:
    using WidthFn = std::function<qreal(QChar)>;
    using LineFn = std::function<void(const QString &line)>;

    PrintLineBreaker(qreal limit, WidthFn width, LineFn emitLine);

    void feed(QStringView text);
    // Emits the last line when it holds characters.
    void finish();

private:
    void endLine();

    qreal m_limit;
    WidthFn m_width;
    LineFn m_emit;
    QString m_line;
    qreal m_x = 0;
    bool m_afterCR = false;
};

QStringList printLines(QStringView text, qreal limit, const PrintLineBreaker::WidthFn &width);

// The terminal's whole text broken into printed lines, streamed from the store.
void printStoreLines(const TerminalStore &store, qreal limit, const PrintLineBreaker::WidthFn &width,
                     const PrintLineBreaker::LineFn &emitLine);
