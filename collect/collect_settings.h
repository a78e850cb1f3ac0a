#pragma once
// The collector's settings file: one "name = value" a line, '#' starts a comment line.
//   host, port, tls, user, password   the broker, checked as the broker feed checks its own
//   topic                             the sites' topics, '+' for whole levels (default "veltrane/+")
//   database                          a libpq connection string ("host=... dbname=... user=...")
//   clientid                          the persistent session's client id (default "veltrane-collect")
//   recheck                           seconds between the searches for missing rows (default 30)
//   batch                             most rows a transaction (default 500)

#include <QString>

#include <variant>

namespace veltrane {

struct CollectSettings {
    QString host;
    int port = 1883;
    bool tls = false;
    QString user;
    QString password;
    QString topic = QStringLiteral("veltrane/+");
    QString database;
    QString clientId = QStringLiteral("veltrane-collect");
    int recheckSeconds = 30;
    int batch = 500;
};

// The settings, or a message naming the line or the setting at fault.
std::variant<CollectSettings, QString> parseCollectSettings(const QByteArray& text);
std::variant<CollectSettings, QString> readCollectSettings(const QString& path);

}  // namespace veltrane
