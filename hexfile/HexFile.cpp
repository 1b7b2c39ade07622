#include "hexfile/HexFile.h"

#include "core/StatusSink.h"
#include "link/LinkDispatcher.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return 0;
}

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}

// Value of the record's byte at `index` (0 is the byte count), in a line already checked.
int recordByte(const QString &record, int index)
{
    return hexDigit(record[1 + 2 * index]) * 16 + hexDigit(record[2 + 2 * index]);
}

// Byte count, address (two bytes), type and checksum: the bytes of a record besides its data.
constexpr int RecordOverhead = 5;
constexpr int DataRecordType = 0;

// Dots are gathered and handed over in chunks: the log ends up with the same text, but a
// file of tens of thousands of records does not cost as many log updates.
class DotWriter {
public:
    explicit DotWriter(StatusSink &status) : m_status(status) {}
    ~DotWriter() { flush(); }
    void add()
    {
        if (++m_pending == Chunk)
            flush();
    }
    void flush()
    {
        if (m_pending > 0)
            m_status.appendStatus(QString(m_pending, QLatin1Char('.')), false);
        m_pending = 0;
    }

private:
    static constexpr int Chunk = 4096;
    StatusSink &m_status;
    int m_pending = 0;
};

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

} // namespace

int hexByteValue(QString &text)
{
    text = text.toUpper();
    if (text.isEmpty())
        return 0;
    return hexDigit(text.front()) * 16 + hexDigit(text.back());
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
    status.appendStatus(QStringLiteral("Reading Hex file"), false);
    m_records.clear();
    m_errorLine = 0;
    m_errorLineHasLf = false;

    // Non-blocking open, so that a named pipe without a writer cannot stall the window.
    const QByteArray native = QFile::encodeName(m_path);
    Fd fd(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return fileError(errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return fileError(errno);
    if (S_ISDIR(st.st_mode))
        return EISDIR;

    DotWriter dots(status);
    QByteArray line;
    line.reserve(600);
    bool inLine = false;
    bool afterCr = false;
    bool hasData = false;
    int lineNumber = 0;

    // Returns the check's result; an accepted line is stored, a refused one is remembered
    // for the report.
    auto finishLine = [&]() {
        const QString record = QString::fromLatin1(line);
        ++lineNumber;
        const int r = checkRecord(record);
        if (r == Ok) {
            dots.add();
            m_records.append(record);
            if (recordByte(record, 3) == DataRecordType && recordByte(record, 0) > 0)
                hasData = true;
        } else {
            m_errorLine = lineNumber;
            m_errorLineHasLf = line.contains('\n');
        }
        line.clear();
        inLine = false;
        return r;
    };

    char buf[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return fileError(errno);
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
                if (r != Ok)
                    return r;
                continue;
            }
            inLine = true;
            line.append(c);
            // One character past the limit is enough for the check to refuse the line.
            if (line.size() > MaxLineLength)
                return finishLine();
        }
    }
    if (inLine) {
        const int r = finishLine();
        if (r != Ok)
            return r;
    }
    // Nothing to write into the board's memory: an empty file, or a pipe nobody writes to.
    return hasData ? int(Ok) : int(NoData);
}

int HexFile::checkRecord(const QString &record)
{
    if (record.isEmpty() || record.front() != QLatin1Char(':'))
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
    if (m_downloading)
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
    // Receive, the time-out and a lost line only touch the members; the loop acts on them.
    const auto somethingHappened = [this, &link] {
        return packetsReceived() != m_sentCount || m_error != NoError || link.currentHandler().get() != this;
    };

    timer.setEnabled(true);
    status.appendStatus(QStringLiteral("Downloading hexfile"), false);
    link.send(QByteArray(1, kStart), true);

    while (packetsReceived() <= count) {
        if (link.currentHandler().get() != this) {
            // Another exchange took the line over: nothing we wait for will reach us now.
            m_error = Aborted;
            setIgnoreReceive(true);
            break;
        }
        QByteArray bytes;
        if (m_sentCount == packetsReceived() && m_error == NoError) {
            link.waitUntil(somethingHappened);
            continue;
        }
        timer.setEnabled(false);
        if (m_error == NoError) {
            status.appendStatus(QStringLiteral("."), false);
            ++m_sentCount;
            bytes = m_records.at(m_sentCount - 1).toLatin1();
            if (progress)
                progress(m_sentCount);
        } else {
            status.appendStatus(QStringLiteral("E"), false);
            // A resend asked for before any record names none: the start byte is what the
            // kernel has not understood, so it goes again.
            bytes = m_sentCount == 0 ? QByteArray(1, kStart) : m_records.at(m_sentCount - 1).toLatin1();
            m_error = NoError;
        }
        // The whole record in one write; a failed write ends the transfer through the
        // dispatcher, which also stops the timer.
        if (link.send(bytes, true))
            timer.setEnabled(true);
    }
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
