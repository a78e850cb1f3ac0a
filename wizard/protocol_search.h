#pragma once
// The indicator interface wizard: asks for the port, the indicator's capacity and a sample weight, then
// tries delimiters and serial settings until the decoder's last record holds the sample weight, and
// offers each such protocol to the operator. Runs on the user-interface thread; its waits let events
// run, so the decoder keeps receiving and the main window stays usable during the search.

#include "wizard/wizard_files.h"

#include <QByteArray>
#include <QString>

namespace veltrane {

class MainView;
class PortControl;
class SearchTrials;
struct DelimiterRow;
struct Services;
struct Settings;

class ProtocolSearch {
public:
    // The main window keeps one for its whole life.
    ProtocolSearch(Services& services, Settings& settings, MainView& view, PortControl& port,
                   SearchTrials& trials);
    ~ProtocolSearch() = default;
    ProtocolSearch(const ProtocolSearch&) = delete;
    ProtocolSearch& operator=(const ProtocolSearch&) = delete;

    // The whole wizard: prompts, search, offers, storing, closing messages and files.
    void RunInterfaceWizard();
    bool running() const { return m_running; }
    // The quick search runs first, before the designed one, when on (the program turns it on).
    void setQuickSearch(bool on) { m_quickSearch = on; }
    // The program is ending: the search stops at its next wait, releases the port and stores, writes
    // and shows nothing more.
    void stop();

    // Listening times in milliseconds. Tests shorten them through the timer service, never here.
    static constexpr int kSettleMs = 800;
    static constexpr int kBeforeOpenMs = 500;
    static constexpr int kListenMs = 5000;
    static constexpr int kSecondBeforeOpenMs = 1500;
    static constexpr int kSecondListenMs = 6000;
    static constexpr int kBeforeOfferMs = 15000;

private:
    struct Run;
    enum class Outcome { NextRow, Accepted, Stopped };

    bool askAnswers(Run& run);
    Outcome quickSearch(Run& run);
    void resumeDesignedSearch(Run& run);
    void startSearch(Run& run);
    Outcome firstPhase(Run& run);
    Outcome secondPhase(Run& run);
    void setDelimiter(Run& run, const DelimiterRow& row, int index);
    Outcome tryFirstPhaseRow(Run& run, const QString& settings, int row);
    Outcome trySecondPhaseRow(Run& run, const QString& settings, int row, bool& crossed);
    Outcome matchAndOffer(Run& run, const QString& settings);
    Outcome offerProtocol(Run& run, const QString& settings);
    void writeFindings(Run& run, const QString& settings, const QByteArray& record);
    void storeSettings(Run& run, const QString& settings);
    bool writeConfigRow(const Run& run, const QString& settings);
    void endOfSearch(Run& run);
    void abandon(Run& run);

    // False when the search was stopped during the wait.
    bool wait(int ms);
    void pump();
    void openPort();
    void writeSearchLog(const Run& run);
    void appendCombinationLine(const Run& run, const QString& settings);
    void restoreWindow(const Run& run);
    QString supportAddress() const;

    Services& m_services;
    Settings& m_settings;
    MainView& m_view;
    PortControl& m_port;
    SearchTrials& m_trials;
    WizardFiles m_files;
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_quickSearch = false;
};

}  // namespace veltrane
