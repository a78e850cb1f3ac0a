#include "core/weight_outputs.h"

#include "config/event_log.h"
#include "config/weight_chain.h"

#include <exception>

namespace veltrane {

WeightOutputs::WeightOutputs(const Settings& settings, Services& services, Voice& voice)
    : m_settings(settings), m_services(services), m_voice(voice) {}

WeightOutputs::~WeightOutputs() = default;

QByteArray WeightOutputs::csvContent(const QString& typeCode, const QString& weightText,
                                     const QString& dateTimeText) {
    QByteArray line;
    if (typeCode == QLatin1String("2")) line = "Weight,Datetime\r\n";
    line += weightText.toLatin1() + ',' + dateTimeText.toLatin1() + "\r\n";
    return line;
}

WeightOutputs::CsvWrite WeightOutputs::WriteCsvFile(const QString& weightText, const QString& dateTimeText,
                                                    QString* error) {
    const QString path = m_settings.csvFilePath;
    if (path.isEmpty()) {
        if (error) *error = QStringLiteral("no output file is configured");
        return CsvWrite::Failed;
    }
    if (m_services.files.lockedByAnotherProgram(path)) return CsvWrite::Locked;
    const QString failure =
        m_services.files.replace(path, csvContent(m_settings.outputTypeCode, weightText, dateTimeText));
    if (!failure.isEmpty()) {
        if (error) *error = failure;
        return CsvWrite::Failed;
    }
    if (m_appendStatus) m_appendStatus(QStringLiteral("   CSV file updated."));
    return CsvWrite::Written;
}

void WeightOutputs::settingsLoaded() {
    if (m_dryRun || m_settings.outputFolder.isEmpty()) return;
    m_services.files.removeLeftovers(m_settings.outputFolder + QLatin1String(kCsvFileName));
}

// The locked-file question is for a lock only: it can go away while the operator waits. A full disk,
// a read-only folder or a missing one would make Yes ask again forever, so their description is
// returned to be shown once, and this serving goes on without its file.
QString WeightOutputs::writeCsvAsking(const QString& weightText, const QString& dateTimeText) {
    for (;;) {
        if (m_settings.outputFolder.isEmpty() || m_settings.outputTypeCode.isEmpty()) return {};
        QString error;
        switch (WriteCsvFile(weightText, dateTimeText, &error)) {
            case CsvWrite::Written:
                return {};
            case CsvWrite::Failed:
                return QStringLiteral("Export file %1 could not be written: %2")
                    .arg(m_settings.outputFilePath, error);
            case CsvWrite::Locked:
                break;
        }
        if (!m_services.prompts.askYesNo(QStringLiteral("Export file ") + m_settings.outputFilePath +
                                         QStringLiteral(" is locked by another user. Try again?")))
            return {};
    }
}

void WeightOutputs::writeExportDatabase(const QString& weightText, const QString& dateTimeText) {
    auto db = Database::open(m_settings.mdbFilePath, QString());
    auto rs = db->openRecordSet(QStringLiteral("select * from weightlog"));
    if (rs->recordCount() == 0) {
        rs->addNew();
    } else {
        rs->moveFirst();
        rs->edit();
    }
    rs->setField(QStringLiteral("Datetime"), dateTimeText);
    rs->setField(QStringLiteral("weight"), weightText);
    rs->update();
    if (m_appendStatus) m_appendStatus(QStringLiteral("   MDB file updated."));
}

Database& WeightOutputs::weightLog() {
    if (!m_weightLog) {
        auto db = Database::open(m_services.appFolder + QLatin1String(kSettingsDatabaseName),
                                 QLatin1String(kSettingsDatabaseConnect));
        // A log made by an older version gets its id and chain here at the latest.
        ensureChainTables(*db);
        m_weightLog = std::move(db);
    }
    return *m_weightLog;
}

ServedWeighment WeightOutputs::appendWeightLog(const QString& weightText, const QString& dateTimeText) {
    try {
        // One row appended; reading the whole log first (as a record set would) only costs time.
        const ChainedRow row = appendChainedRow(weightLog(), weightText, dateTimeText);
        return {row.slno, weightText, dateTimeText, row.logId, row.digest};
    } catch (...) {
        m_weightLog.reset();
        throw;
    }
}

QString WeightOutputs::recordEvent(const QString& kind, const QJsonObject& detail) {
    if (m_dryRun) return {};
    try {
        veltrane::recordEvent(weightLog(), generalDate(m_services.clock.now()), kind, detail);
    } catch (const DbError& e) {
        m_weightLog.reset();
        return e.description();
    }
    return {};
}

QString WeightOutputs::ServeWeight(const QString& weightText) {
    QString fileError;
    try {
        if (!m_dryRun) {
            // One instant for the whole serving: the log row, the output file and the clipboard agree
            // even when a write takes past a second boundary.
            const QString dateTimeText = generalDate(m_services.clock.now());
            // The weight log first, durable before the output file shows the weighment: a program
            // killed (or a machine losing power) between the two writes must not leave a weighment
            // that the receiving program got but the log lacks. A failed log write still lets the
            // output file be written; its error is reported after it.
            QString logError;
            ServedWeighment row;
            try {
                row = appendWeightLog(weightText, dateTimeText);
            } catch (const DbError& e) {
                logError = e.description();
            }
            if (logError.isEmpty() && m_served) m_served(row);
            if (m_settings.outputTypeCode != QLatin1String("3"))
                fileError = writeCsvAsking(weightText, dateTimeText);
            else
                writeExportDatabase(weightText, dateTimeText);
            if (!logError.isEmpty())
                return fileError.isEmpty() ? logError : logError + QLatin1Char('\n') + fileError;
            if (m_settings.OutputClipboard) {
                m_services.clipboard.clear();
                QString text = weightText;
                if (m_settings.appendTimeStamp) text += QLatin1Char(',') + dateTimeText;
                m_services.clipboard.setText(text);
            }
        }
        if (m_settings.activateVoiceAlert) m_voice.AnnounceWeight(weightText);
    } catch (const DbError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return fileError;
}

}  // namespace veltrane
