#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>

// The few ways a link operation can fail. The port set-up turns the first three into its
// three dialogs; everything else is reported with its reason.
enum class LinkError {
    None,
    NoSuchDevice, // the device does not exist: "is invalid."
    InUse,        // another program (or another port object) holds the device
    NoPermission, // the device exists but this user may not open it
    NotOpen,      // a write or read on a closed link
    Other,
};

// Outcome of an open or a write. `code` is the platform's error number where one is known
// (errno), otherwise the serial library's own error code; `reason` is for people.
struct LinkResult {
    LinkError error = LinkError::None;
    int code = 0;
    QString reason;

    bool ok() const { return error == LinkError::None; }
    static LinkResult success() { return {}; }
    static LinkResult failure(LinkError e, int c, const QString &r) { return {e, c, r}; }
};

// Abstract byte transport to the board: a real serial port, or a fake in tests.
// The line is always 8 data bits, no parity, 1 stop bit; only the speed varies.
class ByteLink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ByteLink() override = default;

    virtual LinkResult open(const QString &device, qint32 baud) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The device of the last successful open (empty before).
    virtual QString device() const = 0;

    // Queues the bytes; a closed link answers NotOpen instead of failing silently.
    virtual LinkResult write(const QByteArray &bytes) = 0;
    // Blocks until queued bytes have left, so a close right after cannot swallow them.
    virtual bool flush() = 0;
    // Returns and removes every byte waiting, raw, without any translation.
    virtual QByteArray readAll() = 0;

signals:
    // At least one byte is waiting; comes for every arrival.
    void bytesArrived();
    // The device went away while open (a pulled USB adapter, a closed pseudo-terminal).
    // The link is already closed when this is emitted.
    void linkLost(const QString &reason);
};
