#pragma once
#include "core/StatusLog.h"

#include <QWidget>

class QPlainTextEdit;

// The status log window: a read-only text area that fills it. The log's text lives
// with the window and is lost when the window closes.
class StatusWindow : public QWidget {
    Q_OBJECT
public:
    explicit StatusWindow(QWidget *parent = nullptr);

    void appendStatus(const QString &text, bool endLine);
    const QString &text() const { return m_log.text(); }
    QPlainTextEdit *textView() const { return m_textView; }

private:
    StatusLog m_log;
    QPlainTextEdit *m_textView;
};
