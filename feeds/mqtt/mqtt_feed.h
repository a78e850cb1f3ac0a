#pragma once
// The broker feed: publishes every weighment and the live weight to an MQTT broker, so that the
// weighbridges of a company meet in one place.
//   <topic>/weighment  QoS 1, {"slno": N, "weight": "...", "datetime": "...", "logid": "...",
//                      "site": "<topic>"}, one per weight-log row, in serial-number order, at least once
//                      (subscribers drop repeats by site, log id and slno)
//   <topic>/weight     QoS 0, retained, {"weight": "...", "port": "on"|"off"}, on change, at most five a
//                      second, the latest value always last; an empty weight while the port is off
//   <topic>/status     retained "online" while connected; "offline" on a clean stop and as the will
// Rows are read from the weight log once they are on disk, never from memory, so nothing served while
// the broker is away (or while the program was not running) is lost. A row the library refuses to send
// goes again a second later, and the operator reads the library's reason once.
// The client id is fixed per topic, so that a new run takes over the broker's session of an old one.

#include "config/feed_settings.h"
#include "core/weight_feed.h"
#include "feeds/feed_hub.h"
#include "feeds/mqtt/broker_link.h"
#include "feeds/mqtt/feed_replies.h"
#include "feeds/mqtt/weighment_outbox.h"

#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace veltrane {

class MqttFeed final : public WeightFeed, public ConfiguredFeed {
public:
    // settingsDatabase: the path of scale.mdb (weight log and the broker's mark). note: shows a line on
    // the main window's status line.
    // portOpen: whether the serial port is open.
    MqttFeed(QString settingsDatabase, std::function<void(const QString&)> note,
             std::function<bool()> portOpen = {});
    ~MqttFeed() override;
    MqttFeed(const MqttFeed&) = delete;
    MqttFeed& operator=(const MqttFeed&) = delete;

    void weightChanged(const QString& weightText) override;
    void weighmentServed(const ServedWeighment& weighment) override;
    void apply(const FeedSettings& settings) override;

private:
    struct Broker {
        bool on = false;
        QString host;
        int port = 0;
        QString topic;
        QString user;
        QString password;
        bool tls = false;
        bool operator==(const Broker&) const = default;
    };

    void start();
    void stop();
    void linkUp();
    void linkDown(const QString& reason);
    void acknowledged(int mid);
    void pump();
    void offerWeight();
    void sendWeight();
    void saveMark();
    void trouble(const QString& description);
    QByteArray topic(const char* leaf) const;
    QByteArray weightPayload() const;

    QString m_database;
    std::function<void(const QString&)> m_note;
    std::function<bool()> m_portOpen;
    Broker m_broker;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<WeighmentOutbox> m_outbox;
    std::unique_ptr<FeedReplies> m_replies;  // resend answers and the events
    BrokerLink m_link;
    std::map<int, qint64> m_pending;  // message id of each weighment sent, to its serial number
    QString m_weight;
    // nothing: the broker's retained weight is not known to be current
    std::optional<QByteArray> m_weightSent;
    QElapsedTimer m_weightClock;
    QTimer m_weightTimer;
    QTimer m_markTimer;
    QTimer m_pumpRetry;
    bool m_absenceNoted = false;
    QString m_lastTrouble;
};

}  // namespace veltrane
