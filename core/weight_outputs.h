#pragma once
// The output channels of a served weight, in their fixed order: the output file (CSV or export
// database), the weight log, the clipboard, the announcement.

#include "config/settings.h"
#include "core/voice.h"
#include "core/weight_feed.h"
#include "platform/database.h"
#include "platform/services.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>

namespace veltrane {

class WeightOutputs {
public:
    WeightOutputs(const Settings& settings, Services& services, Voice& voice);
    ~WeightOutputs();

    // Textstatus notes ("   CSV file updated.") are appended through this.
    void onStatusNote(std::function<void(const QString&)> append) { m_appendStatus = std::move(append); }
    // Told of each serving's weight-log row once it is on disk, before the output file is written.
    void onServed(std::function<void(const ServedWeighment&)> served) { m_served = std::move(served); }
    // Nothing is written anywhere; only the announcement is asked for (the replay tool).
    void setDryRun(bool dryRun) { m_dryRun = dryRun; }

    // Serves one weighment. A failure ends the serving at its step; its description is returned
    // (empty when every step ran) for the caller to show at the next receive event. An output file
    // that cannot be written for a reason other than a lock is reported the same way, after the
    // later steps (clipboard, voice) have run, as when the operator gives up a locked file.
    QString ServeWeight(const QString& weightText);

    enum class CsvWrite { Written, Locked, Failed };
    // Replaces the CSV file. Locked: another program holds a lock on it (the question is asked);
    // Failed: anything else (folder missing, disk full, read-only), with the system's description in
    // *error when given.
    CsvWrite WriteCsvFile(const QString& weightText, const QString& dateTimeText, QString* error = nullptr);
    // After the settings are (re)loaded: removes what a replace of the CSV file left behind when the
    // program was killed in the middle of it.
    void settingsLoaded();

    // Appends a row to the event log of the weight log's file (nothing in a dry run). Returns the
    // failure's description, empty when written.
    QString recordEvent(const QString& kind, const QJsonObject& detail);

    // The bytes the CSV file holds after a serving.
    static QByteArray csvContent(const QString& typeCode, const QString& weightText,
                                 const QString& dateTimeText);

private:
    QString writeCsvAsking(const QString& weightText, const QString& dateTimeText);
    void writeExportDatabase(const QString& weightText, const QString& dateTimeText);
    // The new row as it was written, with its serial number and digest.
    ServedWeighment appendWeightLog(const QString& weightText, const QString& dateTimeText);
    Database& weightLog();

    const Settings& m_settings;
    Services& m_services;
    Voice& m_voice;
    std::function<void(const QString&)> m_appendStatus;
    std::function<void(const ServedWeighment&)> m_served;
    bool m_dryRun = false;
    // Opening the keyed settings database costs a key derivation: it stays open between servings and
    // is opened afresh after any failure.
    std::unique_ptr<Database> m_weightLog;
};

}  // namespace veltrane
