#include "collect/store.h"

#include <QDateTime>

#include <libpq-fe.h>

#include <iterator>
#include <map>
#include <memory>
#include <optional>

namespace veltrane {

namespace {

// Each step brings the tables from the version before to its own; a later version appends steps and
// never edits one that has shipped.
const char* const kMigrations[] = {
    R"(create table weighment (
         site text not null, logid text not null, slno bigint not null,
         weight text not null, value numeric, unit text,
         served text not null, served_at timestamp,
         received_at timestamptz not null default now(),
         digest text, payload jsonb not null,
         primary key (site, logid, slno));
       create table site (
         site text primary key, status text, status_at timestamptz,
         last_logid text, last_slno bigint, last_weight text, last_served_at timestamp,
         chain text, checked_at timestamptz);
       create table event (
         site text not null, logid text not null, eventid bigint not null,
         time text, kind text not null, detail jsonb, digest text, payload jsonb not null,
         received_at timestamptz not null default now(),
         primary key (site, logid, eventid));
       create table deleted (
         site text not null, logid text not null, slno bigint not null,
         weight text, served text, digest text,
         primary key (site, logid, slno));
       create table conflict (
         site text not null, logid text not null, slno bigint not null,
         stored jsonb not null, sent jsonb not null,
         received_at timestamptz not null default now(),
         primary key (site, logid, slno));)",
};

struct ResultFree {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

QString lastError(pg_conn* c) {
    return QString::fromUtf8(PQerrorMessage(c)).trimmed();
}

Result run(pg_conn* c, const char* sql, const std::vector<QByteArray>& params) {
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const QByteArray& p : params) values.push_back(p.constData());
    Result r(PQexecParams(c, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
    const auto status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) throw StoreError(lastError(c).toStdString());
    return r;
}

QString text(PGresult* r, int row, int column) {
    return QString::fromUtf8(PQgetvalue(r, row, column));
}

// A PostgreSQL array literal, built one element at a time; nothing stands for NULL.
class ArrayParam {
public:
    void add(const std::optional<QByteArray>& value) {
        m_text += m_text.isEmpty() ? "{" : ",";
        if (!value) {
            m_text += "NULL";
            return;
        }
        m_text += '"';
        for (const char c : *value) {
            if (c == '"' || c == '\\') m_text += '\\';
            m_text += c;
        }
        m_text += '"';
    }
    QByteArray finish() { return m_text.isEmpty() ? QByteArray("{}") : m_text + "}"; }

private:
    QByteArray m_text;
};

QByteArray servedAt(const QString& datetime) {
    const QDateTime t = QDateTime::fromString(datetime, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return t.isValid() ? datetime.toUtf8() : QByteArray();
}

}  // namespace

Store::Store(const QString& conninfo) {
    m_conn = PQconnectdb(conninfo.toUtf8().constData());
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const QString why = lastError(m_conn);
        PQfinish(m_conn);
        m_conn = nullptr;
        throw StoreError(("PostgreSQL: " + why).toStdString());
    }
    PQsetNoticeProcessor(
        m_conn, [](void*, const char*) {}, nullptr);
    migrate();
}

Store::~Store() {
    if (m_conn) PQfinish(m_conn);
}

int Store::schemaVersion() {
    return int(std::size(kMigrations));
}

bool Store::ensureConnected() {
    if (PQstatus(m_conn) == CONNECTION_OK) return true;
    PQreset(m_conn);
    return PQstatus(m_conn) == CONNECTION_OK;
}

void Store::exec(const char* sql) {
    // Without parameters, so that a migration step may hold several statements.
    Result r(PQexec(m_conn, sql));
    const auto status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw StoreError(lastError(m_conn).toStdString());
}

void Store::migrate() {
    exec("begin");
    try {
        // Collectors started together take turns; the second finds the work done.
        exec("select pg_advisory_xact_lock(7283501)");
        exec("create table if not exists collect_schema (version integer not null)");
        Result r = run(m_conn, "select coalesce(max(version), 0) from collect_schema", {});
        const int version = QByteArray(PQgetvalue(r.get(), 0, 0)).toInt();
        if (version > schemaVersion())
            throw StoreError(QStringLiteral("the tables are of version %1, newer than this collector's %2")
                                 .arg(version)
                                 .arg(schemaVersion())
                                 .toStdString());
        for (int v = version; v < schemaVersion(); ++v) exec(kMigrations[v]);
        if (version < schemaVersion()) {
            exec("delete from collect_schema");
            run(m_conn, "insert into collect_schema (version) values ($1)",
                {QByteArray::number(schemaVersion())});
        }
        exec("commit");
    } catch (const StoreError&) {
        PQclear(PQexec(m_conn, "rollback"));
        throw;
    }
}

