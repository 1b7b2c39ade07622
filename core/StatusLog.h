#pragma once
#include <QString>

// The text of the status log: lines separated by CR LF, a partial line continued by the
// next append. Appending costs what the appended text costs, however long the log is.
class StatusLog {
public:
    // Returns the text to add to a view of the log (CR LF already included when endLine).
    QString append(const QString &text, bool endLine)
    {
        QString piece = endLine ? text + QLatin1String("\r\n") : text;
        m_text += piece;
        return piece;
    }
    const QString &text() const { return m_text; }
    void clear() { m_text.clear(); }

private:
    QString m_text;
};
