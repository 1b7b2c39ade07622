#include "terminal/TerminalStore.h"

#include "core/StatusSink.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr char CR = '\r';
constexpr char LF = '\n';

QString spillPrefix() { return QStringLiteral("terminal-"); }

// The first CR or LF in [p, end), or end. Most bytes are neither, so eight are looked at
// a step: a byte of the word equal to c has a zero in the word XOR c repeated.
const char *nextLineEnd(const char *p, const char *end)
{
    constexpr quint64 ones = 0x0101010101010101ULL;
    constexpr quint64 highs = 0x8080808080808080ULL;
    while (end - p >= 8) {
        quint64 w;
        std::memcpy(&w, p, 8);
        const quint64 cr = w ^ (ones * quint8(CR));
        const quint64 lf = w ^ (ones * quint8(LF));
        if ((((cr - ones) & ~cr) | ((lf - ones) & ~lf)) & highs)
            break;
        p += 8;
    }
    while (p < end && *p != CR && *p != LF)
        ++p;
    return p;
}

QString systemError(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// An unnamed file in folder, readable by this process alone: nobody can open it by name,
// there is no name to plant a link on, and a crash leaves nothing behind. Where the file
// system has no unnamed files, a fresh random name is made exclusively (never through a
// link), readable by the owner only, and removed at once. -1 with errno on failure.
int openUnnamedFile(const QString &folder)
{
    const QByteArray dir = QFile::encodeName(folder);
    const int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    // The name still carries the process id, so that the stale-file sweep finds it should
    // the program die in the instant between creating and removing it.
    QByteArray name = dir + '/' + QFile::encodeName(spillPrefix()) + QByteArray::number(qint64(::getpid()))
        + "-XXXXXX.spill";
    const int named = ::mkostemps(name.data(), 6, O_CLOEXEC);
    if (named >= 0)
        ::unlink(name.constData());
    return named;
}
} // namespace

TerminalStore::TerminalStore(QObject *parent)
    : QObject(parent)
{
    pushLineStart(0);
}

TerminalStore::~TerminalStore()
{
    closeOwnSpill();
}

void TerminalStore::closeOwnSpill()
{
    if (m_spillFd >= 0)
        ::close(m_spillFd);
    m_spillFd = -1;
    m_spillFileName.clear();
    m_spillPlace.clear();
}

void TerminalStore::setMemoryWindow(qint64 bytes)
{
    m_windowBytes = std::max<qint64>(BlockSize, bytes);
    spillOldBlocks();
}

void TerminalStore::setSpillDevice(QIODevice *device)
{
    closeOwnSpill();
    m_spill = device;
    m_spillEnd = 0;
}

quint16 TerminalStore::paletteIndex(ColorRef color)
{
    // Three settings give the colours, so the palette is nearly always tiny; looking
    // through it beats hashing for every piece, and a piece is often a single "<n>".
    const size_t few = std::min<size_t>(m_palette.size(), 8);
    for (size_t i = 0; i < few; ++i) {
        if (m_palette[i] == color)
            return quint16(i);
    }
    auto it = m_paletteIndex.constFind(color);
    if (it != m_paletteIndex.constEnd())
        return *it;
    // More distinct colours than an index holds cannot come from three settings; the
    // last slot then stands for every further colour rather than failing.
    if (m_palette.size() >= 0xFFFF)
        return 0xFFFE;
    const auto idx = quint16(m_palette.size());
    m_palette.push_back(color);
    m_paletteIndex.insert(color, idx);
    return idx;
}

template <typename T>
void TerminalStore::trimToSize(std::vector<T> &v)
{
    // A little slack is cheaper than copying the table once more.
    if (v.capacity() > v.size() + v.size() / 8 + 16)
        v.shrink_to_fit();
}

TerminalStore::Block &TerminalStore::newBlock()
{
    qint64 firstLine = 0;
    size_t expectRuns = 0;
    size_t expectLines = 0;
    if (!m_blocks.empty()) {
        Block &prev = m_blocks.back();
        firstLine = prev.firstLine + prev.lineCount;
        expectRuns = prev.data->runs.size();
        expectLines = prev.data->lines.size();
        trimToSize(prev.data->runs);
        trimToSize(prev.data->lines);
        prev.runCount = quint32(prev.data->runs.size());
        m_residentFull += blockMemory(prev); // the newest block is always resident
    }
    Block b;
    b.firstLine = firstLine;
    b.data = std::make_unique<Data>();
    b.data->text.reset(new char[BlockSize]);
    // Output keeps its shape from block to block: room for about as many runs and line
    // starts as the last block had saves growing the tables step by step.
    b.data->runs.reserve(expectRuns + expectRuns / 16 + 16);
    b.data->lines.reserve(expectLines + expectLines / 16 + 16);
    m_blocks.push_back(std::move(b));
    spillOldBlocks();
    return m_blocks.back();
}

