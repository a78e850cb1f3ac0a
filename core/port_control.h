#pragma once
// The indicator's serial port from opening to closing, in one place: who holds it (weighing, the
// operator, the wizard's search), opening with retries, a vanished device (shown once, then tried again
// every second, quietly, with the settings it had), and what the main window says of it. Nothing else
// in the program opens or closes the port or writes its caption and status.

#include "config/config_save.h"
#include "core/main_view.h"
#include "platform/services.h"
#include "platform/timers.h"

#include <functional>
#include <memory>
#include <optional>

namespace veltrane {

class PortControl final : public PortSettingsTarget {
public:
    enum class State {
        Closed,    // never opened, closed by the operator or for a reload, or failed to open
        Weighing,  // opened for weighing with the configured settings
        Lost,      // its device vanished while weighing; tried again every second
    };
    static constexpr int kRetryIntervalMs = 1000;
    // Tries after the first failed one when opening: a device often needs a moment after a close.
    static constexpr int kOpenRetries = 20;

    // gone runs once whenever the port stops delivering weights other than by the operator's or a
    // reload's close: the device vanished while weighing, or an opening for weighing failed.
    PortControl(Services& services, MainView& view, std::function<void()> gone);
    ~PortControl() override;
    PortControl(const PortControl&) = delete;
    PortControl& operator=(const PortControl&) = delete;

    // back runs when a lost device has been opened again.
    void onBack(std::function<void()> back) { m_back = std::move(back); }

    State state() const { return m_state; }
    // The wizard's protocol search drives the port with settings of its own: a loss is the search's.
    bool searching() const { return m_searching; }
    bool isOpen() const;
    QString lastError() const override;

    // --- weighing
    // The operator is (re)opening the port: a lost device is no longer tried.
    void stopRetrying();
    // The port number and settings text of a settings load. The device is looked up here, once: the
    // opening tries and the retries of a lost device never read the settings database.
    void configure(int portNumber, const QString& settingsText);
    // The settings text alone (a reload that leaves the port closed).
    void setSettingsText(const QString& text);
    // With retries. Open: "PORT ON", and a lost device is tried again from now on. Failed: "PORT OFF !",
    // the button for opening, lastError() tells why.
    bool openForWeighing();
    // Closed so that reloaded settings apply: "PORT OFF !".
    void closeForReload();
    // The port button: closed and left closed, "Open port" and "PORT OFF !".
    void closeByOperator();
    // Caption and status as the port really is.
    void showState();
    void showSettingsTip(const QString& text);

    // --- the configuration window's save
    bool closeForNewSettings() override;
    void setNewSettings(std::optional<int> portNumber, const QString& settingsText) override;
    // As openForWeighing, for the settings just saved.
    bool reopenWithRetries() override;
    int portNumber() const override;

    // --- the wizard's protocol search: the port is the search's until the next openForWeighing
    void beginSearch(int portNumber);
    void closeForSearch();
    void setSearchSettings(const QString& settingsText);
    // One try; false with lastError().
    bool openForSearch();
    // The search's own status texts: "PORT ON" or "PORT OFF".
    void showSearchState();
    // The port left open at the end is weighing's: a loss from now on is reported and retried.
    void endSearch();

    Timer& retryTimer() { return *m_retry; }

private:
    void setNumber(int portNumber);
    bool openWithRetries();
    void failedToOpen();
    void deviceLost();
    void retry();

    Services& m_services;
    MainView& m_view;
    std::function<void()> m_gone;
    std::function<void()> m_back;
    std::unique_ptr<Timer> m_retry;
    State m_state = State::Closed;
    bool m_searching = false;
};

}  // namespace veltrane
