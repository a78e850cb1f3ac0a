#pragma once
// What makes the weight log and the event log of scale.mdb checkable afterwards: the log's own random
// id, a digest over each weight-log row chained to the row written before it, and an event log chained
// the same way. A collector elsewhere recomputes these digests, so their texts never change:
//   row:   logid \n slno \n weight \n datetime \n previous row's digest
//   event: logid \n eventid \n time \n kind \n detail \n previous event's digest
// (lowercase hex SHA-256 of the UTF-8 bytes; the previous digest of the first one is empty).

#include "platform/database.h"

#include <QString>

namespace veltrane {

// 32 lowercase hex characters from the system's random source.
QString newLogId();
QString rowDigest(const QString& logId, qint64 slno, const QString& weight, const QString& datetime,
                  const QString& previous);
QString eventDigest(const QString& logId, qint64 eventId, const QString& time, const QString& kind,
                    const QString& detail, const QString& previous);

// Makes what a log made by an older version lacks: table loginfo with a new log id, the weight log's
// digest column, table eventlog. Harmless on a file that has them. Throws DbError.
void ensureChainTables(Database& db);
// The statements that make them in a new file (part of the settings file's creation).
QString chainTablesSql();

// The log id; empty when the file has none yet.
QString readLogId(Database& db);
// A loginfo value by name; empty when absent.
QString readLogInfo(Database& db, const QString& name);
void writeLogInfo(Database& db, const QString& name, const QString& value);

struct ChainedRow {
    qint64 slno = 0;
    QString logId;
    QString digest;
};
// Appends one weight-log row and its digest in one transaction. The row written before it is the
// last one this log ever chained (kept in loginfo), so rows deleted later do not change what the next
// row is chained to. The first chained row of a log is recorded by a "chain-start" event in the same
// transaction. Throws DbError; nothing is written then.
ChainedRow appendChainedRow(Database& db, const QString& weight, const QString& datetime);

// Runs work between begin and commit, rolling back when it throws.
template <typename Work>
void inTransaction(Database& db, Work&& work) {
    db.execute(QStringLiteral("begin immediate"));
    try {
        work();
        db.execute(QStringLiteral("commit"));
    } catch (...) {
        try {
            db.execute(QStringLiteral("rollback"));
        } catch (const DbError&) {
            // A failed commit may already have ended the transaction.
        }
        throw;
    }
}

}  // namespace veltrane
