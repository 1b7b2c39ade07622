#pragma once
#include <QString>

// The one way to write to the status log. Core classes get a StatusSink& so tests
// can record the lines without a window.
class StatusSink {
public:
    virtual ~StatusSink() = default;
    // Appends text; with endLine also CR LF. A partial line is continued by the next call.
    virtual void appendStatus(const QString &text, bool endLine) = 0;
    // True while the log ends in an unfinished line (a progress line still running).
    virtual bool lineOpen() const { return false; }
};
