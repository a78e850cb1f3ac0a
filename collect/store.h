#pragma once
// The collector's PostgreSQL store, through libpq. It makes and migrates its own tables:
//   weighment  one row per (site, logid, slno): the weight text, its number and unit, the serving time
//              (the site's local time), the time received, the digest, and the message as jsonb
//   site       the last status, the last weighment and the chain check's result, per site
//   event      the sites' event-log rows; deleted the rows "delete" events name
//   conflict   repeats whose content differs from the stored row (the first one per row)
// Every write is INSERT ... ON CONFLICT DO NOTHING, so repeats are harmless and several collectors
// may write at once.

#include "collect/messages.h"

#include <QString>

#include <stdexcept>
#include <vector>

struct pg_conn;

namespace veltrane {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One (site, log) as the checks see it.
struct LogState {
    QString site;
    QString logid;
    std::vector<SiteRow> rows;  // held and deleted, ascending by slno
    std::vector<qint64> missing;
    std::vector<qint64> breaks;
    qint64 highest = 0;
    qint64 lowest = 0;
};

struct SiteState {
    QString site;
    QString status;
    QString lastLogid;
    qint64 lastSlno = 0;
    QString lastWeight;
    QString lastServed;
    qint64 rows = 0;
    qint64 conflicts = 0;
};

class Store {
public:
    // Connects and brings the tables to this version's shape. Throws StoreError.
    explicit Store(const QString& conninfo);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    static int schemaVersion();

    // One transaction. Throws StoreError (nothing of the batch is then stored).
    void write(const std::vector<WeighmentMessage>& rows, const std::vector<EventMessage>& events,
               const std::vector<std::pair<QString, QString>>& statuses);

    // The logs with their gaps and chain breaks; site empty: every site. Throws StoreError.
    std::vector<LogState> logs(const QString& site = {});
    // The database's clock, and the sites that received rows or events since such a reading (a
    // minute's margin covers the transactions that were open at the reading). Throws StoreError.
    QString clock();
    std::vector<QString> changedSites(const QString& since);
    // Each site's log and serial number of its last row. Throws StoreError.
    std::vector<std::pair<QString, std::pair<QString, qint64>>> lastRows();
    std::vector<SiteState> sites();
    // Stores each site's chain result ("whole", or the serials where it breaks). Throws StoreError.
    void recordChecks(const std::vector<LogState>& logs);
    // Reconnects after a lost connection; true when the connection is good.
    bool ensureConnected();

private:
    void exec(const char* sql);
    void migrate();
    pg_conn* m_conn = nullptr;
};

}  // namespace veltrane
