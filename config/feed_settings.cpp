#include "config/feed_settings.h"

#include <QHostAddress>
#include <QSysInfo>
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
    if (s.mqttfeed && s.mqtthost.trimmed().isEmpty())
        return error("Broker host", QStringLiteral("the broker's host name or address is needed."));
    const QString host = s.mqtthost.trimmed();
    if (std::any_of(host.begin(), host.end(), [](QChar c) { return c.isSpace(); }))
        return error("Broker host", QStringLiteral("\"%1\" is not a host name or address.").arg(s.mqtthost));
    if (!isPortNumber(s.mqttport))
        return error("Broker port",
                     QStringLiteral("%1 is not a port number from 1 to 65535.").arg(s.mqttport));
    if (s.mqtttopic.contains(QLatin1Char('+')) || s.mqtttopic.contains(QLatin1Char('#')) ||
        s.mqtttopic.contains(QChar(0)))
        return error("Topic", QStringLiteral("\"%1\" may not contain + or #.").arg(s.mqtttopic));
    if (s.mqtttopic.startsWith(QLatin1Char('$')))
        return error("Topic", QStringLiteral("topics that begin with $ belong to the broker."));
    // The protocol sends a password only after a user name.
    if (s.mqttuser.isEmpty() && !s.mqttpassword.isEmpty())
        return error("Broker user", QStringLiteral("a password needs a user name."));
    return std::nullopt;
}

}  // namespace veltrane
