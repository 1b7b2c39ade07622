#pragma once
#include "terminal/PrintLineBreaker.h"
#include "terminal/WriteResult.h"

#include <QDateTime>
#include <QFont>
#include <QString>

#include <functional>

class QPrinter;
class StatusSink;
class TerminalStore;

// The printed page, measured from the left edge of the printable area. Printing starts
// at its top; later pages repeat no header.
namespace PrintPage {
inline constexpr qreal LeftCm = 2;
inline constexpr qreal RightCm = 19; // the header's date text ends here; no text passes it
inline constexpr qreal FontPoints = 10;
} // namespace PrintPage

// "Arial" 10 pt; the font system may substitute a metric-compatible face.
QFont printFont();
// "Printed mm-dd-yy hh:mm", 24-hour clock.
QString printedDateText(const QDateTime &when);

// A document's body, fed to the line breaker in pieces so that no text is built whole.
using PrintBody = std::function<void(PrintLineBreaker &breaker)>;
PrintBody textPrintBody(const QString &text);
// A null store is a closed terminal window, whose fresh content is empty.
PrintBody storePrintBody(const TerminalStore *store);

// Prints one document: the header line (headerLeft at the left edge, dateText ending at
// the right limit), two empty lines and the body broken into lines. A new page begins
// when a line would not fit on the current one. The printer's settings are unchanged.
WriteResult printDocument(QPrinter &printer, const QString &headerLeft, const QString &dateText,
                          const PrintBody &body);

// Read when OK is pressed, so the documents hold what the windows hold at that moment.
struct PrintSources {
    QString hexPath;                                 // the loaded HEX file; empty when none
    std::function<QString()> statusText;             // the status log; empty when unset
    std::function<const TerminalStore *()> terminal; // null when the window is closed
};

// Prints the windows to a printer the caller owns, so the printer setup persists.
// Failures of the printer are reported in the status log.
class WindowPrinter {
public:
    using Clock = std::function<QDateTime()>;

    WindowPrinter(QPrinter &printer, StatusSink &status);

    QPrinter &printer() const { return m_printer; }
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // One document per chosen window, terminal first, with the busy pointer shown.
    // When the printer writes to a file and both are printed, the status document goes
    // to secondDocumentFileName of it rather than replacing the terminal document.
    void printWindows(const PrintSources &sources, bool terminal, bool status);

private:
    bool printOne(const QString &what, const QString &headerLeft, const PrintBody &body,
                  const PrintSources &sources);

    QPrinter &m_printer;
    StatusSink &m_status;
    Clock m_clock;
};

// "dir/out.pdf" gives "dir/out-status.pdf"; a name without extension gets "-status".
QString secondDocumentFileName(const QString &fileName);
