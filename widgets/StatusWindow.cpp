#include "widgets/StatusWindow.h"

#include "core/StatusLog.h"
#include "widgets/ThrottledProgressBar.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QVBoxLayout>

#include <utility>

StatusWindow::StatusWindow(const StatusLog &log, QWidget *parent)
    : QWidget(parent), m_log(log), m_textView(new QPlainTextEdit(this))
{
    setWindowTitle(QStringLiteral("Status"));
    m_textView->setReadOnly(true);
    m_textView->setUndoRedoEnabled(false);
    // Long lines (the version-conflict warning, a path) wrap at the window's edge; the
    // log's text keeps its own line ends.
    m_textView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_textView->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // A log needs no kerning or ligatures; without them laying out a line costs a fraction.
    QFont font = m_textView->font();
    font.setStyleStrategy(QFont::PreferNoShaping);
    m_textView->setFont(font);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_textView);
    m_updateTimer.setSingleShot(true);
    m_updateTimer.setInterval(ThrottledProgressBar::UpdateInterval);
    connect(&m_updateTimer, &QTimer::timeout, this, &StatusWindow::flush);
    if (!log.text().isEmpty()) {
        showAppended(log.text());
        flush();
    }
}

const QString &StatusWindow::text() const
{
    return m_log.text();
}

void StatusWindow::showAppended(const QString &piece)
{
    m_pending += piece;
    if (!m_updateTimer.isActive())
        m_updateTimer.start();
}

void StatusWindow::flush()
{
    m_updateTimer.stop();
    if (m_pending.isEmpty())
        return;
    // The view shows line ends as paragraph breaks; the log keeps CR LF.
    QString shown = std::exchange(m_pending, QString());
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextDocument *document = m_textView->document();
    // The open last line grows with every update (a download's dots): its layout is kept, so
    // it is laid out once per update rather than again for each cursor move and each drawing.
    // A line this piece ends gives the cache up as it is laid out, keeping no more than others.
    document->lastBlock().layout()->setCacheEnabled(!shown.contains(QLatin1Char('\n')));
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(shown);
    m_textView->moveCursor(QTextCursor::End);
    m_textView->ensureCursorVisible();
}
