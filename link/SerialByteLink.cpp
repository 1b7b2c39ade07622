#include "link/SerialByteLink.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int kLineCheckMs = 300;
constexpr int kFlushWaitMs = 2000;
constexpr qsizetype kReadPiece = 64 * 1024;
} // namespace

SerialByteLink::SerialByteLink(QObject *parent) : ByteLink(parent)
{
    m_port.setReadBufferSize(0);
    connect(&m_port, &QSerialPort::readyRead, this, &ByteLink::bytesArrived);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialByteLink::onError);
    m_lineCheck.setInterval(kLineCheckMs);
    connect(&m_lineCheck, &QTimer::timeout, this, &SerialByteLink::checkLine);
}

SerialByteLink::~SerialByteLink()
{
    m_lineCheck.stop();
    if (m_port.isOpen())
        m_port.close();
}

LinkResult SerialByteLink::open(const QString &device, qint32 baud)
{
    if (m_port.isOpen())
        close();
    if (device.isEmpty())
        return LinkResult::failure(LinkError::NoSuchDevice, ENOENT, QStringLiteral("No device is set for this port"));
    const QFileInfo info(device);
    if (!info.exists())
        return LinkResult::failure(LinkError::NoSuchDevice, ENOENT,
                                   QStringLiteral("The device %1 does not exist").arg(device));

    m_port.setPortName(info.absoluteFilePath());
    m_port.setBaudRate(baud);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (m_port.open(QIODevice::ReadWrite)) {
        m_device = device;
        m_port.clearError();
        m_lineCheck.start();
        return LinkResult::success();
    }

    const QSerialPort::SerialPortError error = m_port.error();
    const QString text = m_port.errorString();
    m_port.clearError();
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
    m_lineCheck.stop();
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

LinkResult SerialByteLink::write(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return LinkResult::failure(LinkError::NotOpen, 0, QStringLiteral("The serial port is not open"));
    if (m_port.write(bytes) != bytes.size()) {
        const QString text = m_port.errorString();
        m_port.clearError();
        return LinkResult::failure(LinkError::Other, int(m_port.error()), QStringLiteral("Writing to the serial port failed: ") + text);
    }
    // Hand the bytes to the driver now rather than on the next turn of the event loop: a
    // typed key would otherwise wait behind a whole turn of incoming data.
    m_port.flush();
    return LinkResult::success();
}

bool SerialByteLink::flush()
{
    if (!m_port.isOpen())
        return false;
    while (m_port.bytesToWrite() > 0) {
        if (!m_port.waitForBytesWritten(kFlushWaitMs))
            return false;
    }
    // The library's buffer is empty; wait for the driver's too.
    return ::tcdrain(int(m_port.handle())) == 0 || errno == ENOTTY;
}

QByteArray SerialByteLink::readAll()
{
    QByteArray bytes = m_port.readAll();
    if (!m_port.isOpen())
        return bytes;
    // The library's buffer came first and is empty now, so the order is kept. The
    // descriptor is non-blocking: the loop ends when nothing more is waiting.
    const int fd = int(m_port.handle());
    while (bytes.size() < ReadAhead) {
        const qsizetype had = bytes.size();
        bytes.resize(had + kReadPiece);
        const ssize_t n = ::read(fd, bytes.data() + had, size_t(kReadPiece));
        bytes.resize(had + std::max<qsizetype>(0, n));
        if (n <= 0)
            break;
    }
    return bytes;
}

void SerialByteLink::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
        return;
    case QSerialPort::ResourceError:
        if (m_port.isOpen())
            lose(m_port.errorString());
        return;
    default:
        // Modem-line calls on a line without modem lines (a pseudo-terminal) fail with
        // ENOTTY; a failed single read or write is reported where it happens. None of
        // these closes the port. Open failures are read by open() itself.
        return;
    }
}

void SerialByteLink::checkLine()
{
    if (!m_port.isOpen())
        return;
    pollfd fd{int(m_port.handle()), POLLIN, 0};
    if (::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)))
        lose(QStringLiteral("The device %1 hung up").arg(m_device));
    else if (!QFileInfo::exists(m_device))
        lose(QStringLiteral("The device %1 disappeared").arg(m_device));
}

void SerialByteLink::lose(const QString &reason)
{
    if (!m_port.isOpen())
        return;
    m_lineCheck.stop();
    // Whatever is still buffered came from the line before it went; hand it over first.
    if (m_port.bytesAvailable() > 0)
        emit bytesArrived();
    m_port.close();
    m_port.clearError();
    emit linkLost(reason);
}
