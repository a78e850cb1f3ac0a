#include "wizard/protocol_search.h"

#include "config/numbers.h"
#include "core/decoder.h"
#include "core/weighing_core.h"
#include "platform/database.h"
#include "wizard/protocol_rules.h"

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

struct ProtocolSearch::Run {
    QString portText;
    QString sampleWeight;
    QByteArray weight;  // the sample weight as the indicator would send it
    int phase = 1;
    int delimiterIndex = 0;
    QString delimiterName;
    std::int16_t protocolNumber = 0;
    std::int32_t baudCeiling = 38400;
    bool found = false;
    QString savedCaption;
};

ProtocolSearch::ProtocolSearch(WeighingCore& core) : m_core(core), m_files(core.services()) {}

ProtocolSearch::~ProtocolSearch() = default;

void ProtocolSearch::RunInterfaceWizard() {
    Prompts& prompts = m_core.services().prompts;
    Settings& settings = m_core.settings();
    // A start from inside a running wizard (its waits and boxes let the window's buttons work) is refused
    // too: the two runs would share the one delay timer, and the outer wait would never see its tick.
    if (m_core.decoder().searchRunning || m_running) {
        prompts.beep();
        return;
    }
    m_running = true;
    const auto done = qScopeGuard([this] { m_running = false; });
    Run run;
    settings.reverseweight = false;
    run.baudCeiling = 38400;
    settings.weightstart = 1;
    settings.weightLength = 200;
    if (!prompts.askYesNo(QStringLiteral(
            "Make sure that the indicator is transmitting continuous data to the computer. Delvorn will try "
            "to "
            "connect to indicator. No configuration changes would be made without asking you. Maximum time "
            "required to check 360 indicator protocol combinations would be 3 to 20 minutes. Proceed?"))) {
        return;
    }
    // No weighment may be saved on its own while settings are being tried, nor after, until the next load.
    settings.AutosaveonStableWeight = false;
    if (!askAnswers(run)) return;
    prompts.message(
        QStringLiteral("Delvorn will now attempt to connect to the indicator. It would take around 5 to "
                       "30 minutes depending on the indicator.") +
        kCrLf + QStringLiteral("Make sure that weight ") + run.sampleWeight +
        QStringLiteral(" does not change during this time."));
    startSearch(run);
    if (firstPhase(run)) return;
    if (secondPhase(run)) return;
    endOfSearch(run);
}

bool ProtocolSearch::askAnswers(Run& run) {
    Prompts& prompts = m_core.services().prompts;
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
    Services& services = m_core.services();
    run.savedCaption = m_core.view().caption();
    closePortIfOpen();
    services.port.setPortNumber(static_cast<int>(leadingNumberValue(run.portText)));
    m_core.setWeightData(QString());
    m_core.decoder().searchRunning = true;
    services.prompts.setPointer(Pointer::Wait);
}

void ProtocolSearch::setDelimiter(Run& run, const DelimiterRow& row, int index) {
    Settings& settings = m_core.settings();
    settings.simpinterface = row.autosense;
    settings.delimiterCode = row.code;
    run.delimiterName = QString::fromLatin1(row.name);
    run.delimiterIndex = index;
}

bool ProtocolSearch::firstPhase(Run& run) {
    const auto& delimiters = firstPhaseDelimiters();
    const auto& rows = firstPhaseSettings();
    for (std::size_t d = 0; d < delimiters.size(); ++d) {
        pump();
        setDelimiter(run, delimiters[d], static_cast<int>(d) + 1);
        pump();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (tryFirstPhaseRow(run, rows[i], static_cast<int>(i) + 1) == Outcome::Accepted) return true;
        }
    }
    return false;
}

