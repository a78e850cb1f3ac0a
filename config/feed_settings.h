#pragma once
// The outward feeds' settings: the one row of table feeds in the settings database. A file made
// before the feeds existed gets the table, or the columns it lacks, with their defaults at start-up.

#include "platform/database.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace veltrane {

struct FeedSettings {
    // The web feed (HTTP and Server-Sent Events).
    bool httpfeed = false;
    QString httpaddress = QStringLiteral("127.0.0.1");
    int httpport = 8765;
    QString httptoken;  // empty: no token (Null in the table)
    // Origins ("https://erp.example.com:8443") whose pages may read the feed from a browser, and whose
    // host names the feed answers to; none by default. Blank-separated in the table (Null when none).
    QStringList httporigins;

    // The broker feed (MQTT).
    bool mqttfeed = false;
    QString mqtthost;
    int mqttport = 1883;
    QString mqtttopic;  // empty in the table: "veltrane/" and the host name
    QString mqttuser;
    QString mqttpassword;
    bool mqtttls = false;

    bool operator==(const FeedSettings&) const = default;
};

// "veltrane/" followed by this computer's host name.
QString defaultMqttTopic();

// Creates table feeds with its default row, or adds the columns and row it lacks; keeps every value
// already there. Throws DbError.
void ensureFeedsTable(Database& db);
// The settings row; a Null or empty topic reads as defaultMqttTopic(). Throws DbError.
FeedSettings readFeedSettings(Database& db);
// Writes the settings (not the broker's acknowledgement mark). Throws DbError.
void writeFeedSettings(Database& db, const FeedSettings& settings);

// The serial number of the last weighment the broker acknowledged; nothing when the broker feed has
// never run on this file.
std::optional<qint64> readMqttAcknowledged(Database& db);
void writeMqttAcknowledged(Database& db, qint64 slno);

// A setting that cannot be saved: the field as the configuration window labels it, and why.
struct FeedSettingsError {
    QString field;
    QString message;
};
// Checks what a save would store: ports from 1 to 65535, an IP address to listen on, a token for any
// address beyond this computer, origins that are only a scheme, a host and a port, a broker host (without
// blanks) when the broker feed is on, a topic without wildcards that is not one of the broker's own ($...),
// no broker password without a user.
std::optional<FeedSettingsError> checkFeedSettings(const FeedSettings& settings);

// The origins as typed (blanks or commas between them), each as a browser sends it: lowercase scheme
// and host, the port only when it is not the scheme's own. Nothing for an entry that is not an origin.
std::optional<QStringList> parseOrigins(const QString& text);

}  // namespace veltrane
