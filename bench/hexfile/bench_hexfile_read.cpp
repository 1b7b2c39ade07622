// Prints how long reading and checking large HEX files takes and how many status-log calls
// the progress dots cost. Usage: bench_hexfile_read [records...]
#include "core/StatusSink.h"
#include "hexfile/HexFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

class CountingSink : public StatusSink {
public:
    void appendStatus(const QString &text, bool) override
    {
        ++calls;
        chars += text.size();
    }
    long calls = 0;
    qsizetype chars = 0;
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

long maxRssKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
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
    for (int count : sizes) {
        QByteArray content;
        for (int i = 0; i < count - 1; ++i)
            content += record(i & 0xffff, QByteArray(16, char(i))) + "\r\n";
        content += ":00000001FF\r\n";
        const QString path = dir.filePath(QStringLiteral("bench.hex"));
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(content);
        f.close();

        const int runs = 5;
        qint64 best = -1;
        CountingSink sink;
        HexFile hex;
        hex.setPath(path);
        for (int r = 0; r < runs; ++r) {
            sink = CountingSink();
            QElapsedTimer t;
            t.start();
            const int result = hex.readHexFile(sink);
            const qint64 ns = t.nsecsElapsed();
            if (result != 0 || hex.recordCount() != count) {
                std::fprintf(stderr, "read failed: %d\n", result);
                return 1;
            }
            if (best < 0 || ns < best)
                best = ns;
        }
        std::printf("%7d records, %8.2f MB: best of %d reads %8.2f ms, %6.2f M records/s, "
                    "%ld log calls, %lld log chars, max RSS %ld kB\n",
                    count, content.size() / 1e6, runs, best / 1e6, count / (best / 1e9) / 1e6, sink.calls,
                    static_cast<long long>(sink.chars), maxRssKb());
    }

    // The check alone, on one typical record.
    const QString line = QString::fromLatin1(record(0x1234, QByteArray(16, '\x5a')));
    const int n = 2000000;
    QElapsedTimer t;
    t.start();
    int bad = 0;
    for (int i = 0; i < n; ++i)
        bad += HexFile::checkRecord(line) != 0;
    const qint64 ns = t.nsecsElapsed();
    std::printf("CheckRecord on a 16-byte record: %.1f ns per line (%d failures)\n", double(ns) / n, bad);
    return 0;
}
