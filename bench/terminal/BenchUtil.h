#pragma once
#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QRandomGenerator>

// Resident and peak memory of this process in bytes, from the kernel's own account.
inline qint64 procStatusBytes(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// Swallows what is written and counts it, so saving can be timed without a disk.
class CountingDevice : public QIODevice {
public:
    CountingDevice() { open(QIODevice::WriteOnly); }
    qint64 count = 0;
protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 len) override
    {
        count += len;
        return len;
    }
};

// Output a program on the board might produce: text lines with CR LF, a few tabs and
// other control characters, now and then a high byte.
inline QByteArray mixedOutput(QRandomGenerator &rng, qsizetype bytes)
{
    static const char *words[] = {"temp", "=", "23.5", "ok", "sensor", "P1", "0x3F", "loop", "ADC:", "ready"};
    QByteArray out;
    out.reserve(bytes + 64);
    while (out.size() < bytes) {
        const int n = rng.bounded(2, 10);
        for (int i = 0; i < n; ++i) {
            out += words[rng.bounded(10)];
            out += rng.bounded(8) == 0 ? '\t' : ' ';
        }
        if (rng.bounded(20) == 0)
            out += char(rng.bounded(0xA0, 0x100));
        if (rng.bounded(30) == 0)
            out += '\x07';
        out += "\r\n";
    }
    out.truncate(bytes);
    return out;
}
