#pragma once
// The indicator interface wizard: asks for the port, the indicator's capacity and a sample weight, then
// tries delimiters and serial settings until the decoder's last record holds the sample weight, and
// offers each such protocol to the operator. Runs on the user-interface thread; its waits let events
// run, so the decoder keeps receiving and the main window stays usable during the search.

#include "wizard/wizard_files.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace veltrane {

class WeighingCore;
struct DelimiterRow;

class ProtocolSearch {
public:
    // The main window keeps one for its whole life: the report entry below outlives a run.
    explicit ProtocolSearch(WeighingCore& core);
    ~ProtocolSearch();
    ProtocolSearch(const ProtocolSearch&) = delete;
    ProtocolSearch& operator=(const ProtocolSearch&) = delete;

    // The whole wizard: prompts, search, offers, storing, closing messages and files.
    void RunInterfaceWizard();

    // Listening times in milliseconds. Tests shorten them through the timer service, never here.
    static constexpr int kSettleMs = 800;
    static constexpr int kBeforeOpenMs = 500;
    static constexpr int kListenMs = 5000;
    static constexpr int kSecondBeforeOpenMs = 1500;
    static constexpr int kSecondListenMs = 6000;
    static constexpr int kBeforeOfferMs = 15000;

    // Main-window state that outlives a run (the report entry waits here when its write failed).
    QByteArray reportEntry;
    bool autosenseSuggested = false;
    bool lastNumberFinding = false;
    std::int16_t endPosition = 0;
    QString secondPhaseCaption;

private:
    struct Run;
    enum class Outcome { NextRow, Accepted };

    bool askAnswers(Run& run);
    void startSearch(Run& run);
    // True when an offer was accepted and the wizard has ended.
    bool firstPhase(Run& run);
    bool secondPhase(Run& run);
    void setDelimiter(Run& run, const DelimiterRow& row, int index);
    Outcome tryFirstPhaseRow(Run& run, const QString& settings, int row);
    Outcome trySecondPhaseRow(Run& run, const QString& settings, int row, bool& crossed);
    Outcome matchAndOffer(Run& run, const QString& settings);
    Outcome offerProtocol(Run& run, const QString& settings);
    void storeSettings(Run& run, const QString& settings);
    void endOfSearch(Run& run);

    void pump();
    void openPort();
    void closePortIfOpen();
    void showPortState();
    void appendCombinationLine(const Run& run, const QString& settings);
    void restoreWindow(const Run& run);
    QString supportAddress() const;

    WeighingCore& m_core;
    WizardFiles m_files;
    bool m_running = false;
};

}  // namespace veltrane
