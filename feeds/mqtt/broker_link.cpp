#include "feeds/mqtt/broker_link.h"

#include <QHostInfo>
#include <QSocketNotifier>
#include <QUrl>

#include <mosquitto.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace veltrane {

namespace {

constexpr int kMaxDelaySeconds = 60;
constexpr int kConnectTimeoutSeconds = 10;
constexpr int kHousekeepingMs = 1000;
constexpr qint64 kSteadyMs = 30000;

void initLibrary() {
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)done;
}

// libmosquitto sends, as SNI, the text it was asked to connect to, which here is an address; a broker
// behind a name-routing proxy needs the name. The handshake's start is the last moment to set it.
void sendServerName(const SSL* ssl, int where, int) {
    if (!(where & SSL_CB_HANDSHAKE_START)) return;
    auto* name = static_cast<char*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), 0));
    if (name) SSL_ctrl(const_cast<SSL*>(ssl), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, name);
}

QString describe(int rc, int err) {
    if (rc == MOSQ_ERR_ERRNO) return QString::fromLocal8Bit(std::strerror(err));
    if (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN) return QStringLiteral("the connection was lost");
    return QString::fromUtf8(mosquitto_strerror(rc));
}

}  // namespace

// libmosquitto calls these inside its own calls; they only take note, and the link acts once the
// call has returned (the library forbids destroying a client from inside its callbacks).
struct LinkCallbacks {
    static void connected(mosquitto*, void* link, int rc) { static_cast<BrokerLink*>(link)->m_connack = rc; }
    static void disconnected(mosquitto*, void* link, int) {
        static_cast<BrokerLink*>(link)->m_disconnectReported = true;
    }
    static void published(mosquitto*, void* link, int mid) {
        static_cast<BrokerLink*>(link)->m_acked.push_back(mid);
    }
    static void arrived(mosquitto*, void* link, const mosquitto_message* m) {
        static_cast<BrokerLink*>(link)->m_arrived.emplace_back(
            QByteArray(m->topic), QByteArray(static_cast<const char*>(m->payload), m->payloadlen));
    }
};

BrokerLink::BrokerLink(QObject* parent) : QObject(parent) {
    initLibrary();
    m_housekeeping.setInterval(kHousekeepingMs);
    connect(&m_housekeeping, &QTimer::timeout, this, &BrokerLink::housekeeping);
    m_connectTimeout.setSingleShot(true);
    connect(&m_connectTimeout, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("no answer within %1 s").arg(kConnectTimeoutSeconds), true); });
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &BrokerLink::attempt);
}

BrokerLink::~BrokerLink() {
    stop();
}

void BrokerLink::start(const BrokerOptions& options) {
    stop();
    m_options = options;
    m_options.host = m_options.host.trimmed();
    m_running = true;
    m_delaySeconds = 1;
    if (m_options.tls) {
        m_tls = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(m_tls, TLS1_2_VERSION);
        // The system's certificate store (SSL_CERT_FILE and SSL_CERT_DIR point elsewhere when set).
        SSL_CTX_set_default_verify_paths(m_tls);
        SSL_CTX_set_verify(m_tls, SSL_VERIFY_PEER, nullptr);
        X509_VERIFY_PARAM* check = SSL_CTX_get0_param(m_tls);
        QHostAddress literal;
        if (literal.setAddress(m_options.host)) {
            X509_VERIFY_PARAM_set1_ip_asc(check, m_options.host.toLatin1().constData());
        } else {
            m_tlsName = QUrl::toAce(m_options.host);
            X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            X509_VERIFY_PARAM_set1_host(check, m_tlsName.constData(), 0);
            SSL_CTX_set_ex_data(m_tls, 0, m_tlsName.data());
            SSL_CTX_set_info_callback(m_tls, sendServerName);
        }
    }
    attempt();
}

