#include "feeds/mqtt/resend_request.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <optional>

namespace veltrane {

namespace {

// Serial numbers are positive whole numbers that a double still holds exactly.
std::optional<qint64> serial(const QJsonValue& value) {
    if (!value.isDouble()) return std::nullopt;
    const double d = value.toDouble();
    if (!(d >= 1 && d <= 9007199254740991.0) || std::floor(d) != d) return std::nullopt;
    return qint64(d);
}

bool isLogId(const QString& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                      (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
           });
}

}  // namespace

std::variant<ResendRequest, QString> parseResendRequest(const QByteArray& payload) {
    if (payload.size() > qsizetype(64) * 1024) return QStringLiteral("longer than 64 KiB");
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return QStringLiteral("not a JSON object");
    const QJsonObject o = doc.object();
    ResendRequest request;
    request.logid = o.value(QLatin1String("logid")).toString();
    if (!isLogId(request.logid)) return QStringLiteral("no log id of 32 lowercase hexadecimal digits");
    const bool range = o.contains(QLatin1String("from")) || o.contains(QLatin1String("to"));
    const bool list = o.contains(QLatin1String("slno"));
    if (range == list) return QStringLiteral("neither a range (from, to) nor a list (slno), or both");
    if (o.size() != 3 - int(list)) return QStringLiteral("unknown members");
    if (range) {
        const auto from = serial(o.value(QLatin1String("from")));
        const auto to = serial(o.value(QLatin1String("to")));
        if (!from || !to) return QStringLiteral("from and to must be serial numbers from 1");
        if (*from > *to) return QStringLiteral("from is above to");
        if (*to - *from >= kMaxResendRows)
            return QStringLiteral("more than %1 rows asked for").arg(kMaxResendRows);
        request.from = *from;
        request.to = *to;
        return request;
    }
    const QJsonValue slno = o.value(QLatin1String("slno"));
    if (!slno.isArray()) return QStringLiteral("slno must be a list");
    const QJsonArray serials = slno.toArray();
    if (serials.isEmpty()) return QStringLiteral("the list is empty");
    if (serials.size() > kMaxResendRows)
        return QStringLiteral("more than %1 rows asked for").arg(kMaxResendRows);
    for (const auto& value : serials) {
        const auto n = serial(value);
        if (!n) return QStringLiteral("slno must hold serial numbers from 1");
        request.serials.push_back(*n);
    }
    std::sort(request.serials.begin(), request.serials.end());
    request.serials.erase(std::unique(request.serials.begin(), request.serials.end()), request.serials.end());
    return request;
}

bool ResendLimiter::admit(qint64 nowMs) {
    if (m_any && nowMs - m_last < kResendIntervalMs) return false;
    m_any = true;
    m_last = nowMs;
    return true;
}

}  // namespace veltrane