void Store::write(const std::vector<WeighmentMessage>& rows, const std::vector<EventMessage>& events,
                  const std::vector<std::pair<QString, QString>>& statuses) {
    // The whole batch in one statement: one round trip, however many rows. A row already stored with
    // other content goes to conflict; the site's last row moves only forward within a log.
    static const char* const insertRows = R"(
        with input as (
          select * from unnest($1::text[], $2::text[], $3::bigint[], $4::text[], $5::numeric[], $6::text[],
                               $7::text[], $8::timestamp[], $9::text[], $10::jsonb[])
            as t(site, logid, slno, weight, value, unit, served, served_at, digest, payload)),
        added as (
          insert into weighment (site, logid, slno, weight, value, unit, served, served_at, digest, payload)
          select distinct on (site, logid, slno) site, logid, slno, weight, value, nullif(unit, ''), served,
                 served_at, nullif(digest, ''), payload from input
          on conflict do nothing
          returning site, logid, slno, weight, served_at),
        known as (
          insert into conflict (site, logid, slno, stored, sent)
          select distinct on (w.site, w.logid, w.slno) w.site, w.logid, w.slno, w.payload, i.payload
          from input i join weighment w using (site, logid, slno)
          where w.weight <> i.weight or w.served <> i.served or coalesce(w.digest, '') <> i.digest
          on conflict do nothing),
        latest as (
          select distinct on (site) site, logid, slno, weight, served_at from added order by site, slno desc)
        insert into site (site, last_logid, last_slno, last_weight, last_served_at)
        select site, logid, slno, weight, served_at from latest
        on conflict (site) do update set last_logid = excluded.last_logid, last_slno = excluded.last_slno,
          last_weight = excluded.last_weight, last_served_at = excluded.last_served_at
        where site.last_logid is distinct from excluded.last_logid or site.last_slno < excluded.last_slno)";
    exec("begin");
    try {
        if (!rows.empty()) {
            std::vector<ArrayParam> columns(10);
            for (const WeighmentMessage& m : rows) {
                const QByteArray served = servedAt(m.row.datetime);
                columns[0].add(m.site.toUtf8());
                columns[1].add(m.logid.toUtf8());
                columns[2].add(QByteArray::number(m.row.slno));
                columns[3].add(m.row.weight.toUtf8());
                columns[4].add(m.value ? std::optional(QByteArray::number(*m.value, 'g', 17)) : std::nullopt);
                columns[5].add(m.unit.toUtf8());
                columns[6].add(m.row.datetime.toUtf8());
                columns[7].add(served.isEmpty() ? std::nullopt : std::optional(served));
                columns[8].add(m.row.digest.toUtf8());
                columns[9].add(m.payload);
            }
            std::vector<QByteArray> params;
            params.reserve(columns.size());
            for (ArrayParam& c : columns) params.push_back(c.finish());
            run(m_conn, insertRows, params);
        }
        for (const EventMessage& e : events) {
            run(m_conn,
                "insert into event (site, logid, eventid, time, kind, detail, digest, payload) "
                "values ($1, $2, $3, $4, $5, $6::jsonb, $7, $8::jsonb) on conflict do nothing",
                {e.site.toUtf8(), e.logid.toUtf8(), QByteArray::number(e.eventid), e.time.toUtf8(),
                 e.kind.toUtf8(), e.detail, e.digest.toUtf8(), e.payload});
            for (const SiteRow& d : e.deleted)
                run(m_conn,
                    "insert into deleted (site, logid, slno, weight, served, digest) values ($1, $2, $3, $4, "
                    "$5, $6) "
                    "on conflict do nothing",
                    {e.site.toUtf8(), e.logid.toUtf8(), QByteArray::number(d.slno), d.weight.toUtf8(),
                     d.datetime.toUtf8(), d.digest.toUtf8()});
        }
        for (const auto& [site, status] : statuses)
            run(m_conn,
                "insert into site (site, status, status_at) values ($1, $2, now()) "
                "on conflict (site) do update set status = excluded.status, status_at = excluded.status_at",
                {site.toUtf8(), status.toUtf8()});
        exec("commit");
    } catch (const StoreError&) {
        PQclear(PQexec(m_conn, "rollback"));
        throw;
    }
}

