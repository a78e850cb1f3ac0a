#include "feeds/mqtt/mqtt_feed.h"

#include "config/settings.h"
#include "feeds/feed_json.h"

#include <QCryptographicHash>

namespace veltrane {

namespace {

// Rows waiting for the broker's acknowledgement at once: enough to keep a distant broker busy, few
// enough that a reconnect sends little twice.
constexpr int kWindow = 64;
constexpr int kWeightIntervalMs = 200;
// The mark is written at most this often: a lost write only means a few weighments sent twice.
constexpr int kMarkIntervalMs = 200;

QByteArray weighmentPayload(const ServedWeighment& row, const QString& site) {
    return weighmentJson(row, ", \"site\": " + jsonString(site));
}

// At most 23 characters of letters and digits, which every broker must accept.
QByteArray clientIdFor(const QString& topic) {
    return "veltrane-" +
           QCryptographicHash::hash(topic.toUtf8(), QCryptographicHash::Sha256).toHex().left(14);
}

}  // namespace

MqttFeed::MqttFeed(QString settingsDatabase, std::function<void(const QString&)> note,
                   std::function<bool()> portOpen)
    : m_database(std::move(settingsDatabase)), m_note(std::move(note)), m_portOpen(std::move(portOpen)) {
    QObject::connect(&m_link, &BrokerLink::connected, &m_link, [this] { linkUp(); });
    QObject::connect(&m_link, &BrokerLink::connectionLost, &m_link,
                     [this](const QString& reason) { linkDown(reason); });
    QObject::connect(&m_link, &BrokerLink::acknowledged, &m_link, [this](int mid) {
        if (!m_replies || !m_replies->acknowledged(mid)) acknowledged(mid);
    });
    QObject::connect(&m_link, &BrokerLink::message, &m_link,
                     [this](const QByteArray& t, const QByteArray& p) {
                         if (m_replies) m_replies->message(t, p);
                     });
    m_weightTimer.setSingleShot(true);
    QObject::connect(&m_weightTimer, &QTimer::timeout, &m_link, [this] { sendWeight(); });
    m_markTimer.setSingleShot(true);
    m_markTimer.setInterval(kMarkIntervalMs);
    QObject::connect(&m_markTimer, &QTimer::timeout, &m_link, [this] { saveMark(); });
    m_pumpRetry.setSingleShot(true);
    m_pumpRetry.setInterval(1000);
    QObject::connect(&m_pumpRetry, &QTimer::timeout, &m_link, [this] { pump(); });
}

MqttFeed::~MqttFeed() {
    stop();
}

void MqttFeed::apply(const FeedSettings& settings) {
    Broker next;
    if (settings.mqttfeed) {
        next = Broker{true,
                      settings.mqtthost.trimmed(),
                      settings.mqttport,
                      settings.mqtttopic.isEmpty() ? defaultMqttTopic() : settings.mqtttopic,
                      settings.mqttuser,
                      settings.mqttpassword,
                      settings.mqtttls};
    }
    if (next == m_broker) return;
    stop();
    m_broker = next;
    if (m_broker.on) start();
}

void MqttFeed::start() {
    // The same rules as the configuration window's, for a file changed by other means: a topic the
    // library refuses would leave the feed connected and silent.
    FeedSettings broker;
    broker.mqttfeed = true;
    broker.mqtthost = m_broker.host;
    broker.mqttport = m_broker.port;
    broker.mqtttopic = m_broker.topic;
    broker.mqttuser = m_broker.user;
    broker.mqttpassword = m_broker.password;
    if (const auto error = checkFeedSettings(broker)) {
        m_broker = Broker{};
        if (m_note) m_note(QStringLiteral("Broker feed is off: ") + error->message);
        return;
    }
    try {
        m_db = Database::open(m_database, QString::fromLatin1(kSettingsDatabaseConnect));
        m_outbox = std::make_unique<WeighmentOutbox>(*m_db, kWindow);
        const QString note = m_outbox->open();
        if (!note.isEmpty() && m_note) m_note(note);
    } catch (const DbError& e) {
        m_outbox.reset();
        m_db.reset();
        // Off until the next reload, which then tries again.
        m_broker = Broker{};
        if (m_note) m_note(QStringLiteral("Broker feed is off: ") + e.description());
        return;
    }
    BrokerOptions options;
    options.host = m_broker.host;
    options.port = m_broker.port;
    options.user = m_broker.user;
    options.password = m_broker.password;
    options.tls = m_broker.tls;
    options.willTopic = topic("status");
    options.willPayload = "offline";
    options.maxInFlight = kWindow + 1;  // the weighments and the "online" status
    options.clientId = clientIdFor(m_broker.topic);
    options.subscriptions = {topic("resend")};
    m_replies = std::make_unique<FeedReplies>(*m_db, m_link, m_broker.topic, m_note);
    m_absenceNoted = false;
    m_lastTrouble.clear();
    m_link.start(options);
}

void MqttFeed::stop() {
    if (!m_outbox) return;
    m_link.stop(topic("status"), "offline");
    m_markTimer.stop();
    m_weightTimer.stop();
    m_pumpRetry.stop();
    saveMark();
    m_pending.clear();
    if (m_replies) m_replies->persist();
    m_replies.reset();
    m_outbox.reset();
    m_db.reset();
}

void MqttFeed::weightChanged(const QString& weightText) {
    m_weight = weightText;
    offerWeight();
}

void MqttFeed::weighmentServed(const ServedWeighment&) {
    // The row is on disk: it goes out from there, behind any older row still waiting.
    pump();
}

void MqttFeed::linkUp() {
    if (m_absenceNoted && m_note)
        m_note(QStringLiteral("Broker %1:%2 connected again.").arg(m_broker.host).arg(m_broker.port));
    m_absenceNoted = false;
    m_link.publish(topic("status"), "online", 1, true);
    m_weightSent.reset();
    sendWeight();
    m_pending.clear();
    m_outbox->restart();
    pump();
    if (m_replies) m_replies->linkUp();
}

void MqttFeed::linkDown(const QString& reason) {
    m_pending.clear();
    m_weightTimer.stop();
    if (m_absenceNoted || !m_note) return;
    m_absenceNoted = true;
    m_note(QStringLiteral("Broker %1:%2 not reachable (%3); weighments wait in the weight log and are sent "
                          "when it returns.")
               .arg(m_broker.host)
               .arg(m_broker.port)
               .arg(reason));
}

void MqttFeed::acknowledged(int mid) {
    const auto it = m_pending.find(mid);
    if (it == m_pending.end()) return;  // the status, or a message from before a reconnect
    const qint64 slno = it->second;
    m_pending.erase(it);
    if (m_outbox->acknowledge(slno) && !m_markTimer.isActive()) m_markTimer.start();
    // Refill in batches: one read of the log per half window rather than per acknowledgement.
    if (m_outbox->inFlight() <= kWindow / 2) pump();
}

void MqttFeed::pump() {
    if (!m_outbox || !m_link.isConnected()) return;
    std::vector<ServedWeighment> rows;
    try {
        rows = m_outbox->takeNext();
    } catch (const DbError& e) {
        trouble(e.description());
        m_pumpRetry.start();
        return;
    }
    for (const ServedWeighment& row : rows) {
        const int mid = m_link.publish(topic("weighment"), weighmentPayload(row, m_broker.topic), 1, false);
        if (mid < 0) {
            // Not sent: this row and the rest go again, after a reconnect when the connection broke.
            m_outbox->handBack(row.slno);
            if (!m_link.publishRefusal().isEmpty()) {
                trouble(m_link.publishRefusal());
                m_pumpRetry.start();
            }
            return;
        }
        m_pending[mid] = row.slno;
    }
}

void MqttFeed::offerWeight() {
    if (!m_link.isConnected() || m_weightTimer.isActive()) return;
    const qint64 since = m_weightClock.isValid() ? m_weightClock.elapsed() : kWeightIntervalMs;
    if (since >= kWeightIntervalMs)
        sendWeight();
    else
        m_weightTimer.start(int(kWeightIntervalMs - since));
}

void MqttFeed::sendWeight() {
    const QByteArray payload = weightPayload();
    if (!m_link.isConnected() || m_weightSent == payload) return;
    if (m_link.publish(topic("weight"), payload, 0, true) < 0) return;
    m_weightSent = payload;
    m_weightClock.start();
}

void MqttFeed::saveMark() {
    if (!m_outbox) return;
    try {
        m_outbox->persist();
    } catch (const DbError& e) {
        trouble(e.description());
    }
}

void MqttFeed::trouble(const QString& description) {
    if (description == m_lastTrouble || !m_note) return;
    m_lastTrouble = description;
    m_note(QStringLiteral("Broker feed: ") + description);
}

QByteArray MqttFeed::weightPayload() const {
    const bool portOpen = !m_portOpen || m_portOpen();
    return "{\"weight\": " + jsonString(m_weight) + ", \"port\": \"" + (portOpen ? "on" : "off") + "\"}";
}

QByteArray MqttFeed::topic(const char* leaf) const {
    return m_broker.topic.toUtf8() + '/' + leaf;
}

}  // namespace veltrane
