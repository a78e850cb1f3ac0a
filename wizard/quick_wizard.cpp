// The wizard's quick search: run before the designed search on the port the search holds, its find
// offered with the designed offer box, stored and reported as the designed search stores and reports.
#include "core/main_view.h"
#include "core/port_control.h"
#include "core/search_trials.h"
#include "platform/services.h"
#include "wizard/protocol_rules.h"
#include "wizard/protocol_search.h"
#include "wizard/quick_search.h"
#include "wizard/search_run.h"

#include <QElapsedTimer>

#include <functional>

namespace veltrane {
namespace {

constexpr int kQuickTimeoutMs = 30000;
// At the found setting the decoder needs a record or two before the offer.
constexpr int kRecordWaitMs = 5000;
constexpr int kRecordStepMs = 50;
// A polled indicator answers each request with one record: asked as often as the quick search asks.
constexpr int kRequestEveryMs = 120;

// The search's port, and what it hears read back from the search log, where the decoder puts every
// character as "-<code>" while searching.
class WizardLine final : public QuickLine {
public:
    // serial is written to only when the installer allowed asking (mayAsk).
    WizardLine(PortControl& port, SerialPort& serial, bool mayAsk, SearchTrials& trials, MainView& view,
               std::function<bool(int)> wait)
        : m_port(port),
          m_serial(serial),
          m_mayAsk(mayAsk),
          m_trials(trials),
          m_view(view),
          m_wait(std::move(wait)) {
        m_clock.start();
    }

    bool open(const QString& settings) override {
        m_port.closeForSearch();
        m_trials.startTrial();
        m_port.setSearchSettings(settings);
        m_trials.appendToSearchLog(QStringLiteral("\r\n(quick %1)").arg(settings).toLatin1());
        m_offset = m_trials.searchLog().size();
        const bool opened = m_port.openForSearch();
        m_port.showSearchState();
        return opened;
    }
    void close() override { m_port.closeForSearch(); }
    QString error() const override { return m_port.lastError(); }
    QByteArray take() override {
        const QByteArray log = m_trials.searchLog();
        if (m_offset > log.size()) m_offset = log.size();
        QByteArray out;
        int code = -1;
        for (qsizetype i = m_offset; i < log.size(); ++i) {
            const char c = log[i];
            if (c >= '0' && c <= '9') {
                code = (code < 0 ? 0 : code * 10) + (c - '0');
                continue;
            }
            if (code >= 0) out.append(static_cast<char>(code));
            code = -1;
        }
        // A code at the very end may still be growing: it is read with the next call.
        qsizetype end = log.size();
        if (code >= 0)
            while (end > m_offset && log[end - 1] != '-') --end;
        m_offset = end;
        return out;
    }
    // Without the installer's leave nothing is sent, as the designed search sends nothing.
    void write(const QByteArray& bytes) override {
        if (m_mayAsk) m_serial.write(bytes);
    }
    bool wait(int ms) override { return m_wait(ms); }
    // The line's own time: what arrives in a listening bound depends on it, not on the wizard's pacing.
    qint64 elapsedMs() const override { return m_clock.elapsed(); }
    void trying(const QString& what) override {
        m_view.setCaption(QStringLiteral("Delvorn : Quick search : %1").arg(what));
    }

private:
    PortControl& m_port;
    SerialPort& m_serial;
    bool m_mayAsk;
    SearchTrials& m_trials;
    MainView& m_view;
    std::function<bool(int)> m_wait;
    qsizetype m_offset = 0;
    QElapsedTimer m_clock;
};

}  // namespace

ProtocolSearch::Outcome ProtocolSearch::quickSearch(Run& run) {
    WizardLine line(m_port, m_services.port, run.probe, m_trials, m_view,
                    [this](int ms) { return wait(ms); });
    const QuickResult result = runQuickSearch(line, run.weight, run.probe, kQuickTimeoutMs);
    if (m_stopRequested) return Outcome::Stopped;
    // A port that would not open is the designed search's to report, with its own messages.
    if (!result.found) return Outcome::NextRow;

    const auto& delimiters = firstPhaseDelimiters();
    for (std::size_t d = 0; d < delimiters.size(); ++d)
        if (delimiters[d].code == result.finding.delimiterCode && !delimiters[d].autosense)
            setDelimiter(run, delimiters[d], static_cast<int>(d) + 1);
    // The decoder now hears the found setting with the found delimiter, as after a designed trial.
    m_port.closeForSearch();
    m_trials.startTrial();
    m_trials.clearWeight();
    m_port.setSearchSettings(result.settings);
    openPort();
    m_port.showSearchState();
    line.trying(QStringLiteral("Found %1").arg(result.settings));
    QElapsedTimer waited;
    waited.start();
    qint64 asked = -kRequestEveryMs;
    while (!matchRecord(m_trials.lastRecord(), run.weight) && waited.elapsed() < kRecordWaitMs) {
        if (!result.request.isEmpty() && waited.elapsed() - asked >= kRequestEveryMs) {
            line.write(result.request);
            asked = waited.elapsed();
        }
        if (!wait(kRecordStepMs)) return Outcome::Stopped;
    }
    run.protocolNumber = 1;
    run.request = result.request;
    run.quickSeconds = static_cast<double>(line.elapsedMs()) / 1000.0;
    return matchAndOffer(run, result.settings);
}

void ProtocolSearch::resumeDesignedSearch(Run& run) {
    // The designed search starts as if the quick one had never run.
    m_port.closeForSearch();
    m_trials.setSearching(true);
    m_trials.startTrial();
    m_trials.clearWeight();
    run.protocolNumber = 0;
    run.baudCeiling = 38400;
    run.found = false;
    run.quickSeconds = -1;
    run.request.clear();
    run.reportEntry.clear();
    m_settings.reverseweight = false;
    m_settings.weightstart = 1;
    m_settings.weightLength = 200;
    m_services.prompts.setPointer(Pointer::Wait);
}

}  // namespace veltrane
