#include "terminal/TerminalSave.h"

#include "terminal/RtfWriter.h"
#include "terminal/TerminalStore.h"

#include <QDir>
#include <QSaveFile>

#include <fcntl.h>

namespace {
// Written text is handed to the disk in chunks of this size while the save goes on.
constexpr qint64 WritebackChunk = 8 * 1024 * 1024;

class TextEncoder : public TerminalEncoder {
public:
    void begin(QByteArray &) override {}
    void end(QByteArray &) override {}

    // The terminal ends a line at CR, LF or CR LF; a Linux text file ends it at LF alone,
    // or cat, less and editors print the lines over each other.
    void piece(QByteArrayView piece, ColorRef, QByteArray &out) override
    {
        const char *p = piece.data();
        const char *const end = p + piece.size();
        while (p < end) {
            // Text up to the next line end goes over as it is.
            const char *stop = p;
            while (stop < end && *stop != '\r' && *stop != '\n')
                ++stop;
            if (stop > p) {
                out.append(p, stop - p);
                m_afterCr = false;
            }
            if (stop < end) {
                if (*stop == '\r' || !m_afterCr)
                    out += '\n';
                m_afterCr = *stop == '\r';
                ++stop;
            }
            p = stop;
        }
    }

private:
    bool m_afterCr = false;
};

QString shownName(const QString &fileName) { return QDir::toNativeSeparators(fileName); }
} // namespace

bool isRtfFileName(const QString &fileName)
{
    return fileName.contains(QLatin1String(".rtf"), Qt::CaseSensitive);
}

std::unique_ptr<TerminalEncoder> makeTextEncoder()
{
    return std::make_unique<TextEncoder>();
}

TerminalWriteJob::TerminalWriteJob(const TerminalStore &store, QIODevice &out,
                                   std::unique_ptr<TerminalEncoder> encoder)
    : m_store(store), m_out(out), m_encoder(std::move(encoder)), m_end(store.size())
{
    m_clearedWatch = QObject::connect(&store, &TerminalStore::cleared, [this] { m_cleared = true; });
    m_buffer.reserve(2 * TerminalStore::BlockSize);
}

TerminalWriteJob::~TerminalWriteJob()
{
    QObject::disconnect(m_clearedWatch);
}

bool TerminalWriteJob::step()
{
    if (m_finished)
        return false;
    if (m_cleared) {
        m_finished = true;
        m_result = WriteResult::failure(QStringLiteral("the terminal was cleared while it was being written"));
        return false;
    }
    if (!m_begun) {
        m_encoder->begin(m_buffer);
        m_begun = true;
    }
    // To the end of the block: a step reads one block, from memory or the spill file.
    const qint64 stop = std::min(m_end, (m_pos / TerminalStore::BlockSize + 1) * TerminalStore::BlockSize);
    m_store.forEachPiece(m_pos, stop, [this](QByteArrayView piece, ColorRef color) {
        m_encoder->piece(piece, color, m_buffer);
        return true;
    });
    m_pos = stop;
    if (m_pos == m_end) {
        m_encoder->end(m_buffer);
        m_finished = true;
    }
    if (m_out.write(m_buffer) != m_buffer.size()) {
        m_finished = true;
        m_result = WriteResult::failure(m_out.errorString());
    }
    m_buffer.clear();
    return !m_finished;
}

WriteResult writeTerminalText(const TerminalStore &store, QIODevice &out)
{
    TerminalWriteJob job(store, out, makeTextEncoder());
    runJobToEnd(job, QString());
    return job.result();
}

TerminalSaveJob::TerminalSaveJob(const TerminalStore &store, const QString &fileName)
    : m_fileName(fileName), m_file(fileName)
{
    if (!m_file.open(QIODevice::WriteOnly)) {
        m_result = WriteResult::failure(
            QStringLiteral("Cannot create %1: %2").arg(shownName(fileName), m_file.errorString()));
        return;
    }
    m_write = std::make_unique<TerminalWriteJob>(store, m_file,
                                                 isRtfFileName(fileName) ? makeRtfEncoder(store) : makeTextEncoder());
    m_running = true;
}

bool TerminalSaveJob::step()
{
    if (!m_running)
        return false;
    if (m_write->step()) {
        handOverToDisk();
        return true;
    }
    m_running = false;
    if (!m_write->result().ok) {
        m_file.cancelWriting();
        m_result = WriteResult::failure(
            QStringLiteral("Cannot write %1: %2").arg(shownName(m_fileName), m_write->result().error));
    } else if (!m_file.commit()) {
        m_result = WriteResult::failure(
            QStringLiteral("Cannot write %1: %2").arg(shownName(m_fileName), m_file.errorString()));
    }
    return false;
}

void TerminalSaveJob::handOverToDisk()
{
    // The commit waits until the disk holds the whole file. Handing the text over as it is
    // written, and waiting each time for the chunk before the last, keeps that final wait
    // short: a step never waits for more than a chunk or two. Failures here are the
    // commit's to find, so they are ignored.
    if (m_file.pos() - m_handedOver < WritebackChunk || !m_file.flush())
        return;
    const int fd = m_file.handle();
    const qint64 at = m_file.pos();
    ::sync_file_range(fd, m_handedOver, at - m_handedOver, SYNC_FILE_RANGE_WRITE);
    if (m_waitedFor < m_handedOver)
        ::sync_file_range(fd, m_waitedFor, m_handedOver - m_waitedFor,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    m_waitedFor = m_handedOver;
    m_handedOver = at;
}

WriteResult saveTerminalFile(const TerminalStore &store, const QString &fileName)
{
    TerminalSaveJob job(store, fileName);
    runJobToEnd(job, QString());
    return job.result();
}
