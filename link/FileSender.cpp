#include "link/FileSender.h"

#include "core/StatusSink.h"
#include "link/RequestTimer.h"
#include "link/RunLink.h"
#include "link/TerminalSession.h"
#include "settings/Settings.h"

#include <QDir>
#include <cmath>

namespace {
constexpr std::chrono::milliseconds kTick{20};
// The share of the line's rate that is used.
constexpr double kRateShare = 0.95;

QString shown(const QString &path) { return QDir::toNativeSeparators(path); }
} // namespace

FileSender::FileSender(RunLink &run, StatusSink &status, const Settings &settings, RequestTimer &tickTimer,
                       QObject *parent)
    : QObject(parent), m_run(run), m_status(status), m_settings(settings), m_timer(tickTimer)
{
    m_timer.setEnabled(false);
    m_timer.setTimeoutCallback([this] { sendChunk(); });
}

FileSender::~FileSender()
{
    m_timer.setEnabled(false);
    m_timer.setTimeoutCallback({});
}

FileSender::Pace FileSender::paceFor(qint32 baud)
{
    const double bytesPerSecond = std::max(baud, 1) / 10.0 * kRateShare;
    const auto chunk = qint64(bytesPerSecond * std::chrono::duration<double>(kTick).count());
    if (chunk >= 1)
        return {chunk, kTick};
    // A slow line: one byte a tick, the tick as long as the byte takes.
    return {1, std::chrono::milliseconds(qint64(std::ceil(1000.0 / bytesPerSecond)))};
}

bool FileSender::start(const QString &path)
{
    const auto refuse = [this, &path](const QString &reason) {
        m_status.appendStatus(QStringLiteral("ERROR: Cannot send %1: %2").arg(shown(path), reason), true);
        return false;
    };
    if (isRunning())
        return refuse(QStringLiteral("%1 is still being sent").arg(shown(m_path)));
    const std::shared_ptr<TerminalSession> terminal = m_run.currentTerminal();
    if (!terminal)
        return refuse(QStringLiteral("no program is running; start one with Run (F6) first"));
    const std::optional<qint32> baud = TerminalSession::terminalBaud(m_settings.terminalSpeed());
    if (!baud)
        return refuse(QStringLiteral("the terminal speed \"%1\" is not a baud rate").arg(m_settings.terminalSpeed()));
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        return refuse(m_file.errorString());

    const Pace pace = paceFor(*baud);
    m_chunk = pace.chunk;
    m_timer.setInterval(pace.interval);
    m_terminal = terminal;
    m_path = path;
    m_sent = 0;
    m_total = m_file.size();
    m_status.appendStatus(QStringLiteral("Sending %1 (%2 bytes)").arg(shown(path)).arg(m_total), true);
    emit progressChanged(0, m_total);
    sendChunk();
    return true;
}

void FileSender::cancel()
{
    if (!isRunning())
        return;
    finish(false, QStringLiteral("Sending %1 cancelled after %2 of %3 bytes").arg(shown(m_path)).arg(m_sent).arg(m_total));
}

void FileSender::sendChunk()
{
    if (!isRunning())
        return;
    const std::shared_ptr<TerminalSession> terminal = m_terminal.lock();
    if (!terminal || terminal != m_run.currentTerminal()) {
        finish(false, QStringLiteral("ERROR: Sending %1 stopped: the program's terminal has ended").arg(shown(m_path)));
        return;
    }
    const QByteArray chunk = m_file.read(m_chunk);
    if (chunk.isEmpty()) {
        if (m_file.error() != QFileDevice::NoError)
            finish(false, QStringLiteral("ERROR: Sending %1 stopped: %2").arg(shown(m_path), m_file.errorString()));
        else
            finish(true, QStringLiteral("Sent %1: %2 bytes").arg(shown(m_path)).arg(m_sent));
        return;
    }
    const LinkResult result = terminal->sendBytes(chunk);
    if (!result.ok()) {
        finish(false, QStringLiteral("ERROR: Sending %1 stopped: %2").arg(shown(m_path), result.reason));
        return;
    }
    m_sent += chunk.size();
    emit progressChanged(m_sent, std::max(m_total, m_sent));
    if (m_file.atEnd() && m_sent >= m_total)
        finish(true, QStringLiteral("Sent %1: %2 bytes").arg(shown(m_path)).arg(m_sent));
    else
        m_timer.setEnabled(true);
}

void FileSender::finish(bool complete, const QString &line)
{
    m_timer.setEnabled(false);
    m_file.close();
    m_terminal.reset();
    m_status.appendStatus(line, true);
    emit finished(complete);
}
