#include "tools/indicator-sim/simulator.h"

#include <QFile>
#include <QSocketNotifier>
#include <QStringList>

#include <unistd.h>
#include <cerrno>
#include <cmath>
#include <cstdio>

namespace veltrane::sim {

namespace {

// Unread bytes beyond this mean nobody is listening: the indicator's frames go nowhere, as on an
// unattended line, and a reader that opens later does not get a burst of old frames. Two seconds of
// frames, and never less than a kilobyte, so a live reader that is merely busy loses nothing.
constexpr int kMinStaleBytes = 1024;
// More than this waiting to be written and continuous frames are skipped rather than queued.
constexpr qsizetype kOutboxLimit = qsizetype{64} * 1024;

}  // namespace

std::optional<QByteArray> requestBytes(const QString& text, QString* error) {
    if (text == u"ENQ") return QByteArray(1, '\x05');
    std::optional<QByteArray> bytes = unescape(text, error);
    if (bytes && bytes->isEmpty()) {
        if (error) *error = QStringLiteral("the request string is empty");
        return std::nullopt;
    }
    return bytes;
}

std::optional<Mode> parseMode(const QString& text) {
    if (text == u"continuous") return Mode::Continuous;
    if (text == u"print") return Mode::Print;
    if (text == u"poll") return Mode::Poll;
    return std::nullopt;
}

QString modeName(Mode mode) {
    switch (mode) {
        case Mode::Continuous:
            return QStringLiteral("continuous");
        case Mode::Print:
            return QStringLiteral("print");
        case Mode::Poll:
            return QStringLiteral("poll");
    }
    return {};
}

Simulator::Simulator(SimulatorConfig config, QObject* parent) : QObject(parent), m_config(std::move(config)) {
    connect(&m_frameTimer, &QTimer::timeout, this, &Simulator::onFrameTick);
    connect(&m_replayTimer, &QTimer::timeout, this, &Simulator::onReplayTick);
    m_replayTimer.setInterval(10);
}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(QString* error) {
    if (!m_pty.create(m_config.settings, error)) return false;
    if (!m_config.link.isEmpty() && !m_pty.setLink(m_config.link, error)) {
        m_pty.destroy();
        return false;
    }
    openNotifiers();
    m_clock.start();
    restartFrameTimer();
    if (!m_config.replay.isEmpty()) {
        m_replayClock.start();
        m_replayTimer.start();
    }
    return true;
}

void Simulator::stop() {
    m_frameTimer.stop();
    m_replayTimer.stop();
    closeNotifiers();
    m_outbox.clear();
    m_pty.destroy();
}

void Simulator::openNotifiers() {
    m_readNotifier = std::make_unique<QSocketNotifier>(m_pty.master(), QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &Simulator::onReadable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_pty.master(), QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &Simulator::flushOutbox);
}

void Simulator::closeNotifiers() {
    m_readNotifier.reset();
    m_writeNotifier.reset();
}

void Simulator::restartFrameTimer() {
    if (m_config.mode == Mode::Continuous && m_config.rate > 0 && m_pty.isOpen()) {
        m_frameTimer.start(std::max(1, static_cast<int>(std::lround(1000.0 / m_config.rate))));
    } else {
        m_frameTimer.stop();
    }
}

QByteArray Simulator::currentFrame() const {
    const WeightSample sample = m_config.programme.at(m_clock.isValid() ? m_clock.elapsed() / 1000.0 : 0.0);
    Reading r = m_config.reading;
    r.weight = sample.weight;
    r.stable = sample.stable;
    return makeFrame(m_config.format, r, m_config.userTemplate).value_or(QByteArray());
}

void Simulator::onFrameTick() {
    // A replay takes the place of the frames: the recording is the whole stream.
    if (m_paused || m_config.mode != Mode::Continuous || !m_config.replay.isEmpty()) return;
    if (m_outbox.size() > kOutboxLimit) return;
    send(currentFrame(), true);
}

void Simulator::onReplayTick() {
    if (m_paused || m_replayDone) return;
    const double rate = m_config.replayRate < 0 ? m_config.settings.baud / 10.0 : m_config.replayRate;
    qint64 due = rate == 0 ? m_replaySent + kOutboxLimit
                           : static_cast<qint64>(m_replayClock.elapsed() * rate / 1000.0);
    // A reader that stopped reading holds the replay back instead of losing its bytes.
    if (m_outbox.size() > kOutboxLimit) return;
    QByteArray chunk;
    while (m_replaySent < due) {
        const qint64 offset = m_replaySent % m_config.replay.size();
        if (!m_config.replayLoop && m_replaySent >= m_config.replay.size()) break;
        const qint64 n = std::min<qint64>(due - m_replaySent, m_config.replay.size() - offset);
        chunk.append(m_config.replay.mid(offset, n));
        m_replaySent += n;
    }
    if (!chunk.isEmpty()) send(chunk, false);
    if (!m_config.replayLoop && m_replaySent >= m_config.replay.size()) {
        m_replayDone = true;
        m_replayTimer.stop();
    }
}

void Simulator::send(const QByteArray& bytes, bool mayDropStale) {
    if (!m_pty.isOpen() || bytes.isEmpty()) return;
    QByteArray out = bytes;
    if (const std::optional<LineSettings> reader = m_pty.readerSettings())
        out = receivedAs(bytes, m_config.settings, *reader);
    if (mayDropStale) {
        const double twoSeconds = 2 * m_config.rate * static_cast<double>(bytes.size());
        if (m_pty.unreadBytes() > std::max<double>(kMinStaleBytes, twoSeconds)) m_pty.dropUnread();
    }
    m_outbox.append(out);
    ++m_framesSent;
    flushOutbox();
}

void Simulator::flushOutbox() {
    while (!m_outbox.isEmpty() && m_pty.isOpen()) {
        const ssize_t n = ::write(m_pty.master(), m_outbox.constData(), static_cast<size_t>(m_outbox.size()));
        if (n > 0) {
            m_outbox.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // full (EAGAIN): wait until the reader makes room
    }
    if (m_writeNotifier) m_writeNotifier->setEnabled(!m_outbox.isEmpty());
}

void Simulator::onReadable() {
    char buf[4096];
    const ssize_t n = ::read(m_pty.master(), buf, sizeof buf);
    if (n <= 0) {
        // With our own slave descriptor held the line never hangs up; should it anyway, stop
        // listening rather than spin on the error.
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) m_readNotifier->setEnabled(false);
        return;
    }
    if (m_config.reportHeard) {
        std::printf("heard %s\n", QByteArray(buf, static_cast<qsizetype>(n)).toHex().constData());
        std::fflush(stdout);
    }
    if (m_config.mode != Mode::Poll || m_paused) return;
    // A request sent at other settings reaches the indicator as its UART receives it.
    QByteArray heard(buf, static_cast<qsizetype>(n));
    if (const std::optional<LineSettings> reader = m_pty.readerSettings())
        heard = receivedAs(heard, *reader, m_config.settings);
    m_requestBuffer.append(heard);
    const QByteArray& req = m_config.request;
    qsizetype at;
    while ((at = m_requestBuffer.indexOf(req)) >= 0) {
        m_requestBuffer.remove(0, at + req.size());
        send(currentFrame(), false);
    }
    if (m_requestBuffer.size() >= req.size())
        m_requestBuffer.remove(0, m_requestBuffer.size() - req.size() + 1);
}

QString Simulator::describe() const {
    QString programme;
    for (const ProgrammeStep& s : m_config.programme.steps) {
        if (!programme.isEmpty()) programme += u',';
        programme += QStringLiteral("%1:%2").arg(s.weight).arg(s.seconds);
    }
    QString text =
        QStringLiteral("device %1%2, settings %3, format %4, mode %5")
            .arg(m_pty.isOpen() ? m_pty.slavePath() : QStringLiteral("(unplugged)"),
                 m_config.link.isEmpty() ? QString() : QStringLiteral(" (link %1)").arg(m_config.link),
                 m_config.settings.text(), m_config.format, modeName(m_config.mode));
    if (m_config.mode == Mode::Continuous) text += QStringLiteral(" at %1/s").arg(m_config.rate);
    if (m_config.mode == Mode::Poll) text += QStringLiteral(" on \"%1\"").arg(escape(m_config.request));
    text +=
        QStringLiteral(", programme %1%2").arg(programme, m_paused ? QStringLiteral(", paused") : QString());
    return text;
}

QString Simulator::command(const QString& line) {
    const QString trimmed = line.trimmed();
    const qsizetype space = trimmed.indexOf(u' ');
    const QString verb = trimmed.left(space < 0 ? trimmed.size() : space).toLower();
    const QString arg = space < 0 ? QString() : trimmed.mid(space + 1).trimmed();
    auto ok = [](const QString& what = {}) {
        return what.isEmpty() ? QStringLiteral("ok") : QStringLiteral("ok ") + what;
    };
    auto bad = [](const QString& why) { return QStringLiteral("error: ") + why; };
    auto number = [&](double* out) {
        bool good = false;
        *out = arg.toDouble(&good);
        return good;
    };
    QString why;
    double value = 0;

    if (verb.isEmpty()) return ok();
    if (verb == u"weight") {
        if (!number(&value)) return bad(QStringLiteral("weight needs a number"));
        m_config.programme = WeightProgramme::fixed(value);
        restartProgramme();
        return ok();
    }
    if (verb == u"truck") {
        double loaded = 24360;
        if (!arg.isEmpty() && !number(&loaded)) return bad(QStringLiteral("truck takes a loaded weight"));
        m_config.programme = WeightProgramme::truckCycle(loaded);
        restartProgramme();
        return ok();
    }
    if (verb == u"program" || verb == u"programme") {
        std::optional<WeightProgramme> p = WeightProgramme::parse(arg, &why);
        if (!p) return bad(why);
        p->noise = m_config.programme.noise;
        p->settle = m_config.programme.settle;
        p->loop = m_config.programme.loop;
        m_config.programme = *p;
        restartProgramme();
        return ok();
    }
    if (verb == u"noise" || verb == u"settle") {
        if (!number(&value) || value < 0) return bad(verb + QStringLiteral(" needs a number of 0 or more"));
        (verb == u"noise" ? m_config.programme.noise : m_config.programme.settle) = value;
        return ok();
    }
    if (verb == u"tare") {
        if (!number(&value)) return bad(QStringLiteral("tare needs a number"));
        m_config.reading.tare = value;
        return ok();
    }
    if (verb == u"print") {
        send(currentFrame(), false);
        return ok();
    }
    if (verb == u"format") {
        if (!findFormat(arg)) return bad(QStringLiteral("unknown format \"%1\"").arg(arg));
        if (arg == u"template" && m_config.userTemplate.isEmpty())
            return bad(QStringLiteral("set a template first"));
        m_config.format = arg;
        return ok();
    }
    if (verb == u"template") {
        const std::optional<QByteArray> t = unescape(arg, &why);
        if (!t) return bad(why);
        if (!expandTemplate(*t, m_config.reading, &why)) return bad(why);
        m_config.userTemplate = *t;
        m_config.format = QStringLiteral("template");
        return ok();
    }
    if (verb == u"settings") {
        const std::optional<LineSettings> s = LineSettings::parse(arg, &why);
        if (!s) return bad(why);
        m_config.settings = *s;
        return ok(s->text());
    }
    if (verb == u"mode") {
        const std::optional<Mode> m = parseMode(arg);
        if (!m) return bad(QStringLiteral("mode is continuous, print or poll"));
        m_config.mode = *m;
        m_requestBuffer.clear();
        restartFrameTimer();
        return ok();
    }
    if (verb == u"rate") {
        if (!number(&value) || value <= 0 || value > 1000)
            return bad(QStringLiteral("rate is frames per second, above 0 and up to 1000"));
        m_config.rate = value;
        restartFrameTimer();
        return ok();
    }
    if (verb == u"request") {
        const std::optional<QByteArray> r = requestBytes(arg, &why);
        if (!r) return bad(why);
        m_config.request = *r;
        m_requestBuffer.clear();
        return ok();
    }
    if (verb == u"send") {
        const std::optional<QByteArray> bytes = unescape(arg, &why);
        if (!bytes) return bad(why);
        send(*bytes, false);
        return ok();
    }
    if (verb == u"replay") {
        if (m_config.replay.isEmpty()) return bad(QStringLiteral("no recording (start with --replay FILE)"));
        m_replaySent = 0;
        m_replayDone = false;
        m_replayClock.restart();
        m_replayTimer.start();
        return ok();
    }
    if (verb == u"pause") {
        m_paused = true;
        return ok();
    }
    if (verb == u"resume") {
        m_paused = false;
        return ok();
    }
    if (verb == u"unplug") {
        if (!m_pty.isOpen()) return bad(QStringLiteral("already unplugged"));
        m_frameTimer.stop();
        closeNotifiers();
        m_outbox.clear();
        m_pty.destroy();
        return ok();
    }
    if (verb == u"replug") {
        if (m_pty.isOpen()) return bad(QStringLiteral("already plugged in"));
        if (!m_pty.create(m_config.settings, &why)) return bad(why);
        openNotifiers();
        restartFrameTimer();
        return ok(m_pty.slavePath());
    }
    if (verb == u"status") return ok(describe());
    if (verb == u"quit" || verb == u"exit") {
        Q_EMIT quitRequested();
        return ok();
    }
    if (verb == u"help")
        return ok(QStringLiteral(
            "commands: weight W, truck [W], program SPEC, noise A, settle S, tare W, print, format NAME, "
            "template TEXT, settings TEXT, mode continuous|print|poll, rate HZ, request TEXT, send TEXT, "
            "replay, pause, resume, unplug, replug, status, quit"));
    return bad(QStringLiteral("unknown command \"%1\" (try help)").arg(verb));
}

}  // namespace veltrane::sim