std::vector<LogState> Store::logs(const QString& site) {
    Result r =
        run(m_conn,
            "select site, logid, slno, weight, served, coalesce(digest, ''), false from weighment "
            "where $1 = '' or site = $1 "
            "union all select site, logid, slno, coalesce(weight, ''), coalesce(served, ''), "
            "coalesce(digest, ''), true from deleted d where ($1 = '' or site = $1) and not exists "
            "(select 1 from weighment w where w.site = d.site and w.logid = d.logid and w.slno = d.slno) "
            "order by 1, 2, 3",
            {site.toUtf8()});
    std::vector<LogState> out;
    std::vector<qint64> held;
    std::vector<qint64> deleted;
    const auto finish = [&] {
        if (out.empty()) return;
        LogState& log = out.back();
        log.missing = missingSerials(held, deleted);
        log.breaks = chainBreaks(log.logid, log.rows);
        log.lowest = held.empty() ? 0 : held.front();
        log.highest = held.empty() ? 0 : held.back();
        held.clear();
        deleted.clear();
    };
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        const QString s = text(r.get(), i, 0);
        const QString logid = text(r.get(), i, 1);
        if (out.empty() || out.back().site != s || out.back().logid != logid) {
            finish();
            out.push_back(LogState{s, logid, {}, {}, {}, 0, 0});
        }
        SiteRow row{QByteArray(PQgetvalue(r.get(), i, 2)).toLongLong(), text(r.get(), i, 3),
                    text(r.get(), i, 4), text(r.get(), i, 5)};
        (PQgetvalue(r.get(), i, 6)[0] == 't' ? deleted : held).push_back(row.slno);
        out.back().rows.push_back(std::move(row));
    }
    finish();
    return out;
}

QString Store::clock() {
    Result r = run(m_conn, "select now()::text", {});
    return text(r.get(), 0, 0);
}

std::vector<QString> Store::changedSites(const QString& since) {
    Result r = run(
        m_conn,
        "select distinct site from weighment where received_at >= $1::timestamptz - interval '1 minute' "
        "union select distinct site from event where received_at >= $1::timestamptz - interval '1 minute'",
        {since.toUtf8()});
    std::vector<QString> out;
    out.reserve(size_t(PQntuples(r.get())));
    for (int i = 0; i < PQntuples(r.get()); ++i) out.push_back(text(r.get(), i, 0));
    return out;
}

std::vector<std::pair<QString, std::pair<QString, qint64>>> Store::lastRows() {
    Result r = run(m_conn, "select site, coalesce(last_logid, ''), coalesce(last_slno, 0) from site", {});
    std::vector<std::pair<QString, std::pair<QString, qint64>>> out;
    out.reserve(size_t(PQntuples(r.get())));
    for (int i = 0; i < PQntuples(r.get()); ++i)
        out.push_back(
            {text(r.get(), i, 0), {text(r.get(), i, 1), QByteArray(PQgetvalue(r.get(), i, 2)).toLongLong()}});
    return out;
}

std::vector<SiteState> Store::sites() {
    Result r =
        run(m_conn,
            "select s.site, coalesce(s.status, ''), coalesce(s.last_logid, ''), coalesce(s.last_slno, 0), "
            "coalesce(s.last_weight, ''), coalesce(s.last_served_at::text, ''), "
            "(select count(*) from weighment w where w.site = s.site), "
            "(select count(*) from conflict c where c.site = s.site) from site s order by s.site",
            {});
    std::vector<SiteState> out;
    out.reserve(size_t(PQntuples(r.get())));
    for (int i = 0; i < PQntuples(r.get()); ++i)
        out.push_back({text(r.get(), i, 0), text(r.get(), i, 1), text(r.get(), i, 2),
                       QByteArray(PQgetvalue(r.get(), i, 3)).toLongLong(), text(r.get(), i, 4),
                       text(r.get(), i, 5), QByteArray(PQgetvalue(r.get(), i, 6)).toLongLong(),
                       QByteArray(PQgetvalue(r.get(), i, 7)).toLongLong()});
    return out;
}

void Store::recordChecks(const std::vector<LogState>& logs) {
    std::map<QString, QStringList> breaks;
    for (const LogState& log : logs) {
        QStringList& list = breaks[log.site];
        for (const qint64 slno : log.breaks) list << QString::number(slno);
    }
    for (const auto& [site, list] : breaks)
        run(m_conn, "update site set chain = $2, checked_at = now() where site = $1",
            {site.toUtf8(), list.isEmpty() ? QByteArray("whole")
                                           : ("broken at " + list.join(QStringLiteral(", "))).toUtf8()});
}

}  // namespace veltrane
