#include "shell/CExShell.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

int32_t CExShell::Run(const QString &CommandLine)
{
    return RunOp(CommandLine, m_waitForClose, m_show);
}

int32_t CExShell::RunOp(const QString &CommandLine, bool Wait, int16_t LShow)
{
    Q_UNUSED(LShow);
    QStringList args = QProcess::splitCommand(CommandLine);
    if (args.isEmpty())
        return 0;
    const QString program = args.takeFirst();
    return RunProgram(program, args, Wait);
}

int32_t CExShell::RunProgram(const QString &program, const QStringList &arguments, bool Wait)
{
    if (program.isEmpty())
        return 0;
    if (!Wait) {
        // Detached, so the program outlives this object and leaves no zombie behind.
        qint64 pid = 0;
        if (!QProcess::startDetached(program, arguments, QString(), &pid))
            return 0;
        m_processId = pid;
        return 1;
    }

    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    // Nothing is ever written to the program, so it must not wait on an open input pipe.
    process.setStandardInputFile(QProcess::nullDevice());
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    process.start(program, arguments);
    // Only the start itself is awaited here (fork and exec); the run is waited for below.
    if (!process.waitForStarted(-1))
        return 0;
    m_processId = process.processId();
    // The nested loop sleeps until the process ends, while the windows stay live.
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    m_exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return 1;
}

int32_t CExShell::RunURL(const QString &URL)
{
    // A plain path opens the file; anything with a scheme is taken as an address.
    const QUrl url = QFileInfo(URL).isAbsolute() && !URL.contains(QLatin1String("://"))
                         ? QUrl::fromLocalFile(URL)
                         : QUrl(URL, QUrl::TolerantMode);
    if (!url.isValid())
        return OpenFailed;
    return QDesktopServices::openUrl(url) ? OpenSucceeded : OpenFailed;
}

QString CExShell::MailtoText(const QString &Adress, const QString &Subject)
{
    return QStringLiteral("mailto:") + Adress + QStringLiteral("?subject=") + Subject;
}

int32_t CExShell::Mailto(const QString &Adress, const QString &Subject)
{
    const QUrl url(MailtoText(Adress, Subject), QUrl::TolerantMode);
    if (!url.isValid())
        return OpenFailed;
    return QDesktopServices::openUrl(url) ? OpenSucceeded : OpenFailed;
}
