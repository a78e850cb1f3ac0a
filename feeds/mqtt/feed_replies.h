#pragma once
// What the broker feed sends besides the weighments in order: rows of the weight log asked for again on
// <topic>/resend (published again on <topic>/weighment), and every event-log row on <topic>/events.
//   <topic>/events  QoS 1, {"logid": "...", "eventid": N, "time": "...", "kind": "...", "detail": {...},
//                   "digest": "..."}, in event order, at least once; the event log is the queue and
//                   loginfo.mqtteventsacked the durable mark, as the weighments' mark is for them.
// Logs made before the log id or the event log existed simply have nothing of either to send.

#include "feeds/mqtt/broker_link.h"
#include "feeds/mqtt/resend_request.h"
#include "platform/database.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <optional>

namespace veltrane {

// One weight-log row as a resend answers it.
struct LogRow {
    qint64 slno = 0;
    QString weight;
    QString datetime;
    QString digest;  // empty when the log has no digests
};

// The rows a request asks for that the log still holds, ascending. Throws DbError.
std::vector<LogRow> readRequestedRows(Database& db, const ResendRequest& request);

class FeedReplies final : public QObject {
    Q_OBJECT
public:
    // topic: the feed's topic, also the "site" of its messages; note: one line for the operator. db and
    // link outlive this object.
    FeedReplies(Database& db, BrokerLink& link, QString topic, std::function<void(const QString&)> note);

    // The connection is (again) up: events not yet acknowledged go again, from the mark.
    void linkUp();
    // A message from the link: a resend request is answered when its shape, its log id and the pace allow.
    void message(const QByteArray& topic, const QByteArray& payload);
    // True when the message id was one of ours.
    bool acknowledged(int mid);
    // Writes the events' mark when it moved. Throws nothing.
    void persist();

private:
    void pumpEvents();
    QByteArray rowPayload(const LogRow& row) const;

    Database& m_db;
    BrokerLink& m_link;
    QString m_topic;
    std::function<void(const QString&)> m_note;
    QString m_logId;
    bool m_haveEvents = false;
    qint64 m_eventsAcked = 0;
    qint64 m_eventsWritten = 0;
    qint64 m_eventsSent = 0;
    std::map<int, qint64> m_pendingEvents;  // message id to event id
    ResendLimiter m_limiter;
    QElapsedTimer m_clock;
    QTimer m_poll;
};

}  // namespace veltrane
