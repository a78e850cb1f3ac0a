#include "platform/timers.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace veltrane {
namespace {

class QtTimer final : public Timer {
public:
    QtTimer(bool singleShot, double scale) : m_scale(scale) {
        m_timer.setSingleShot(singleShot);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (m_timer.isSingleShot()) m_enabled = false;
            tick();
        });
    }
    void setInterval(int ms) override {
        m_interval = ms;
        m_timer.setInterval(std::max(1, static_cast<int>(std::lround(ms * m_scale))));
        apply();
    }
    int interval() const override { return m_interval; }
    void setEnabled(bool enabled) override {
        m_enabled = enabled;
        apply();
    }
    bool isEnabled() const override { return m_enabled; }

private:
    // An interval of 0 is a timer not set yet: it never ticks, even when enabled. A QTimer of 0 would
    // fire at every turn of the event loop and keep a core busy.
    void apply() {
        if (m_enabled && m_interval > 0) {
            if (!m_timer.isActive()) m_timer.start();
        } else {
            m_timer.stop();
        }
    }

    QTimer m_timer;
    bool m_enabled = false;
    double m_scale;
    int m_interval = 0;
};

}  // namespace

std::unique_ptr<Timer> QtTimerService::createTimer(bool singleShot) {
    return std::make_unique<QtTimer>(singleShot, m_scale);
}

}  // namespace veltrane
