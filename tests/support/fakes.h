#pragma once
// Fakes of the platform services for unit tests. Each records what the logic asked of it, in order.

#include "platform/services.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

// Readable failure output for texts and lists of texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace veltrane::test {

// Records every prompt as one line: "beep", "message: <text>", "message!: <text>" (exclamation icon),
// "message-info: <text>", "message-critical: <text>", "ask: <text>", "input: <prompt>|<title>|<default>",
// "pointer: normal|wait|custom". Answers come from scripts; an unscripted question answers No / "".
class FakePrompts final : public Prompts {
public:
    void message(const QString& text, MessageIcon icon, const QString& title) override;
    bool askYesNo(const QString& text, const QString& title) override;
    QString input(const QString& prompt, const QString& title, const QString& defaultText) override;
    void beep() override;
    void setPointer(Pointer pointer) override;

    std::deque<bool> yesNoAnswers;
    std::deque<QString> inputAnswers;
    QStringList log;
    // Runs inside each modal box, as a real one lets events run (optional).
    std::function<void()> whileModal;

    // Only the message texts (any icon), in order.
    QStringList messages() const;
    int beeps() const;
};

class FakeClock final : public Clock {
public:
    QDateTime now() const override { return m_now; }
    void set(const QDateTime& t) { m_now = t; }
    void advanceSeconds(qint64 s) { m_now = m_now.addSecs(s); }

private:
    QDateTime m_now{QDate(2026, 3, 14), QTime(9, 30, 0)};
};

class FakeEventPump final : public EventPump {
public:
    void processEvents() override {
        ++calls;
        if (onProcess) onProcess();
    }
    int calls = 0;
    std::function<void()> onProcess;
};

// Timers that tick only when the test says so.
class FakeTimer;
class FakeTimerService final : public TimerService {
public:
    std::unique_ptr<Timer> createTimer(bool singleShot) override;
    std::vector<FakeTimer*> timers;  // alive timers, in creation order
};
class FakeTimer final : public Timer {
public:
    FakeTimer(FakeTimerService* owner, bool singleShot) : m_owner(owner), m_singleShot(singleShot) {}
    ~FakeTimer() override;
    void setInterval(int ms) override { m_interval = ms; }
    int interval() const override { return m_interval; }
    void setEnabled(bool enabled) override { m_enabled = enabled; }
    bool isEnabled() const override { return m_enabled; }
    // Ticks when enabled (a one-shot disables itself first).
    void fire();

private:
    FakeTimerService* m_owner;
    bool m_singleShot;
    int m_interval = 0;
    bool m_enabled = false;
};

class FakeSound final : public Sound {
public:
    bool play(const QString& path) override;
    QStringList played;  // paths, in order
    // File names only ("12.wav"), in order.
    QStringList playedNames() const;
    std::function<void()> whilePlaying;
};

class FakeShell final : public ShellOpen {
public:
    bool open(const QString& path) override {
        opened << path;
        return result;
    }
    bool startProgram(const QString& program) override {
        started << program;
        return result;
    }
    QStringList opened;
    QStringList started;
    bool result = true;
};

class FakeClipboard final : public Clipboard {
public:
    void clear() override {
        text.clear();
        ++clears;
    }
    void setText(const QString& t) override { text = t; }
    QString text = QStringLiteral("<untouched>");
    int clears = 0;
};

class FakeDde final : public DdeServer {
public:
    void setTopic(const QString& t) override { m_topic = t; }
    QString topic() const override { return m_topic; }
    void setItem(const QString&, const QString& text) override { updates << text; }
    QStringList updates;

private:
    QString m_topic;
};

// An in-process serial port: scripted open results, recorded writes, bytes injected by the test.
class FakeSerialPort final : public SerialPort {
public:
    void setPortNumber(int number) override { m_number = number; }
    int portNumber() const override { return m_number; }
    void setSettingsText(const QString& text) override { m_settings = text; }
    QString settingsText() const override { return m_settings; }
    bool open() override;
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    QString lastError() const override { return m_error; }
    bool write(const QByteArray& data) override;
    QString deviceName() const override { return QStringLiteral("/dev/fake%1").arg(m_number); }

    // Delivers bytes as the real port does: one signal per byte.
    void inject(const QByteArray& bytes);

    // Open attempts fail while this many remain (negative: always fail).
    int failOpens = 0;
    int openAttempts = 0;
    QList<QByteArray> written;
    // Called at each open with the settings text and port number (indicator fakes hook in here).
    std::function<void()> onOpen;

private:
    int m_number = 0;
    QString m_settings;
    bool m_open = false;
    QString m_error;
};

// The real files underneath (tests read what was written and lock them for real), with failures a test
// scripts in front: the system's description of each. Records the leftovers it was asked to remove.
class FakeFiles final : public Files {
public:
    bool lockedByAnotherProgram(const QString& path) override { return m_real.lockedByAnotherProgram(path); }
    QString replace(const QString& path, const QByteArray& content) override;
    int removeLeftovers(const QString& path) override;

    std::deque<QString> replaceFailures;  // front first; an empty text writes the real file
    QStringList cleaned;

private:
    PosixFiles m_real;
};

// All fakes bundled, with Services pointing at them.
struct FakeServices {
    explicit FakeServices(const QString& appFolder = {});
    FakePrompts prompts;
    FakeClock clock;
    FakeEventPump events;
    FakeTimerService timers;
    FakeSound sound;
    FakeShell shell;
    FakeClipboard clipboard;
    FakeSerialPort port;
    FakeDde dde;
    FakeFiles files;
    Services services;
};

// A fresh temporary folder (removed at destruction) with a trailing "/".
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    QString path() const { return m_path; }
    QString file(const QString& name) const { return m_path + name; }

private:
    QString m_path;
};

// HOME set to a fresh temporary folder, and XDG_CONFIG_HOME unset, while it lives.
struct TempHome : TempFolder {
    TempHome() {
        qputenv("HOME", path().toUtf8());
        qunsetenv("XDG_CONFIG_HOME");
    }
    ~TempHome() {
        qputenv("HOME", m_home);
        m_config.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", m_config);
    }
    QByteArray m_home = qgetenv("HOME"), m_config = qgetenv("XDG_CONFIG_HOME");
};

// A whole file's bytes, or "<missing>" when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArrayLiteral("<missing>");
}

// Makes a file with these bytes (none by default); false when it cannot.
inline bool writeFile(const QString& path, const QByteArray& bytes = {}) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

}  // namespace veltrane::test
