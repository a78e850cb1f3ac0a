#pragma once
// The web feed: the live weight, each serving and the weight log over HTTP and Server-Sent Events for
// web pages and ERPs, and the sample page (WebServer says what it answers). Off unless table feeds
// says httpfeed; started, restarted or stopped by every reload of the feed hub. A feed that cannot
// listen (the port taken, the address not on this computer) says so on the status line and tries again
// every 5 s.

#include "config/feed_settings.h"
#include "core/weight_feed.h"
#include "feeds/feed_hub.h"
#include "feeds/http/web_server.h"
#include "platform/database.h"

#include <QTimer>

#include <functional>
#include <memory>

namespace veltrane {

class HttpFeed final : public WeightFeed, public ConfiguredFeed {
public:
    // settingsDatabase: scale.mdb, which holds the weight log. page: the sample page's file. portOpen:
    // whether the serial port is open. note: shows a line on the main window's status line.
    HttpFeed(QString settingsDatabase, QString page, std::function<bool()> portOpen,
             std::function<void(const QString&)> note, const HttpLimits& limits = {});
    ~HttpFeed() override;
    HttpFeed(const HttpFeed&) = delete;
    HttpFeed& operator=(const HttpFeed&) = delete;

    void weightChanged(const QString& weightText) override;
    void weighmentServed(const ServedWeighment& weighment) override;
    void apply(const FeedSettings& settings) override;

    // The server while it listens, else null (for tests and benchmarks).
    WebServer* server() const { return m_server.get(); }

private:
    struct Listen {
        bool on = false;
        QString address;
        int port = 0;
        QString token;
        QStringList origins;
        bool operator==(const Listen&) const = default;
    };

    void start();
    std::vector<ServedWeighment> weighments(const WebSources::Query& query);
    Database& database();
    QString logId();

    QString m_database;
    QString m_page;
    std::function<bool()> m_portOpen;
    std::function<void(const QString&)> m_note;
    HttpLimits m_limits;
    Listen m_listen;
    std::unique_ptr<WebServer> m_server;
    std::unique_ptr<Database> m_db;
    QString m_weight;
    QString m_logId;
    QString m_lastTrouble;
    QTimer m_retry;
};

}  // namespace veltrane
