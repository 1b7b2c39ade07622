#include "widgets/ThrottledProgressBar.h"

ThrottledProgressBar::ThrottledProgressBar(QWidget *parent) : QProgressBar(parent)
{
    m_updateTimer.setSingleShot(true);
    m_updateTimer.setInterval(UpdateInterval);
    connect(&m_updateTimer, &QTimer::timeout, this, &ThrottledProgressBar::flush);
}

void ThrottledProgressBar::setValueLater(int value)
{
    m_pending = value;
    m_hasPending = true;
    if (!m_updateTimer.isActive())
        m_updateTimer.start();
}

void ThrottledProgressBar::flush()
{
    m_updateTimer.stop();
    if (m_hasPending) {
        // QProgressBar repaints at once when its value changes; drawn with the rest of the
        // window's next update instead, the window is drawn once per update, not twice.
        setUpdatesEnabled(false);
        setValue(m_pending);
        setUpdatesEnabled(true);
    }
    m_hasPending = false;
}
