#pragma once
#include "link/ByteLink.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QSerialPort>
#include <QThread>

// ByteLink on a real serial device (or the pseudo-terminal of corvade-board).
//
// The port lives in a thread of its own, which waits on the device and reads it; the
// caller's thread only takes the bytes gathered there. Waiting on an empty
// pseudo-terminal (poll or read) first waits for the kernel to move the other side's
// bytes along, and under load that took the window 10-140 ms at a time.
class SerialByteLink : public ByteLink {
    Q_OBJECT
public:
    // Most bytes one readAll hands over, so one turn of the caller's event loop stays short.
    static constexpr qsizetype ReadAhead = 256 * 1024;
    // The port thread stops reading while this much waits for the caller, so a caller
    // that cannot keep up slows the line down instead of filling the memory.
    static constexpr qsizetype MaxWaiting = 4 * ReadAhead;

    explicit SerialByteLink(QObject *parent = nullptr);
    ~SerialByteLink() override;

    LinkResult open(const QString &device, qint32 baud) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    QString device() const override { return m_device; }
    // Hands the bytes to the driver, or to the port thread when it still has some to write.
    LinkResult write(const QByteArray &bytes) override;
    bool flush() override;
    QByteArray readAll() override;

    // Bytes read from the device that no readAll has taken yet.
    qsizetype bytesWaiting() const;
    // Bytes readAll has handed over since the last open.
    qint64 bytesDelivered() const { return m_delivered; }

    // How a failed open is reported: the library says "permission" both for a device that
    // someone else holds and for one this user may not use; `accessible` (read and write
    // allowed for this user) tells the two apart.
    static LinkError classifyOpenFailure(QSerialPort::SerialPortError error, bool accessible);

private:
    // Run in the port thread.
    LinkResult openPort(const QString &device, qint32 baud);
    void closePort();
    void takeFromPort();
    void checkLine();
    void lose(const QString &reason);
    // Run in the caller's thread.
    void onLost(quint64 session, const QString &reason);

    QThread m_thread;
    // Lives in the port thread; everything below it is touched there only.
    QObject *m_worker;
    QSerialPort *m_port = nullptr;
    class QTimer *m_lineCheck = nullptr;
    QString m_portDevice;
    quint64 m_portSession = 0;

    // Shared between the two threads, under the mutex.
    // Pieces as the library read them, so that neither thread copies much under the lock.
    mutable QMutex m_mutex;
    QList<QByteArray> m_waiting;
    qsizetype m_waitingSize = 0;
    bool m_arrivalPosted = false;
    bool m_paused = false;

    // Writes: the caller writes to the descriptor itself unless the port thread still has
    // bytes queued or in the library's buffer, which must go first. -1 while the port is
    // closed, set and cleared by the port thread under the mutex.
    QMutex m_writeMutex;
    int m_queuedWrites = 0;
    bool m_portBuffered = false;
    int m_fd = -1;

    // The caller's side.
    bool m_open = false;
    QString m_device;
    qint64 m_delivered = 0;
    // Counts opens, so a loss reported for an earlier session is not taken for this one.
    quint64 m_session = 0;
};
