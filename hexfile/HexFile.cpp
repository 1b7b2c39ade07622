#include "hexfile/HexFile.h"

#include "core/StatusSink.h"
#include "link/LinkDispatcher.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QThread>

#include <memory>
#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Byte count, address (two bytes), type and checksum: the bytes of a record besides its data.
constexpr int RecordOverhead = 5;

// Dots are handed over in chunks: the log ends up with the same text, but a file of tens of
// thousands of records does not cost as many log updates.
constexpr int DotChunk = 4096;

class NullSink : public StatusSink {
public:
    void appendStatus(const QString &, bool) override {}
};

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

int fileError(int err)
{
    return err == ENOENT ? int(HexFile::FileNotFound) : err;
}

QByteArray fileStamp(const struct stat &st)
{
    const qint64 fields[] = {qint64(st.st_dev), qint64(st.st_ino), qint64(st.st_size),
                             qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec),
                             qint64(st.st_ctim.tv_sec), qint64(st.st_ctim.tv_nsec)};
    return QByteArray(reinterpret_cast<const char *>(fields), sizeof fields);
}

// Everything one read finds, made on the reading thread and taken over when it ends.
struct ReadOutcome {
    int result = HexFile::Ok;
    HexRecords records;
    HexSummary summary;
    int errorLine = 0;
    bool errorLineHasLf = false;
    QByteArray stamp;
};

// Reads and checks the file; `accepted` hears of every further DotChunk records accepted.
ReadOutcome readRecords(const QByteArray &native, const std::function<void()> &accepted)
{
    ReadOutcome out;
    // Non-blocking open, so that a named pipe without a writer cannot stall the read.
    Fd fd(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        out.result = fileError(errno);
        return out;
    }
    if (S_ISDIR(st.st_mode)) {
        out.result = EISDIR;
        return out;
    }
    timespec startedAt{};
    ::clock_gettime(CLOCK_REALTIME, &startedAt);
    // A file written in the last two seconds gets no stamp: a change right after this read
    // could leave the same times behind on a file system that keeps whole seconds.
    if (S_ISREG(st.st_mode) && st.st_mtim.tv_sec + 2 < startedAt.tv_sec)
        out.stamp = fileStamp(st);
    // Room for the text at once: growing by steps would copy a large file's text more than
    // once and leave the peak well above its size.
    if (S_ISREG(st.st_mode))
        out.records.reserve(st.st_size);

    QByteArray line;
    line.reserve(600);
    bool inLine = false;
    bool afterCr = false;
    int lineNumber = 0;

    // Returns the check's result; an accepted line is stored, a refused one is remembered
    // for the report.
    auto finishLine = [&]() {
        ++lineNumber;
        int r = HexFile::checkRecord(line);
        if (r == HexFile::Ok) {
            if (!out.records.append(line))
                return int(EFBIG);
            out.summary.addRecord(line);
            if (out.records.size() % DotChunk == 0)
                accepted();
        } else {
            out.errorLine = lineNumber;
            out.errorLineHasLf = line.contains('\n');
        }
        line.clear();
        inLine = false;
        return r;
    };
    const auto finish = [&](int result) {
        out.result = result;
        if (result != HexFile::Ok)
            out.stamp.clear();
        return std::move(out);
    };

    char buf[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return finish(fileError(errno));
        }
        if (got == 0)
            break;
        for (ssize_t i = 0; i < got; ++i) {
            const char c = buf[i];
            if (afterCr) {
                afterCr = false;
                if (c == '\n')
                    continue;
            }
            if (c == '\r') {
                afterCr = true;
                const int r = finishLine();
                if (r != HexFile::Ok)
                    return finish(r);
                continue;
            }
            inLine = true;
            line.append(c);
            // One character past the limit is enough for the check to refuse the line.
            if (line.size() > HexFile::MaxLineLength)
                return finish(finishLine());
        }
    }
    if (inLine) {
        const int r = finishLine();
        if (r != HexFile::Ok)
            return finish(r);
    }
    // Nothing to write into the board's memory: an empty file, or a pipe nobody writes to.
    return finish(out.summary.dataBytes() > 0 ? int(HexFile::Ok) : int(HexFile::NoData));
}

} // namespace

int hexByteValue(QString &text)
{
    text = text.toUpper();
    if (text.isEmpty())
        return 0;
    const auto digit = [](QChar c) { return c.unicode() < 0x80 ? hexDigitValue(char(c.unicode())) : 0; };
    return digit(text.front()) * 16 + digit(text.back());
}

HexFile::HexFile(StatusSink *status) : m_status(status) {}

int HexFile::readHexFile()
{
    if (m_status)
        return readHexFile(*m_status);
    NullSink none;
    return readHexFile(none);
}

