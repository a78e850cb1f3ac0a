#pragma once
// Services that act on nothing: for tools that run the core without a desktop, a device or a sound
// card (the replay tool, the benchmarks). Ports never open; timers never tick by themselves.

#include "core/main_view.h"
#include "platform/services.h"

namespace veltrane::inert {

class NoEvents final : public EventPump {
public:
    void processEvents() override {}
};

class Timer final : public veltrane::Timer {
public:
    void setInterval(int ms) override { m_interval = ms; }
    int interval() const override { return m_interval; }
    void setEnabled(bool enabled) override { m_enabled = enabled; }
    bool isEnabled() const override { return m_enabled; }

private:
    int m_interval = 0;
    bool m_enabled = false;
};

class Timers final : public TimerService {
public:
    std::unique_ptr<veltrane::Timer> createTimer(bool) override { return std::make_unique<Timer>(); }
};

class NoSound final : public Sound {
public:
    bool play(const QString&) override { return false; }
};

class NoShell final : public ShellOpen {
public:
    bool open(const QString&) override { return false; }
    bool startProgram(const QString&) override { return false; }
};

class NoClipboard final : public Clipboard {
public:
    void clear() override {}
    void setText(const QString&) override {}
};

class NoPort final : public SerialPort {
public:
    void setPortNumber(int n) override { m_number = n; }
    int portNumber() const override { return m_number; }
    void setSettingsText(const QString& t) override { m_settings = t; }
    QString settingsText() const override { return m_settings; }
    bool open() override { return false; }
    void close() override {}
    bool isOpen() const override { return false; }
    QString lastError() const override { return QStringLiteral("no serial port here"); }
    bool write(const QByteArray&) override { return false; }
    QString deviceName() const override { return {}; }

private:
    int m_number = 0;
    QString m_settings;
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
    void setRawVisible(bool v) override { m_raw = v; }
    bool rawVisible() const override { return m_raw; }
    void setStatusText(const QString&) override {}
    void appendStatusText(const QString&) override {}
    void setStableCountText(const QString&) override {}
    void setPortStatusText(const QString&) override {}
    void setPortToolTip(const QString&) override {}
    void setPortNumberText(const QString&) override {}
    void setPortButtonCaption(const QString&) override {}
    void setCaption(const QString& t) override { m_caption = t; }
    QString caption() const override { return m_caption; }

private:
    bool m_raw = false;
    QString m_caption;
};

}  // namespace veltrane::inert