void TerminalStore::pushLineStart(qint64 pos)
{
    const qint64 blk = pos / BlockSize;
    if (blk == qint64(m_blocks.size()))
        newBlock();
    Block &b = m_blocks.back();
    b.data->lines.push_back(quint16(pos - blk * BlockSize));
    ++b.lineCount;
    ++m_lineCount;
    m_maxLine = std::max(m_maxLine, pos - m_lastLineStart);
    m_lastLineStart = pos;
}

void TerminalStore::popLineStart()
{
    // Only ever the start just after a CR, which lies in the newest block.
    Block &b = m_blocks.back();
    b.data->lines.pop_back();
    --b.lineCount;
    --m_lineCount;
}

void TerminalStore::append(QByteArrayView bytes, ColorRef color)
{
    if (bytes.isEmpty())
        return;
    const quint16 ci = paletteIndex(color);
    const char *p = bytes.data();
    qint64 n = bytes.size();
    while (n > 0) {
        if (m_blocks.back().size == BlockSize)
            newBlock();
        Block &b = m_blocks.back();
        Data &d = *b.data;
        if (d.runs.empty() || d.runs.back().color != ci)
            d.runs.push_back({quint16(b.size), ci});
        const qint64 take = std::min<qint64>(n, BlockSize - b.size);
        std::memcpy(d.text.get() + b.size, p, size_t(take));
        b.size += quint32(take);
        const qint64 pos = m_size;
        m_size += take;
        // The line index may add a block here, so b and d are not used below.
        for (const char *e = nextLineEnd(p, p + take); e != p + take; e = nextLineEnd(e + 1, p + take)) {
            if (*e == LF && (e == p ? m_lastChar : e[-1]) == CR)
                popLineStart();
            pushLineStart(pos + (e - p) + 1);
        }
        m_lastChar = p[take - 1];
        p += take;
        n -= take;
    }
    m_maxLine = std::max(m_maxLine, m_size - m_lastLineStart);
    if (m_batchDepth > 0)
        m_batchAppended = true;
    else
        emit appended();
}

void TerminalStore::truncate(qint64 newSize)
{
    newSize = std::clamp<qint64>(newSize, 0, m_size);
    if (newSize == m_size)
        return;
    // A line start lies in the block of its position, so the block holding newSize stays,
    // even when newSize is its first byte.
    const size_t last = size_t(newSize / BlockSize);
    if (last < size_t(m_firstResident)) {
        // Take the block back into memory; the spill file's tail from it on is free again.
        dataOf(qint64(last));
        m_spillEnd = m_blocks[last].fileOffset;
        m_blocks[last].fileOffset = -1;
        m_firstResident = qint64(last);
    }
    m_loaded.erase(std::remove_if(m_loaded.begin(), m_loaded.end(), [last](qint64 k) { return k >= qint64(last); }),
                   m_loaded.end());
    const bool blocksGo = last + 1 < m_blocks.size();
    m_blocks.resize(last + 1);
    Block &b = m_blocks.back();
    Data &d = *b.data;
    const auto keep = quint32(newSize - qint64(last) * BlockSize);
    b.size = keep;
    while (!d.runs.empty() && d.runs.back().offset >= keep)
        d.runs.pop_back();
    while (!d.lines.empty() && d.lines.back() > keep)
        d.lines.pop_back();
    m_size = newSize;
    m_lastChar = newSize > 0 ? at(newSize - 1) : 0;
    // The start after a CR was taken back when an LF joined it; without the LF it is there again.
    if (m_lastChar == CR && (d.lines.empty() || d.lines.back() != keep))
        d.lines.push_back(quint16(keep));
    b.lineCount = quint32(d.lines.size());
    m_lineCount = b.firstLine + b.lineCount;
    m_lastLineStart = m_lineCount == b.firstLine ? line(m_lineCount - 1).begin
                                                 : qint64(last) * BlockSize + d.lines.back();
    if (blocksGo) { // the newest block is another one now
        m_residentFull = 0;
        for (qint64 i = m_firstResident; i < qint64(last); ++i)
            m_residentFull += blockMemory(m_blocks[size_t(i)]);
    }
    if (m_batchDepth > 0)
        m_batchAppended = true;
    else
        emit appended();
}

