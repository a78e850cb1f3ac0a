#include "wizard/protocol_search.h"

#include "config/event_log.h"
#include "config/numbers.h"
#include "config/weight_chain.h"
#include "core/main_view.h"
#include "core/port_control.h"
#include "core/search_trials.h"
#include "platform/database.h"
#include "platform/services.h"
#include "wizard/protocol_rules.h"
#include "wizard/quick_store.h"
#include "wizard/search_run.h"
#include "wizard/stream_analysis.h"

#include <QScopeGuard>

#include <exception>
#include <functional>

namespace veltrane {
namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString text(const QByteArray& bytes) {
    return QString::fromLatin1(bytes);
}

}  // namespace

ProtocolSearch::ProtocolSearch(Services& services, Settings& settings, MainView& view, PortControl& port,
                               SearchTrials& trials)
    : m_services(services),
      m_settings(settings),
      m_view(view),
      m_port(port),
      m_trials(trials),
      m_files(services) {}

void ProtocolSearch::stop() {
    if (m_running) m_stopRequested = true;
}

void ProtocolSearch::RunInterfaceWizard() {
    Prompts& prompts = m_services.prompts;
    // A start from inside a running wizard (its waits and boxes let the window's buttons work) is refused
    // too: the two runs would share the one delay timer, and the outer wait would never see its tick.
    if (m_trials.searching() || m_running) {
        prompts.beep();
        return;
    }
    m_running = true;
    m_stopRequested = false;
    const auto done = qScopeGuard([this] { m_running = false; });
    Run run;
    m_settings.reverseweight = false;
    run.baudCeiling = 38400;
    m_settings.weightstart = 1;
    m_settings.weightLength = 200;
    if (!prompts.askYesNo(QStringLiteral(
            "Make sure that the indicator is transmitting continuous data to the computer. Delvorn will try "
            "to "
            "connect to indicator. No configuration changes would be made without asking you. Maximum time "
            "required to check 360 indicator protocol combinations would be 3 to 20 minutes. Proceed?"))) {
        return;
    }
    // No weighment may be saved on its own while settings are being tried, nor after, until the next load.
    m_settings.AutosaveonStableWeight = false;
    if (!askAnswers(run)) return;
    prompts.message(
        QStringLiteral("Delvorn will now attempt to connect to the indicator. It would take around 5 to "
                       "30 minutes depending on the indicator.") +
        kCrLf + QStringLiteral("Make sure that weight ") + run.sampleWeight +
        QStringLiteral(" does not change during this time."));
    // Asking sends bytes to the indicator: only with the installer's leave, and only read-only requests.
    if (m_quickSearch)
        run.probe = prompts.askYesNo(QStringLiteral(
            "Is this a polled indicator, one that sends the weight only when asked? If you answer Yes, "
            "Delvorn will ask it for the weight with read-only requests (never zero, tare or print)."));
    startSearch(run);
    if (m_quickSearch) {
        const Outcome quick = quickSearch(run);
        if (quick == Outcome::Accepted) return;
        if (quick == Outcome::Stopped || m_stopRequested) {
            abandon(run);
            return;
        }
        resumeDesignedSearch(run);
    }
    Outcome outcome = firstPhase(run);
    if (outcome == Outcome::NextRow) outcome = secondPhase(run);
    if (outcome == Outcome::Stopped || m_stopRequested) {
        abandon(run);
    } else if (outcome == Outcome::NextRow) {
        endOfSearch(run);
    }
}

