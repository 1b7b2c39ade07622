#include "hexfile/HexLoad.h"

#include "core/Readiness.h"
#include "core/Prompter.h"
#include "core/StatusSink.h"
#include "hexfile/HexFile.h"

namespace HexLoad {

namespace {

// Why a file with Unix line ends fails: the kernel ends a record at CR, so the whole file
// reads as one long line.
QString lineEndText()
{
    return QStringLiteral("The lines end with LF alone; the kernel needs CR LF or CR line ends.");
}

void reportCorrupt(const HexFile &hexFile, const QString &boxText, const QString &line,
                   StatusSink &status, Prompter &prompter, Readiness &state)
{
    const QString where = QStringLiteral("Line %1.").arg(hexFile.errorLine());
    QString box = boxText + QStringLiteral("\n\n") + where;
    if (hexFile.errorLineHasLf())
        box += QLatin1Char('\n') + lineEndText();
    prompter.message(box, Prompter::Icon::Exclamation);
    // The empty line ends the unfinished "Reading Hex file..." progress line.
    status.appendStatus(QString(), true);
    status.appendStatus(line + QLatin1Char(' ') + where, true);
    if (hexFile.errorLineHasLf())
        status.appendStatus(QStringLiteral("ERROR: ") + lineEndText(), true);
    state.setFileNotReady();
}

void reportLoaded(const HexFile &hexFile, StatusSink &status, Readiness &state)
{
    status.appendStatus(QStringLiteral("Ok"), true);
    for (const QString &line : hexFile.summary().lines(hexFile.codeMemorySize()))
        status.appendStatus(line, true);
    state.setFileReady(hexFile.path());
}

} // namespace

void readHexFile(HexFile &hexFile, const QString &path, StatusSink &status,
                 Prompter &prompter, Readiness &state,
                 const std::function<void()> &runLoadCommand, Reread reread)
{
    // The records are on their way to the kernel; neither the list nor the path may change
    // under the transfer. The reload on activation, F2 and F3 are refused alike.
    if (hexFile.isDownloading() || hexFile.isReading()) {
        status.appendStatus(QString(), true);
        status.appendStatus(hexFile.isReading() ? readingText() : downloadingText(), true);
        return;
    }
    if (!path.isEmpty())
        hexFile.setPath(path);

    // The same file as last time, untouched: the log tells what a read would tell, without
    // holding a second copy of a large file while reading it again.
    if (reread == Reread::IfChanged && path.isEmpty() && hexFile.isUnchangedSinceRead()) {
        status.appendStatus(QStringLiteral("Reading Hex file"), false);
        status.appendStatus(QString(hexFile.recordCount(), QLatin1Char('.')), false);
        reportLoaded(hexFile, status, state);
        return;
    }

    const int result = hexFile.readHexFile(status);
    switch (result) {
    case HexFile::Ok:
        reportLoaded(hexFile, status, state);
        return;
    case HexFile::ChecksumError:
        reportCorrupt(hexFile, QStringLiteral("The hex file is corrupt, try reloading or re compile the hex file"),
                      QStringLiteral("ERROR: Hex file is corrupt. Checksum error."), status, prompter, state);
        return;
    case HexFile::NoColon:
        reportCorrupt(hexFile, QStringLiteral("This is not a valid Intel Hex file, or file is corrupt"),
                      QStringLiteral("ERROR: Hex file is corrupt. ':' missing at beginning of line."),
                      status, prompter, state);
        return;
    case HexFile::NoData:
        // Nothing to download: the Kernel menu stays off, as after any file that is not a program.
        status.appendStatus(QString(), true);
        status.appendStatus(QStringLiteral("ERROR: Hex file holds no data record. Nothing to download."), true);
        state.setFileNotReady();
        return;
    case HexFile::NoPath:
        status.appendStatus(QStringLiteral("WARNING: No hex file specified. No file loaded"), true);
        if (runLoadCommand)
            runLoadCommand();
        return;
    case HexFile::FileNotFound:
        // A missing file leaves the readiness as it was.
        status.appendStatus(QString(), true);
        status.appendStatus(QStringLiteral("ERROR: File not found."), true);
        return;
    default:
        status.appendStatus(QString(), true);
        status.appendStatus(QStringLiteral("ERROR: ") + QString::number(result) + QLatin1Char(' ')
                                + HexFile::errorText(result),
                            true);
        status.appendStatus(QStringLiteral("Warning: No hex file loaded"), true);
        state.setFileNotReady();
        return;
    }
}

QString readingText()
{
    return QStringLiteral("WARNING: The hex file is still being read. Try again when it has ended");
}

QString downloadingText()
{
    return QStringLiteral("WARNING: A download is running. The hex file was not read; try again when it has ended");
}

} // namespace HexLoad
