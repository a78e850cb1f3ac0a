#pragma once
// One-shot and periodic timers behind an interface, so that tests can run the wizard's waits faster
// or tick a timer by hand.

#include <functional>
#include <memory>

namespace veltrane {

class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    // Enabled timers tick every interval; a one-shot timer disables itself before its tick runs.
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    void onTick(std::function<void()> handler) { m_handler = std::move(handler); }

protected:
    void tick() {
        if (m_handler) m_handler();
    }

private:
    std::function<void()> m_handler;
};

class TimerService {
public:
    virtual ~TimerService() = default;
    virtual std::unique_ptr<Timer> createTimer(bool singleShot) = 0;
};

// QTimer-backed. scale multiplies every interval; the program always uses 1.0, tests may shorten waits.
class QtTimerService final : public TimerService {
public:
    explicit QtTimerService(double scale = 1.0) : m_scale(scale) {}
    std::unique_ptr<Timer> createTimer(bool singleShot) override;

private:
    double m_scale;
};

}  // namespace veltrane