ProtocolSearch::Outcome ProtocolSearch::tryFirstPhaseRow(Run& run, const QString& s, int row) {
    Settings& settings = m_core.settings();
    Services& services = m_core.services();
    pump();
    m_core.decoder().lastRecord.clear();
    reportEntry.clear();
    autosenseSuggested = false;

    closePortIfOpen();
    pump();
    m_core.decoder().receiveBuffer.clear();
    pump();
    m_core.decoder().lastRecord.clear();
    pump();
    m_core.setWeightData(QString());
    pump();

    m_core.wait(kSettleMs);
    showPortState();
    services.port.setSettingsText(s);
    ++run.protocolNumber;
    m_core.view().setCaption(
        QStringLiteral("Marlume : Autosense : Trying %1 (%2.%3 of 360 protocols - Delimit: %4 : "
                       "%5) till %6")
            .arg(s)
            .arg(run.protocolNumber)
            .arg(row)
            .arg(run.delimiterIndex)
            .arg(settings.delimiterCode)
            .arg(run.baudCeiling));
    m_core.wait(kBeforeOpenMs);
    if (!services.port.isOpen()) openPort();
    showPortState();
    m_core.wait(kListenMs);

    if (m_core.decoder().searchRunning) appendCombinationLine(run, s);
    pump();
    if (m_core.decoder().lastRecord.isEmpty()) return Outcome::NextRow;
    return matchAndOffer(run, s);
}

bool ProtocolSearch::secondPhase(Run& run) {
    run.phase = 2;
    m_core.decoder().lastRecord.clear();
    pump();
    m_core.services().prompts.setPointer(Pointer::Wait);
    const auto& delimiters = secondPhaseDelimiters();
    const auto& rows = secondPhaseSettings();
    for (std::size_t d = 0; d < delimiters.size(); ++d) {
        setDelimiter(run, delimiters[d], static_cast<int>(d) + 1);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            bool crossed = false;
            if (trySecondPhaseRow(run, rows[i], static_cast<int>(i) + 1, crossed) == Outcome::Accepted)
                return true;
            if (crossed) break;
        }
    }
    return false;
}

ProtocolSearch::Outcome ProtocolSearch::trySecondPhaseRow(Run& run, const QString& s, int row,
                                                          bool& crossed) {
    Settings& settings = m_core.settings();
    Services& services = m_core.services();
    m_core.decoder().lastRecord.clear();
    reportEntry.clear();
    m_core.decoder().receiveBuffer.clear();
    autosenseSuggested = false;

    if (BaudOf(s) > run.baudCeiling) {
        m_core.view().setCaption(
            QStringLiteral("Delvorn : Crossed %1. Skpping to next! ").arg(run.baudCeiling));
        crossed = true;
        return Outcome::NextRow;
    }

    m_core.decoder().lastRecord.clear();
    closePortIfOpen();
    m_core.setWeightData(QString());
    services.port.setSettingsText(s);
    ++run.protocolNumber;
    if (m_core.decoder().searchRunning) appendCombinationLine(run, s);
    secondPhaseCaption =
        QStringLiteral("Delvorn : Trying %1 (%2.%3 of 360 protocols - Delimit: %4 : %5) till %6")
            .arg(s)
            .arg(run.protocolNumber)
            .arg(row)
            .arg(run.delimiterIndex)
            .arg(settings.delimiterCode)
            .arg(run.baudCeiling);
    m_core.view().setCaption(secondPhaseCaption);

    m_core.decoder().lastRecord.clear();
    showPortState();
    m_core.wait(kSecondBeforeOpenMs);
    if (!services.port.isOpen()) openPort();
    m_core.wait(kSecondListenMs);
    showPortState();

    if (m_core.decoder().lastRecord.isEmpty()) return Outcome::NextRow;
    m_core.view().setCaption(secondPhaseCaption + QLatin1Char(' ') + text(m_core.decoder().lastRecord));
    return matchAndOffer(run, s);
}

ProtocolSearch::Outcome ProtocolSearch::matchAndOffer(Run& run, const QString& s) {
    Settings& settings = m_core.settings();
    const auto match = matchRecord(m_core.decoder().lastRecord, run.weight);
    if (!match) return Outcome::NextRow;
    run.found = true;
    settings.weightstart = static_cast<std::int16_t>(match->start);
    settings.reverseweight = match->reversed;
    endPosition = static_cast<std::int16_t>(match->start + run.weight.size() - 1);
    settings.weightLength = static_cast<std::int16_t>(run.weight.size());
    return offerProtocol(run, s);
}

