#include "collect/collect_settings.h"

#include "config/feed_settings.h"

#include <QFile>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>

namespace veltrane {

namespace {

std::optional<bool> yesNo(const QString& v) {
    const QString t = v.toLower();
    if (t == QLatin1String("yes") || t == QLatin1String("true") || t == QLatin1String("on") ||
        t == QLatin1String("1"))
        return true;
    if (t == QLatin1String("no") || t == QLatin1String("false") || t == QLatin1String("off") ||
        t == QLatin1String("0"))
        return false;
    return std::nullopt;
}

// '+' may stand for whole levels only; '#' would swallow the leaves the collector adds.
bool isTopicFilter(const QString& filter) {
    if (filter.isEmpty() || filter.startsWith(QLatin1Char('$')) || filter.contains(QLatin1Char('#')) ||
        filter.contains(QChar(0)))
        return false;
    const QStringList levels = filter.split(QLatin1Char('/'));
    return std::all_of(levels.begin(), levels.end(), [](const QString& level) {
        return level == QLatin1String("+") || !level.contains(QLatin1Char('+'));
    });
}

}  // namespace

std::variant<CollectSettings, QString> parseCollectSettings(const QByteArray& text) {
    CollectSettings s;
    QString error;
    const auto number = [&error](int& into, int low, int high) {
        return [&into, &error, low, high](const QString& v, const QString& name) {
            bool ok = false;
            const int n = v.toInt(&ok);
            if (!ok || n < low || n > high)
                error = QStringLiteral("%1: \"%2\" is not a number from %3 to %4.")
                            .arg(name, v)
                            .arg(low)
                            .arg(high);
            else
                into = n;
        };
    };
    const auto textInto = [](QString& into) {
        return [&into](const QString& v, const QString&) { into = v; };
    };
    const std::map<QString, std::function<void(const QString&, const QString&)>> setters{
        {QStringLiteral("host"), textInto(s.host)},
        {QStringLiteral("port"),
         [&](const QString& v, const QString& name) {
             // Out-of-range ports are left to the broker feed's check, which words them for operators.
             bool ok = false;
             s.port = v.toInt(&ok);
             if (!ok) error = QStringLiteral("%1: \"%2\" is not a number.").arg(name, v);
         }},
        {QStringLiteral("tls"),
         [&](const QString& v, const QString& name) {
             const auto b = yesNo(v);
             if (!b) error = QStringLiteral("%1: \"%2\" is not yes or no.").arg(name, v);
             s.tls = b.value_or(false);
         }},
        {QStringLiteral("user"), textInto(s.user)},
        {QStringLiteral("password"), textInto(s.password)},
        {QStringLiteral("topic"), textInto(s.topic)},
        {QStringLiteral("database"), textInto(s.database)},
        {QStringLiteral("clientid"), textInto(s.clientId)},
        {QStringLiteral("recheck"), number(s.recheckSeconds, 1, 86400)},
        {QStringLiteral("batch"), number(s.batch, 1, 10000)},
    };
    int lineNumber = 0;
    for (const QByteArray& raw : text.split('\n')) {
        ++lineNumber;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString name = line.left(eq).trimmed().toLower();
        const auto setter = setters.find(name);
        if (eq < 0 || setter == setters.end())
            return QStringLiteral("line %1: \"%2\" is not a known setting.")
                .arg(lineNumber)
                .arg(line.left(eq).trimmed());
        setter->second(line.mid(eq + 1).trimmed(), name);
        if (!error.isEmpty()) return QStringLiteral("line %1: ").arg(lineNumber) + error;
    }
    FeedSettings broker;
    broker.mqttfeed = true;
    broker.mqtthost = s.host;
    broker.mqttport = s.port;
    broker.mqttuser = s.user;
    broker.mqttpassword = s.password;
    broker.mqtttls = s.tls;
    if (const auto wrong = checkFeedSettings(broker)) return wrong->message;
    if (!isTopicFilter(s.topic))
        return QStringLiteral("Topic: \"%1\" must be a topic, with + for whole levels only, and without #.")
            .arg(s.topic);
    if (s.database.trimmed().isEmpty())
        return QStringLiteral("database: the PostgreSQL connection string is needed.");
    if (s.clientId.isEmpty() || s.clientId.toUtf8().size() > 200)
        return QStringLiteral("clientid: from 1 to 200 bytes.");
    return s;
}

std::variant<CollectSettings, QString> readCollectSettings(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return path + QStringLiteral(": ") + file.errorString();
    auto parsed = parseCollectSettings(file.readAll());
    if (auto* error = std::get_if<QString>(&parsed)) return path + QStringLiteral(": ") + *error;
    return parsed;
}

}  // namespace veltrane
