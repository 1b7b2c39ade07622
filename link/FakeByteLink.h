#pragma once
#include "link/ByteLink.h"

#include <QList>

// In-memory link for tests: records what is written, delivers what the test injects.
class FakeByteLink : public ByteLink {
    Q_OBJECT
public:
    using ByteLink::ByteLink;

    LinkResult open(const QString &device, qint32 baud) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    QString device() const override { return m_device; }
    LinkResult write(const QByteArray &bytes) override;
    bool flush() override { return m_open; }
    QByteArray readAll() override;

    // The next open attempts fail with these results, one per attempt, in order.
    void failOpens(const QList<LinkResult> &results) { m_openFailures = results; }
    // Bytes "arrive": they are queued and bytesArrived is emitted once.
    void inject(const QByteArray &bytes);
    // The device vanishes: the link closes and linkLost is emitted.
    void pull(const QString &reason = QStringLiteral("device removed"));

    QByteArray written() const { return m_written; }
    QList<QByteArray> writes() const { return m_writes; }
    void clearWritten() { m_written.clear(); m_writes.clear(); }
    qint32 baud() const { return m_baud; }
    int openCount() const { return m_openCount; }

private:
    bool m_open = false;
    QString m_device;
    qint32 m_baud = 0;
    int m_openCount = 0;
    QList<LinkResult> m_openFailures;
    QByteArray m_pending;
    QByteArray m_written;
    QList<QByteArray> m_writes;
};
