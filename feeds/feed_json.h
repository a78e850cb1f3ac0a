#pragma once
// The JSON the web and broker feeds send: written by hand, because every message is one small object
// of known keys and the feeds must not depend on a number formatting that follows the locale.

#include "core/weight_feed.h"
#include "platform/database.h"

#include <QByteArray>
#include <QString>

namespace veltrane {

// A JSON string literal: quotes, backslashes and control characters escaped, the rest as UTF-8.
QByteArray jsonString(const QString& text);
// {"slno": N, "weight": "...", "datetime": "...", "logid": "...", "digest": "..."} ("digest": null for a
// row written before the log was chained), and any extra members given already written
// (", \"site\": ...").
QByteArray weighmentJson(const ServedWeighment& weighment, const QByteArray& extraMembers = {});
// The weight-log row a record set stands on, as a serving reported it.
ServedWeighment weighmentOfRow(RecordSet& row, const QString& logId);

}  // namespace veltrane