void BrokerLink::stop(const QByteArray& farewellTopic, const QByteArray& farewellPayload) {
    m_running = false;
    m_retry.stop();
    if (m_lookupId >= 0) QHostInfo::abortHostLookup(std::exchange(m_lookupId, -1));
    if (m_connected && m_mosq) {
        if (!farewellTopic.isEmpty())
            mosquitto_publish(m_mosq, nullptr, farewellTopic.constData(), int(farewellPayload.size()),
                              farewellPayload.constData(), 1, true);
        mosquitto_disconnect(m_mosq);
        // Whatever the socket takes now; a broker that does not read it publishes the will instead.
        mosquitto_loop_write(m_mosq, 1);
    }
    drop();
    if (m_tls) SSL_CTX_free(std::exchange(m_tls, nullptr));
}

int BrokerLink::publish(const QByteArray& topic, const QByteArray& payload, int qos, bool retain) {
    m_refusal.clear();
    if (!m_connected || !m_mosq) return -1;
    int mid = -1;
    const int rc = mosquitto_publish(m_mosq, &mid, topic.constData(), int(payload.size()),
                                     payload.constData(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST && rc != MOSQ_ERR_ERRNO)
            m_refusal = describe(rc, errno);
        // A broken socket shows itself at the next read; look now rather than at the next event.
        QTimer::singleShot(0, this, [this, generation = m_generation] {
            if (generation == m_generation) service();
        });
        return -1;
    }
    watchWrites();
    return mid;
}

void BrokerLink::attempt() {
    if (!m_running) return;
    m_addresses.clear();
    m_nextAddress = 0;
    QHostAddress literal;
    if (literal.setAddress(m_options.host)) {
        m_addresses.append(literal);
        connectNext();
        return;
    }
    // libmosquitto's own connect would call getaddrinfo() here and hold the window while a name
    // server is slow or away; Qt looks the name up off the event loop and reports back to it.
    m_lookupId =
        QHostInfo::lookupHost(m_options.host, this, [this](const QHostInfo& info) { hostFound(info); });
}

void BrokerLink::hostFound(const QHostInfo& info) {
    m_lookupId = -1;
    if (!m_running) return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        fail(QStringLiteral("the name %1 cannot be looked up (%2)").arg(m_options.host, info.errorString()),
             false);
        return;
    }
    m_addresses = info.addresses();
    m_nextAddress = 0;
    connectNext();
}