ProtocolSearch::Outcome ProtocolSearch::offerProtocol(Run& run, const QString& s) {
    Settings& settings = m_core.settings();
    Services& services = m_core.services();
    // The record may change during the waits below; the report describes the one that matched.
    const QByteArray record = m_core.decoder().lastRecord;

    m_core.decoder().searchRunning = false;
    reportEntry = reportEntryHead(
        {run.protocolNumber, settings.weightstart, endPosition, run.delimiterName, s, record, run.weight});
    lastNumberFinding = false;
    autosenseSuggested = false;
    const NumberFindings findings = AnalyseNumbers(record, run.weight);
    lastNumberFinding = findings.lastNumber;
    if (findings.oneNumber) {
        autosenseSuggested = true;
        reportEntry += "\r\n" + QByteArray(kOneNumberLine);
        settings.simpinterface = true;
    } else if (findings.lastNumber) {
        reportEntry += "\r\n" + QByteArray(kLastNumberLine);
    }
    if (settings.reverseweight) reportEntry += "\r\n" + QByteArray(kReverseLine) + "\n";
    reportEntry += SettingsComments(s).toLatin1() + reportEntryTail(services.clock.now());
    m_files.WriteWizardReport(reportEntry, run.sampleWeight);
    m_files.WriteWizardLog(m_core.decoder().searchLog, run.sampleWeight);

    // The port stays open with s meanwhile, so the window shows the weight decoded with these settings.
    m_core.wait(kBeforeOfferMs);

    const QString offer =
        settings.simpinterface
            ? QStringLiteral("(Autosense on)")
            : QStringLiteral(
                  "(Autosense off, Serial port configuration: %1 Start Position: %2 - %3 Delimiter: %4)")
                  .arg(s)
                  .arg(settings.weightstart)
                  .arg(endPosition)
                  .arg(run.delimiterIndex);
    const bool accepted = services.prompts.askYesNo(
        QStringLiteral("Identified the protocol as %1").arg(run.protocolNumber) + offer +
        QStringLiteral(
            ". . Do you want Delvorn to configure these settings ? (You can skip this and continue with "
            "next protocol by clicking on 'NO' if the indicator display on PC is flickering)"));
    if (!accepted) {
        run.baudCeiling = NextBaudCeiling(s);
        settings.weightstart = 1;
        settings.weightLength = 200;
        return Outcome::NextRow;
    }
    storeSettings(run, s);
    return Outcome::Accepted;
}

