#include "link/FakeByteLink.h"

LinkResult FakeByteLink::open(const QString &device, qint32 baud)
{
    if (!m_openFailures.isEmpty())
        return m_openFailures.takeFirst();
    m_open = true;
    m_device = device;
    m_baud = baud;
    ++m_openCount;
    return LinkResult::success();
}

void FakeByteLink::close()
{
    m_open = false;
    m_pending.clear();
}

LinkResult FakeByteLink::write(const QByteArray &bytes)
{
    if (!m_open)
        return LinkResult::failure(LinkError::NotOpen, 0, QStringLiteral("The serial port is not open"));
    m_written += bytes;
    m_writes.append(bytes);
    return LinkResult::success();
}

QByteArray FakeByteLink::readAll()
{
    QByteArray out;
    out.swap(m_pending);
    return out;
}

void FakeByteLink::inject(const QByteArray &bytes)
{
    m_pending += bytes;
    emit bytesArrived();
}

void FakeByteLink::pull(const QString &reason)
{
    m_open = false;
    m_pending.clear();
    emit linkLost(reason);
}
