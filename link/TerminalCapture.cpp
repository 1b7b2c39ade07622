#include "link/TerminalCapture.h"

#include "core/StatusSink.h"
#include "link/RequestTimer.h"

#include <QDir>

namespace {
// Gathered bytes beyond this are written at once rather than at the next tick.
constexpr qsizetype kWriteAt = 256 * 1024;
} // namespace

TerminalCapture::TerminalCapture(StatusSink &status, RequestTimer &flushTimer, QObject *parent)
    : QObject(parent), m_status(status), m_flushTimer(flushTimer)
{
    m_flushTimer.setEnabled(false);
    m_flushTimer.setTimeoutCallback([this] { flush(); });
}

TerminalCapture::~TerminalCapture()
{
    stop();
    m_flushTimer.setTimeoutCallback({});
}

bool TerminalCapture::start(const QString &path)
{
    stop();
    m_file.setFileName(path);
    // Unbuffered: a full disk shows in the write that hit it, with the system's reason.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_status.appendStatus(QStringLiteral("ERROR: Cannot capture to %1: %2")
                                  .arg(QDir::toNativeSeparators(path), m_file.errorString()),
                              true);
        return false;
    }
    m_path = path;
    m_written = 0;
    m_pending.clear();
    m_status.appendStatus(QStringLiteral("Capturing to %1").arg(QDir::toNativeSeparators(path)), true);
    emit runningChanged(true);
    return true;
}

void TerminalCapture::stop()
{
    if (!isRunning())
        return;
    if (!flush())
        return; // the failed write has stopped the capture and said why
    close();
    m_status.appendStatus(QStringLiteral("Capture to %1 ended: %2")
                              .arg(QDir::toNativeSeparators(m_path), sizeText(m_written)),
                          true);
    emit runningChanged(false);
}

void TerminalCapture::append(const QByteArray &bytes)
{
    if (!isRunning() || bytes.isEmpty())
        return;
    m_pending += bytes;
    if (m_pending.size() >= kWriteAt)
        flush();
    else
        m_flushTimer.setEnabled(true); // already running: the first waiting byte sets the time
}

bool TerminalCapture::flush()
{
    m_flushTimer.setEnabled(false);
    if (!isRunning() || m_pending.isEmpty())
        return isRunning();
    const qint64 done = m_file.write(m_pending);
    if (done != m_pending.size()) {
        const QString reason = m_file.errorString();
        close();
        m_status.appendStatus(QStringLiteral("ERROR: Capture to %1 stopped: %2")
                                  .arg(QDir::toNativeSeparators(m_path), reason),
                              true);
        emit runningChanged(false);
        return false;
    }
    m_written += done;
    m_pending.clear();
    emit written(m_written);
    return true;
}

void TerminalCapture::close()
{
    m_flushTimer.setEnabled(false);
    m_pending.clear();
    m_file.close();
}

QString TerminalCapture::sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    const char *const units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1024;
    int unit = 0;
    for (; value >= 1024 && unit < 3; ++unit)
        value /= 1024;
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}