bool ProtocolSearch::askAnswers(Run& run) {
    Prompts& prompts = m_services.prompts;
    auto refuse = [&prompts](const QString& message) {
        prompts.beep();
        prompts.message(message);
        return false;
    };

    run.portText = prompts
                       .input(QStringLiteral("Enter com port (serial port) number of your computer which is "
                                             "connected to the indicator:"),
                              QStringLiteral("COM Port"), QStringLiteral("1"))
                       .trimmed();
    if (const auto refused = checkPortAnswer(run.portText)) return refuse(*refused);

    const QString capacityText =
        prompts
            .input(
                QStringLiteral("Enter the maximum capacity of this indicator: (maximum indicator reading)"),
                QStringLiteral("Max capacity"), QStringLiteral("60000"))
            .trimmed();
    const auto capacity = capacityOf(capacityText);
    if (!capacity) return refuse(QString::fromLatin1(kCapacityInvalid));

    run.sampleWeight =
        prompts
            .input(QStringLiteral("Keep a steady weight of ") + capacity->minimumWeight +
                       QStringLiteral(" or above on the weighbridge ") + capacity->description +
                       QStringLiteral(". What weight is indicator showing on its display ?"),
                   QStringLiteral("Sample weight"), QString())
            .trimmed();
    if (const auto refused = checkSampleWeight(run.sampleWeight)) return refuse(*refused);
    run.weight = run.sampleWeight.toLatin1();
    return true;
}

void ProtocolSearch::startSearch(Run& run) {
    run.savedCaption = m_view.caption();
    m_port.beginSearch(static_cast<int>(leadingNumberValue(run.portText)));
    m_trials.clearWeight();
    m_trials.setSearching(true);
    m_services.prompts.setPointer(Pointer::Wait);
}

void ProtocolSearch::setDelimiter(Run& run, const DelimiterRow& row, int index) {
    m_settings.simpinterface = row.autosense;
    m_settings.delimiterCode = row.code;
    run.delimiterName = QString::fromLatin1(row.name);
    run.delimiterIndex = index;
}

ProtocolSearch::Outcome ProtocolSearch::firstPhase(Run& run) {
    const auto& delimiters = firstPhaseDelimiters();
    const auto& rows = firstPhaseSettings();
    for (std::size_t d = 0; d < delimiters.size(); ++d) {
        pump();
        setDelimiter(run, delimiters[d], static_cast<int>(d) + 1);
        pump();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Outcome outcome = tryFirstPhaseRow(run, rows[i], static_cast<int>(i) + 1);
            if (outcome != Outcome::NextRow) return outcome;
        }
    }
    return Outcome::NextRow;
}

ProtocolSearch::Outcome ProtocolSearch::tryFirstPhaseRow(Run& run, const QString& s, int row) {
    pump();
    run.reportEntry.clear();
    // Characters still queued from the settings before belong to no trial: the port is closed first.
    m_port.closeForSearch();
    pump();
    m_trials.startTrial();
    pump();
    m_trials.clearWeight();
    pump();

    if (!wait(kSettleMs)) return Outcome::Stopped;
    m_port.showSearchState();
    m_port.setSearchSettings(s);
    ++run.protocolNumber;
    m_view.setCaption(
        QStringLiteral("Marlume : Autosense : Trying %1 (%2.%3 of 360 protocols - Delimit: %4 : "
                       "%5) till %6")
            .arg(s)
            .arg(run.protocolNumber)
            .arg(row)
            .arg(run.delimiterIndex)
            .arg(m_settings.delimiterCode)
            .arg(run.baudCeiling));
    if (!wait(kBeforeOpenMs)) return Outcome::Stopped;
    if (!m_port.isOpen()) openPort();
    m_port.showSearchState();
    if (!wait(kListenMs)) return Outcome::Stopped;

    if (m_trials.searching()) appendCombinationLine(run, s);
    pump();
    if (m_trials.lastRecord().isEmpty()) return Outcome::NextRow;
    return matchAndOffer(run, s);
}