void TerminalStore::endBatch()
{
    if (--m_batchDepth == 0 && m_batchAppended) {
        m_batchAppended = false;
        emit appended();
    }
}

void TerminalStore::clear()
{
    m_blocks.clear();
    m_palette.clear();
    m_paletteIndex.clear();
    m_loaded.clear();
    m_size = 0;
    m_lineCount = 0;
    m_lastLineStart = 0;
    m_maxLine = 0;
    m_lastChar = 0;
    m_firstResident = 0;
    m_residentFull = 0;
    m_spillEnd = 0;
    // The old text is no longer referred to; a failed shrink only wastes disk space.
    if (m_spillFd >= 0 && ::ftruncate(m_spillFd, 0) != 0)
        m_spillError = systemError(errno);
    pushLineStart(0);
    emit cleared();
}

qint64 TerminalStore::blockMemory(const Block &b)
{
    return BlockSize + qint64(b.data->runs.capacity() * sizeof(RunEntry) + b.data->lines.capacity() * sizeof(quint16));
}

void TerminalStore::spillOldBlocks()
{
    // The newest block is never spilled: it is still being written. It is counted as one
    // block of text; its runs and line starts are bounded by the block's size.
    while (m_firstResident < qint64(m_blocks.size()) - 1 && m_residentFull + BlockSize > m_windowBytes) {
        Block &b = m_blocks[size_t(m_firstResident)];
        const qint64 bytes = blockMemory(b);
        if (!spillBlock(b))
            return;
        m_residentFull -= bytes;
        ++m_firstResident;
    }
}

bool TerminalStore::openSpill()
{
    const QString folder = m_spillFolder.isEmpty() ? defaultSpillFolder() : m_spillFolder;
    // A folder made here is the user's alone; one that exists is left as it is.
    const QByteArray dir = QFile::encodeName(folder);
    if (!QDir(folder).exists()
        && (!QDir().mkpath(QFileInfo(folder).absolutePath())
            || (::mkdir(dir.constData(), S_IRWXU) != 0 && errno != EEXIST))) {
        reportError(QStringLiteral("ERROR: Cannot create the folder %1 for the terminal's older text; it stays in memory.")
                        .arg(QDir::toNativeSeparators(folder)));
        return false;
    }
    static bool staleRemoved = false;
    if (!staleRemoved) {
        staleRemoved = true;
        removeStaleSpillFiles(folder);
    }
    const int fd = openUnnamedFile(folder);
    if (fd < 0) {
        reportError(QStringLiteral("ERROR: Cannot create a file in %1 for the terminal's older text (%2); it stays in memory.")
                        .arg(QDir::toNativeSeparators(folder), systemError(errno)));
        return false;
    }
    m_spillFd = fd;
    m_spillFileName = QStringLiteral("/proc/self/fd/%1").arg(fd);
    m_spillPlace = QStringLiteral("a file in %1").arg(QDir::toNativeSeparators(folder));
    m_spillEnd = 0;
    return true;
}

bool TerminalStore::spillWrite(qint64 at, const char *data, qint64 n)
{
    if (m_spillFd < 0) {
        if (m_spill->seek(at) && m_spill->write(data, n) == n)
            return true;
        m_spillError = m_spill->errorString();
        return false;
    }
    while (n > 0) {
        const ssize_t done = ::pwrite(m_spillFd, data, size_t(n), off_t(at));
        if (done < 0 && errno == EINTR)
            continue;
        // A short write is the first sign of a full disk; the next one fails with the reason.
        if (done <= 0) {
            m_spillError = systemError(done < 0 ? errno : ENOSPC);
            return false;
        }
        data += done;
        at += done;
        n -= done;
    }
    return true;
}

bool TerminalStore::spillRead(qint64 at, char *data, qint64 n) const
{
    if (m_spillFd < 0) {
        if (!m_spill) {
            m_spillError = QStringLiteral("no spill file");
            return false;
        }
        if (m_spill->seek(at) && m_spill->read(data, n) == n)
            return true;
        m_spillError = m_spill->errorString();
        return false;
    }
    while (n > 0) {
        const ssize_t done = ::pread(m_spillFd, data, size_t(n), off_t(at));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            m_spillError = done < 0 ? systemError(errno) : QStringLiteral("the file ends early");
            return false;
        }
        data += done;
        at += done;
        n -= done;
    }
    return true;
}

