#include "config/weight_chain.h"

#include "config/event_log.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <array>

namespace veltrane {

namespace {

const QString kLogIdName = QStringLiteral("logid");
// The digest of the last row ever chained: the next row is chained to it even when the log viewer
// has since deleted that row (the deletion's event keeps its digest).
const QString kLastDigestName = QStringLiteral("lastdigest");

QString sha256Hex(const QString& text) {
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool hasTable(Database& db, const char* name) {
    return !db.openRecordSet(QStringLiteral("select * from sqlite_master where type = 'table' and name = ?"),
                             {QString::fromLatin1(name)})
                ->isEof();
}

}  // namespace

QString newLogId() {
    std::array<quint32, 4> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof words);
    return QString::fromLatin1(bytes.toHex());
}

QString rowDigest(const QString& logId, qint64 slno, const QString& weight, const QString& datetime,
                  const QString& previous) {
    const QChar nl(QLatin1Char('\n'));
    return sha256Hex(logId + nl + QString::number(slno) + nl + weight + nl + datetime + nl + previous);
}

QString eventDigest(const QString& logId, qint64 eventId, const QString& time, const QString& kind,
                    const QString& detail, const QString& previous) {
    const QChar nl(QLatin1Char('\n'));
    return sha256Hex(logId + nl + QString::number(eventId) + nl + time + nl + kind + nl + detail + nl +
                     previous);
}

QString chainTablesSql() {
    return QStringLiteral(
        "create table loginfo (name TEXT PRIMARY KEY, value TEXT);"
        "create table eventlog (eventid INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT, kind TEXT, detail TEXT,"
        " digest TEXT);");
}

namespace {

bool chainTablesComplete(Database& db) {
    return db.openRecordSet(QStringLiteral("select * from weightlog where 0"))
               ->hasField(QStringLiteral("digest")) &&
           hasTable(db, "loginfo") && hasTable(db, "eventlog") && !readLogId(db).isEmpty();
}

}  // namespace

void ensureChainTables(Database& db) {
    if (chainTablesComplete(db)) return;
    // Looked at again inside the transaction: another connection may have made them meanwhile.
    inTransaction(db, [&] {
        if (!db.openRecordSet(QStringLiteral("select * from weightlog where 0"))
                 ->hasField(QStringLiteral("digest")))
            db.execute(QStringLiteral("alter table weightlog add column digest TEXT"));
        if (!hasTable(db, "loginfo"))
            db.execute(QStringLiteral("create table loginfo (name TEXT PRIMARY KEY, value TEXT)"));
        if (!hasTable(db, "eventlog"))
            db.execute(
                QStringLiteral("create table eventlog (eventid INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT, "
                               "kind TEXT, detail TEXT, digest TEXT)"));
        if (readLogId(db).isEmpty()) writeLogInfo(db, kLogIdName, newLogId());
    });
}

QString readLogInfo(Database& db, const QString& name) {
    auto row = db.openRecordSet(QStringLiteral("select * from loginfo where name = ?"), {name});
    return row->isEof() ? QString() : row->field(QStringLiteral("value")).toString();
}

void writeLogInfo(Database& db, const QString& name, const QString& value) {
    db.execute(QStringLiteral("insert or replace into loginfo (name, value) values (?, ?)"), {name, value});
}

QString readLogId(Database& db) {
    return readLogInfo(db, kLogIdName);
}

ChainedRow appendChainedRow(Database& db, const QString& weight, const QString& datetime) {
    ChainedRow row;
    inTransaction(db, [&] {
        row.logId = readLogId(db);
        const QString previous = readLogInfo(db, kLastDigestName);
        db.execute(QStringLiteral("insert into weightlog (Datetime, weight) values (?, ?)"),
                   {datetime, weight});
        row.slno = db.lastInsertRowId();
        row.digest = rowDigest(row.logId, row.slno, weight, datetime, previous);
        db.execute(QStringLiteral("update weightlog set digest = ? where slno = ?"), {row.digest, row.slno});
        writeLogInfo(db, kLastDigestName, row.digest);
        if (previous.isEmpty())
            appendEvent(db, datetime, QLatin1String(eventkind::kChainStart),
                        {{QStringLiteral("slno"), row.slno}});
    });
    return row;
}

}  // namespace veltrane
