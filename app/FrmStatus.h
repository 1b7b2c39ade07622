#pragma once
#include "app/StatusLog.h"

#include <QWidget>

class QPlainTextEdit;

// The status log window: a read-only text area that fills it. The log's text lives
// with the window and is lost when the window closes.
class FrmStatus : public QWidget {
    Q_OBJECT
public:
    explicit FrmStatus(QWidget *parent = nullptr);

    void AppendStatus(const QString &text, bool endLine);
    const QString &text() const { return m_log.text(); }
    QPlainTextEdit *lblStatus() const { return m_lblStatus; }

private:
    StatusLog m_log;
    QPlainTextEdit *m_lblStatus;
};
