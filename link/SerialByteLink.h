#pragma once
#include "link/ByteLink.h"

#include <QSerialPort>
#include <QTimer>

// ByteLink on a real serial device (or the pseudo-terminal of corvade-board).
class SerialByteLink : public ByteLink {
    Q_OBJECT
public:
    // The library reads one chunk per trip through the event loop (a pty gives at most
    // 4 KiB). readAll takes what else is waiting at once, up to this much, so a flood
    // costs one trip per this many bytes while one turn of the loop stays short.
    static constexpr qsizetype ReadAhead = 256 * 1024;

    explicit SerialByteLink(QObject *parent = nullptr);
    ~SerialByteLink() override;

    LinkResult open(const QString &device, qint32 baud) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    QString device() const override { return m_device; }
    LinkResult write(const QByteArray &bytes) override;
    bool flush() override;
    // Everything the library holds, then what the device has waiting, up to ReadAhead.
    QByteArray readAll() override;

    // How a failed open is reported: the library says "permission" both for a device that
    // someone else holds and for one this user may not use; `accessible` (read and write
    // allowed for this user) tells the two apart.
    static LinkError classifyOpenFailure(QSerialPort::SerialPortError error, bool accessible);

private:
    void onError(QSerialPort::SerialPortError error);
    void checkLine();
    void lose(const QString &reason);

    QSerialPort m_port;
    QString m_device;
    // A vanished device does not always raise an error on its own (a pseudo-terminal whose
    // other side closed just reports hang-up); this polls the line while it is open.
    QTimer m_lineCheck;
};