bool TerminalStore::spillBlock(Block &b)
{
    if (m_spillFd < 0 && !m_spill && !openSpill())
        return false;
    const Data &d = *b.data;
    const qint64 textBytes = b.size;
    const qint64 runBytes = qint64(d.runs.size() * sizeof(RunEntry));
    const qint64 lineBytes = qint64(d.lines.size() * sizeof(quint16));
    const bool ok = spillWrite(m_spillEnd, d.text.get(), textBytes)
        && spillWrite(m_spillEnd + textBytes, reinterpret_cast<const char *>(d.runs.data()), runBytes)
        && spillWrite(m_spillEnd + textBytes + runBytes, reinterpret_cast<const char *>(d.lines.data()), lineBytes);
    if (!ok) {
        reportError(QStringLiteral("ERROR: Cannot write the terminal's older text to %1 (%2); it stays in memory.")
                        .arg(m_spillPlace.isEmpty() ? QStringLiteral("the spill file") : m_spillPlace, m_spillError));
        return false;
    }
    m_errorReported = false;
    b.runCount = quint32(d.runs.size());
    b.fileOffset = m_spillEnd;
    m_spillEnd += textBytes + runBytes + lineBytes;
    b.data.reset();
    return true;
}

const TerminalStore::Data &TerminalStore::dataOf(qint64 block) const
{
    const Block &b = m_blocks[size_t(block)];
    if (b.data)
        return *b.data;
    auto d = std::make_unique<Data>();
    d->text.reset(new char[BlockSize]);
    d->runs.resize(b.runCount);
    d->lines.resize(b.lineCount);
    const qint64 runBytes = qint64(d->runs.size() * sizeof(RunEntry));
    const qint64 lineBytes = qint64(d->lines.size() * sizeof(quint16));
    const qint64 at = b.fileOffset;
    const bool ok = spillRead(at, d->text.get(), b.size)
        && spillRead(at + b.size, reinterpret_cast<char *>(d->runs.data()), runBytes)
        && spillRead(at + b.size + runBytes, reinterpret_cast<char *>(d->lines.data()), lineBytes);
    if (!ok) {
        // Show blanks in the right shape rather than bytes that are not the user's.
        reportError(QStringLiteral("ERROR: Cannot read the terminal's older text back (%1).").arg(m_spillError));
        std::memset(d->text.get(), ' ', size_t(b.size));
        std::fill(d->runs.begin(), d->runs.end(), RunEntry{0, 0});
        std::fill(d->lines.begin(), d->lines.end(), quint16(0));
    }
    b.data = std::move(d);
    m_loaded.push_back(block);
    while (m_loaded.size() > size_t(LoadedBlockCache)) {
        const qint64 old = m_loaded.front();
        m_loaded.pop_front();
        if (old != block && old < m_firstResident)
            m_blocks[size_t(old)].data.reset();
    }
    return *b.data;
}

int TerminalStore::runIndexAt(const Data &d, quint32 size, quint32 offset) const
{
    Q_UNUSED(size);
    auto it = std::upper_bound(d.runs.begin(), d.runs.end(), offset,
                               [](quint32 off, const RunEntry &r) { return off < r.offset; });
    return int(it - d.runs.begin()) - 1;
}

void TerminalStore::reportError(const QString &text) const
{
    if (m_errorReported)
        return;
    m_errorReported = true;
    if (m_status)
        m_status->appendStatus(text, true);
}

TerminalStore::LineRange TerminalStore::line(qint64 n) const
{
    n = std::clamp<qint64>(n, 0, m_lineCount - 1);
    auto startOf = [this](qint64 k) {
        auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), k,
                                   [](qint64 v, const Block &b) { return v < b.firstLine; });
        const qint64 blk = qint64(it - m_blocks.begin()) - 1;
        const Data &d = dataOf(blk);
        return blk * BlockSize + d.lines[size_t(k - m_blocks[size_t(blk)].firstLine)];
    };
    LineRange r;
    r.begin = startOf(n);
    if (n + 1 >= m_lineCount) {
        r.end = m_size;
    } else {
        const qint64 next = startOf(n + 1);
        qint64 term = 1;
        if (at(next - 1) == LF && next - 2 >= r.begin && at(next - 2) == CR)
            term = 2;
        r.end = std::max(r.begin, next - term);
    }
    return r;
}

qint64 TerminalStore::lineAt(qint64 pos) const
{
    pos = std::clamp<qint64>(pos, 0, m_size);
    const qint64 blk = std::min<qint64>(pos / BlockSize, qint64(m_blocks.size()) - 1);
    const Block &b = m_blocks[size_t(blk)];
    const Data &d = dataOf(blk);
    const auto off = quint16(std::min<qint64>(pos - blk * BlockSize, BlockSize - 1));
    const qint64 k = std::upper_bound(d.lines.begin(), d.lines.end(), off) - d.lines.begin();
    if (pos - blk * BlockSize >= BlockSize) // the end of a full last block
        return m_lineCount - 1;
    return b.firstLine + k - 1;
}

