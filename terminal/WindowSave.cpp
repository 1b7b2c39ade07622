#include "terminal/WindowSave.h"

#include "core/Prompter.h"
#include "core/StatusSink.h"
#include "terminal/TerminalSave.h"
#include "terminal/TerminalStore.h"

#include <QDir>
#include <QSaveFile>

namespace {
// Converted piece by piece, so a long log is never copied whole a second time.
constexpr qsizetype StatusChunk = 64 * 1024;

bool writeAll(QIODevice &out, const QByteArray &bytes)
{
    return out.write(bytes) == bytes.size();
}

void reportFailure(const WriteResult &result, const QString &statusText, StatusSink &status)
{
    endPartialStatusLine(statusText, status);
    status.appendStatus(QStringLiteral("ERROR: ") + result.error, true);
}
} // namespace

WriteResult writeStatusText(const QString &text, QIODevice &out)
{
    bool ok = writeAll(out, QByteArrayLiteral("\""));
    for (qsizetype at = 0; ok && at < text.size(); at += StatusChunk)
        ok = writeAll(out, QStringView(text).mid(at, StatusChunk).toLatin1());
    ok = ok && writeAll(out, QByteArrayLiteral("\"\r\n"));
    if (!ok)
        return WriteResult::failure(out.errorString());
    return {};
}

WriteResult saveStatusFile(const QString &text, const QString &fileName)
{
    const QString shown = QDir::toNativeSeparators(fileName);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return WriteResult::failure(QStringLiteral("Cannot create %1: %2").arg(shown, file.errorString()));
    const WriteResult written = writeStatusText(text, file);
    if (!written.ok) {
        file.cancelWriting();
        return WriteResult::failure(QStringLiteral("Cannot write %1: %2").arg(shown, written.error));
    }
    if (!file.commit())
        return WriteResult::failure(QStringLiteral("Cannot write %1: %2").arg(shown, file.errorString()));
    return {};
}

void endPartialStatusLine(const QString &statusText, StatusSink &status)
{
    if (!statusText.isEmpty() && !statusText.endsWith(QLatin1String("\r\n")))
        status.appendStatus(QString(), true);
}

void saveStatusWindow(const QString &statusText, QString &fileDialogName, Prompter &prompts,
                      StatusSink &status)
{
    const QString name = prompts.saveFileName(QStringLiteral("Save Status window"),
                                              QStringLiteral("Text file (*.txt)|*.txt|All files (*.*)|*.*"),
                                              fileDialogName);
    if (name.isEmpty())
        return;
    fileDialogName = name;
    const WriteResult result = saveStatusFile(statusText, name);
    if (!result.ok)
        reportFailure(result, statusText, status);
}

void saveTerminalWindow(const TerminalStore *terminal, const QString &statusText, QString &fileDialogName,
                        Prompter &prompts, StatusSink &status, const JobRunner &run)
{
    const QString name = prompts.saveFileName(
        QStringLiteral("Save Terminal window"),
        QStringLiteral("RTF file (*.rtf)|*.rtf|Text file (*.txt)|*.txt|All files (*.*)|*.*"), fileDialogName);
    if (name.isEmpty())
        return;
    fileDialogName = name;
    const TerminalStore fresh;
    TerminalSaveJob job(terminal ? *terminal : fresh, name);
    if (!run(job, QStringLiteral("Saving %1").arg(QDir::toNativeSeparators(name))))
        return;
    if (!job.result().ok)
        reportFailure(job.result(), statusText, status);
}
