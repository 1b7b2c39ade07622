#pragma once
#include <QWidget>

class QPlainTextEdit;
class StatusLog;

// The status log window: a read-only text area that fills it and shows the log.
class StatusWindow : public QWidget {
    Q_OBJECT
public:
    explicit StatusWindow(const StatusLog &log, QWidget *parent = nullptr);

    // Shows a piece just appended to the log.
    void showAppended(const QString &piece);
    const QString &text() const;
    QPlainTextEdit *textView() const { return m_textView; }

private:
    const StatusLog &m_log;
    QPlainTextEdit *m_textView;
};
