#pragma once
#include <chrono>
#include <functional>

// A one-shot time-out that the protocol code switches on when it sends and off when the
// answer is complete. Enabling a timer that is already running does not restart it, so
// a time-out always counts from the first enable after the last disable.
class RequestTimer {
public:
    virtual ~RequestTimer() = default;

    virtual void setEnabled(bool on) = 0;
    virtual bool isEnabled() const = 0;
    virtual void setInterval(std::chrono::milliseconds interval) = 0;
    virtual std::chrono::milliseconds interval() const = 0;

    // Called once per expiry; the timer is already off when it runs.
    void setTimeoutCallback(std::function<void()> callback) { m_callback = std::move(callback); }

protected:
    void fire()
    {
        if (m_callback)
            m_callback();
    }

private:
    std::function<void()> m_callback;
};

// A timer that tests step by hand: advance() moves its clock and fires when the interval
// is reached while it is on.
class FakeRequestTimer : public RequestTimer {
public:
    explicit FakeRequestTimer(std::chrono::milliseconds interval = std::chrono::milliseconds(5000))
        : m_interval(interval) {}

    void setEnabled(bool on) override
    {
        if (on && !m_enabled)
            m_elapsed = std::chrono::milliseconds(0);
        m_enabled = on;
    }
    bool isEnabled() const override { return m_enabled; }
    void setInterval(std::chrono::milliseconds interval) override { m_interval = interval; }
    std::chrono::milliseconds interval() const override { return m_interval; }

    void advance(std::chrono::milliseconds step)
    {
        if (!m_enabled)
            return;
        m_elapsed += step;
        if (m_elapsed >= m_interval) {
            m_enabled = false;
            fire();
        }
    }
    std::chrono::milliseconds elapsed() const { return m_elapsed; }

private:
    std::chrono::milliseconds m_interval;
    std::chrono::milliseconds m_elapsed{0};
    bool m_enabled = false;
};
