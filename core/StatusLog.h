#pragma once
#include "core/StatusSink.h"

#include <QObject>
#include <QString>

// The status log: lines separated by CR LF, a partial line continued by the next append.
// It is the one StatusSink of the program; the status window shows it. Appending costs
// what the appended text costs, however long the log is.
class StatusLog : public QObject, public StatusSink {
    Q_OBJECT
public:
    using QObject::QObject;

    void appendStatus(const QString &text, bool endLine) override
    {
        const QString piece = endLine ? text + QLatin1String("\r\n") : text;
        m_text += piece;
        emit appended(piece);
    }
    bool lineOpen() const override { return !m_text.isEmpty() && !m_text.endsWith(QLatin1String("\r\n")); }
    const QString &text() const { return m_text; }
    // The text lives as long as the window that shows it; closing that window empties it.
    void clear() { m_text.clear(); }

signals:
    // `piece` is what was added, CR LF included when the line ended.
    void appended(const QString &piece);

private:
    QString m_text;
};
