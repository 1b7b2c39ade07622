#pragma once
#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

class RequestTimer;
class StatusSink;

// Writes every byte the terminal receives, raw, to a file. Deliveries are gathered in
// memory and written at the latest a second after the first of them arrived (or at once
// when much has gathered), so a flood costs one write now and then rather than one per
// delivery, and nothing is dropped. A failed write stops the capture with an "ERROR: "
// line; stopping writes what is left and closes the file.
class TerminalCapture : public QObject {
    Q_OBJECT
public:
    // `flushTimer` is this capture's own; its interval is the longest time bytes wait.
    TerminalCapture(StatusSink &status, RequestTimer &flushTimer, QObject *parent = nullptr);
    ~TerminalCapture() override;

    // Starts writing to `path` (emptied first); a capture already running is stopped.
    // False, with an "ERROR: " line, when the file cannot be opened.
    bool start(const QString &path);
    // Writes what is gathered, closes the file and notes its size in the log.
    // Nothing happens when no capture runs.
    void stop();

    bool isRunning() const { return m_file.isOpen(); }
    QString path() const { return m_path; }
    // Bytes captured so far, written or still gathered.
    qint64 size() const { return m_written + m_pending.size(); }

    // One delivery of received bytes; ignored when no capture runs.
    void append(const QByteArray &bytes);
    // Writes what is gathered now. False when the write failed (the capture has stopped).
    bool flush();

    // "1.2 MB" and the like, for the status bar.
    static QString sizeText(qint64 bytes);

signals:
    // The capture started or stopped.
    void runningChanged(bool running);
    // Bytes reached the file; `size` is the file's size now.
    void written(qint64 size);

private:
    void close();

    StatusSink &m_status;
    RequestTimer &m_flushTimer;
    QFile m_file;
    QString m_path;
    QByteArray m_pending;
    qint64 m_written = 0;
};
