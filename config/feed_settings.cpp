#include "config/feed_settings.h"

#include "platform/mqtt_topic.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <vector>

namespace veltrane {
namespace {

struct FeedColumn {
    const char* name;
    const char* type;
    QVariant initial;  // invalid: Null
};

const std::vector<FeedColumn>& feedColumns() {
    static const std::vector<FeedColumn> columns{
        {"httpfeed", "BOOLEAN", false},
        {"httpaddress", "TEXT", QStringLiteral("127.0.0.1")},
        {"httpport", "INTEGER", 8765},
        {"httptoken", "TEXT", QVariant()},
        {"httporigins", "TEXT", QVariant()},
        {"mqttfeed", "BOOLEAN", false},
        {"mqtthost", "TEXT", QVariant()},
        {"mqttport", "INTEGER", 1883},
        {"mqtttopic", "TEXT", QVariant()},
        {"mqttuser", "TEXT", QVariant()},
        {"mqttpassword", "TEXT", QVariant()},
        {"mqtttls", "BOOLEAN", false},
        // Not a setting: the broker feed's durable mark of the last weighment the broker acknowledged;
        // Null until the broker feed first runs.
        {"mqttacked", "INTEGER", QVariant()},
    };
    return columns;
}

QString name(const FeedColumn& column) {
    return QString::fromLatin1(column.name);
}

// A literal for "alter table ... default": the values above are all yes/no, whole numbers or Null.
QString sqlDefault(const QVariant& value) {
    if (!value.isValid()) return QStringLiteral("NULL");
    if (value.typeId() == QMetaType::Bool) return value.toBool() ? QStringLiteral("-1") : QStringLiteral("0");
    if (value.typeId() == QMetaType::QString)
        return QLatin1Char('\'') + value.toString().replace(QLatin1Char('\''), QStringLiteral("''")) +
               QLatin1Char('\'');
    return QString::number(value.toLongLong());
}

std::unique_ptr<RecordSet> settingsRow(Database& db) {
    auto row = db.openRecordSet(QStringLiteral("select * from feeds"));
    if (row->isEof()) throw DbError("table feeds has no settings row");
    return row;
}

QString text(RecordSet& row, const char* column) {
    return row.field(QString::fromLatin1(column)).toString();
}

QVariant textOrNull(const QString& value) {
    return value.isEmpty() ? QVariant() : QVariant(value);
}

bool isPortNumber(int port) {
    return port >= 1 && port <= 65535;
}

}  // namespace

QString defaultMqttTopic() {
    return QStringLiteral("veltrane/") + QSysInfo::machineHostName();
}

void ensureFeedsTable(Database& db) {
    const bool exists =
        !db.openRecordSet(QStringLiteral("select * from sqlite_master where type = 'table' and "
                                         "name = 'feeds'"))
             ->isEof();
    db.execute(QStringLiteral("begin"));
    try {
        if (!exists) {
            QStringList definitions;
            for (const auto& column : feedColumns())
                definitions << name(column) + QLatin1Char(' ') + QString::fromLatin1(column.type);
            db.execute(QStringLiteral("create table feeds (") + definitions.join(QStringLiteral(", ")) +
                       QLatin1Char(')'));
        } else {
            const QStringList present = db.openRecordSet(QStringLiteral("select * from feeds"))->fieldNames();
            for (const auto& column : feedColumns()) {
                if (present.contains(name(column), Qt::CaseInsensitive)) continue;
                db.execute(
                    QStringLiteral("alter table feeds add column %1 %2 default %3")
                        .arg(name(column), QString::fromLatin1(column.type), sqlDefault(column.initial)));
            }
        }
        auto row = db.openRecordSet(QStringLiteral("select * from feeds"));
        if (row->isEof()) {
            row->addNew();
            for (const auto& column : feedColumns()) row->setField(name(column), column.initial);
            row->update();
        }
        db.execute(QStringLiteral("commit"));
    } catch (...) {
        db.execute(QStringLiteral("rollback"));
        throw;
    }
}

FeedSettings readFeedSettings(Database& db) {
    auto row = settingsRow(db);
    FeedSettings s;
    s.httpfeed = row->field(QStringLiteral("httpfeed")).toLongLong() != 0;
    s.httpaddress = text(*row, "httpaddress");
    s.httpport = row->field(QStringLiteral("httpport")).toInt();
    s.httptoken = text(*row, "httptoken");
    s.httporigins = text(*row, "httporigins").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    s.mqttfeed = row->field(QStringLiteral("mqttfeed")).toLongLong() != 0;
    s.mqtthost = text(*row, "mqtthost");
    s.mqttport = row->field(QStringLiteral("mqttport")).toInt();
    s.mqtttopic = text(*row, "mqtttopic");
    if (s.mqtttopic.isEmpty()) s.mqtttopic = defaultMqttTopic();
    s.mqttuser = text(*row, "mqttuser");
    s.mqttpassword = text(*row, "mqttpassword");
    s.mqtttls = row->field(QStringLiteral("mqtttls")).toLongLong() != 0;
    return s;
}

void writeFeedSettings(Database& db, const FeedSettings& s) {
    auto row = settingsRow(db);
    row->edit();
    row->setField(QStringLiteral("httpfeed"), s.httpfeed);
    row->setField(QStringLiteral("httpaddress"), s.httpaddress);
    row->setField(QStringLiteral("httpport"), s.httpport);
    row->setField(QStringLiteral("httptoken"), textOrNull(s.httptoken));
    row->setField(QStringLiteral("httporigins"), textOrNull(s.httporigins.join(QLatin1Char(' '))));
    row->setField(QStringLiteral("mqttfeed"), s.mqttfeed);
    row->setField(QStringLiteral("mqtthost"), textOrNull(s.mqtthost));
    row->setField(QStringLiteral("mqttport"), s.mqttport);
    row->setField(QStringLiteral("mqtttopic"), textOrNull(s.mqtttopic));
    row->setField(QStringLiteral("mqttuser"), textOrNull(s.mqttuser));
    row->setField(QStringLiteral("mqttpassword"), textOrNull(s.mqttpassword));
    row->setField(QStringLiteral("mqtttls"), s.mqtttls);
    row->update();
}

std::optional<qint64> readMqttAcknowledged(Database& db) {
    const QVariant mark = settingsRow(db)->field(QStringLiteral("mqttacked"));
    if (mark.isNull()) return std::nullopt;
    return mark.toLongLong();
}

void writeMqttAcknowledged(Database& db, qint64 slno) {
    db.execute(QStringLiteral("update feeds set mqttacked = ?"), {slno});
}

std::optional<FeedSettingsError> checkFeedSettings(const FeedSettings& s) {
    const auto error = [](const char* field, const QString& why) {
        const QString label = QString::fromLatin1(field);
        return FeedSettingsError{label, label + QStringLiteral(": ") + why};
    };
    if (!isPortNumber(s.httpport))
        return error("Web feed port",
                     QStringLiteral("%1 is not a port number from 1 to 65535.").arg(s.httpport));
    QHostAddress address;
    if (!address.setAddress(s.httpaddress.trimmed()))
        return error("Web feed address",
                     QStringLiteral("\"%1\" is not an IP address (127.0.0.1 for this computer only, 0.0.0.0 "
                                    "for every network).")
                         .arg(s.httpaddress));
    for (const QChar c : s.httptoken)
        if (c.isSpace() || c.unicode() < 0x20 || c.unicode() > 0x7e)
            return error("Web feed token",
                         QStringLiteral("use letters, digits and punctuation only, without blanks."));
    if (!address.isLoopback() && s.httptoken.isEmpty())
        return error("Web feed token", QStringLiteral("a token is needed when the feed listens beyond this "
                                                      "computer (address %1).")
                                           .arg(s.httpaddress));
    for (const QString& origin : s.httporigins)
        if (!parseOrigins(origin) || parseOrigins(origin)->size() != 1)
            return error("Web feed origins",
                         QStringLiteral("\"%1\" is not an origin: write a scheme, a host and a port if "
                                        "needed, as https://erp.example.com:8443.")
                             .arg(origin));
    if (s.mqttfeed && s.mqtthost.trimmed().isEmpty())
        return error("Broker host", QStringLiteral("the broker's host name or address is needed."));
    const QString host = s.mqtthost.trimmed();
    if (std::any_of(host.begin(), host.end(), [](QChar c) { return c.isSpace(); }))
        return error("Broker host", QStringLiteral("\"%1\" is not a host name or address.").arg(s.mqtthost));
    if (!isPortNumber(s.mqttport))
        return error("Broker port",
                     QStringLiteral("%1 is not a port number from 1 to 65535.").arg(s.mqttport));
    if (const auto trouble = s.mqtttopic.isEmpty() ? std::nullopt : mqttTopicTrouble(s.mqtttopic))
        return error("Topic", *trouble);
    if (s.mqtttopic.startsWith(QLatin1Char('$')))
        return error("Topic", QStringLiteral("topics that begin with $ belong to the broker."));
    // The protocol sends a password only after a user name.
    if (s.mqttuser.isEmpty() && !s.mqttpassword.isEmpty())
        return error("Broker user", QStringLiteral("a password needs a user name."));
    return std::nullopt;
}

std::optional<QStringList> parseOrigins(const QString& text) {
    QStringList origins;
    for (const QString& entry :
         text.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts)) {
        // Only what a browser puts in its Origin header: no user, path, query or fragment.
        const QUrl url(entry, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
            url.host().isEmpty() || !url.userInfo().isEmpty() ||
            !(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery() ||
            url.hasFragment() || entry.endsWith(QLatin1Char(':')))
            return std::nullopt;
        const int own = scheme == QLatin1String("https") ? 443 : 80;
        QString origin =
            scheme + QStringLiteral("://") +
            (url.host().contains(QLatin1Char(':')) ? QLatin1Char('[') + url.host() + QLatin1Char(']')
                                                   : url.host().toLower());
        if (url.port(own) != own) origin += QLatin1Char(':') + QString::number(url.port());
        if (!origins.contains(origin)) origins << origin;
    }
    return origins;
}

}  // namespace veltrane
