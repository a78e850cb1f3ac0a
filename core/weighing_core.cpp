#include "core/weighing_core.h"

#include "core/decoder.h"
#include "core/port_control.h"
#include "core/voice.h"
#include "core/weighment_cycle.h"
#include "core/weight_outputs.h"

#include "config/event_log.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace veltrane {
namespace {

constexpr int kThrowIntervalMs = 400;
constexpr int kWeightClearMs = 15000;
constexpr qsizetype kRawDisplayLength = 256;

}  // namespace

struct WeighingCore::Impl final : DecoderHost, CycleHost, LoaderView, SearchTrials {
    Impl(WeighingCore& core)
        : core(core),
          decoder(core.m_settings, *this),
          voice(core.m_settings, core.m_services),
          outputs(core.m_settings, core.m_services, voice),
          timerThrow(core.m_services.timers.createTimer(false)),
          timerWeightClear(core.m_services.timers.createTimer(true)),
          timerDelay(core.m_services.timers.createTimer(true)),
          // A weight from a vanished indicator is no live weight: the box empties when the device goes.
          // A failed opening empties it too, but only a vanished device is an event.
          port(core.m_services, core.m_view, [this, &core] {
              core.setWeightData(QString());
              if (port.state() == PortControl::State::Lost)
                  core.recordEvent(QLatin1String(eventkind::kDeviceLost), core.portDetail());
          }) {
        port.onBack([&core] { core.recordEvent(QLatin1String(eventkind::kDeviceBack), core.portDetail()); });
    }

    // DecoderHost
    void showRawData(const QByteArray& buffer) override {
        // The raw-data box is one line wide: the tail is what the operator can see, and copying a long
        // record into it at every character would cost more than decoding it.
        core.m_view.setRawText(QString::fromLatin1(buffer.right(kRawDisplayLength)));
    }
    void setWeightText(const QString& text) override { core.setWeightData(text); }
    QString weightText() const override { return weight; }
    bool weighmentStep(float w) override { return cycle.WeighmentStep(w, core.m_settings, *this); }
    void recordCompleted(const QByteArray& record, const QString& text) override {
        if (observer) observer->recordCompleted(record, text);
    }

    // CycleHost
    const Clock& clock() const override { return core.m_services.clock; }
    void setStatusText(const QString& text) override { core.m_view.setStatusText(text); }
    void setStableCountText(const QString& text) override { core.m_view.setStableCountText(text); }
    void showTooSoon(const QString& text) override {
        core.m_view.setRawText(text);
        core.m_view.setRawVisible(true);
    }
    void serveWeight(const QString& w) override {
        if (observer) observer->served(w);
        const QString error = outputs.ServeWeight(w);
        if (!error.isEmpty()) core.setPendingError(error);
    }
    void servedByHand(const QString& w) override {
        core.recordEvent(
            QLatin1String(eventkind::kHandServing),
            {{QStringLiteral("how"), QStringLiteral("print button")}, {QStringLiteral("weight"), w}});
    }
    void startWeightClearTimer() override { timerWeightClear->setEnabled(true); }
    void playTruckOut() override { voice.PlayWave(core.m_settings.voicePromptFile); }
    void rearmed() override {
        if (observer) observer->rearmed();
    }
    void refused() override {
        if (observer) observer->refused();
    }

    // LoaderView
    bool portIsOpen() override { return port.isOpen(); }
    void closePortForReload() override {
        port.closeForReload();
        core.setWeightData(QString());
    }
    void setPortSettingsText(const QString& text) override { port.setSettingsText(text); }
    void setPortToolTip(const QString& text) override { port.showSettingsTip(text); }
    void setPortNumberText(const QString& text) override { core.m_view.setPortNumberText(text); }
    void setDdeTopic(const QString& topic) override { core.m_services.dde.setTopic(topic); }

    // SearchTrials
    void setSearching(bool searching) override { decoder.setSearchRunning(searching); }
    bool searching() const override { return decoder.searchRunning(); }
    void startTrial() override {
        decoder.clearReceiveBuffer();
        decoder.clearLastRecord();
    }
    void forgetLastRecord() override { decoder.clearLastRecord(); }
    QByteArray lastRecord() const override { return decoder.lastRecord(); }
    QByteArray searchLog() const override { return decoder.searchLog(); }
    void appendToSearchLog(const QByteArray& text) override { decoder.appendToSearchLog(text); }
    void clearSearchLog() override { decoder.clearSearchLog(); }
    void clearWeight() override { core.setWeightData(QString()); }
    void wait(int ms, const std::function<bool()>& stop) override {
        core.Delay(ms);
        while (!delayElapsed && !(stop && stop())) core.m_services.events.waitForEvents();
        // Ended early: the delay's tick must not end the next wait before its time.
        if (!delayElapsed) timerDelay->setEnabled(false);
        delayElapsed = false;
    }

