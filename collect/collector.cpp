#include "collect/collector.h"

#include "feeds/feed_json.h"

#include <QTextStream>

#include <algorithm>

namespace veltrane {

namespace {

// A batch waits at most this long for more rows, which keeps the time from serving to the committed
// row short while a burst still goes in large transactions.
constexpr int kFlushMs = 10;
// Sites answer at most one request a second: a little more leaves room for clock differences.
constexpr qint64 kRequestGapMs = 1100;
constexpr int kTickMs = 1200;
constexpr qint64 kMaxRows = 1000;
// After a (re)connection the broker first hands over what it kept; the round of requests follows.
constexpr qint64 kSettleMs = 2000;

QByteArray rangeRequest(const QString& logid, qint64 from, qint64 to) {
    return "{\"logid\": " + jsonString(logid) + ", \"from\": " + QByteArray::number(from) +
           ", \"to\": " + QByteArray::number(to) + "}";
}

}  // namespace

Collector::Collector(CollectSettings settings, std::unique_ptr<Store> store)
    : m_settings(std::move(settings)), m_store(std::move(store)) {
    m_clock.start();
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &Collector::flush);
    m_tickTimer.setInterval(kTickMs);
    connect(&m_tickTimer, &QTimer::timeout, this, &Collector::tick);
    connect(&m_link, &BrokerLink::message, this, &Collector::arrived);
    connect(&m_link, &BrokerLink::connected, this, [this] {
        say(QStringLiteral("connected to the broker %1:%2").arg(m_settings.host).arg(m_settings.port));
        // Whatever was lost while away: every site is asked for what follows its last row.
        // Whatever was lost while away: a round of requests once the queued messages are in.
        m_lastCheck = m_clock.elapsed() - qint64(m_settings.recheckSeconds) * 1000 + kSettleMs;
    });
    connect(&m_link, &BrokerLink::connectionLost, this,
            [this](const QString& why) { say(QStringLiteral("broker: ") + why); });
}

Collector::~Collector() {
    flush();
}

void Collector::start() {
    BrokerOptions options;
    options.host = m_settings.host;
    options.port = m_settings.port;
    options.user = m_settings.user;
    options.password = m_settings.password;
    options.tls = m_settings.tls;
    options.clientId = m_settings.clientId.toUtf8();
    options.keepSession = true;
    options.maxInFlight = 1000;
    const QByteArray filter = m_settings.topic.toUtf8();
    options.subscriptions = {filter + "/weighment", filter + "/events", filter + "/status"};
    m_link.start(options);
    m_tickTimer.start();
}

void Collector::arrived(const QByteArray& topic, const QByteArray& payload) {
    const TopicParts parts = splitTopic(topic);
    if (parts.leaf == QLatin1String("weighment")) {
        if (auto m = parseWeighment(parts.site, payload)) m_rows.push_back(std::move(*m));
    } else if (parts.leaf == QLatin1String("events")) {
        if (auto e = parseEvent(parts.site, payload)) m_events.push_back(std::move(*e));
    } else if (parts.leaf == QLatin1String("status")) {
        const QString status = QString::fromUtf8(payload);
        // A site back online answers now what was asked while it was away, or the next round does.
        if (status == QLatin1String("online")) m_checkDue = true;
        m_statuses.emplace_back(parts.site, status);
    } else {
        return;
    }
    if (int(m_rows.size()) >= m_settings.batch)
        flush();
    else if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void Collector::flush() {
    m_flushTimer.stop();
    if (m_rows.empty() && m_events.empty() && m_statuses.empty()) return;
    try {
        m_store->write(m_rows, m_events, m_statuses);
        m_rows.clear();
        m_events.clear();
        m_statuses.clear();
        m_lastTrouble.clear();
    } catch (const StoreError& e) {
        say(QStringLiteral("PostgreSQL: ") + QString::fromUtf8(e.what()));
        m_store->ensureConnected();
        // Kept, and tried again; anything lost meanwhile is asked for again from the site.
        m_flushTimer.start(1000);
    }
}

void Collector::tick() {
    if (!m_link.isConnected()) return;
    flush();
    const qint64 now = m_clock.elapsed();
    if (m_checkDue || now - m_lastCheck >= qint64(m_settings.recheckSeconds) * 1000) {
        try {
            check();
        } catch (const StoreError& e) {
            say(QStringLiteral("PostgreSQL: ") + QString::fromUtf8(e.what()));
            m_store->ensureConnected();
        }
    }
    for (auto& [site, requests] : m_requests) {
        const auto last = m_lastAsked.find(site);
        if (requests.empty() || (last != m_lastAsked.end() && now - last->second < kRequestGapMs)) continue;
        m_lastAsked[site] = now;
        m_link.publish(site.toUtf8() + "/resend", requests.front(), 1, false);
        requests.pop_front();
    }
}

void Collector::check() {
    m_checkDue = false;
    m_lastCheck = m_clock.elapsed();
    const QString clock = m_store->clock();
    std::vector<QString> changed;
    if (m_checkedAt.isEmpty()) {
        m_logs.clear();
        for (LogState& log : m_store->logs()) m_logs[log.site].push_back(std::move(log));
        for (const auto& [site, logs] : m_logs) changed.push_back(site);
    } else {
        changed = m_store->changedSites(m_checkedAt);
        for (const QString& site : changed) m_logs[site] = m_store->logs(site);
    }
    m_checkedAt = clock;
    std::vector<LogState> checked;
    for (const QString& site : changed)
        checked.insert(checked.end(), m_logs[site].begin(), m_logs[site].end());
    m_store->recordChecks(checked);

    // A new round of requests: holes by serial, once a run the rows before the first held (a log fed to
    // the broker from its middle has nothing to send there), and the rows after the last.
    m_requests.clear();
    for (const auto& [site, logs] : m_logs)
        for (const LogState& log : logs) {
            if (log.logid.isEmpty()) continue;
            if (!log.missing.empty()) {
                QByteArray list;
                for (size_t i = 0; i < log.missing.size() && i < size_t(kMaxRows); ++i)
                    list += (i ? ", " : "") + QByteArray::number(log.missing[i]);
                m_requests[site].push_back("{\"logid\": " + jsonString(log.logid) + ", \"slno\": [" + list +
                                           "]}");
            }
            if (log.lowest > 1 && m_headAsked.insert({site, log.logid}).second)
                m_requests[site].push_back(
                    rangeRequest(log.logid, std::max<qint64>(1, log.lowest - kMaxRows), log.lowest - 1));
        }
    for (const auto& [site, last] : m_store->lastRows())
        if (!last.first.isEmpty())
            m_requests[site].push_back(rangeRequest(last.first, last.second + 1, last.second + kMaxRows));
}

void Collector::say(const QString& line) {
    if (line == m_lastTrouble) return;
    m_lastTrouble = line;
    QTextStream(stderr) << "veltrane-collect: " << line << Qt::endl;
}

}  // namespace veltrane
