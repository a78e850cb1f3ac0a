#include "feeds/mqtt/weighment_outbox.h"

#include "config/feed_settings.h"
#include "config/weight_chain.h"
#include "feeds/feed_json.h"

#include <algorithm>

namespace veltrane {

namespace {

// The highest serial number the log has ever handed out: its autoincrement counter, which deleting
// the newest rows does not lower, or the largest row when the counter is missing.
qint64 lastNumber(Database& db) {
    auto sequence =
        db.openRecordSet(QStringLiteral("select * from sqlite_sequence where name = 'weightlog'"));
    const qint64 counted = sequence->isEof() ? 0 : sequence->field(QStringLiteral("seq")).toLongLong();
    auto last = db.openRecordSet(QStringLiteral("select * from weightlog order by slno desc limit 1"));
    const qint64 largest = last->isEof() ? 0 : last->field(QStringLiteral("slno")).toLongLong();
    return std::max(counted, largest);
}

void setLastNumber(Database& db, qint64 slno) {
    auto sequence =
        db.openRecordSet(QStringLiteral("select * from sqlite_sequence where name = 'weightlog'"));
    if (sequence->isEof())
        db.execute(QStringLiteral("insert into sqlite_sequence (name, seq) values ('weightlog', ?)"), {slno});
    else
        db.execute(QStringLiteral("update sqlite_sequence set seq = ? where name = 'weightlog'"), {slno});
}

}  // namespace

WeighmentOutbox::WeighmentOutbox(Database& db, int window) : m_db(db), m_window(std::max(window, 1)) {}

QString WeighmentOutbox::open() {
    m_inFlight.clear();
    ensureChainTables(m_db);
    m_logId = readLogId(m_db);
    const qint64 last = lastNumber(m_db);
    const std::optional<qint64> mark = readMqttAcknowledged(m_db);
    if (!mark) {
        // The broker feed's first run on this log: it carries the weighments from now on, not years of
        // history that the site's broker and subscribers never asked for.
        writeMqttAcknowledged(m_db, last);
        m_acked = m_written = m_lastSent = last;
        return {};
    }
    m_acked = m_written = m_lastSent = *mark;
    if (m_acked <= last) return {};
    setLastNumber(m_db, m_acked);
    return QStringLiteral(
               "Broker feed: the weight log ends at serial number %1 but the broker already has "
               "serial numbers up to %2; new weighments are numbered from %3.")
        .arg(last)
        .arg(m_acked)
        .arg(m_acked + 1);
}

void WeighmentOutbox::restart() {
    m_inFlight.clear();
    m_lastSent = m_acked;
}

std::vector<ServedWeighment> WeighmentOutbox::takeNext() {
    std::vector<ServedWeighment> rows;
    const int room = m_window - inFlight();
    if (room <= 0) return rows;
    auto rs = m_db.openRecordSet(
        QStringLiteral("select * from weightlog where slno > ? order by slno limit ?"), {m_lastSent, room});
    for (; !rs->isEof(); rs->moveNext()) {
        ServedWeighment row = weighmentOfRow(*rs, m_logId);
        m_inFlight.push_back({row.slno, false});
        m_lastSent = row.slno;
        rows.push_back(std::move(row));
    }
    return rows;
}

bool WeighmentOutbox::acknowledge(qint64 slno) {
    const auto it =
        std::find_if(m_inFlight.begin(), m_inFlight.end(), [slno](const Sent& s) { return s.slno == slno; });
    if (it == m_inFlight.end()) return false;
    it->acked = true;
    const qint64 before = m_acked;
    while (!m_inFlight.empty() && m_inFlight.front().acked) {
        m_acked = m_inFlight.front().slno;
        m_inFlight.pop_front();
    }
    return m_acked != before;
}

void WeighmentOutbox::handBack(qint64 slno) {
    while (!m_inFlight.empty() && m_inFlight.back().slno >= slno) m_inFlight.pop_back();
    m_lastSent = m_inFlight.empty() ? m_acked : m_inFlight.back().slno;
}

void WeighmentOutbox::persist() {
    if (m_acked == m_written) return;
    writeMqttAcknowledged(m_db, m_acked);
    m_written = m_acked;
}

}  // namespace veltrane
