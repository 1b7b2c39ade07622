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

#include <array>
#include <cmath>

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
    return [text](PrintLineBreaker &breaker) { breaker.feed(text); };
}

PrintBody storePrintBody(const TerminalStore *store)
{
    return [store](PrintLineBreaker &breaker) {
        if (!store)
            return;
        store->forEachPiece(0, store->size(), [&breaker](QByteArrayView piece, ColorRef) {
            breaker.feed(QString::fromLatin1(piece));
            return true;
        });
    };
}

WriteResult printDocument(QPrinter &printer, const QString &headerLeft, const QString &dateText,
                          const PrintBody &body)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return WriteResult::failure(printerFailure(printer));

    const QFont font = printFont();
    painter.setFont(font);
    const QFontMetricsF metrics(font, &printer);
    const qreal perCm = printer.logicalDpiX() / 2.54;
    const qreal left = PrintPage::LeftCm * perCm;
    const qreal right = PrintPage::RightCm * perCm;
    const qreal lineHeight = metrics.lineSpacing();
    const qreal pageHeight = printer.height();

    qreal y = 0;
    bool failed = false;
    // Places the next line, on a new page when it would not fit (a page that holds no
    // line yet takes it anyway, however tall the font).
    auto nextLine = [&]() -> bool {
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
    };
    auto printLine = [&](const QString &line) {
        if (!nextLine())
            return;
        if (!line.isEmpty())
            painter.drawText(QPointF(left, y + metrics.ascent()), line);
        y += lineHeight;
    };

    if (nextLine()) {
        painter.drawText(QPointF(left, y + metrics.ascent()), headerLeft);
        painter.drawText(QPointF(right - metrics.horizontalAdvance(dateText), y + metrics.ascent()), dateText);
        y += lineHeight;
    }
    printLine(QString());
    printLine(QString());

    CharWidths widths(metrics);
    PrintLineBreaker breaker(right - left, std::ref(widths), printLine);
    body(breaker);
    breaker.finish();

    if (!painter.end() || failed || printer.printerState() == QPrinter::Error)
        return WriteResult::failure(printerFailure(printer));
    return {};
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
        printOne(QStringLiteral("Terminal"), QStringLiteral("Terminal dump from ") + name,
                 storePrintBody(store), sources);
    }
    if (status) {
        const bool renamed = terminal && !chosenFile.isEmpty();
        if (renamed)
            m_printer.setOutputFileName(secondDocumentFileName(chosenFile));
        const QString text = sources.statusText ? sources.statusText() : QString();
        const bool printed = printOne(QStringLiteral("Status"), QStringLiteral("Status dump from ") + name,
                                      textPrintBody(text), sources);
        if (renamed) {
            if (printed)
                m_status.appendStatus(QStringLiteral("INFORMATION: Status window printed to %1")
                                          .arg(QDir::toNativeSeparators(m_printer.outputFileName())),
                                      true);
            m_printer.setOutputFileName(chosenFile);
        }
    }
}

bool WindowPrinter::printOne(const QString &what, const QString &headerLeft, const PrintBody &body,
                             const PrintSources &sources)
{
    const WriteResult result = printDocument(m_printer, headerLeft, printedDateText(m_clock()), body);
    if (result.ok)
        return true;
    endPartialStatusLine(sources.statusText ? sources.statusText() : QString(), m_status);
    m_status.appendStatus(QStringLiteral("ERROR: Cannot print the %1 window: %2").arg(what, result.error), true);
    return false;
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
