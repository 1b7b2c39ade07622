#pragma once
#include <QBuffer>

// Accepts the first `limit` bytes, then fails every write like a full disk.
class FullDevice : public QBuffer {
public:
    explicit FullDevice(qint64 limit) : m_limit(limit) { open(QIODevice::ReadWrite); }

protected:
    qint64 writeData(const char *data, qint64 len) override
    {
        if (pos() + len > m_limit) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        return QBuffer::writeData(data, len);
    }

private:
    qint64 m_limit;
};