int HexFile::readHexFile(StatusSink &status)
{
    if (m_path.isEmpty())
        return NoPath;
    if (m_downloading)
        return Downloading;
    if (m_reading)
        return Reading;
    status.appendStatus(QStringLiteral("Reading Hex file"), false);
    m_reading = true;
    // Whatever the outcome, the read replaces the records, and nothing sends them while it
    // runs: they go now, so a reload does not hold two copies of a large file. Giving a large
    // block back takes a while; the reader does it.
    HexRecords previous = std::exchange(m_records, HexRecords());
    m_summary = HexSummary();

    const QByteArray native = QFile::encodeName(m_path);
    ReadOutcome outcome;
    int chunksShown = 0;
    const auto showChunk = [&status, &chunksShown] {
        status.appendStatus(QString(DotChunk, QLatin1Char('.')), false);
        ++chunksShown;
    };
    QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        // Declared after what its queued calls touch, so it goes first, and with it any
        // call still queued.
        QObject receiver;
        QEventLoop loop;
        const auto post = [&receiver, &showChunk] {
            QMetaObject::invokeMethod(&receiver, showChunk, Qt::QueuedConnection);
        };
        std::unique_ptr<QThread> reader(QThread::create([&] {
            previous = HexRecords();
            outcome = readRecords(native, post);
        }));
        QObject::connect(reader.get(), &QThread::finished, &loop, &QEventLoop::quit);
        reader->start();
        loop.exec();
        // The loop also ends when the application quits; the reader is still owed its end.
        reader->wait();
    } else {
        outcome = readRecords(native, showChunk);
    }
    const int rest = outcome.records.size() - chunksShown * DotChunk;
    if (rest > 0)
        status.appendStatus(QString(rest, QLatin1Char('.')), false);

    m_records = std::move(outcome.records);
    m_summary = std::move(outcome.summary);
    m_errorLine = outcome.errorLine;
    m_errorLineHasLf = outcome.errorLineHasLf;
    m_readStamp = std::move(outcome.stamp);
    m_reading = false;
    return outcome.result;
}

bool HexFile::isUnchangedSinceRead() const
{
    struct stat st;
    return !m_readStamp.isEmpty() && ::stat(QFile::encodeName(m_path).constData(), &st) == 0
        && fileStamp(st) == m_readStamp;
}

int HexFile::checkRecord(QByteArrayView record)
{
    if (record.isEmpty() || record.front() != ':')
        return NoColon;
    const qsizetype n = record.size();
    if (n > MaxLineLength)
        return ChecksumError;
    // The kernel reads exactly the record its byte count announces and refuses anything else:
    // a colon, the count, two address bytes, the type, the data and the checksum, all as
    // hexadecimal pairs. A shorter, longer or non-hexadecimal line must not be sent to it.
    for (qsizetype p = 1; p < n; ++p) {
        if (!isHexDigit(record[p]))
            return ChecksumError;
    }
    if (n < 1 + 2 * RecordOverhead || n != 1 + 2 * (RecordOverhead + recordByte(record, 0)))
        return ChecksumError;
    unsigned sum = 0;
    for (int i = 0; i < int(n / 2); ++i)
        sum += unsigned(recordByte(record, i));
    return (sum & 0xffu) == 0 ? int(Ok) : int(ChecksumError);
}

QString HexFile::errorText(int code)
{
    if (code == FileNotFound)
        return QStringLiteral("File not found");
    return qt_error_string(code);
}

bool HexFile::send(LinkDispatcher &link, const std::function<void(int)> &progress)
{
    // One transfer at a time: a second one would share the counters of the first.
    // Nor while a read is about to replace the records.
    if (m_downloading || m_reading)
        return false;
    m_downloading = true;
    const bool ok = transfer(link, progress);
    m_sentCount = 0;
    m_downloading = false;
    return ok;
}

bool HexFile::transfer(LinkDispatcher &link, const std::function<void(int)> &progress)
{
    m_error = NoError;
    setIgnoreReceive(false);
    setPacketsReceived(0);
    m_sentCount = 0;

    RequestTimer &timer = link.requestTimer();
    StatusSink &status = link.status();
    const int count = recordCount();
    // Receive, the time-out and a lost line only touch the members; this step acts on them and
    // says whether the transfer has ended. It runs inside one wait for the whole transfer, so
    // the next record follows its acknowledgement at once instead of a wait ending and
    // another starting for every record.
    const auto step = [&]() -> bool {
        while (packetsReceived() <= count) {
            if (link.currentHandler().get() != this) {
                // Another exchange took the line over: nothing we wait for will reach us now.
                m_error = Aborted;
                setIgnoreReceive(true);
                return true;
            }
            if (m_sentCount == packetsReceived() && m_error == NoError)
                return false;
            timer.setEnabled(false);
            QByteArray bytes;
            if (m_error == NoError) {
                status.appendStatus(QStringLiteral("."), false);
                ++m_sentCount;
                bytes = record(m_sentCount - 1);
                if (progress)
                    progress(m_sentCount);
            } else {
                status.appendStatus(QStringLiteral("E"), false);
                // A resend asked for before any record names none: the start byte is what the
                // kernel has not understood, so it goes again.
                bytes = m_sentCount == 0 ? QByteArray(1, kStart) : record(m_sentCount - 1);
                m_error = NoError;
            }
            // The whole record in one write; a failed write ends the transfer through the
            // dispatcher, which also stops the timer.
            if (link.send(bytes, true))
                timer.setEnabled(true);
        }
        return true;
    };

    timer.setEnabled(true);
    status.appendStatus(QStringLiteral("Downloading hexfile"), false);
    link.send(QByteArray(1, kStart), true);
    link.waitUntil(step);
    timer.setEnabled(false);

    if (m_error != NoError) {
        status.appendStatus(abortText(), true);
        status.appendStatus(transmissionErrorText(), true);
        status.appendStatus(notDownloadedText(), true);
        return false;
    }
    status.appendStatus(QStringLiteral("Ok"), true);
    return true;
}

void HexFile::receive(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    switch (bytes.at(0)) {
    case kAccepted:
        setPacketsReceived(packetsReceived() + 1);
        m_error = NoError;
        return;
    case kComplete:
        setPacketsReceived(recordCount() + 1);
        m_error = NoError;
        return;
    case kResend04:
        m_error = ResendAsked04;
        return;
    case kResend05:
        m_error = ResendAsked05;
        return;
    default:
        m_error = Aborted;
        setPacketsReceived(recordCount() + 1);
        return;
    }
}