ProtocolSearch::Outcome ProtocolSearch::secondPhase(Run& run) {
    run.phase = 2;
    m_trials.forgetLastRecord();
    pump();
    m_services.prompts.setPointer(Pointer::Wait);
    const auto& delimiters = secondPhaseDelimiters();
    const auto& rows = secondPhaseSettings();
    for (std::size_t d = 0; d < delimiters.size(); ++d) {
        setDelimiter(run, delimiters[d], static_cast<int>(d) + 1);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            bool crossed = false;
            const Outcome outcome = trySecondPhaseRow(run, rows[i], static_cast<int>(i) + 1, crossed);
            if (outcome != Outcome::NextRow) return outcome;
            if (crossed) break;
        }
    }
    return Outcome::NextRow;
}

ProtocolSearch::Outcome ProtocolSearch::trySecondPhaseRow(Run& run, const QString& s, int row,
                                                          bool& crossed) {
    m_trials.startTrial();
    run.reportEntry.clear();

    if (BaudOf(s) > run.baudCeiling) {
        m_view.setCaption(QStringLiteral("Delvorn : Crossed %1. Skpping to next! ").arg(run.baudCeiling));
        crossed = true;
        return Outcome::NextRow;
    }

    m_trials.forgetLastRecord();
    m_port.closeForSearch();
    m_trials.clearWeight();
    m_port.setSearchSettings(s);
    ++run.protocolNumber;
    if (m_trials.searching()) appendCombinationLine(run, s);
    run.secondPhaseCaption =
        QStringLiteral("Delvorn : Trying %1 (%2.%3 of 360 protocols - Delimit: %4 : %5) till %6")
            .arg(s)
            .arg(run.protocolNumber)
            .arg(row)
            .arg(run.delimiterIndex)
            .arg(m_settings.delimiterCode)
            .arg(run.baudCeiling);
    m_view.setCaption(run.secondPhaseCaption);

    m_trials.forgetLastRecord();
    m_port.showSearchState();
    if (!wait(kSecondBeforeOpenMs)) return Outcome::Stopped;
    if (!m_port.isOpen()) openPort();
    if (!wait(kSecondListenMs)) return Outcome::Stopped;
    m_port.showSearchState();

    const QByteArray record = m_trials.lastRecord();
    if (record.isEmpty()) return Outcome::NextRow;
    m_view.setCaption(run.secondPhaseCaption + QLatin1Char(' ') + text(record));
    return matchAndOffer(run, s);
}

ProtocolSearch::Outcome ProtocolSearch::matchAndOffer(Run& run, const QString& s) {
    const auto match = matchRecord(m_trials.lastRecord(), run.weight);
    if (!match) return Outcome::NextRow;
    run.found = true;
    m_settings.weightstart = static_cast<std::int16_t>(match->start);
    m_settings.reverseweight = match->reversed;
    run.endPosition = static_cast<std::int16_t>(match->start + run.weight.size() - 1);
    m_settings.weightLength = static_cast<std::int16_t>(run.weight.size());
    return offerProtocol(run, s);
}

void ProtocolSearch::writeFindings(Run& run, const QString& s, const QByteArray& record) {
    run.reportEntry = reportEntryHead({run.protocolNumber, m_settings.weightstart, run.endPosition,
                                       run.delimiterName, s, record, run.weight});
    const NumberFindings findings = AnalyseNumbers(record, run.weight);
    if (findings.oneNumber) {
        run.reportEntry += "\r\n" + QByteArray(kOneNumberLine);
        m_settings.simpinterface = true;
    } else if (findings.lastNumber) {
        run.reportEntry += "\r\n" + QByteArray(kLastNumberLine);
    }
    if (m_settings.reverseweight) run.reportEntry += "\r\n" + QByteArray(kReverseLine) + "\n";
    if (run.quickSeconds >= 0)
        run.reportEntry +=
            "\r\nFound by the quick search in " + QByteArray::number(run.quickSeconds, 'f', 1) + " seconds.";
    if (!run.request.isEmpty())
        run.reportEntry += "\r\nThe indicator answered the request \"" +
                           escapedBytes(run.request).toLatin1() + "\", stored as its throw string.";
    run.reportEntry += SettingsComments(s).toLatin1() + reportEntryTail(m_services.clock.now());
    if (m_files.WriteWizardReport(run.reportEntry, run.sampleWeight)) run.reportEntry.clear();
    writeSearchLog(run);
}

