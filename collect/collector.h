#pragma once
// The collector: subscribes to the sites' weighments, events and status with a persistent session,
// writes them to the store in batched transactions, and asks each site for the rows it finds missing.
// libmosquitto acknowledges a message before the collector has stored it, and a broker without
// persistence forgets what it held, so the collector never relies on delivery alone:
//  - holes in a log's serial numbers (not explained by a "delete" event) are asked for by serial;
//  - after every (re)connection, when a site comes online, and every recheck period, each site is
//    asked for the rows after the last one held, which finds the rows lost at the end of a run.
// A site answers at most one request a second, so each site gets at most one request a tick.

#include "collect/collect_settings.h"
#include "collect/store.h"
#include "feeds/mqtt/broker_link.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <map>
#include <memory>
#include <set>

namespace veltrane {

class Collector final : public QObject {
    Q_OBJECT
public:
    Collector(CollectSettings settings, std::unique_ptr<Store> store);
    ~Collector() override;  // writes the batch in hand
    void start();

private:
    void arrived(const QByteArray& topic, const QByteArray& payload);
    void flush();
    void tick();
    void check();
    void say(const QString& line);

    CollectSettings m_settings;
    std::unique_ptr<Store> m_store;
    BrokerLink m_link;
    std::vector<WeighmentMessage> m_rows;
    std::vector<EventMessage> m_events;
    std::vector<std::pair<QString, QString>> m_statuses;
    QTimer m_flushTimer;
    QTimer m_tickTimer;
    QElapsedTimer m_clock;
    // The logs as the last check found them, by site; only sites with new rows are read again.
    std::map<QString, std::vector<LogState>> m_logs;
    QString m_checkedAt;  // the database's clock at the last check; empty before the first
    qint64 m_lastCheck = 0;
    bool m_checkDue = true;
    std::map<QString, std::deque<QByteArray>> m_requests;  // by site, one sent a tick
    std::map<QString, qint64> m_lastAsked;                 // site to the clock's ms of its last request
    std::set<std::pair<QString, QString>> m_headAsked;
    QString m_lastTrouble;
};

}  // namespace veltrane