void BrokerLink::connectNext() {
    while (m_nextAddress < m_addresses.size()) {
        const QByteArray address = m_addresses[m_nextAddress++].toString().toLatin1();
        const bool fixed = !m_options.clientId.isEmpty();
        m_mosq = mosquitto_new(fixed ? m_options.clientId.constData() : nullptr,
                               !(fixed && m_options.keepSession), this);
        if (!m_mosq) {
            m_lastReason = QStringLiteral("out of memory");
            break;
        }
        mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_max_inflight_messages_set(m_mosq, unsigned(std::max(m_options.maxInFlight, 1)));
        mosquitto_connect_callback_set(m_mosq, LinkCallbacks::connected);
        mosquitto_disconnect_callback_set(m_mosq, LinkCallbacks::disconnected);
        mosquitto_publish_callback_set(m_mosq, LinkCallbacks::published);
        mosquitto_message_callback_set(m_mosq, LinkCallbacks::arrived);
        if (!m_options.user.isEmpty())
            mosquitto_username_pw_set(
                m_mosq, m_options.user.toUtf8().constData(),
                m_options.password.isEmpty() ? nullptr : m_options.password.toUtf8().constData());
        if (!m_options.willTopic.isEmpty()) {
            const int will =
                mosquitto_will_set(m_mosq, m_options.willTopic.constData(), int(m_options.willPayload.size()),
                                   m_options.willPayload.constData(), 1, true);
            if (will != MOSQ_ERR_SUCCESS) {
                // Connecting anyway would leave subscribers with no "offline" after a cut.
                m_lastReason = QStringLiteral("the will cannot be set: ") + describe(will, errno);
                drop();
                break;
            }
        }
        if (m_tls) {
            mosquitto_void_option(m_mosq, MOSQ_OPT_SSL_CTX, m_tls);
            mosquitto_int_option(m_mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        }
        // An address needs no lookup, so this returns at once; the TCP connection completes later.
        const int rc =
            mosquitto_connect_async(m_mosq, address.constData(), m_options.port, m_options.keepAliveSeconds);
        const int err = errno;
        const int fd = mosquitto_socket(m_mosq);
        if (rc == MOSQ_ERR_SUCCESS && fd >= 0) {
            m_readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            m_writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
            connect(m_readable.get(), &QSocketNotifier::activated, this, &BrokerLink::service);
            connect(m_writable.get(), &QSocketNotifier::activated, this, &BrokerLink::service);
            m_connectTimeout.start(kConnectTimeoutSeconds * 1000);
            m_housekeeping.start();
            watchWrites();
            return;
        }
        m_lastReason = describe(rc, err);
        drop();
    }
    fail(m_lastReason, false);
}

void BrokerLink::service() {
    if (!m_mosq) return;
    // Reading also drives a TLS handshake, which may be waiting to write rather than to read.
    int rc = mosquitto_loop_read(m_mosq, 1);
    int err = errno;
    if (rc == MOSQ_ERR_SUCCESS && m_mosq && mosquitto_want_write(m_mosq)) {
        rc = mosquitto_loop_write(m_mosq, 1);
        err = errno;
    }
    settle(rc, err);
}

void BrokerLink::housekeeping() {
    if (!m_mosq) return;
    const int rc = mosquitto_loop_misc(m_mosq);
    settle(rc, errno);
}

void BrokerLink::settle(int rc, int err) {
    const quint64 generation = m_generation;
    if (m_connack >= 0) {
        const int code = std::exchange(m_connack, -1);
        if (code != 0) {
            fail(QStringLiteral("the broker refused the connection: %1")
                     .arg(QString::fromUtf8(mosquitto_connack_string(code))),
                 false);
            return;
        }
        m_connected = true;
        m_upSince.start();
        m_connectTimeout.stop();
        for (const QByteArray& filter : std::as_const(m_options.subscriptions))
            mosquitto_subscribe(m_mosq, nullptr, filter.constData(), 1);
        Q_EMIT connected();
        if (generation != m_generation) return;
    }
    std::vector<int> acked;
    acked.swap(m_acked);
    for (const int mid : acked) {
        Q_EMIT acknowledged(mid);
        if (generation != m_generation) return;
    }
    std::vector<std::pair<QByteArray, QByteArray>> arrived;
    arrived.swap(m_arrived);
    for (const auto& [topic, payload] : arrived) {
        Q_EMIT message(topic, payload);
        if (generation != m_generation) return;
    }
    if (rc != MOSQ_ERR_SUCCESS || m_disconnectReported) {
        fail(describe(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, err), true);
        return;
    }
    watchWrites();
}

void BrokerLink::fail(const QString& reason, bool tryNextAddress) {
    const bool wasConnected = m_connected;
    if (wasConnected && m_upSince.elapsed() >= kSteadyMs) m_delaySeconds = 1;
    drop();
    m_lastReason = reason;
    if (!m_running) return;
    if (!wasConnected && tryNextAddress && m_nextAddress < m_addresses.size()) {
        connectNext();
        return;
    }
    m_retry.start(m_delaySeconds * 1000);
    m_delaySeconds = std::min(m_delaySeconds * 2, kMaxDelaySeconds);
    Q_EMIT connectionLost(reason);
}

void BrokerLink::drop() {
    ++m_generation;
    // The notifiers go before the socket they watch is closed.
    m_readable.reset();
    m_writable.reset();
    m_housekeeping.stop();
    m_connectTimeout.stop();
    if (m_mosq) mosquitto_destroy(std::exchange(m_mosq, nullptr));
    m_connected = false;
    m_connack = -1;
    m_disconnectReported = false;
    m_acked.clear();
    m_arrived.clear();
}

void BrokerLink::watchWrites() {
    if (m_writable) m_writable->setEnabled(m_mosq && mosquitto_want_write(m_mosq));
}

}  // namespace veltrane