ProtocolSearch::Outcome ProtocolSearch::offerProtocol(Run& run, const QString& s) {
    // The record may change during the waits below; the report describes the one that matched.
    const QByteArray record = m_trials.lastRecord();

    m_trials.setSearching(false);
    writeFindings(run, s, record);

    // The port stays open with s meanwhile, so the window shows the weight decoded with these m_settings.
    if (!wait(kBeforeOfferMs)) return Outcome::Stopped;

    const QString offer =
        m_settings.simpinterface
            ? QStringLiteral("(Autosense on)")
            : QStringLiteral(
                  "(Autosense off, Serial port configuration: %1 Start Position: %2 - %3 Delimiter: %4)")
                  .arg(s)
                  .arg(m_settings.weightstart)
                  .arg(run.endPosition)
                  .arg(run.delimiterIndex);
    const bool accepted = m_services.prompts.askYesNo(
        QStringLiteral("Identified the protocol as %1").arg(run.protocolNumber) + offer +
        QStringLiteral(
            ". . Do you want Delvorn to configure these settings ? (You can skip this and continue with "
            "next protocol by clicking on 'NO' if the indicator display on PC is flickering)"));
    if (!accepted) {
        run.baudCeiling = NextBaudCeiling(s);
        m_settings.weightstart = 1;
        m_settings.weightLength = 200;
        return Outcome::NextRow;
    }
    storeSettings(run, s);
    return Outcome::Accepted;
}

void ProtocolSearch::storeSettings(Run& run, const QString& s) {
    // The search is over with this answer, whatever the write gives.
    m_port.endSearch();
    if (!writeConfigRow(run, s)) {
        restoreWindow(run);
        return;
    }
    const SettingsFields fields = splitSettings(s);
    m_services.prompts.message(
        QStringLiteral("Updated the settings. Baud: %1  Parity: %2  Data bits: %3  Stop bits: %4")
            .arg(fields.baud)
            .arg(fields.parity.trimmed())
            .arg(fields.dataBits)
            .arg(fields.stopBits));
    restoreWindow(run);
    m_services.prompts.message(
        QStringLiteral(
            "Updated the settings. Wizard will open the log file and the report files now. You can use "
            "report file to view possible configurations for indicator interface settings. You may mail "
            "the log file to ") +
        supportAddress());
    m_files.OpenWizardFiles();
}