void ProtocolSearch::storeSettings(Run& run, const QString& s) {
    Settings& settings = m_core.settings();
    Services& services = m_core.services();
    const SettingsFields fields = splitSettings(s);
    const QString parity = fields.parity.trimmed();

    auto attempt = [&services](const std::function<void()>& step) {
        try {
            step();
            return true;
        } catch (const DbError& e) {
            services.prompts.message(e.description());
        } catch (const std::exception& e) {
            services.prompts.message(QString::fromUtf8(e.what()));
        }
        return false;
    };

    {
        std::unique_ptr<Database> db;
        std::unique_ptr<RecordSet> config;
        int rows = 0;
        // Without the record nothing can be stored: never go on to say the settings were updated.
        const bool opened = attempt([&] {
            db = Database::open(services.appFolder + QLatin1String(kSettingsDatabaseName),
                                QLatin1String(kSettingsDatabaseConnect));
            config = db->openRecordSet(QStringLiteral("select * from config "));
            rows = config->recordCount();
        });
        if (!opened) {
            restoreWindow(run);
            return;
        }
        if (rows == 0) {
            services.prompts.beep();
            services.prompts.message(QStringLiteral("Could not find the confguration record !"));
            restoreWindow(run);
            return;
        }
        if (!attempt([&] {
                config->moveFirst();
                config->edit();
            })) {
            restoreWindow(run);
            return;
        }
        // Yes/no columns hold -1 and 0.
        auto set = [&](const char* column, const QVariant& value) {
            attempt([&] { config->setField(QString::fromLatin1(column), value); });
        };
        const auto yesNo = [](bool on) { return QVariant(on ? -1 : 0); };
        if (settings.simpinterface) {
            set("simpinterface", yesNo(true));
            set("usevalue", yesNo(false));
        } else {
            set("usevalue", yesNo(true));
            set("simpinterface", yesNo(false));
            set("delimiter", delimiterNameOf(settings.delimiterCode));
            set("weightstart", static_cast<int>(settings.weightstart));
            set("weightend", static_cast<int>(endPosition));
        }
        set("reverseweight", yesNo(settings.reverseweight));
        set("port", static_cast<int>(leadingNumberValue(run.portText)));
        set("baud", fields.baud);
        set("databits", static_cast<int>(fields.dataBits));
        set("stopbits", static_cast<int>(fields.stopBits));
        set("parity", parity);
        // A row that was not written must not be reported as updated.
        if (!attempt([&] { config->update(); })) {
            restoreWindow(run);
            return;
        }
    }

    services.prompts.message(
        QStringLiteral("Updated the settings. Baud: %1  Parity: %2  Data bits: %3  Stop bits: %4")
            .arg(fields.baud)
            .arg(parity)
            .arg(fields.dataBits)
            .arg(fields.stopBits));
    restoreWindow(run);
    services.prompts.message(
        QStringLiteral(
            "Updated the settings. Wizard will open the log file and the report files now. You can use "
            "report file to view possible configurations for indicator interface settings. You may mail "
            "the log file to ") +
        supportAddress());
    m_files.OpenWizardFiles();
}

void ProtocolSearch::endOfSearch(Run& run) {
    Services& services = m_core.services();
    services.prompts.beep();
    m_files.WriteWizardLog(m_core.decoder().searchLog, run.sampleWeight);
    if (run.found) {
        services.prompts.message(
            QStringLiteral(
                "Was able to identify the indicator protocol. Please check the report and configure the "
                "interface if you have not already done that. You may run the wizard once again to check "
                "further. You may mail the log files to ") +
            supportAddress());
    } else {
        services.prompts.message(
            QStringLiteral(
                "Could not identify the connection!! You may run the wizard once again to check further. "
                "Marlume will open the log file now. Please mail the log file to ") +
            supportAddress());
    }
    m_files.OpenWizardFiles();
    m_core.view().setCaption(run.savedCaption);
    m_core.decoder().searchRunning = false;
    services.prompts.setPointer(Pointer::Custom);
}

void ProtocolSearch::pump() {
    m_core.services().events.processEvents();
}

void ProtocolSearch::openPort() {
    SerialPort& port = m_core.services().port;
    if (!port.open()) m_core.services().prompts.message(port.lastError());
}

void ProtocolSearch::closePortIfOpen() {
    SerialPort& port = m_core.services().port;
    if (port.isOpen()) port.close();
}

void ProtocolSearch::showPortState() {
    m_core.view().setPortStatusText(m_core.services().port.isOpen() ? QStringLiteral("PORT ON")
                                                                    : QStringLiteral("PORT OFF"));
}

void ProtocolSearch::appendCombinationLine(const Run& run, const QString& s) {
    m_core.decoder().searchLog +=
        QStringLiteral("\r\n(%1-%2-%3)").arg(run.protocolNumber).arg(s, run.delimiterName).toLatin1();
}

void ProtocolSearch::restoreWindow(const Run& run) {
    m_core.view().setCaption(run.savedCaption);
    m_core.services().prompts.setPointer(Pointer::Custom);
}

QString ProtocolSearch::supportAddress() const {
    return QStringLiteral(VELTRANE_SUPPORT_EMAIL);
}

}  // namespace veltrane
