#include "shell/DesktopShell.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

int32_t DesktopShell::run(const QString &commandLine)
{
    return runOp(commandLine, m_waitForClose, m_show);
}

int32_t DesktopShell::runOp(const QString &commandLine, bool wait, int16_t showMode)
{
    Q_UNUSED(showMode);
    QStringList args = QProcess::splitCommand(commandLine);
    if (args.isEmpty())
        return 0;
    const QString program = args.takeFirst();
    return runProgram(program, args, wait);
}

int32_t DesktopShell::runProgram(const QString &program, const QStringList &arguments, bool wait)
{
    if (program.isEmpty())
        return 0;
    if (!wait) {
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

int32_t DesktopShell::runUrl(const QString &target)
{
    // A plain path opens the file; anything with a scheme is taken as an address.
    const QUrl url = QFileInfo(target).isAbsolute() && !target.contains(QLatin1String("://"))
                         ? QUrl::fromLocalFile(target)
                         : QUrl(target, QUrl::TolerantMode);
    if (!url.isValid())
        return OpenFailed;
    return QDesktopServices::openUrl(url) ? OpenSucceeded : OpenFailed;
}

QString DesktopShell::mailtoText(const QString &address, const QString &subject)
{
    return QStringLiteral("mailto:") + address + QStringLiteral("?subject=") + subject;
}

int32_t DesktopShell::mailto(const QString &address, const QString &subject)
{
    const QUrl url(mailtoText(address, subject), QUrl::TolerantMode);
    if (!url.isValid())
        return OpenFailed;
    return QDesktopServices::openUrl(url) ? OpenSucceeded : OpenFailed;
}