    WeighingCore& core;
    Decoder decoder;
    WeighmentCycle cycle;
    Voice voice;
    WeightOutputs outputs;
    std::unique_ptr<Timer> timerThrow;
    std::unique_ptr<Timer> timerWeightClear;
    std::unique_ptr<Timer> timerDelay;
    PortControl port;
    CoreObserver* observer = nullptr;
    std::vector<WeightFeed*> feeds;
    QString weight;
    QString pendingError;
    bool delayElapsed = false;
};

WeighingCore::WeighingCore(Services& services, Settings& settings, MainView& view, QObject* parent)
    : QObject(parent),
      m_services(services),
      m_settings(settings),
      m_view(view),
      m_impl(std::make_unique<Impl>(*this)) {
    Impl& d = *m_impl;
    d.cycle.lastRecordTime = services.clock.now();
    d.outputs.onStatusNote([this](const QString& note) { m_view.appendStatusText(note); });
    d.outputs.onServed([this](const ServedWeighment& weighment) {
        // A copy: a feed may remove itself (or another) while it is told.
        const std::vector<WeightFeed*> feeds = m_impl->feeds;
        for (WeightFeed* feed : feeds) feed->weighmentServed(weighment);
    });
    d.voice.onSay([this](const QString& name) {
        if (m_impl->observer) m_impl->observer->say(name);
    });

    d.timerThrow->setInterval(kThrowIntervalMs);
    d.timerThrow->setEnabled(false);
    d.timerThrow->onTick([this] { ThrowTick(); });
    d.timerWeightClear->setInterval(kWeightClearMs);
    d.timerWeightClear->setEnabled(false);
    d.timerWeightClear->onTick([this] {
        setWeightData(QString());
        m_impl->timerWeightClear->setEnabled(false);
    });
    d.timerDelay->setInterval(0);
    d.timerDelay->setEnabled(false);
    d.timerDelay->onTick([this] {
        m_impl->delayElapsed = true;
        m_impl->timerDelay->setEnabled(false);
    });

    connect(&services.port, &SerialPort::byteReceived, this, [this](char byte) { receiveByte(byte); });
}

WeighingCore::~WeighingCore() = default;

LoadResult WeighingCore::loadConfiguration() {
    ConfigLoader loader(m_settings, m_services, *m_impl);
    const LoadResult result = loader.load();
    m_impl->outputs.settingsLoaded();
    return result;
}

void WeighingCore::setWeightData(const QString& text) {
    const bool changed = text != m_impl->weight;
    m_impl->weight = text;
    m_view.setWeightText(text);
    // Linked programs hear of changes only, as a linked text box notifies them.
    if (!changed) return;
    const std::vector<WeightFeed*> feeds = m_impl->feeds;
    for (WeightFeed* feed : feeds) feed->weightChanged(text);
}

QString WeighingCore::weightData() const {
    return m_impl->weight;
}

const Decoder& WeighingCore::decoder() const {
    return m_impl->decoder;
}
PortControl& WeighingCore::port() {
    return m_impl->port;
}
SearchTrials& WeighingCore::searchTrials() {
    return *m_impl;
}
WeighmentCycle& WeighingCore::cycle() {
    return m_impl->cycle;
}

void WeighingCore::receiveByte(char byte) {
    showPendingError();
    m_impl->decoder.DecodeCharacter(QByteArray(1, byte));
}

void WeighingCore::setPendingError(const QString& text) {
    m_impl->pendingError = text;
}
bool WeighingCore::hasPendingError() const {
    return !m_impl->pendingError.isEmpty();
}

void WeighingCore::showPendingError() {
    if (m_impl->pendingError.isEmpty()) return;
    // Taken before the box is shown: the box lets events run, and they must not show it again.
    const QString text = std::exchange(m_impl->pendingError, QString());
    m_services.prompts.message(text, MessageIcon::Exclamation);
}

void WeighingCore::rearmByHand() {
    m_impl->cycle.rearmByHand();
    recordEvent(QLatin1String(eventkind::kHandServing),
                {{QStringLiteral("how"), QStringLiteral("New weighment")}});
}

