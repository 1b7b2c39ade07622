#pragma once
#include <QTimer>
#include <QWidget>

class QPlainTextEdit;
class StatusLog;

// The status log window: a read-only text area that fills it and shows the log.
class StatusWindow : public QWidget {
    Q_OBJECT
public:
    explicit StatusWindow(const StatusLog &log, QWidget *parent = nullptr);

    // Shows a piece just appended to the log. Pieces are gathered and drawn twice a second
    // at most: a download appends a dot per record, and drawing each one cost more
    // than the whole transfer.
    void showAppended(const QString &piece);
    // Draws what is gathered now.
    void flush();
    const QString &text() const;
    QPlainTextEdit *textView() const { return m_textView; }

private:
    const StatusLog &m_log;
    QPlainTextEdit *m_textView;
    QString m_pending;
    QTimer m_updateTimer;
};
