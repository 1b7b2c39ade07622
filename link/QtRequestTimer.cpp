#include "link/QtRequestTimer.h"

QtRequestTimer::QtRequestTimer(std::chrono::milliseconds interval)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(interval);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { fire(); });
}

void QtRequestTimer::setEnabled(bool on)
{
    if (!on)
        m_timer.stop();
    else if (!m_timer.isActive())
        m_timer.start();
}
