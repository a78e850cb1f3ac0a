#include "feeds/http/http_feed.h"

#include "config/settings.h"
#include "config/weight_chain.h"
#include "feeds/feed_json.h"

#include <QDate>
#include <QHostAddress>

namespace veltrane {

HttpFeed::HttpFeed(QString settingsDatabase, QString page, std::function<bool()> portOpen,
                   std::function<void(const QString&)> note, const HttpLimits& limits)
    : m_database(std::move(settingsDatabase)),
      m_page(std::move(page)),
      m_portOpen(std::move(portOpen)),
      m_note(std::move(note)),
      m_limits(limits) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(5000);
    QObject::connect(&m_retry, &QTimer::timeout, &m_retry, [this] { start(); });
}

HttpFeed::~HttpFeed() = default;

void HttpFeed::weightChanged(const QString& weightText) {
    m_weight = weightText;
    if (m_server) m_server->setWeight(weightText);
}

void HttpFeed::weighmentServed(const ServedWeighment& weighment) {
    if (m_server) m_server->served(weighment);
}

void HttpFeed::apply(const FeedSettings& settings) {
    Listen next;
    if (settings.httpfeed)
        next = Listen{true, settings.httpaddress.trimmed(), settings.httpport, settings.httptoken,
                      settings.httporigins};
    if (next == m_listen) return;
    m_retry.stop();
    m_server.reset();  // every connection closes
    m_db.reset();
    m_lastTrouble.clear();
    m_listen = next;
    if (!m_listen.on) return;
    // The same rules as the configuration window's, for a file changed by other means.
    FeedSettings web;
    web.httpaddress = m_listen.address;
    web.httpport = m_listen.port;
    web.httptoken = m_listen.token;
    web.httporigins = m_listen.origins;
    if (const auto error = checkFeedSettings(web)) {
        if (m_note) m_note(QStringLiteral("Web feed is off: ") + error->message);
        return;
    }
    start();
}

void HttpFeed::start() {
    WebSources sources;
    sources.portOpen = m_portOpen;
    sources.weighments = [this](const WebSources::Query& query) { return weighments(query); };
    sources.logId = [this] { return logId(); };
    sources.page = m_page;
    sources.origins = m_listen.origins;
    auto server = std::make_unique<WebServer>(sources, m_listen.token, m_limits);
    const QString why = server->start(QHostAddress(m_listen.address), quint16(m_listen.port));
    if (!why.isEmpty()) {
        const QString trouble = QStringLiteral("Web feed cannot listen on %1 port %2 (%3); trying again.")
                                    .arg(m_listen.address)
                                    .arg(m_listen.port)
                                    .arg(why);
        if (trouble != m_lastTrouble && m_note) m_note(trouble);
        m_lastTrouble = trouble;
        m_retry.start();
        return;
    }
    if (!m_lastTrouble.isEmpty() && m_note)
        m_note(QStringLiteral("Web feed listens on %1 port %2.").arg(m_listen.address).arg(m_listen.port));
    m_lastTrouble.clear();
    m_server = std::move(server);
    m_server->setWeight(m_weight);
}

Database& HttpFeed::database() {
    // Opened once the first list is asked for (opening the keyed file takes some 50 ms), kept while the
    // feed runs, opened again after a failure.
    if (!m_db) {
        auto db = Database::open(m_database, QString::fromLatin1(kSettingsDatabaseConnect));
        ensureChainTables(*db);
        m_db = std::move(db);
    }
    return *m_db;
}

QString HttpFeed::logId() {
    // Made once with the log; read again only when it was not there yet.
    if (!m_logId.isEmpty()) return m_logId;
    try {
        m_logId = readLogId(database());
    } catch (const DbError&) {
        m_db.reset();
    }
    return m_logId;
}

std::vector<ServedWeighment> HttpFeed::weighments(const WebSources::Query& query) {
    const QString& from = query.from;
    const QString& to = query.to;
    QStringList where;
    QVariantList binds;
    // The log's times are "YYYY-MM-DD HH:MM:SS" texts, so whole days compare as text.
    if (!from.isEmpty()) {
        where << QStringLiteral("Datetime >= ?");
        binds << from;
    }
    if (!to.isEmpty()) {
        where << QStringLiteral("Datetime < ?");
        binds << QDate::fromString(to, QStringLiteral("yyyy-MM-dd"))
                     .addDays(1)
                     .toString(QStringLiteral("yyyy-MM-dd"));
    }
    if (query.after) {
        where << QStringLiteral("slno > ?");
        binds << *query.after;
    }
    binds << query.limit;
    const QString logid = logId();
    std::vector<ServedWeighment> rows;
    try {
        auto rs = database().openRecordSet(
            QStringLiteral("select * from weightlog%1 order by slno %2 limit ?")
                .arg(where.isEmpty() ? QString()
                                     : QStringLiteral(" where ") + where.join(QStringLiteral(" and ")),
                     query.after ? QStringLiteral("asc") : QStringLiteral("desc")),
            binds);
        for (; !rs->isEof(); rs->moveNext()) rows.push_back(weighmentOfRow(*rs, logid));
    } catch (const DbError&) {
        m_db.reset();
        throw;
    }
    return rows;
}

}  // namespace veltrane
