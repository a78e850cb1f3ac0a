#pragma once
// One simulated indicator on a pseudo-terminal: it sends frames of its format continuously, on a print
// command or when polled, garbles them when the reader's line settings differ from its own, and obeys
// text commands (from standard input or the control socket).

#include "tools/indicator-sim/frame_format.h"
#include "tools/indicator-sim/line_settings.h"
#include "tools/indicator-sim/pty_device.h"
#include "tools/indicator-sim/weight_programme.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

class QSocketNotifier;

namespace veltrane::sim {

enum class Mode { Continuous, Print, Poll };

struct SimulatorConfig {
    LineSettings settings;
    QString format = QStringLiteral("st-gs");
    QByteArray userTemplate;
    Mode mode = Mode::Continuous;
    double rate = 5;  // frames per second in continuous mode
    QByteArray request = QByteArray(1, '\x05');
    WeightProgramme programme = WeightProgramme::fixed(0);
    Reading reading;  // tare, decimals and unit; the weight comes from the programme
    QString link;
    QByteArray replay;
    double replayRate = -1;  // bytes per second; 0 as fast as the reader takes them; -1 the line's speed
    bool replayLoop = false;
    // Every read from the line as "heard <hex>" on standard output: what a program sent, byte for byte.
    bool reportHeard = false;
};

// "ENQ" alone is the byte 5, as indicators' manuals write it; anything else is escaped text.
std::optional<QByteArray> requestBytes(const QString& text, QString* error);
std::optional<Mode> parseMode(const QString& text);
QString modeName(Mode mode);

class Simulator : public QObject {
    Q_OBJECT
public:
    explicit Simulator(SimulatorConfig config, QObject* parent = nullptr);
    ~Simulator() override;

    bool start(QString* error);
    void stop();
    QString slavePath() const { return m_pty.slavePath(); }
    QString describe() const;

    // One control command; the answer starts with "ok" or "error:".
    QString command(const QString& line);

    // The frame the indicator would send now (before any garbling).
    QByteArray currentFrame() const;

Q_SIGNALS:
    void quitRequested();

private:
    void openNotifiers();
    void closeNotifiers();
    void onFrameTick();
    void onReplayTick();
    void onReadable();
    void flushOutbox();
    void send(const QByteArray& bytes, bool mayDropStale);
    void restartFrameTimer();
    void restartProgramme() { m_clock.restart(); }

    SimulatorConfig m_config;
    PtyDevice m_pty;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QTimer m_frameTimer;
    QTimer m_replayTimer;
    QElapsedTimer m_clock;
    QElapsedTimer m_replayClock;
    qint64 m_replaySent = 0;
    bool m_replayDone = false;
    QByteArray m_outbox;
    QByteArray m_requestBuffer;
    bool m_paused = false;
    qint64 m_framesSent = 0;
};

}  // namespace veltrane::sim
