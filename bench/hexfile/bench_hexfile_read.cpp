// Prints how long loading a large HEX file takes through the load path every menu command
// uses, the peak memory, and the longest time the main thread's event loop stood still
// meanwhile (a window would not paint or answer for that long).
// Usage: bench_hexfile_read [records...]   (one size per run gives a clean peak figure)
#include "core/Prompter.h"
#include "core/Readiness.h"
#include "core/StatusLog.h"
#include "hexfile/HexFile.h"
#include "hexfile/HexLoad.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

class SilentPrompter : public Prompter {
public:
    void message(const QString &text, Icon) override { std::fprintf(stderr, "box: %s\n", qPrintable(text)); }
    Answer abortRetryIgnore(const QString &, Answer answer) override { return answer; }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &, const QString &) override { return {}; }
};

QByteArray record(int address, const QByteArray &data)
{
    QByteArray body;
    body.append(char(data.size()));
    body.append(char(address >> 8));
    body.append(char(address & 0xff));
    body.append(char(0));
    body.append(data);
    unsigned sum = 0;
    for (char c : body)
        sum += uchar(c);
    body.append(char((0x100 - (sum & 0xff)) & 0xff));
    return ':' + body.toHex().toUpper();
}

// Written a piece at a time, so making the file does not add to the peak figure.
qint64 writeFile(const QString &path, int count)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    QByteArray piece;
    for (int i = 0; i < count - 1; ++i) {
        piece += record(i & 0xffff, QByteArray(16, char(i))) + "\r\n";
        if (piece.size() > (1 << 20)) {
            f.write(piece);
            piece.clear();
        }
    }
    piece += ":00000001FF\r\n";
    f.write(piece);
    return f.size();
}

// Peak resident memory so far, from the kernel's own count.
long peakRssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QList<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes << QByteArray(argv[i]).toInt();
    if (sizes.isEmpty())
        sizes = {1000, 40000, 200000};

    QTemporaryDir dir;
    SilentPrompter prompter;
    Readiness state;
    StatusLog status;
    HexFile hex;
    for (int count : sizes) {
        const QString path = dir.filePath(QStringLiteral("bench.hex"));
        const qint64 bytes = writeFile(path, count);
        // The first read fills an empty program, the second replaces what the first read,
        // as a reload does.
        for (const char *kind : {"load", "reload"}) {
            status.clear();
            QElapsedTimer sinceTick, total;
            qint64 longestStill = 0;
            QTimer ticker;
            ticker.setInterval(1);
            QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
                longestStill = qMax(longestStill, sinceTick.nsecsElapsed());
                sinceTick.restart();
            });
            ticker.start();
            sinceTick.start();
            total.start();
            HexLoad::readHexFile(hex, path, status, prompter, state, {});
            const qint64 ns = total.nsecsElapsed();
            longestStill = qMax(longestStill, sinceTick.nsecsElapsed());
            ticker.stop();
            if (!state.fileReady() || hex.recordCount() != count) {
                std::fprintf(stderr, "read failed: %s\n", qPrintable(status.text().right(200)));
                return 1;
            }
            std::printf("%8d records, %7.1f MB, %-6s: %8.1f ms, %5.2f M records/s, event loop still for at most "
                        "%7.1f ms, peak RSS so far %7.1f MB\n",
                        count, bytes / 1e6, kind, ns / 1e6, count / (ns / 1e9) / 1e6, longestStill / 1e6,
                        peakRssKb() / 1024.0);
            std::fflush(stdout);
        }
    }
    return 0;
}
