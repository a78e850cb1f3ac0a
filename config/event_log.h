#pragma once
// The append-only event log of scale.mdb: program start and end, deletions in the log viewer, saved
// settings, servings by hand, the device lost and back. Each row's detail is a JSON object; its digest
// chains it to the row before (see weight_chain.h).

#include "platform/database.h"

#include <QJsonObject>
#include <QString>
#include <QVariantMap>

namespace veltrane {

namespace eventkind {
inline constexpr auto kStart = "start";
inline constexpr auto kEnd = "end";
inline constexpr auto kDelete = "delete";
inline constexpr auto kSettings = "settings";
inline constexpr auto kHandServing = "hand-serving";
inline constexpr auto kDeviceLost = "device-lost";
inline constexpr auto kDeviceBack = "device-back";
inline constexpr auto kChainStart = "chain-start";
}  // namespace eventkind

// Appends one event inside the caller's transaction and returns its id. Throws DbError.
qint64 appendEvent(Database& db, const QString& time, const QString& kind, const QJsonObject& detail);
// The same in a transaction of its own.
qint64 recordEvent(Database& db, const QString& time, const QString& kind, const QJsonObject& detail);

// Every column of the record set's current row, by its name.
QVariantMap rowValues(RecordSet& row);
// Columns whose value differs, as {"table": .., "changes": [{"column", "old", "new"}]}; the password
// columns' values are never written, only "changed". Empty when nothing differs.
QJsonObject settingsChange(const QString& table, const QVariantMap& before, const QVariantMap& after);

}  // namespace veltrane