void WeighingCore::recordEvent(const QString& kind, const QJsonObject& detail) {
    const QString error = m_impl->outputs.recordEvent(kind, detail);
    // The weighing goes on: a full disk or a locked file is told on the status line, once per event.
    if (!error.isEmpty()) m_view.appendStatusText(QStringLiteral("   Event log: ") + error);
}

QJsonObject WeighingCore::portDetail() const {
    return {{QStringLiteral("port"), m_services.port.portNumber()},
            {QStringLiteral("device"), m_services.port.deviceName()}};
}
void WeighingCore::setLastRecordTime(const QDateTime& time) {
    m_impl->cycle.lastRecordTime = time;
}

void WeighingCore::Delay(int ms) {
    m_impl->timerDelay->setInterval(std::clamp(ms, 0, 32767));
    m_impl->timerDelay->setEnabled(true);
}
bool WeighingCore::delayElapsed() const {
    return m_impl->delayElapsed;
}
void WeighingCore::clearDelayElapsed() {
    m_impl->delayElapsed = false;
}

void WeighingCore::wait(int ms) {
    m_impl->wait(ms, {});
}

void WeighingCore::AnnounceWeight(const QString& weightText) {
    try {
        m_impl->voice.AnnounceWeight(weightText);
    } catch (const std::exception& e) {
        setPendingError(QString::fromUtf8(e.what()));
    }
}

void WeighingCore::setObserver(CoreObserver* observer) {
    m_impl->observer = observer;
}

void WeighingCore::addFeed(WeightFeed& feed) {
    if (std::find(m_impl->feeds.begin(), m_impl->feeds.end(), &feed) != m_impl->feeds.end()) return;
    m_impl->feeds.push_back(&feed);
    feed.weightChanged(m_impl->weight);
}

void WeighingCore::removeFeed(WeightFeed& feed) {
    std::erase(m_impl->feeds, &feed);
}

void WeighingCore::setDryRun(bool dryRun) {
    m_impl->outputs.setDryRun(dryRun);
    m_impl->voice.setSilent(dryRun);
}

Timer& WeighingCore::timerThrow() {
    return *m_impl->timerThrow;
}
Timer& WeighingCore::timerWeightClear() {
    return *m_impl->timerWeightClear;
}
Timer& WeighingCore::timerDelay() {
    return *m_impl->timerDelay;
}

void WeighingCore::OpenSerialPort() {
    Impl& d = *m_impl;
    PortControl& port = d.port;
    port.stopRetrying();

    if (loadConfiguration() == LoadResult::EndProgram) {
        Q_EMIT endProgramRequested();
        return;
    }
    if (port.isOpen()) {
        // Only when closing for the reload failed.
        port.closeForReload();
        d.timerThrow->setEnabled(false);
        setWeightData(QString());
    } else {
        if (m_settings.port == 0) m_settings.port = 1;
        port.configure(m_settings.port,
                       QStringLiteral("%1,%2,%3,%4")
                           .arg(m_settings.baud)
                           .arg(m_settings.parity, m_settings.databits, m_settings.stopbits));
        if (!port.openForWeighing()) {
            // The reason of the last try is the pending error shown after the message; a try that
            // failed before a later one succeeded is no error. The caption stays as it was.
            setPendingError(port.lastError());
            m_services.prompts.beep();
            m_services.prompts.message(
                QStringLiteral("Could not open serial port! %1 !").arg(m_settings.port));
            showPendingError();
            return;
        }
        d.timerThrow->setEnabled(!m_settings.outstring.isEmpty() && m_settings.throwstring);
    }
    showPendingError();
    port.showState();
}

void WeighingCore::closePortByButton() {
    m_impl->port.closeByOperator();
}

bool WeighingCore::isPortOpen() const {
    return m_impl->port.isOpen();
}

void WeighingCore::ToggleRawDisplay() {
    m_view.setRawVisible(!m_view.rawVisible());
}

void WeighingCore::ThrowTick() {
    m_services.events.processEvents();
    SerialPort& port = m_services.port;
    if (!m_settings.throwstring || !port.isOpen()) return;
    // Write failures are ignored: the next tick tries again.
    const QByteArray request = m_settings.outstring == QLatin1String("ENQ") ? QByteArray(1, '\x05')
                                                                            : m_settings.outstring.toLatin1();
    port.write(request);
    if (m_settings.addcr) port.write(QByteArray(1, '\r'));
}

}  // namespace veltrane
