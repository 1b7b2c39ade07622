#include "terminal/TerminalSave.h"

#include "terminal/RtfWriter.h"
#include "terminal/TerminalStore.h"

#include <QDir>
#include <QSaveFile>

namespace {
constexpr qsizetype OutChunk = 64 * 1024;
} // namespace

bool isRtfFileName(const QString &fileName)
{
    return fileName.contains(QLatin1String(".rtf"), Qt::CaseSensitive);
}

WriteResult writeTerminalText(const TerminalStore &store, QIODevice &out)
{
    // The terminal ends a line at CR, LF or CR LF; a Linux text file ends it at LF alone,
    // or cat, less and editors print the lines over each other.
    QByteArray buffer;
    buffer.reserve(OutChunk + 1);
    bool afterCr = false;
    bool ok = store.forEachPiece(0, store.size(), [&](QByteArrayView piece, ColorRef) {
        const char *p = piece.data();
        const char *const end = p + piece.size();
        while (p < end) {
            // Text up to the next line end goes over as it is.
            const char *stop = p;
            while (stop < end && *stop != '\r' && *stop != '\n')
                ++stop;
            if (stop > p) {
                buffer.append(p, stop - p);
                afterCr = false;
            }
            if (stop < end) {
                if (*stop == '\r' || !afterCr)
                    buffer += '\n';
                afterCr = *stop == '\r';
                ++stop;
            }
            p = stop;
            if (buffer.size() >= OutChunk) {
                if (out.write(buffer) != buffer.size())
                    return false;
                buffer.clear();
            }
        }
        return true;
    });
    ok = ok && out.write(buffer) == buffer.size();
    if (!ok)
        return WriteResult::failure(out.errorString());
    return {};
}

WriteResult saveTerminalFile(const TerminalStore &store, const QString &fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return WriteResult::failure(QStringLiteral("Cannot create %1: %2")
                                        .arg(QDir::toNativeSeparators(fileName), file.errorString()));
    const WriteResult written = isRtfFileName(fileName) ? writeTerminalRtf(store, file)
                                                        : writeTerminalText(store, file);
    if (!written.ok) {
        file.cancelWriting();
        return WriteResult::failure(QStringLiteral("Cannot write %1: %2")
                                        .arg(QDir::toNativeSeparators(fileName), written.error));
    }
    if (!file.commit())
        return WriteResult::failure(QStringLiteral("Cannot write %1: %2")
                                        .arg(QDir::toNativeSeparators(fileName), file.errorString()));
    return {};
}
