#include "config/schema.h"

#include "config/feed_settings.h"
#include "config/settings.h"
#include "config/weight_chain.h"

#include <QStringList>

namespace veltrane {

namespace {
const QVariant kNull;
const QVariant kOn(true);
const QVariant kOff(false);
QVariant text(const char* value) {
    return QVariant(QString::fromLatin1(value));
}
}  // namespace

const std::vector<ConfigColumn>& configColumns() {
    // The default row is a working weighbridge set-up: autosense decoding, 9600,n,8,1 on port 1, a load
    // saved automatically after five equal readings above 500, output as a CSV file with headings.
    // pw is the default access password on purpose: the start-up warning asks for it to be changed.
    static const std::vector<ConfigColumn> columns{
        {"throwstring", "BOOLEAN", kOff},
        {"FORWEIGHBRIDGE", "BOOLEAN", kOn},
        {"outstring", "TEXT", text("$")},
        {"addcr", "BOOLEAN", kOff},
        {"pw", "TEXT", text(kDefaultPassword)},
        {"outputFilelocation", "TEXT", kNull},  // the folder the files are made in
        {"outputFiletype", "TEXT", text("CSV file with headings")},
        {"appendTimeStamp", "BOOLEAN", kOff},
        {"appendTimeStampComma", "BOOLEAN", kOff},
        {"reverseweight", "BOOLEAN", kOff},
        {"simpinterface", "BOOLEAN", kOn},
        {"crasdelimiter", "BOOLEAN", kOff},
        {"delimiter", "TEXT", text("CR")},
        {"weightstart", "INTEGER", 0},
        {"weightend", "INTEGER", 0},
        {"port", "INTEGER", 1},
        {"databits", "TEXT", text("8")},
        {"stopbits", "TEXT", text("1")},
        {"parity", "TEXT", text("n")},
        {"baud", "INTEGER", 9600},
        {"discardweightlessthan", "REAL", 400},
        {"usevalue", "BOOLEAN", kOff},
        {"Startonbutton", "BOOLEAN", kOff},
        {"Startauto", "BOOLEAN", kOn},
        {"saveonbutton", "BOOLEAN", kOff},
        {"decimalreqd", "BOOLEAN", kOff},
        {"iNSERTDECIMALS", "BOOLEAN", kOff},
        {"iNSERTBEFORE", "INTEGER", 0},
        {"AutosaveonStableWeight", "BOOLEAN", kOn},
        {"minstablereadings", "INTEGER", 5},
        {"lowlimit", "DOUBLE", 0},
        {"Highlimit", "DOUBLE", 0},
        {"LowHighAlarm", "BOOLEAN", kOff},
        {"StabilityCheckAccuracy", "INTEGER", 0},
        {"MinimumAutosaveWeight", "DOUBLE", 500},
        {"autoprint", "BOOLEAN", kOff},
        {"oversoundfile", "TEXT", text("")},
        {"undersoundfile", "TEXT", text("")},
        {"oksoundfile", "TEXT", text("")},
        {"dataingrams", "BOOLEAN", kOff},
        {"outputApplication", "BOOLEAN", kOff},
        {"OutputClipboard", "BOOLEAN", kOff},
        {"EnableDDE", "BOOLEAN", kOn},
        {"activateVoiceAlert", "BOOLEAN", kOff},
        {"voicealertnormal", "BOOLEAN", kOff},
        {"ApplicationName", "TEXT", text("")},
    };
    return columns;
}

QString weightLogTableSql() {
    // Datetime is ISO text in local time, so date ranges are index range scans.
    return QStringLiteral(
        "create table weightlog (slno INTEGER PRIMARY KEY AUTOINCREMENT, Datetime TEXT, weight TEXT);"
        "create index weightlog_datetime on weightlog (Datetime);");
}

void createSettingsDatabase(const QString& path, const QString& outputFolder) {
    auto db = Database::create(path, QString::fromLatin1(kSettingsDatabaseConnect));
    QStringList definitions;
    for (const auto& column : configColumns())
        definitions << QString::fromLatin1(column.name) + QLatin1Char(' ') + QString::fromLatin1(column.type);
    db->execute(QStringLiteral("begin"));
    db->execute(QStringLiteral("create table config (") + definitions.join(QStringLiteral(", ")) +
                QStringLiteral(")"));
    db->execute(weightLogTableSql());
    // The export template shares the weight log's table; only this file's log is chained.
    db->execute(QStringLiteral("alter table weightlog add column digest TEXT"));
    db->execute(chainTablesSql());
    writeLogInfo(*db, QStringLiteral("logid"), newLogId());
    db->execute(QStringLiteral("create table comports (port INTEGER PRIMARY KEY, device TEXT)"));

    auto row = db->openRecordSet(QStringLiteral("select * from config"));
    row->addNew();
    for (const auto& column : configColumns()) {
        const QString name = QString::fromLatin1(column.name);
        row->setField(name,
                      name == QLatin1String("outputFilelocation") ? QVariant(outputFolder) : column.initial);
    }
    row->update();
    db->execute(QStringLiteral("commit"));
    ensureFeedsTable(*db);
}

void createVersionDatabase(const QString& path) {
    auto db = Database::create(path, QString::fromLatin1(kVersionDatabaseConnect));
    db->execute(QStringLiteral("create table config (dummy TEXT)"));
    db->execute(QStringLiteral("insert into config (dummy) values (?)"),
                {QString::fromLatin1(kVersionMarker)});
}

void createExportTemplate(const QString& path) {
    auto db = Database::create(path, QString());
    db->execute(weightLogTableSql());
}

}  // namespace veltrane
