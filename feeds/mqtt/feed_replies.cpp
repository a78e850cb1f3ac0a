#include "feeds/mqtt/feed_replies.h"

#include "config/weight_chain.h"
#include "feeds/feed_json.h"

#include <QJsonDocument>

#include <algorithm>

namespace veltrane {

namespace {

constexpr int kEventWindow = 32;
constexpr int kEventPollMs = 1000;
const char* const kEventsMark = "mqtteventsacked";

bool hasTable(Database& db, const char* name) {
    auto rs =
        db.openRecordSet(QStringLiteral("select * from sqlite_master where type = 'table' and name = ?"),
                         {QString::fromLatin1(name)});
    return !rs->isEof();
}

bool hasColumn(Database& db, const char* table, const char* column) {
    auto rs = db.openRecordSet(QStringLiteral("select * from %1 where 0").arg(QLatin1String(table)));
    return rs->hasField(QString::fromLatin1(column));
}

std::optional<qint64> readMark(Database& db) {
    auto rs = db.openRecordSet(QStringLiteral("select * from loginfo where name = ?"),
                               {QString::fromLatin1(kEventsMark)});
    if (rs->isEof()) return std::nullopt;
    return rs->field(QStringLiteral("value")).toLongLong();
}

void writeMark(Database& db, qint64 eventid) {
    db.execute(QStringLiteral("insert or replace into loginfo (name, value) values (?, ?)"),
               {QString::fromLatin1(kEventsMark), QString::number(eventid)});
}

// A detail that is a JSON object goes in as it is stored, so that its digest can be checked from the
// message; anything else goes as a text.
QByteArray detailJson(const QString& detail) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(detail.toUtf8(), &error);
    if (error.error == QJsonParseError::NoError && doc.isObject()) return detail.toUtf8();
    return jsonString(detail);
}

}  // namespace

std::vector<LogRow> readRequestedRows(Database& db, const ResendRequest& request) {
    const bool digests = hasColumn(db, "weightlog", "digest");
    std::vector<LogRow> rows;
    const auto take = [&](RecordSet& rs) {
        for (; !rs.isEof(); rs.moveNext())
            rows.push_back({rs.field(QStringLiteral("slno")).toLongLong(),
                            rs.field(QStringLiteral("weight")).toString(),
                            rs.field(QStringLiteral("Datetime")).toString(),
                            digests ? rs.field(QStringLiteral("digest")).toString() : QString()});
    };
    if (request.isRange()) {
        auto rs = db.openRecordSet(
            QStringLiteral("select * from weightlog where slno >= ? and slno <= ? order by slno"),
            {request.from, request.to});
        take(*rs);
        return rows;
    }
    for (const qint64 slno : request.serials) {
        auto rs = db.openRecordSet(QStringLiteral("select * from weightlog where slno = ?"), {slno});
        take(*rs);
    }
    return rows;
}

FeedReplies::FeedReplies(Database& db, BrokerLink& link, QString topic,
                         std::function<void(const QString&)> note)
    : m_db(db), m_link(link), m_topic(std::move(topic)), m_note(std::move(note)) {
    m_clock.start();
    m_poll.setInterval(kEventPollMs);
    connect(&m_poll, &QTimer::timeout, this, &FeedReplies::pumpEvents);
    try {
        m_logId = readLogId(m_db);
        m_haveEvents = hasTable(m_db, "eventlog") && hasTable(m_db, "loginfo");
        if (m_haveEvents) {
            const std::optional<qint64> mark = readMark(m_db);
            if (mark) {
                m_eventsAcked = *mark;
            } else {
                // The first run on this log, as for the weighments: the events from now on.
                auto last = m_db.openRecordSet(
                    QStringLiteral("select * from eventlog order by eventid desc limit 1"));
                m_eventsAcked = last->isEof() ? 0 : last->field(QStringLiteral("eventid")).toLongLong();
                writeMark(m_db, m_eventsAcked);
            }
            m_eventsWritten = m_eventsSent = m_eventsAcked;
            m_poll.start();
        }
    } catch (const DbError& e) {
        m_haveEvents = false;
        if (m_note) m_note(QStringLiteral("Broker feed: events and resends are off: ") + e.description());
    }
}

