#include "app/FrmStatus.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

FrmStatus::FrmStatus(QWidget *parent) : QWidget(parent), m_lblStatus(new QPlainTextEdit(this))
{
    setWindowTitle(QStringLiteral("Status"));
    m_lblStatus->setReadOnly(true);
    m_lblStatus->setUndoRedoEnabled(false);
    m_lblStatus->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_lblStatus);
}

void FrmStatus::AppendStatus(const QString &text, bool endLine)
{
    QString piece = m_log.append(text, endLine);
    // The view shows line ends as paragraph breaks; the log keeps CR LF.
    piece.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    piece.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextCursor cursor(m_lblStatus->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(piece);
    m_lblStatus->moveCursor(QTextCursor::End);
    m_lblStatus->ensureCursorVisible();
}
