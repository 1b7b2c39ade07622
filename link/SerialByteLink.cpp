#include "link/SerialByteLink.h"

#include <QFileInfo>
#include <QMutexLocker>
#include <QTimer>

#include <cerrno>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int kLineCheckMs = 300;
constexpr int kFlushWaitMs = 2000;
} // namespace

SerialByteLink::SerialByteLink(QObject *parent) : ByteLink(parent), m_worker(new QObject)
{
    m_thread.setObjectName(QStringLiteral("serial port"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_worker,
        [this] {
            m_port = new QSerialPort(m_worker);
            // The library stops reading the device when this much waits in it: that is
            // how the port thread pauses while the caller catches up.
            m_port->setReadBufferSize(ReadAhead);
            connect(m_port, &QSerialPort::readyRead, m_worker, [this] { takeFromPort(); });
            connect(m_port, &QSerialPort::bytesWritten, m_worker, [this] {
                QMutexLocker lock(&m_writeMutex);
                m_portBuffered = m_port->bytesToWrite() > 0;
            });
            connect(m_port, &QSerialPort::errorOccurred, m_worker, [this](QSerialPort::SerialPortError error) {
                // Modem-line calls on a line without modem lines (a pseudo-terminal) fail
                // with ENOTTY, and a single failed read or write is not the end of the line:
                // only a vanished device closes the port. Open failures are read by open().
                if (error == QSerialPort::ResourceError && m_port->isOpen())
                    lose(m_port->errorString());
            });
            // A vanished device does not always raise an error on its own (a pseudo-terminal
            // whose other side closed just reports hang-up); this polls the line while open.
            m_lineCheck = new QTimer(m_worker);
            m_lineCheck->setInterval(kLineCheckMs);
            connect(m_lineCheck, &QTimer::timeout, m_worker, [this] { checkLine(); });
        },
        Qt::BlockingQueuedConnection);
}

SerialByteLink::~SerialByteLink()
{
    QMetaObject::invokeMethod(
        m_worker,
        [this] {
            closePort();
            delete m_worker;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

LinkResult SerialByteLink::open(const QString &device, qint32 baud)
{
    if (m_open)
        close();
    LinkResult result;
    const quint64 session = ++m_session;
    QMetaObject::invokeMethod(
        m_worker,
        [&] {
            result = openPort(device, baud);
            m_portSession = session;
            if (result.ok()) {
                QMutexLocker lock(&m_writeMutex);
                m_fd = int(m_port->handle());
            }
        },
        Qt::BlockingQueuedConnection);
    if (result.ok()) {
        m_open = true;
        m_device = device;
        m_delivered = 0;
    }
    return result;
}

LinkResult SerialByteLink::openPort(const QString &device, qint32 baud)
{
    if (device.isEmpty())
        return LinkResult::failure(LinkError::NoSuchDevice, ENOENT, QStringLiteral("No device is set for this port"));
    const QFileInfo info(device);
    if (!info.exists())
        return LinkResult::failure(LinkError::NoSuchDevice, ENOENT,
                                   QStringLiteral("The device %1 does not exist").arg(device));

    m_port->setPortName(info.absoluteFilePath());
    m_port->setBaudRate(baud);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (m_port->open(QIODevice::ReadWrite)) {
        m_portDevice = device;
        m_port->clearError();
        {
            QMutexLocker lock(&m_mutex);
            m_waiting.clear();
            m_waitingSize = 0;
            m_paused = false;
        }
        m_lineCheck->start();
        return LinkResult::success();
    }

    const QSerialPort::SerialPortError error = m_port->error();
    const QString text = m_port->errorString();
    m_port->clearError();
    const bool accessible = ::access(QFile::encodeName(info.absoluteFilePath()).constData(), R_OK | W_OK) == 0;
    switch (classifyOpenFailure(error, accessible)) {
    case LinkError::NoSuchDevice:
        return LinkResult::failure(LinkError::NoSuchDevice, ENOENT, text);
    case LinkError::InUse:
        return LinkResult::failure(LinkError::InUse, EBUSY, text);
    case LinkError::NoPermission:
        return LinkResult::failure(
            LinkError::NoPermission, EACCES,
            QStringLiteral("Permission denied: you may not use %1. Add yourself to the serial-port group "
                           "(dialout), log in again and try once more")
                .arg(device));
    default:
        return LinkResult::failure(LinkError::Other, int(error), text);
    }
}

LinkError SerialByteLink::classifyOpenFailure(QSerialPort::SerialPortError error, bool accessible)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return LinkError::NoSuchDevice;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        // Its lock file, exclusive mode and EBUSY all come out as PermissionError.
        return accessible ? LinkError::InUse : LinkError::NoPermission;
    default:
        return LinkError::Other;
    }
}

void SerialByteLink::close()
{
    QMetaObject::invokeMethod(m_worker, [this] { closePort(); }, Qt::BlockingQueuedConnection);
    m_open = false;
    QMutexLocker lock(&m_mutex);
    m_waiting.clear();
    m_waitingSize = 0;
}

void SerialByteLink::closePort()
{
    m_lineCheck->stop();
    {
        // No write of the caller's may be under way on the descriptor, nor start on it once
        // it is closed and its number perhaps given to another file.
        QMutexLocker lock(&m_writeMutex);
        m_fd = -1;
        m_portBuffered = false;
    }
    if (m_port->isOpen())
        m_port->close();
    m_port->clearError();
}

LinkResult SerialByteLink::write(const QByteArray &bytes)
{
    if (!m_open)
        return LinkResult::failure(LinkError::NotOpen, 0, QStringLiteral("The serial port is not open"));
    QByteArray rest = bytes;
    {
        QMutexLocker lock(&m_writeMutex);
        // Straight to the driver when nothing waits in the port thread: a typed key or the
        // next record goes out at once, without waking that thread. The descriptor is
        // non-blocking; what the driver does not take is left to the port thread, in order.
        if (m_fd >= 0 && m_queuedWrites == 0 && !m_portBuffered) {
            const ssize_t n = ::write(m_fd, bytes.constData(), size_t(bytes.size()));
            if (n == bytes.size())
                return LinkResult::success();
            if (n > 0)
                rest = bytes.sliced(n);
        }
        ++m_queuedWrites;
    }
    QMetaObject::invokeMethod(
        m_worker,
        [this, rest] {
            if (m_port->isOpen() && m_port->write(rest) == rest.size())
                m_port->flush();
            QMutexLocker lock(&m_writeMutex);
            --m_queuedWrites;
            m_portBuffered = m_port->isOpen() && m_port->bytesToWrite() > 0;
        },
        Qt::QueuedConnection);
    return LinkResult::success();
}

bool SerialByteLink::flush()
{
    if (!m_open)
        return false;
    bool drained = false;
    QMetaObject::invokeMethod(
        m_worker,
        [&] {
            if (!m_port->isOpen())
                return;
            while (m_port->bytesToWrite() > 0) {
                if (!m_port->waitForBytesWritten(kFlushWaitMs))
                    return;
            }
            // The library's buffer is empty; wait for the driver's too.
            drained = ::tcdrain(int(m_port->handle())) == 0 || errno == ENOTTY;
        },
        Qt::BlockingQueuedConnection);
    return drained;
}

QByteArray SerialByteLink::readAll()
{
    QList<QByteArray> pieces;
    qsizetype size = 0;
    {
        QMutexLocker lock(&m_mutex);
        // Whole pieces, at least one, as long as they stay within ReadAhead.
        while (!m_waiting.isEmpty() && (pieces.isEmpty() || size + m_waiting.first().size() <= ReadAhead)) {
            size += m_waiting.first().size();
            pieces.append(m_waiting.takeFirst());
        }
        m_waitingSize -= size;
        m_arrivalPosted = !m_waiting.isEmpty();
        if (m_arrivalPosted)
            QMetaObject::invokeMethod(this, [this] { emit bytesArrived(); }, Qt::QueuedConnection);
        if (m_paused && m_waitingSize < MaxWaiting) {
            m_paused = false;
            QMetaObject::invokeMethod(m_worker, [this] { takeFromPort(); }, Qt::QueuedConnection);
        }
    }
    m_delivered += size;
    if (pieces.size() == 1)
        return pieces.first();
    QByteArray bytes;
    bytes.reserve(size);
    for (const QByteArray &piece : std::as_const(pieces))
        bytes += piece;
    return bytes;
}

qsizetype SerialByteLink::bytesWaiting() const
{
    QMutexLocker lock(&m_mutex);
    return m_waitingSize;
}

void SerialByteLink::takeFromPort()
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_paused)
            return; // the bytes wait in the library, which stops reading when it is full
    }
    QByteArray bytes = m_port->readAll();
    if (bytes.isEmpty())
        return;
    QMutexLocker lock(&m_mutex);
    m_waitingSize += bytes.size();
    m_waiting.append(std::move(bytes));
    m_paused = m_waitingSize >= MaxWaiting;
    if (m_arrivalPosted)
        return;
    m_arrivalPosted = true;
    QMetaObject::invokeMethod(this, [this] { emit bytesArrived(); }, Qt::QueuedConnection);
}

void SerialByteLink::checkLine()
{
    if (!m_port->isOpen())
        return;
    pollfd fd{int(m_port->handle()), POLLIN, 0};
    if (::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)))
        lose(QStringLiteral("The device %1 hung up").arg(m_portDevice));
    else if (!QFileInfo::exists(m_portDevice))
        lose(QStringLiteral("The device %1 disappeared").arg(m_portDevice));
}

void SerialByteLink::lose(const QString &reason)
{
    if (!m_port->isOpen())
        return;
    // Whatever the library still holds came from the line before it went: it is handed over
    // before the loss.
    if (QByteArray bytes = m_port->readAll(); !bytes.isEmpty()) {
        QMutexLocker lock(&m_mutex);
        m_waitingSize += bytes.size();
        m_waiting.append(std::move(bytes));
    }
    closePort();
    const quint64 session = m_portSession;
    QMetaObject::invokeMethod(this, [this, session, reason] { onLost(session, reason); }, Qt::QueuedConnection);
}

void SerialByteLink::onLost(quint64 session, const QString &reason)
{
    if (session != m_session || !m_open)
        return; // closed or opened again since
    m_open = false;
    if (bytesWaiting() > 0)
        emit bytesArrived();
    emit linkLost(reason);
}
