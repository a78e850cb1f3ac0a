#pragma once
// Brings the indicator's port back after its device vanished (a USB adapter pulled and pushed back):
// the loss is shown once, then the port is tried again on a timer, quietly, with the settings it had,
// until it opens or the operator takes over (closes it, or opens it through the button).

#include "core/main_view.h"
#include "platform/services.h"
#include "platform/timers.h"

#include <functional>
#include <memory>

namespace veltrane {

class PortWatch {
public:
    static constexpr int kRetryIntervalMs = 1000;

    // lost runs once per loss. While searching() is true someone else (the wizard's protocol search)
    // drives the port: a loss is theirs to handle and nothing is retried.
    PortWatch(Services& services, MainView& view, std::function<void()> lost,
              std::function<bool()> searching);

    // The program opened the port for weighing: a loss from now on is retried.
    void portOpened();
    // The port's device vanished while open (SerialPort::deviceLost).
    void deviceLost();
    // The operator closed or is (re)opening the port: it is theirs, no retry until the next portOpened.
    void stop();
    bool retrying() const;
    Timer& retryTimer() { return *m_retry; }

private:
    void retry();

    Services& m_services;
    MainView& m_view;
    std::function<void()> m_lost;
    std::function<bool()> m_searching;
    std::unique_ptr<Timer> m_retry;
    bool m_armed = false;
};

}  // namespace veltrane