void FeedReplies::linkUp() {
    m_pendingEvents.clear();
    m_eventsSent = m_eventsAcked;
    pumpEvents();
}

void FeedReplies::message(const QByteArray& topic, const QByteArray& payload) {
    if (topic != m_topic.toUtf8() + "/resend") return;
    auto parsed = parseResendRequest(payload);
    const auto* request = std::get_if<ResendRequest>(&parsed);
    // A request for another log (this file before it was made anew, another site's) has no answer here.
    if (!request || m_logId.isEmpty() || request->logid != m_logId) return;
    if (!m_limiter.admit(m_clock.elapsed())) return;
    try {
        for (const LogRow& row : readRequestedRows(m_db, *request))
            if (m_link.publish(m_topic.toUtf8() + "/weighment", rowPayload(row), 1, false) < 0) return;
    } catch (const DbError& e) {
        if (m_note) m_note(QStringLiteral("Broker feed: ") + e.description());
    }
}

bool FeedReplies::acknowledged(int mid) {
    const auto it = m_pendingEvents.find(mid);
    if (it == m_pendingEvents.end()) return false;
    m_pendingEvents.erase(it);
    // The mark moves over the events sent before every one still waiting.
    qint64 waiting = m_eventsSent + 1;
    for (const auto& [id, eventid] : m_pendingEvents) waiting = std::min(waiting, eventid);
    m_eventsAcked = std::max(m_eventsAcked, waiting - 1);
    if (m_pendingEvents.size() <= kEventWindow / 2) pumpEvents();
    return true;
}

void FeedReplies::persist() {
    if (!m_haveEvents || m_eventsAcked == m_eventsWritten) return;
    try {
        writeMark(m_db, m_eventsAcked);
        m_eventsWritten = m_eventsAcked;
    } catch (const DbError&) {
        // Written with the next one; a lost mark only sends a few events twice.
    }
}

void FeedReplies::pumpEvents() {
    persist();
    if (!m_haveEvents || !m_link.isConnected()) return;
    const int room = kEventWindow - int(m_pendingEvents.size());
    if (room <= 0) return;
    try {
        auto rs = m_db.openRecordSet(
            QStringLiteral("select * from eventlog where eventid > ? order by eventid limit ?"),
            {m_eventsSent, room});
        for (; !rs->isEof(); rs->moveNext()) {
            const qint64 eventid = rs->field(QStringLiteral("eventid")).toLongLong();
            const QByteArray payload =
                "{\"logid\": " + jsonString(m_logId) + ", \"eventid\": " + QByteArray::number(eventid) +
                ", \"time\": " + jsonString(rs->field(QStringLiteral("time")).toString()) +
                ", \"kind\": " + jsonString(rs->field(QStringLiteral("kind")).toString()) +
                ", \"detail\": " + detailJson(rs->field(QStringLiteral("detail")).toString()) +
                ", \"digest\": " + jsonString(rs->field(QStringLiteral("digest")).toString()) + "}";
            const int mid = m_link.publish(m_topic.toUtf8() + "/events", payload, 1, false);
            if (mid < 0) return;
            m_pendingEvents[mid] = eventid;
            m_eventsSent = eventid;
        }
    } catch (const DbError& e) {
        if (m_note) m_note(QStringLiteral("Broker feed: ") + e.description());
    }
}

QByteArray FeedReplies::rowPayload(const LogRow& row) const {
    // Exactly what the weighment topic carried the first time, so that a resent row is a plain repeat.
    return weighmentJson(ServedWeighment{row.slno, row.weight, row.datetime, m_logId, row.digest},
                         ", \"site\": " + jsonString(m_topic));
}

}  // namespace veltrane
