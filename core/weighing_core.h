#pragma once
// The weighing core as the rest of the program sees it: what the main window owns apart from its
// widgets (decoder state, weighment cycle, outputs, voice, serial port control, the weight box's live
// feed). The shell's window, the wizard and the replay tool drive it through this class only.

#include "config/loader.h"
#include "config/settings.h"
#include "core/main_view.h"
#include "core/search_trials.h"
#include "core/weight_feed.h"
#include "platform/services.h"
#include "platform/timers.h"

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <memory>

namespace veltrane {

class Decoder;
class PortControl;
class WeighmentCycle;

// Hooks for tools and tests that watch the cycle (the replay tool prints them).
class CoreObserver {
public:
    virtual ~CoreObserver() = default;
    virtual void recordCompleted(const QByteArray& lastRecord, const QString& weightText) {
        (void)lastRecord;
        (void)weightText;
    }
    virtual void served(const QString& weightText) { (void)weightText; }
    virtual void rearmed() {}
    virtual void refused() {}
    // Every sound the program asks to play, by file name ("12.wav"), whether or not the file exists.
    virtual void say(const QString& fileName) { (void)fileName; }
};

class WeighingCore : public QObject {
    Q_OBJECT
public:
    WeighingCore(Services& services, Settings& settings, MainView& view, QObject* parent = nullptr);
    ~WeighingCore() override;

    Settings& settings() { return m_settings; }
    Services& services() { return m_services; }
    MainView& view() { return m_view; }

    // Runs the configuration loader with the main window's boxes and port. EndProgram: the caller ends
    // the program at once.
    LoadResult loadConfiguration();

    // The weight box (weightdata): shown in the view and passed to the outward feeds.
    void setWeightData(const QString& text);
    QString weightData() const;

    const Decoder& decoder() const;
    WeighmentCycle& cycle();
    // The serial port's one state machine, shared with the wizard, the save and the buttons.
    PortControl& port();
    // What the wizard's protocol search may do with the decoder, the weight box and the waits.
    SearchTrials& searchTrials();

    // Feeds one received character (what the port's receive event does); public for tools and tests.
    void receiveByte(char byte);

    // A run-time error of an earlier step, shown at the next receive event or end of the port routine.
    void setPendingError(const QString& text);
    bool hasPendingError() const;
    void showPendingError();

    // Re-arms the cycle by hand (the "New weighment" button): clears the served flag.
    void rearmByHand();
    void setLastRecordTime(const QDateTime& time);
    // Appends an event-log row (kinds in config/event_log.h); a failure is told on the status line.
    void recordEvent(const QString& kind, const QJsonObject& detail = {});
    // The port's number and device, as the device events record them.
    QJsonObject portDetail() const;

    // Delay/Timerdelay: a one-shot timer that sets the delay-elapsed flag.
    void Delay(int ms);
    bool delayElapsed() const;
    void clearDelayElapsed();
    // A wait of ms: Delay, let events run until the flag is set, clear it.
    void wait(int ms);

    void AnnounceWeight(const QString& weightText);

    // Serial port control.
    void OpenSerialPort();
    // The port button's close path: no reload, the request timer untouched, the weight box kept.
    void closePortByButton();
    bool isPortOpen() const;
    void ToggleRawDisplay();

    void setObserver(CoreObserver* observer);

    // Outward feeds hear every change of the weight box and every serving's log row. A feed added
    // hears the current weight at once; it must be removed before it is destroyed.
    void addFeed(WeightFeed& feed);
    void removeFeed(WeightFeed& feed);

    // Servings write nothing (no output file, weight log or clipboard) and no sound reaches the device;
    // the observer still sees every serving and every sound asked for. For the replay tool.
    void setDryRun(bool dryRun);

    // Timerthrow's tick: sends the request string to a polled indicator.
    void ThrowTick();
    // Timerthrow (400 ms), Timerweightclear (15000 ms, one-shot), Timerdelay (one-shot).
    Timer& timerThrow();
    Timer& timerWeightClear();
    Timer& timerDelay();

Q_SIGNALS:
    // The loader (run by OpenSerialPort) asked for the program to end.
    void endProgramRequested();

private:
    struct Impl;
    Services& m_services;
    Settings& m_settings;
    MainView& m_view;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace veltrane
