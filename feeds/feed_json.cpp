#include "feeds/feed_json.h"

namespace veltrane {

QByteArray jsonString(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            escaped += QLatin1Char('\\');
            escaped += c;
        } else if (c.unicode() < 0x20) {
            escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            escaped += c;  // whole, so that a character outside the basic plane keeps both its halves
        }
    }
    return '"' + escaped.toUtf8() + '"';
}

QByteArray weighmentJson(const ServedWeighment& weighment, const QByteArray& extraMembers) {
    return "{\"slno\": " + QByteArray::number(weighment.slno) +
           ", \"weight\": " + jsonString(weighment.weight) +
           ", \"datetime\": " + jsonString(weighment.datetime) +
           ", \"logid\": " + jsonString(weighment.logId) + ", \"digest\": " +
           (weighment.digest.isEmpty() ? QByteArray("null") : jsonString(weighment.digest)) + extraMembers +
           "}";
}

ServedWeighment weighmentOfRow(RecordSet& row, const QString& logId) {
    return {
        row.field(QStringLiteral("slno")).toLongLong(), row.field(QStringLiteral("weight")).toString(),
        row.field(QStringLiteral("Datetime")).toString(), logId,
        row.hasField(QStringLiteral("digest")) ? row.field(QStringLiteral("digest")).toString() : QString()};
}

}  // namespace veltrane
