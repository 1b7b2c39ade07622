#include "hexfile/HexLoad.h"

#include "app/ClsGlobalState.h"
#include "app/Prompter.h"
#include "app/StatusSink.h"
#include "hexfile/ClsDownloadHexFile.h"

namespace HexLoad {

namespace {

void reportCorrupt(const QString &boxText, const QString &line, StatusSink &status,
                   Prompter &prompter, ClsGlobalState &state)
{
    prompter.message(boxText, Prompter::Icon::Exclamation);
    // The empty line ends the unfinished "Reading Hex file..." progress line.
    status.AppendStatus(QString(), true);
    status.AppendStatus(line, true);
    state.FileNotReadyMode();
}

} // namespace

void ReadHexFile(clsDownloadHexFile &hexFile, const QString &path, StatusSink &status,
                 Prompter &prompter, ClsGlobalState &state,
                 const std::function<void()> &runLoadCommand)
{
    // The records are on their way to the kernel; neither the list nor the path may change
    // under the transfer. The reload on activation, F2 and F3 are refused alike.
    if (hexFile.isDownloading()) {
        status.AppendStatus(QString(), true);
        status.AppendStatus(downloadingText(), true);
        return;
    }
    if (!path.isEmpty())
        hexFile.setPath(path);

    const int result = hexFile.ReadHexFile(status);
    switch (result) {
    case clsDownloadHexFile::Ok:
        status.AppendStatus(QStringLiteral("Ok"), true);
        state.FileReadyMode(hexFile.Path());
        return;
    case clsDownloadHexFile::ChecksumError:
        reportCorrupt(QStringLiteral("The hex file is corrupt, try reloading or re compile the hex file"),
                      QStringLiteral("ERROR: Hex file is corrupt. Checksum error."), status, prompter, state);
        return;
    case clsDownloadHexFile::NoColon:
        reportCorrupt(QStringLiteral("This is not a valid Intel Hex file, or file is corrupt"),
                      QStringLiteral("ERROR: Hex file is corrupt. ':' missing at beginning of line."),
                      status, prompter, state);
        return;
    case clsDownloadHexFile::NoPath:
        status.AppendStatus(QStringLiteral("WARNING: No hex file specified. No file loaded"), true);
        if (runLoadCommand)
            runLoadCommand();
        return;
    case clsDownloadHexFile::FileNotFound:
        // A missing file leaves the readiness as it was.
        status.AppendStatus(QString(), true);
        status.AppendStatus(QStringLiteral("ERROR: File not found."), true);
        return;
    default:
        status.AppendStatus(QString(), true);
        status.AppendStatus(QStringLiteral("ERROR: ") + QString::number(result) + QLatin1Char(' ')
                                + clsDownloadHexFile::ErrorText(result),
                            true);
        status.AppendStatus(QStringLiteral("Warning: No hex file loaded"), true);
        state.FileNotReadyMode();
        return;
    }
}

QString downloadingText()
{
    return QStringLiteral("WARNING: A download is running. The hex file was not read; try again when it has ended");
}

} // namespace HexLoad
