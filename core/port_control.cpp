#include "core/port_control.h"

namespace veltrane {
namespace {

const QString kPortOn = QStringLiteral("PORT ON");
const QString kPortOff = QStringLiteral("PORT OFF !");

}  // namespace

PortControl::PortControl(Services& services, MainView& view, std::function<void()> gone)
    : m_services(services),
      m_view(view),
      m_gone(std::move(gone)),
      m_retry(services.timers.createTimer(false)) {
    m_retry->setInterval(kRetryIntervalMs);
    m_retry->setEnabled(false);
    m_retry->onTick([this] { retry(); });
    QObject::connect(&services.port, &SerialPort::deviceLost, &services.port,
                     [this](const QString&) { deviceLost(); });
}

PortControl::~PortControl() {
    QObject::disconnect(&m_services.port, &SerialPort::deviceLost, &m_services.port, nullptr);
}

bool PortControl::isOpen() const {
    return m_services.port.isOpen();
}

QString PortControl::lastError() const {
    return m_services.port.lastError();
}

int PortControl::portNumber() const {
    return m_services.port.portNumber();
}

void PortControl::setNumber(int portNumber) {
    m_services.port.setPortNumber(portNumber);
}

void PortControl::stopRetrying() {
    m_retry->setEnabled(false);
    if (m_state == State::Lost) m_state = State::Closed;
}

void PortControl::configure(int portNumber, const QString& settingsText) {
    m_services.port.setSettingsText(settingsText);
    setNumber(portNumber);
    m_view.setPortNumberText(QString::number(portNumber));
}

void PortControl::setSettingsText(const QString& text) {
    m_services.port.setSettingsText(text);
}

bool PortControl::openWithRetries() {
    SerialPort& port = m_services.port;
    if (port.open()) return true;
    // The main window's timers and receive events keep running between the tries.
    m_services.events.processEvents();
    for (int i = 0; i < kOpenRetries; ++i) {
        m_services.events.processEvents();
        if (port.open()) return true;
    }
    return false;
}

bool PortControl::openForWeighing() {
    stopRetrying();
    if (!openWithRetries()) {
        failedToOpen();
        return false;
    }
    m_state = State::Weighing;
    m_view.setPortStatusText(kPortOn);
    return true;
}

void PortControl::failedToOpen() {
    // Whatever the window showed before, the port is closed now and the last weight is no live one.
    m_state = State::Closed;
    m_view.setPortButtonCaption(QStringLiteral("Open port"));
    m_view.setPortStatusText(kPortOff);
    if (m_gone) m_gone();
}

void PortControl::closeForReload() {
    m_services.port.close();
    m_state = State::Closed;
    m_view.setPortStatusText(kPortOff);
}

void PortControl::closeByOperator() {
    m_retry->setEnabled(false);
    m_services.port.close();
    m_state = State::Closed;
    m_view.setPortButtonCaption(QStringLiteral("Open port"));
    m_view.setPortStatusText(kPortOff);
}

void PortControl::showState() {
    const bool open = isOpen();
    m_view.setPortButtonCaption(open ? QStringLiteral("Close port") : QStringLiteral("Open port"));
    m_view.setPortStatusText(open ? kPortOn : kPortOff);
}

void PortControl::showSettingsTip(const QString& text) {
    m_view.setPortToolTip(text);
}

bool PortControl::closeForNewSettings() {
    const bool wasOpen = isOpen();
    if (wasOpen) m_services.port.close();
    return wasOpen;
}

void PortControl::setNewSettings(std::optional<int> portNumber, const QString& settingsText) {
    if (portNumber) setNumber(*portNumber);
    m_services.port.setSettingsText(settingsText);
}

bool PortControl::reopenWithRetries() {
    stopRetrying();
    if (!openWithRetries()) {
        failedToOpen();
        return false;
    }
    m_state = State::Weighing;
    showState();
    return true;
}

void PortControl::beginSearch(int portNumber) {
    m_retry->setEnabled(false);
    m_state = State::Closed;
    m_searching = true;
    closeForSearch();
    setNumber(portNumber);
}

void PortControl::closeForSearch() {
    if (isOpen()) m_services.port.close();
}

void PortControl::setSearchSettings(const QString& settingsText) {
    m_services.port.setSettingsText(settingsText);
}

bool PortControl::openForSearch() {
    return m_services.port.open();
}

void PortControl::showSearchState() {
    m_view.setPortStatusText(isOpen() ? kPortOn : QStringLiteral("PORT OFF"));
}

void PortControl::endSearch() {
    m_searching = false;
    if (isOpen()) m_state = State::Weighing;
}

void PortControl::deviceLost() {
    // A loss reported after the operator closed the port, once the port is open again (the report is
    // queued), or while the search drives the port, leaves things as they are.
    if (m_state != State::Weighing || m_searching || isOpen()) return;
    m_state = State::Lost;
    m_view.setPortButtonCaption(QStringLiteral("Open port"));
    m_view.setPortStatusText(kPortOff);
    if (m_gone) m_gone();
    m_retry->setEnabled(true);
}

void PortControl::retry() {
    if (m_state != State::Lost || m_searching) {
        m_retry->setEnabled(false);
        return;
    }
    // No message for a failed try: the device is simply not back yet, and an unattended screen full of
    // boxes helps nobody. The port keeps the number and settings text it was opened with.
    if (!isOpen() && !m_services.port.open()) return;
    m_retry->setEnabled(false);
    m_state = State::Weighing;
    m_view.setPortButtonCaption(QStringLiteral("Close port"));
    m_view.setPortStatusText(kPortOn);
    if (m_back) m_back();
}

}  // namespace veltrane
