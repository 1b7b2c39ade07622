#include "widgets/WindowPrinter.h"

#include "core/Readiness.h"
#include "core/StatusSink.h"
#include "terminal/TerminalStore.h"
#include "terminal/WindowSave.h"

#include <QDir>
#include <QFileInfo>
#include <QCursor>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryFile>

#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <sys/stat.h>

namespace {
// Character widths, measured once per character: a long body repeats few characters.
class CharWidths {
public:
    explicit CharWidths(const QFontMetricsF &metrics) : m_metrics(metrics) { m_latin1.fill(-1); }

    qreal operator()(QChar c)
    {
        const char16_t u = c.unicode();
        if (u >= m_latin1.size())
            return m_metrics.horizontalAdvance(c);
        qreal &w = m_latin1[u];
        if (w < 0)
            w = m_metrics.horizontalAdvance(c);
        return w;
    }

private:
    const QFontMetricsF &m_metrics;
    std::array<qreal, 256> m_latin1;
};

QString printerFailure(const QPrinter &printer)
{
    if (!printer.outputFileName().isEmpty())
        return QStringLiteral("cannot write %1").arg(QDir::toNativeSeparators(printer.outputFileName()));
    if (printer.printerName().isEmpty())
        return QStringLiteral("no printer is set up");
    return QStringLiteral("the printer \"%1\" did not accept the document").arg(printer.printerName());
}

// Characters of the body per step: some pages' worth, a few milliseconds.
constexpr qint64 PrintStepChars = 8 * 1024;

// What a file made afresh gets: everything the user's umask allows.
QFile::Permissions newFilePermissions()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    QFile::Permissions perms;
    const std::pair<mode_t, QFile::Permissions> bits[] = {
        {S_IRUSR, QFile::ReadOwner | QFile::ReadUser}, {S_IWUSR, QFile::WriteOwner | QFile::WriteUser},
        {S_IRGRP, QFile::ReadGroup}, {S_IWGRP, QFile::WriteGroup}, {S_IROTH, QFile::ReadOther}, {S_IWOTH, QFile::WriteOther}};
    for (const auto &[bit, perm] : bits) {
        if (!(mask & bit))
            perms |= perm;
    }
    return perms;
}

class BusyPointer {
public:
    BusyPointer() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~BusyPointer() { QGuiApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer &) = delete;
    BusyPointer &operator=(const BusyPointer &) = delete;
};
} // namespace

QFont printFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(PrintPage::FontPoints);
    // Widths are summed character by character, so the drawn line must not be kerned.
    font.setKerning(false);
    return font;
}

QString printedDateText(const QDateTime &when)
{
    return QStringLiteral("Printed ") + when.toString(QStringLiteral("MM-dd-yy hh:mm"));
}

PrintBody textPrintBody(const QString &text)
{
    return {text.size(), [text](PrintLineBreaker &breaker, qint64 begin, qint64 end) {
                breaker.feed(QStringView(text).mid(begin, end - begin));
            }};
}

PrintBody storePrintBody(const TerminalStore *store)
{
    if (!store)
        return {0, [](PrintLineBreaker &, qint64, qint64) {}};
    return {store->size(), [store](PrintLineBreaker &breaker, qint64 begin, qint64 end) {
                store->forEachPiece(begin, end, [&breaker](QByteArrayView piece, ColorRef) {
                    breaker.feed(QString::fromLatin1(piece));
                    return true;
                });
            }};
}

// The print run of one document, from the painter's begin to its end.
struct DocumentPrintJob::Page {
    QPainter painter;
    std::optional<QFontMetricsF> metrics;
    std::optional<CharWidths> widths;
    std::optional<PrintLineBreaker> breaker;
    qreal left = 0;
    qreal right = 0;
    qreal lineHeight = 0;
    qreal pageHeight = 0;
    qreal y = 0;
    bool failed = false;

    // Places the next line, on a new page when it would not fit (a page that holds no
    // line yet takes it anyway, however tall the font).
    bool nextLine(QPrinter &printer)
    {
        if (failed)
            return false;
        if (y > 0 && y + lineHeight > pageHeight) {
            if (!printer.newPage()) {
                failed = true;
                return false;
            }
            y = 0;
        }
        return true;
    }
    void printLine(QPrinter &printer, const QString &line)
    {
        if (!nextLine(printer))
            return;
        if (!line.isEmpty())
            painter.drawText(QPointF(left, y + metrics->ascent()), line);
        y += lineHeight;
    }
};

DocumentPrintJob::DocumentPrintJob(QPrinter &printer, const QString &headerLeft, const QString &dateText,
                                   PrintBody body)
    : m_printer(printer), m_body(std::move(body)), m_page(std::make_unique<Page>())
{
    Page &page = *m_page;
    if (!page.painter.begin(&printer)) {
        m_page.reset();
        m_result = WriteResult::failure(printerFailure(printer));
        return;
    }
    const QFont font = printFont();
    page.painter.setFont(font);
    page.metrics.emplace(font, &printer);
    const qreal perCm = printer.logicalDpiX() / 2.54;
    page.left = PrintPage::LeftCm * perCm;
    page.right = PrintPage::RightCm * perCm;
    page.lineHeight = page.metrics->lineSpacing();
    page.pageHeight = printer.height();

    if (page.nextLine(printer)) {
        const qreal baseline = page.y + page.metrics->ascent();
        page.painter.drawText(QPointF(page.left, baseline), headerLeft);
        page.painter.drawText(QPointF(page.right - page.metrics->horizontalAdvance(dateText), baseline), dateText);
        page.y += page.lineHeight;
    }
    page.printLine(printer, QString());
    page.printLine(printer, QString());
    page.widths.emplace(*page.metrics);
    page.breaker.emplace(page.right - page.left, std::ref(*page.widths),
                         [&page, &printer](const QString &line) { page.printLine(printer, line); });
}