char TerminalStore::at(qint64 pos) const
{
    if (pos < 0 || pos >= m_size)
        return 0;
    const qint64 blk = pos / BlockSize;
    return dataOf(blk).text[size_t(pos - blk * BlockSize)];
}

ColorRef TerminalStore::colorAt(qint64 pos) const
{
    if (pos < 0 || pos >= m_size)
        return 0;
    const qint64 blk = pos / BlockSize;
    const Data &d = dataOf(blk);
    const int ri = runIndexAt(d, m_blocks[size_t(blk)].size, quint32(pos - blk * BlockSize));
    return ri < 0 ? 0 : m_palette[d.runs[size_t(ri)].color];
}

bool TerminalStore::forEachPiece(qint64 begin, qint64 end,
                                 const std::function<bool(QByteArrayView, ColorRef)> &fn) const
{
    begin = std::clamp<qint64>(begin, 0, m_size);
    end = std::clamp<qint64>(end, begin, m_size);
    qint64 pos = begin;
    while (pos < end) {
        const qint64 blk = pos / BlockSize;
        const qint64 base = blk * BlockSize;
        const Block &b = m_blocks[size_t(blk)];
        const Data &d = dataOf(blk);
        const qint64 blockEnd = std::min<qint64>(end, base + b.size);
        int ri = runIndexAt(d, b.size, quint32(pos - base));
        while (pos < blockEnd) {
            const qint64 runEnd = size_t(ri + 1) < d.runs.size() ? base + d.runs[size_t(ri) + 1].offset
                                                                 : base + b.size;
            const qint64 pieceEnd = std::min(runEnd, blockEnd);
            const ColorRef color = ri < 0 ? 0 : m_palette[d.runs[size_t(ri)].color];
            if (!fn(QByteArrayView(d.text.get() + (pos - base), pieceEnd - pos), color))
                return false;
            pos = pieceEnd;
            ++ri;
        }
    }
    return true;
}

QByteArray TerminalStore::text(qint64 begin, qint64 end) const
{
    begin = std::clamp<qint64>(begin, 0, m_size);
    end = std::clamp<qint64>(end, begin, m_size);
    QByteArray out;
    out.reserve(end - begin);
    qint64 pos = begin;
    while (pos < end) {
        const qint64 blk = pos / BlockSize;
        const qint64 base = blk * BlockSize;
        const qint64 stop = std::min(end, base + BlockSize);
        out.append(dataOf(blk).text.get() + (pos - base), stop - pos);
        pos = stop;
    }
    return out;
}

std::vector<TerminalStore::Run> TerminalStore::runs(qint64 begin, qint64 end) const
{
    std::vector<Run> out;
    forEachPiece(begin, end, [&](QByteArrayView piece, ColorRef color) {
        const qint64 from = out.empty() ? begin : out.back().end;
        if (!out.empty() && out.back().color == color)
            out.back().end += piece.size();
        else
            out.push_back({from, from + piece.size(), color});
        return true;
    });
    return out;
}

qint64 TerminalStore::memoryUsage() const
{
    qint64 total = qint64(m_blocks.capacity() * sizeof(Block))
        + qint64(m_palette.capacity() * sizeof(ColorRef)) + qint64(m_paletteIndex.size()) * 16;
    for (const Block &b : m_blocks) {
        if (!b.data)
            continue;
        total += BlockSize + qint64(sizeof(Data)) + qint64(b.data->runs.capacity() * sizeof(RunEntry))
            + qint64(b.data->lines.capacity() * sizeof(quint16));
    }
    return total;
}

qint64 TerminalStore::spilledBlocks() const
{
    return m_firstResident;
}

QString TerminalStore::defaultSpillFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Corvade");
}

void TerminalStore::removeStaleSpillFiles(const QString &folder)
{
    const QDir dir(folder);
    const QStringList names = dir.entryList({spillPrefix() + QStringLiteral("*.spill")}, QDir::Files);
    for (const QString &name : names) {
        const QString rest = name.mid(spillPrefix().size());
        bool ok = false;
        const qint64 pid = rest.section(QLatin1Char('-'), 0, 0).toLongLong(&ok);
        if (!ok || pid <= 0)
            continue;
        if (pid == qint64(::getpid()) || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        QFile::remove(dir.filePath(name));
    }
}
