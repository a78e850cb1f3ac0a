#include "tests/support/fakes.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

namespace veltrane::test {

void FakePrompts::message(const QString& text, MessageIcon icon, const QString&) {
    // In the order of MessageIcon; a question mark shows as a plain message.
    static const char* prefixes[] = {
        "message: ", "message-info: ", "message!: ", "message-critical: ", "message: "};
    log << QString::fromLatin1(prefixes[static_cast<int>(icon)]) + text;
    if (whileModal) whileModal();
}

bool FakePrompts::askYesNo(const QString& text, const QString&) {
    log << QStringLiteral("ask: ") + text;
    if (whileModal) whileModal();
    if (yesNoAnswers.empty()) return false;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

QString FakePrompts::input(const QString& prompt, const QString& title, const QString& defaultText) {
    log << QStringLiteral("input: %1|%2|%3").arg(prompt, title, defaultText);
    if (whileModal) whileModal();
    if (inputAnswers.empty()) return {};
    QString answer = inputAnswers.front();
    inputAnswers.pop_front();
    return answer;
}

void FakePrompts::beep() {
    log << QStringLiteral("beep");
}

void FakePrompts::setPointer(Pointer pointer) {
    static const char* names[] = {"normal", "wait", "custom"};
    log << QStringLiteral("pointer: ") + QString::fromLatin1(names[static_cast<int>(pointer)]);
}

QStringList FakePrompts::messages() const {
    QStringList out;
    for (const QString& line : log) {
        if (line.startsWith(QStringLiteral("message")))
            out << line.mid(line.indexOf(QStringLiteral(": ")) + 2);
    }
    return out;
}

int FakePrompts::beeps() const {
    return static_cast<int>(std::count(log.begin(), log.end(), QStringLiteral("beep")));
}

std::unique_ptr<Timer> FakeTimerService::createTimer(bool singleShot) {
    auto timer = std::make_unique<FakeTimer>(this, singleShot);
    timers.push_back(timer.get());
    return timer;
}

FakeTimer::~FakeTimer() {
    auto& list = m_owner->timers;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void FakeTimer::fire() {
    if (!m_enabled) return;
    if (m_singleShot) m_enabled = false;
    tick();
}

bool FakeSound::play(const QString& path) {
    played << path;
    if (whilePlaying) whilePlaying();
    return QFileInfo::exists(path);
}

QStringList FakeSound::playedNames() const {
    QStringList names;
    for (const QString& p : played) names << QFileInfo(p).fileName();
    return names;
}

bool FakeSerialPort::open() {
    ++openAttempts;
    if (failOpens != 0) {
        if (failOpens > 0) --failOpens;
        m_error = QStringLiteral("No such device: %1").arg(deviceName());
        return false;
    }
    m_open = true;
    m_error.clear();
    if (onOpen) onOpen();
    return true;
}

bool FakeSerialPort::write(const QByteArray& data) {
    if (!m_open) {
        m_error = QStringLiteral("Port is closed");
        return false;
    }
    written << data;
    return true;
}

void FakeSerialPort::inject(const QByteArray& bytes) {
    for (char c : bytes) Q_EMIT byteReceived(c);
}

QString FakeFiles::replace(const QString& path, const QByteArray& content) {
    if (!replaceFailures.empty()) {
        QString failure = replaceFailures.front();
        replaceFailures.pop_front();
        if (!failure.isEmpty()) return failure;
    }
    return m_real.replace(path, content);
}

int FakeFiles::removeLeftovers(const QString& path) {
    cleaned << path;
    return m_real.removeLeftovers(path);
}

FakeServices::FakeServices(const QString& appFolder)
    : services{clock, prompts, events, timers, sound, shell, clipboard, port, dde, files, appFolder} {}

TempFolder::TempFolder() {
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/veltrane-test-XXXXXX"));
    dir.setAutoRemove(false);
    m_path = dir.path() + QLatin1Char('/');
}

TempFolder::~TempFolder() {
    QDir(m_path).removeRecursively();
}

}  // namespace veltrane::test
