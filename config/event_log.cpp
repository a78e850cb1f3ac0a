#include "config/event_log.h"

#include "config/weight_chain.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace veltrane {

namespace {

bool isSecretColumn(const QString& column) {
    static const char* const secrets[] = {"pw", "mqttpassword", "httptoken"};
    return std::any_of(std::begin(secrets), std::end(secrets), [&](const char* s) {
        return column.compare(QLatin1String(s), Qt::CaseInsensitive) == 0;
    });
}

QJsonValue shown(const QVariant& value) {
    if (value.isNull()) return QJsonValue::Null;
    if (isWholeNumberValue(value)) return QJsonValue(value.toLongLong());
    if (isRealNumberValue(value)) return QJsonValue(value.toDouble());
    return QJsonValue(value.toString());
}

}  // namespace

qint64 appendEvent(Database& db, const QString& time, const QString& kind, const QJsonObject& detail) {
    const QString detailText = QString::fromUtf8(QJsonDocument(detail).toJson(QJsonDocument::Compact));
    auto last = db.openRecordSet(QStringLiteral("select * from eventlog order by eventid desc limit 1"));
    const QString previous = last->isEof() ? QString() : last->field(QStringLiteral("digest")).toString();
    db.execute(QStringLiteral("insert into eventlog (time, kind, detail) values (?, ?, ?)"),
               {time, kind, detailText});
    const qint64 id = db.lastInsertRowId();
    db.execute(QStringLiteral("update eventlog set digest = ? where eventid = ?"),
               {eventDigest(readLogId(db), id, time, kind, detailText, previous), id});
    return id;
}

qint64 recordEvent(Database& db, const QString& time, const QString& kind, const QJsonObject& detail) {
    qint64 id = 0;
    inTransaction(db, [&] { id = appendEvent(db, time, kind, detail); });
    return id;
}

QVariantMap rowValues(RecordSet& row) {
    QVariantMap values;
    for (const QString& name : row.fieldNames()) values.insert(name, row.field(name));
    return values;
}

QJsonObject settingsChange(const QString& table, const QVariantMap& before, const QVariantMap& after) {
    QJsonArray changes;
    for (auto it = after.begin(); it != after.end(); ++it) {
        const QVariant old = before.value(it.key());
        if (old == it.value() && old.isNull() == it.value().isNull()) continue;
        QJsonObject change{{QStringLiteral("column"), it.key()}};
        if (isSecretColumn(it.key())) {
            change.insert(QStringLiteral("old"), QStringLiteral("changed"));
            change.insert(QStringLiteral("new"), QStringLiteral("changed"));
        } else {
            change.insert(QStringLiteral("old"), shown(old));
            change.insert(QStringLiteral("new"), shown(it.value()));
        }
        changes.append(change);
    }
    if (changes.isEmpty()) return {};
    return {{QStringLiteral("table"), table}, {QStringLiteral("changes"), changes}};
}

}  // namespace veltrane
