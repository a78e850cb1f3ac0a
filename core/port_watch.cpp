#include "core/port_watch.h"

namespace veltrane {

PortWatch::PortWatch(Services& services, MainView& view, std::function<void()> lost,
                     std::function<bool()> searching)
    : m_services(services),
      m_view(view),
      m_lost(std::move(lost)),
      m_searching(std::move(searching)),
      m_retry(services.timers.createTimer(false)) {
    m_retry->setInterval(kRetryIntervalMs);
    m_retry->setEnabled(false);
    m_retry->onTick([this] { retry(); });
}

void PortWatch::portOpened() {
    m_armed = true;
}

void PortWatch::deviceLost() {
    // A loss reported after the operator closed the port, or once the port is open again (the report
    // is queued), leaves things as they are.
    if (!m_armed || m_services.port.isOpen() || m_retry->isEnabled()) return;
    if (m_searching && m_searching()) return;
    m_view.setPortButtonCaption(QStringLiteral("Open port"));
    m_view.setPortStatusText(QStringLiteral("PORT OFF !"));
    if (m_lost) m_lost();
    m_retry->setEnabled(true);
}

void PortWatch::stop() {
    m_armed = false;
    m_retry->setEnabled(false);
}

bool PortWatch::retrying() const {
    return m_retry->isEnabled();
}

void PortWatch::retry() {
    SerialPort& port = m_services.port;
    if (m_searching && m_searching()) {
        stop();
        return;
    }
    // No message for a failed try: the device is simply not back yet, and an unattended screen full
    // of boxes helps nobody. The port keeps the number and settings text it was opened with.
    if (!port.isOpen() && !port.open()) return;
    m_retry->setEnabled(false);
    m_view.setPortButtonCaption(QStringLiteral("Close port"));
    m_view.setPortStatusText(QStringLiteral("PORT ON"));
}

}  // namespace veltrane
