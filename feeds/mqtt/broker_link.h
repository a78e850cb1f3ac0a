#pragma once
// One MQTT connection through libmosquitto, run by the program's own event loop: the socket is watched
// by socket notifiers, the library's housekeeping (keep-alive, time-outs) runs on a timer, and nothing
// the library does ever waits. The broker's name is looked up by Qt's asynchronous host lookup and the
// library is given the address, because its own connect resolves names synchronously; with TLS the
// certificate is still checked against the name (and the name sent as SNI), not against the address.
// A failed or lost connection is tried again after 1 s, doubling to at most 60 s; the delay starts at
// 1 s again only after a connection that stayed up for 30 s, so that a broker that accepts and then
// drops the client is not hit once a second.
// The client id is fixed (BrokerOptions::clientId): a broker that still holds the session of an
// earlier run (killed, or cut off without the broker noticing) ends it, publishing its will, before
// it accepts the new one, so no old will lands after the new run's status.

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <utility>
#include <vector>

class QHostInfo;
class QSocketNotifier;
struct mosquitto;
struct ssl_ctx_st;

namespace veltrane {

struct BrokerOptions {
    QString host;
    int port = 1883;
    QString user;      // empty: no user name
    QString password;  // empty: no password
    bool tls = false;  // verify the broker against the system's certificate store
    // Published (retained, QoS 1) by the broker when the connection ends without a goodbye.
    QByteArray willTopic;
    QByteArray willPayload;
    int keepAliveSeconds = 30;
    // How many QoS 1 messages may wait for their acknowledgement at once.
    int maxInFlight = 64;
    // Empty: the library makes a random one. A fixed id makes the broker end an earlier session of the
    // same id before it accepts this one; with keepSession the broker also keeps the subscriptions and
    // the QoS 1 messages for them while the client is away.
    QByteArray clientId;
    bool keepSession = false;
    // Subscribed to (QoS 1) on every connection, before connected() is emitted.
    QList<QByteArray> subscriptions;

    bool operator==(const BrokerOptions&) const = default;
};

class BrokerLink final : public QObject {
    Q_OBJECT
public:
    explicit BrokerLink(QObject* parent = nullptr);
    ~BrokerLink() override;  // drops the connection at once (the broker publishes the will)

    // Connects, and keeps reconnecting until stop().
    void start(const BrokerOptions& options);
    // Ends the connection: when connected, first publishes farewell (retained) and says goodbye, so
    // the will is not published.
    void stop(const QByteArray& farewellTopic = {}, const QByteArray& farewellPayload = {});

    bool isConnected() const { return m_connected; }
    // Queues a message; returns its message id, or -1 when not connected or refused.
    int publish(const QByteArray& topic, const QByteArray& payload, int qos, bool retain);
    // Why the library refused the last publish that returned -1 while connected; empty when the
    // connection was the reason (it is then reported as lost).
    const QString& publishRefusal() const { return m_refusal; }

Q_SIGNALS:
    void connected();
    // An attempt failed or the connection was lost; another attempt follows by itself.
    void connectionLost(const QString& reason);
    // The broker acknowledged the QoS 1 message with this id.
    void acknowledged(int mid);
    // A message arrived on one of the subscriptions.
    void message(const QByteArray& topic, const QByteArray& payload);

private:
    friend struct LinkCallbacks;

    void attempt();
    void hostFound(const QHostInfo& info);
    void connectNext();
    void service();
    void housekeeping();
    void settle(int rc, int err);
    void fail(const QString& reason, bool tryNextAddress);
    void drop();
    void watchWrites();

    BrokerOptions m_options;
    bool m_running = false;
    bool m_connected = false;
    int m_delaySeconds = 1;
    int m_lookupId = -1;
    QList<QHostAddress> m_addresses;
    int m_nextAddress = 0;
    QString m_lastReason;
    QString m_refusal;
    QElapsedTimer m_upSince;

    mosquitto* m_mosq = nullptr;
    ssl_ctx_st* m_tls = nullptr;
    QByteArray m_tlsName;  // the broker's name for SNI; lives as long as m_tls
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QSocketNotifier> m_writable;
    QTimer m_housekeeping;
    QTimer m_connectTimeout;
    QTimer m_retry;
    // Changes whenever the connection is dropped, so that a handler can tell that a signal it emitted
    // led to a stop or a restart.
    quint64 m_generation = 0;

    // What libmosquitto's callbacks reported during one of its calls; handled after the call returns,
    // never inside it.
    int m_connack = -1;
    bool m_disconnectReported = false;
    std::vector<int> m_acked;
    std::vector<std::pair<QByteArray, QByteArray>> m_arrived;
};

}  // namespace veltrane
