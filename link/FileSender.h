#pragma once
#include <QFile>
#include <QObject>
#include <QString>
#include <chrono>
#include <memory>

class RequestTimer;
class RunLink;
class Settings;
class StatusSink;
class TerminalSession;

// Sends a file's bytes to the running program, a chunk per tick of its own timer, each
// chunk no larger than the line carries in a tick at the terminal speed: the program never
// has more than one chunk queued ahead of the line, and typed keys go out between chunks.
// It sends only while the terminal it started with is the current handler.
class FileSender : public QObject {
    Q_OBJECT
public:
    // `tickTimer` is this sender's own; start() sets its interval.
    FileSender(RunLink &run, StatusSink &status, const Settings &settings, RequestTimer &tickTimer,
               QObject *parent = nullptr);
    ~FileSender() override;

    // Sends the first chunk of `path` now and the rest on the timer. False, with an
    // "ERROR: " line, when no program runs, the file cannot be read or a sending runs.
    bool start(const QString &path);
    // Stops before the next chunk; what was written stays written.
    void cancel();

    bool isRunning() const { return m_file.isOpen(); }
    QString path() const { return m_path; }
    qint64 sent() const { return m_sent; }
    qint64 total() const { return m_total; }

    // Bytes a tick and the tick for a line at `baud` (10 bits a byte), a little below the
    // line's rate so that a timer firing early does not get ahead of it.
    struct Pace {
        qint64 chunk;
        std::chrono::milliseconds interval;
    };
    static Pace paceFor(qint32 baud);

signals:
    void progressChanged(qint64 sent, qint64 total);
    // The sending ended: all sent (true), or cancelled or failed (false).
    void finished(bool complete);

private:
    void sendChunk();
    void finish(bool complete, const QString &line);

    RunLink &m_run;
    StatusSink &m_status;
    const Settings &m_settings;
    RequestTimer &m_timer;
    std::weak_ptr<TerminalSession> m_terminal;
    QFile m_file;
    QString m_path;
    qint64 m_chunk = 1;
    qint64 m_sent = 0;
    qint64 m_total = 0;
};
