#include "terminal/TerminalSave.h"

#include "terminal/RtfWriter.h"
#include "terminal/TerminalStore.h"

#include <QDir>
#include <QSaveFile>

bool isRtfFileName(const QString &fileName)
{
    return fileName.contains(QLatin1String(".rtf"), Qt::CaseSensitive);
}

WriteResult writeTerminalText(const TerminalStore &store, QIODevice &out)
{
    const bool ok = store.forEachPiece(0, store.size(), [&out](QByteArrayView piece, ColorRef) {
        return out.write(piece.data(), piece.size()) == piece.size();
    });
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
