#pragma once
// Services that act on nothing, for measuring the core alone.

#include "core/main_view.h"
#include "platform/services.h"

#include <QDateTime>

namespace veltrane::bench {

class ManualClock final : public Clock {
public:
    QDateTime now() const override { return m_now; }
    void advanceSeconds(int s) { m_now = m_now.addSecs(s); }

private:
    QDateTime m_now{QDate(2026, 3, 14), QTime(9, 30, 0)};
};

class SilentPrompts final : public Prompts {
public:
    void message(const QString&, MessageIcon, const QString&) override { ++messages; }
    bool askYesNo(const QString&, const QString&) override {
        ++messages;
        return false;
    }
    QString input(const QString&, const QString&, const QString&) override { return {}; }
    void beep() override {}
    void setPointer(Pointer) override {}
    int messages = 0;
};

class NoEvents final : public EventPump {
public:
    void processEvents() override {}
};

class IdleTimer final : public Timer {
public:
    void setInterval(int ms) override { m_interval = ms; }
    int interval() const override { return m_interval; }
    void setEnabled(bool e) override { m_enabled = e; }
    bool isEnabled() const override { return m_enabled; }

private:
    int m_interval = 0;
    bool m_enabled = false;
};
class IdleTimers final : public TimerService {
public:
    std::unique_ptr<Timer> createTimer(bool) override { return std::make_unique<IdleTimer>(); }
};

class NoSound final : public Sound {
public:
    bool play(const QString&) override { return false; }
};
class NoShell final : public ShellOpen {
public:
    bool open(const QString&) override { return false; }
};
class NoClipboard final : public Clipboard {
public:
    void clear() override {}
    void setText(const QString&) override {}
};
class NoPort final : public SerialPort {
public:
    void setPortNumber(int) override {}
    int portNumber() const override { return 1; }
    void setSettingsText(const QString&) override {}
    QString settingsText() const override { return {}; }
    bool open() override { return false; }
    void close() override {}
    bool isOpen() const override { return false; }
    QString lastError() const override { return {}; }
    bool write(const QByteArray&) override { return false; }
    QString deviceName() const override { return {}; }
};
class NoFeed final : public DdeServer {
public:
    void setTopic(const QString& t) override { m_topic = t; }
    QString topic() const override { return m_topic; }
    void setItem(const QString&, const QString&) override {}

private:
    QString m_topic;
};

class NoView final : public MainView {
public:
    void setWeightText(const QString&) override {}
    void setRawText(const QString&) override {}
    void setRawVisible(bool) override {}
    bool rawVisible() const override { return false; }
    void setStatusText(const QString&) override {}
    void appendStatusText(const QString&) override {}
    void setStableCountText(const QString&) override {}
    void setPortStatusText(const QString&) override {}
    void setPortToolTip(const QString&) override {}
    void setPortNumberText(const QString&) override {}
    void setPortButtonCaption(const QString&) override {}
    void setCaption(const QString&) override {}
    QString caption() const override { return {}; }
};

}  // namespace veltrane::bench