DocumentPrintJob::~DocumentPrintJob()
{
    // Unfinished: the user cancelled. A printer that cannot abort gets the pages so far.
    if (m_page) {
        m_printer.abort();
        m_page->painter.end();
    }
}

bool DocumentPrintJob::step()
{
    if (!m_page)
        return false;
    Page &page = *m_page;
    const qint64 stop = std::min(m_body.size, m_pos + PrintStepChars);
    m_body.feed(*page.breaker, m_pos, stop);
    m_pos = stop;
    if (m_pos < m_body.size && !page.failed)
        return true;
    page.breaker->finish();
    const bool ended = page.painter.end();
    const bool failed = page.failed;
    m_page.reset();
    if (!ended || failed || m_printer.printerState() == QPrinter::Error)
        m_result = WriteResult::failure(printerFailure(m_printer));
    return false;
}

WindowPrinter::WindowPrinter(QPrinter &printer, StatusSink &status)
    : m_printer(printer), m_status(status), m_clock(&QDateTime::currentDateTime)
{
}

void WindowPrinter::printWindows(const PrintSources &sources, bool terminal, bool status)
{
    if (!terminal && !status)
        return;
    const BusyPointer busy;
    const QString name = fileNameOf(sources.hexPath);
    const QString chosenFile = m_printer.outputFileName();

    if (terminal) {
        const TerminalStore *store = sources.terminal ? sources.terminal() : nullptr;
        if (printOne(QStringLiteral("Terminal"), QStringLiteral("Terminal dump from ") + name,
                     storePrintBody(store), sources)
            == Outcome::Cancelled)
            return;
    }
    if (status) {
        const bool renamed = terminal && !chosenFile.isEmpty();
        if (renamed)
            m_printer.setOutputFileName(secondDocumentFileName(chosenFile));
        const QString text = sources.statusText ? sources.statusText() : QString();
        const Outcome printed = printOne(QStringLiteral("Status"), QStringLiteral("Status dump from ") + name,
                                         textPrintBody(text), sources);
        if (renamed) {
            if (printed == Outcome::Printed)
                m_status.appendStatus(QStringLiteral("INFORMATION: Status window printed to %1")
                                          .arg(QDir::toNativeSeparators(m_printer.outputFileName())),
                                      true);
            m_printer.setOutputFileName(chosenFile);
        }
    }
}

WindowPrinter::Outcome WindowPrinter::printOne(const QString &what, const QString &headerLeft, PrintBody body,
                                               const PrintSources &sources)
{
    // A document for a file goes to a temporary file beside it first, so that a cancelled
    // or failed print leaves the file as it was.
    const QString target = m_printer.outputFileName();
    std::optional<QTemporaryFile> temp;
    if (!target.isEmpty()) {
        const QFileInfo info(target);
        temp.emplace(info.dir().filePath(QStringLiteral(".") + info.fileName() + QStringLiteral("-XXXXXX.pdf")));
        if (temp->open())
            m_printer.setOutputFileName(temp->fileName());
        else
            temp.reset();
    }
    bool cancelled = false;
    WriteResult result;
    {
        DocumentPrintJob job(m_printer, headerLeft, printedDateText(m_clock()), std::move(body));
        cancelled = !m_run(job, QStringLiteral("Printing the %1 window").arg(what));
        result = job.result();
    }
    if (temp)
        m_printer.setOutputFileName(target);
    if (cancelled)
        return Outcome::Cancelled;
    if (result.ok && temp) {
        // The temporary file is the owner's alone; the document gets what the file had.
        temp->setPermissions(QFileInfo::exists(target) ? QFile::permissions(target) : newFilePermissions());
        if (std::rename(QFile::encodeName(temp->fileName()).constData(), QFile::encodeName(target).constData()) == 0)
            temp->setAutoRemove(false);
        else
            result = WriteResult::failure(printerFailure(m_printer));
    } else if (!result.ok) {
        // Named after the file the user chose, not the temporary one.
        result = WriteResult::failure(printerFailure(m_printer));
    }
    if (result.ok)
        return Outcome::Printed;
    endPartialStatusLine(sources.statusText ? sources.statusText() : QString(), m_status);
    m_status.appendStatus(QStringLiteral("ERROR: Cannot print the %1 window: %2").arg(what, result.error), true);
    return Outcome::Failed;
}

QString secondDocumentFileName(const QString &fileName)
{
    const QFileInfo info(fileName);
    const QString suffix = info.suffix();
    QString base = fileName;
    if (!suffix.isEmpty())
        base.chop(suffix.size() + 1);
    return suffix.isEmpty() ? base + QStringLiteral("-status") : base + QStringLiteral("-status.") + suffix;
}
