#include "collect/messages.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

namespace veltrane {

namespace {

std::optional<QJsonObject> object(const QByteArray& payload) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    return doc.object();
}

std::optional<qint64> whole(const QJsonValue& v) {
    if (!v.isDouble()) return std::nullopt;
    const double d = v.toDouble();
    if (!(d >= 1 && d <= 9007199254740991.0) || std::floor(d) != d) return std::nullopt;
    return qint64(d);
}

std::optional<SiteRow> siteRow(const QJsonObject& o) {
    const auto slno = whole(o.value(QLatin1String("slno")));
    if (!slno || !o.value(QLatin1String("weight")).isString() ||
        !o.value(QLatin1String("datetime")).isString())
        return std::nullopt;
    return SiteRow{*slno, o.value(QLatin1String("weight")).toString(),
                   o.value(QLatin1String("datetime")).toString(),
                   o.value(QLatin1String("digest")).toString()};
}

}  // namespace

TopicParts splitTopic(const QByteArray& topic) {
    const QString t = QString::fromUtf8(topic);
    const qsizetype slash = t.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0) return {};
    return {t.left(slash), t.mid(slash + 1)};
}

std::optional<WeighmentMessage> parseWeighment(const QString& site, const QByteArray& payload) {
    const auto o = object(payload);
    if (!o) return std::nullopt;
    auto row = siteRow(*o);
    if (!row) return std::nullopt;
    WeighmentMessage m{site, o->value(QLatin1String("logid")).toString(), *row, std::nullopt, {}, payload};
    if (const auto decoded = decodeWeight(row->weight)) {
        m.value = decoded->value;
        m.unit = decoded->unit;
    }
    return m;
}

std::optional<EventMessage> parseEvent(const QString& site, const QByteArray& payload) {
    const auto o = object(payload);
    if (!o) return std::nullopt;
    const auto eventid = whole(o->value(QLatin1String("eventid")));
    if (!eventid || !o->value(QLatin1String("kind")).isString()) return std::nullopt;
    EventMessage e{site,
                   o->value(QLatin1String("logid")).toString(),
                   *eventid,
                   o->value(QLatin1String("time")).toString(),
                   o->value(QLatin1String("kind")).toString(),
                   {},
                   o->value(QLatin1String("digest")).toString(),
                   {},
                   payload};
    const QJsonValue detail = o->value(QLatin1String("detail"));
    e.detail = detail.isObject()
                   ? QJsonDocument(detail.toObject()).toJson(QJsonDocument::Compact)
                   : QJsonDocument(QJsonArray{detail}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
    if (e.kind == QLatin1String("delete"))
        for (const auto& r : detail.toObject().value(QLatin1String("rows")).toArray())
            if (const auto row = siteRow(r.toObject())) e.deleted.push_back(*row);
    return e;
}

std::optional<DecodedWeight> decodeWeight(const QString& text) {
    static const QRegularExpression shape(
        QStringLiteral("^\\s*([-+]?)\\s*(\\d+(?:[.,]\\d+)?)\\s*([A-Za-z]{0,3})\\s*$"));
    const QRegularExpressionMatch m = shape.match(text);
    if (!m.hasMatch()) return std::nullopt;
    QString digits = m.captured(2);
    digits.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    double value = digits.toDouble(&ok);
    if (!ok) return std::nullopt;
    if (m.captured(1) == QLatin1String("-")) value = -value;
    return DecodedWeight{value, m.captured(3).toLower()};
}

QString rowDigest(const QString& logid, const SiteRow& row, const QString& previousDigest) {
    const QString text = logid + QLatin1Char('\n') + QString::number(row.slno) + QLatin1Char('\n') +
                         row.weight + QLatin1Char('\n') + row.datetime + QLatin1Char('\n') + previousDigest;
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

std::vector<qint64> missingSerials(const std::vector<qint64>& held, const std::vector<qint64>& deleted) {
    std::vector<qint64> missing;
    if (held.empty()) return missing;
    auto h = held.begin();
    auto d = deleted.begin();
    for (qint64 n = held.front(); n <= held.back(); ++n) {
        while (h != held.end() && *h < n) ++h;
        while (d != deleted.end() && *d < n) ++d;
        if ((h == held.end() || *h != n) && (d == deleted.end() || *d != n)) missing.push_back(n);
    }
    return missing;
}

std::vector<qint64> chainBreaks(const QString& logid, const std::vector<SiteRow>& rows) {
    std::vector<qint64> breaks;
    for (size_t i = 0; i < rows.size(); ++i) {
        const SiteRow& row = rows[i];
        if (row.digest.isEmpty()) continue;
        std::optional<QString> previous;
        if (row.slno == 1) previous = QString();
        if (i > 0 && rows[i - 1].slno == row.slno - 1) previous = rows[i - 1].digest;
        if (previous && rowDigest(logid, row, *previous) != row.digest) breaks.push_back(row.slno);
    }
    return breaks;
}

}  // namespace veltrane
