#pragma once
#include "core/SteppedJob.h"
#include "terminal/PrintLineBreaker.h"
#include "terminal/WriteResult.h"

#include <QDateTime>
#include <QFont>
#include <QString>

#include <functional>
#include <memory>

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

// A document's body: its length in characters and a function that feeds the characters
// [begin, end) of it to the line breaker, so that no text is built whole and the body
// can be printed a part at a time.
struct PrintBody {
    qint64 size = 0;
    std::function<void(PrintLineBreaker &breaker, qint64 begin, qint64 end)> feed;
};
PrintBody textPrintBody(const QString &text);
// A null store is a closed terminal window, whose fresh content is empty. The body is
// what the store holds when it is made; later text is not printed.
PrintBody storePrintBody(const TerminalStore *store);

// Prints one document, a part of the body per step: the header line (headerLeft at the
// left edge, dateText ending at the right limit), two empty lines and the body broken
// into lines. A new page begins when a line would not fit on the current one. The
// printer's settings are unchanged. A job destroyed before its end aborts the print run
// where the printer allows it.
class DocumentPrintJob : public SteppedJob {
public:
    DocumentPrintJob(QPrinter &printer, const QString &headerLeft, const QString &dateText, PrintBody body);
    ~DocumentPrintJob() override;

    bool step() override;
    qint64 done() const override { return m_pos; }
    qint64 total() const override { return m_body.size; }
    // The outcome once step() has returned false.
    const WriteResult &result() const { return m_result; }

private:
    struct Page;

    QPrinter &m_printer;
    PrintBody m_body;
    std::unique_ptr<Page> m_page; // null once the print run has ended
    qint64 m_pos = 0;
    WriteResult m_result;
};

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
    // Runs each document's print job; the default steps it to the end with no way to cancel.
    void setJobRunner(JobRunner run) { m_run = std::move(run); }

    // One document per chosen window, terminal first, with the busy pointer shown.
    // When the printer writes to a file and both are printed, the status document goes
    // to secondDocumentFileName of it rather than replacing the terminal document.
    // Cancelling a document ends the command; its file, if it prints to one, stays as it was.
    void printWindows(const PrintSources &sources, bool terminal, bool status);

private:
    enum class Outcome { Printed, Failed, Cancelled };
    Outcome printOne(const QString &what, const QString &headerLeft, PrintBody body, const PrintSources &sources);

    QPrinter &m_printer;
    StatusSink &m_status;
    Clock m_clock;
    JobRunner m_run = runJobToEnd;
};

// "dir/out.pdf" gives "dir/out-status.pdf"; a name without extension gets "-status".
QString secondDocumentFileName(const QString &fileName);
