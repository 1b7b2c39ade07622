// Feeds arbitrary bytes to the record check (as one line) and to the file reader (as a
// whole file) and traps when an invariant of the reader does not hold.
#include "core/StatusSink.h"
#include "hexfile/HexFile.h"

#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

class CountingSink : public StatusSink {
public:
    void appendStatus(const QString &text, bool endLine) override
    {
        if (endLine)
            __builtin_trap(); // the reader never ends a line itself
        if (first) {
            if (text != QLatin1String("Reading Hex file"))
                __builtin_trap();
            first = false;
            return;
        }
        for (QChar c : text)
            if (c != QLatin1Char('.'))
                __builtin_trap();
        dots += text.size();
    }
    bool first = true;
    qsizetype dots = 0;
};

struct Scratch {
    Scratch()
    {
        char name[] = "/tmp/corvade-fuzz-XXXXXX";
        fd = ::mkstemp(name);
        if (fd < 0)
            std::abort();
        path = QString::fromLocal8Bit(name);
    }
    ~Scratch()
    {
        ::close(fd);
        QFile::remove(path);
    }
    void write(const uint8_t *data, size_t size)
    {
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size))
            std::abort();
    }
    int fd;
    QString path;
};

bool isResult(int r)
{
    return r == 0 || r == -1 || r == -2;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Scratch scratch;
    const char *bytes = reinterpret_cast<const char *>(data);

    const QString line = QString::fromLatin1(bytes, qsizetype(size));
    if (!isResult(HexFile::checkRecord(QByteArrayView(bytes, qsizetype(size)))))
        __builtin_trap();
    QString pair = line.left(3);
    const int v = hexByteValue(pair);
    if (v < 0 || v > 255)
        __builtin_trap();

    scratch.write(data, size);
    CountingSink sink;
    HexFile hex;
    hex.setPath(scratch.path);
    const int r = hex.readHexFile(sink);
    if (!isResult(r))
        __builtin_trap();
    if (sink.dots != hex.recordCount())
        __builtin_trap();
    qsizetype stored = 0;
    for (int i = 0; i < hex.recordCount(); ++i) {
        const QByteArray record = hex.record(i);
        if (record.contains('\r') || HexFile::checkRecord(record) != 0)
            __builtin_trap();
        stored += record.size() + 1; // at least one terminator each, but the last
    }
    if (stored > qsizetype(size) + 1)
        __builtin_trap();
    return 0;
}