bool ProtocolSearch::writeConfigRow(const Run& run, const QString& s) {
    Prompts& prompts = m_services.prompts;
    const SettingsFields fields = splitSettings(s);
    auto attempt = [&prompts](const std::function<void()>& step) {
        try {
            step();
            return true;
        } catch (const DbError& e) {
            prompts.message(e.description());
        } catch (const std::exception& e) {
            prompts.message(QString::fromUtf8(e.what()));
        }
        return false;
    };

    std::unique_ptr<Database> db;
    std::unique_ptr<RecordSet> config;
    int rows = 0;
    // Without the record nothing can be stored: never go on to say the settings were updated.
    const bool opened = attempt([&] {
        db = Database::open(m_services.appFolder + QLatin1String(kSettingsDatabaseName),
                            QLatin1String(kSettingsDatabaseConnect));
        config = db->openRecordSet(QStringLiteral("select * from config "));
        rows = config->recordCount();
    });
    if (!opened) return false;
    if (rows == 0) {
        prompts.beep();
        prompts.message(QStringLiteral("Could not find the confguration record !"));
        return false;
    }
    QVariantMap before;
    if (!attempt([&] {
            ensureChainTables(*db);
            config->moveFirst();
            before = rowValues(*config);
            config->edit();
        }))
        return false;
    // Yes/no columns hold -1 and 0.
    auto set = [&](const char* column, const QVariant& value) {
        attempt([&] { config->setField(QString::fromLatin1(column), value); });
    };
    const auto yesNo = [](bool on) { return QVariant(on ? -1 : 0); };
    if (m_settings.simpinterface) {
        set("simpinterface", yesNo(true));
        set("usevalue", yesNo(false));
    } else {
        set("usevalue", yesNo(true));
        set("simpinterface", yesNo(false));
        set("delimiter", delimiterNameOf(m_settings.delimiterCode));
        set("weightstart", static_cast<int>(m_settings.weightstart));
        set("weightend", static_cast<int>(run.endPosition));
    }
    set("reverseweight", yesNo(m_settings.reverseweight));
    set("port", static_cast<int>(leadingNumberValue(run.portText)));
    set("baud", fields.baud);
    set("databits", static_cast<int>(fields.dataBits));
    set("stopbits", static_cast<int>(fields.stopBits));
    set("parity", fields.parity.trimmed());
    if (!run.request.isEmpty()) {
        const ThrowRequest t = throwRequestOf(run.request);
        set("throwstring", yesNo(true));
        set("outstring", t.outstring);
        set("addcr", yesNo(t.addCr));
    }
    // A row that was not written must not be reported as updated. The row and the event recording
    // its change are written together.
    return attempt([&] {
        inTransaction(*db, [&] {
            config->update();
            QJsonObject change =
                settingsChange(QStringLiteral("config"), before,
                               rowValues(*db->openRecordSet(QStringLiteral("select * from config"))));
            if (change.isEmpty()) return;
            change.insert(QStringLiteral("by"), QStringLiteral("wizard"));
            appendEvent(*db, generalDate(m_services.clock.now()), QLatin1String(eventkind::kSettings),
                        change);
        });
    });
}

void ProtocolSearch::endOfSearch(Run& run) {
    Prompts& prompts = m_services.prompts;
    prompts.beep();
    writeSearchLog(run);
    if (run.found) {
        prompts.message(
            QStringLiteral(
                "Was able to identify the indicator protocol. Please check the report and configure the "
                "interface if you have not already done that. You may run the wizard once again to check "
                "further. You may mail the log files to ") +
            supportAddress());
    } else {
        prompts.message(
            QStringLiteral(
                "Could not identify the connection!! You may run the wizard once again to check further. "
                "Marlume will open the log file now. Please mail the log file to ") +
            supportAddress());
    }
    m_files.OpenWizardFiles();
    m_view.setCaption(run.savedCaption);
    m_trials.setSearching(false);
    m_port.endSearch();
    prompts.setPointer(Pointer::Custom);
}

void ProtocolSearch::abandon(Run& run) {
    m_port.closeForSearch();
    m_port.endSearch();
    m_trials.setSearching(false);
    restoreWindow(run);
}

bool ProtocolSearch::wait(int ms) {
    m_trials.wait(ms, [this] { return m_stopRequested; });
    return !m_stopRequested;
}

void ProtocolSearch::pump() {
    m_services.events.processEvents();
}

void ProtocolSearch::openPort() {
    if (!m_port.openForSearch()) m_services.prompts.message(m_port.lastError());
}

void ProtocolSearch::writeSearchLog(const Run& run) {
    if (m_files.WriteWizardLog(m_trials.searchLog(), run.sampleWeight)) m_trials.clearSearchLog();
}

void ProtocolSearch::appendCombinationLine(const Run& run, const QString& s) {
    m_trials.appendToSearchLog(
        QStringLiteral("\r\n(%1-%2-%3)").arg(run.protocolNumber).arg(s, run.delimiterName).toLatin1());
}

void ProtocolSearch::restoreWindow(const Run& run) {
    m_view.setCaption(run.savedCaption);
    m_services.prompts.setPointer(Pointer::Custom);
}

QString ProtocolSearch::supportAddress() const {
    return QStringLiteral(VELTRANE_SUPPORT_EMAIL);
}

}  // namespace veltrane
