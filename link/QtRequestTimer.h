#pragma once
#include "link/RequestTimer.h"

#include <QTimer>

// RequestTimer on a single-shot QTimer of the event loop it lives in.
class QtRequestTimer : public RequestTimer {
public:
    explicit QtRequestTimer(std::chrono::milliseconds interval);

    void setEnabled(bool on) override;
    bool isEnabled() const override { return m_timer.isActive(); }
    void setInterval(std::chrono::milliseconds interval) override { m_timer.setInterval(interval); }
    std::chrono::milliseconds interval() const override { return m_timer.intervalAsDuration(); }

private:
    QTimer m_timer;
};
