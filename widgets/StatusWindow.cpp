#include "widgets/StatusWindow.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

StatusWindow::StatusWindow(QWidget *parent) : QWidget(parent), m_textView(new QPlainTextEdit(this))
{
    setWindowTitle(QStringLiteral("Status"));
    m_textView->setReadOnly(true);
    m_textView->setUndoRedoEnabled(false);
    m_textView->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_textView);
}

void StatusWindow::appendStatus(const QString &text, bool endLine)
{
    QString piece = m_log.append(text, endLine);
    // The view shows line ends as paragraph breaks; the log keeps CR LF.
    piece.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    piece.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextCursor cursor(m_textView->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(piece);
    m_textView->moveCursor(QTextCursor::End);
    m_textView->ensureCursorVisible();
}
