#include "config/chain_check.h"

#include "config/event_log.h"
#include "config/weight_chain.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <map>

namespace veltrane {

namespace {

// The columns whose change alters what a given line decodes to: the delimiter, the positions, the
// decimals, reverse, autosense, the unit and the line settings.
bool altersDecoding(const QString& column) {
    static const char* const columns[] = {"delimiter",     "crasdelimiter",  "weightstart",  "weightend",
                                          "decimalreqd",   "iNSERTDECIMALS", "iNSERTBEFORE", "reverseweight",
                                          "simpinterface", "usevalue",       "dataingrams",  "port",
                                          "baud",          "databits",       "stopbits",     "parity"};
    return std::any_of(std::begin(columns), std::end(columns), [&](const char* c) {
        return column.compare(QLatin1String(c), Qt::CaseInsensitive) == 0;
    });
}

QString valueText(const QJsonValue& value) {
    if (value.isNull()) return QStringLiteral("(empty)");
    if (value.isDouble()) return QString::number(value.toDouble(), 'g', 15);
    return value.toString();
}

// One slno of the chain: a row still in the log, or one a recorded deletion kept.
struct Entry {
    QString weight;
    QString datetime;
    QString digest;
    bool hasDigest = false;
    qint64 deletedBy = 0;
    QString deletedAt;
};

qint64 sequenceOf(Database& db, const char* table) {
    auto row = db.openRecordSet(QStringLiteral("select * from sqlite_sequence where name = ?"),
                                {QString::fromLatin1(table)});
    return row->isEof() ? 0 : row->field(QStringLiteral("seq")).toLongLong();
}

}  // namespace

bool ChainReport::explained() const {
    return rowMismatches.empty() && eventFindings.empty() &&
           std::all_of(gaps.begin(), gaps.end(), [](const ChainGap& g) { return g.eventId != 0; });
}

ChainReport checkChains(Database& db) {
    ChainReport report;
    report.file = db.path();
    report.logId = readLogId(db);
    if (report.logId.isEmpty()) report.eventFindings.push_back({0, QStringLiteral("the log has no log id")});

    // The event log first: the deletions it records explain the weight log's gaps.
    std::map<qint64, Entry> entries;
    qint64 chainStart = 0;
    QString previous;
    qint64 lastEvent = 0;
    auto events = db.openRecordSet(QStringLiteral("select * from eventlog order by eventid"));
    for (; !events->isEof(); events->moveNext()) {
        const qint64 id = events->field(QStringLiteral("eventid")).toLongLong();
        const QString time = events->field(QStringLiteral("time")).toString();
        const QString kind = events->field(QStringLiteral("kind")).toString();
        const QString detailText = events->field(QStringLiteral("detail")).toString();
        const QString digest = events->field(QStringLiteral("digest")).toString();
        ++report.eventsChecked;
        if (id != lastEvent + 1)
            report.eventFindings.push_back(
                {id, QStringLiteral("events %1 to %2 are missing").arg(lastEvent + 1).arg(id - 1)});
        if (eventDigest(report.logId, id, time, kind, detailText, previous) != digest)
            report.eventFindings.push_back({id, QStringLiteral("its digest does not match its contents")});
        previous = digest;
        lastEvent = id;
        const QJsonObject detail = QJsonDocument::fromJson(detailText.toUtf8()).object();
        if (kind == QLatin1String(eventkind::kChainStart)) {
            const qint64 slno = detail.value(QStringLiteral("slno")).toInteger();
            if (chainStart == 0)
                chainStart = slno;
            else
                report.eventFindings.push_back(
                    {id, QStringLiteral("the weight log's chain started again at slno %1").arg(slno)});
        } else if (kind == QLatin1String(eventkind::kDelete)) {
            for (const auto& value : detail.value(QStringLiteral("rows")).toArray()) {
                const QJsonObject row = value.toObject();
                const QJsonValue digest = row.value(QStringLiteral("digest"));
                entries[row.value(QStringLiteral("slno")).toInteger()] = {
                    row.value(QStringLiteral("weight")).toString(),
                    row.value(QStringLiteral("datetime")).toString(),
                    digest.toString(),
                    digest.isString(),
                    id,
                    time};
            }
        } else if (kind == QLatin1String(eventkind::kSettings)) {
            DecodingChange change{id, time, {}};
            for (const auto& value : detail.value(QStringLiteral("changes")).toArray()) {
                const QJsonObject c = value.toObject();
                const QString column = c.value(QStringLiteral("column")).toString();
                if (altersDecoding(column))
                    change.changes << QStringLiteral("%1 %2 -> %3")
                                          .arg(column, valueText(c.value(QStringLiteral("old"))),
                                               valueText(c.value(QStringLiteral("new"))));
            }
            if (!change.changes.isEmpty()) report.decodingChanges.push_back(change);
        }
    }
    if (sequenceOf(db, "eventlog") > lastEvent)
        report.eventFindings.push_back(
            {lastEvent + 1, QStringLiteral("the newest events from %1 on are missing").arg(lastEvent + 1)});

    auto rows = db.openRecordSet(QStringLiteral("select * from weightlog order by slno"));
    for (; !rows->isEof(); rows->moveNext()) {
        const qint64 slno = rows->field(QStringLiteral("slno")).toLongLong();
        const QVariant digest = rows->field(QStringLiteral("digest"));
        if (chainStart == 0 && !digest.isNull()) chainStart = slno;  // a log whose start event went
        if (chainStart == 0 || slno < chainStart) {
            ++report.unchainedRows;
            continue;
        }
        entries[slno] = {rows->field(QStringLiteral("weight")).toString(),
                         rows->field(QStringLiteral("Datetime")).toString(),
                         digest.toString(),
                         !digest.isNull(),
                         0,
                         {}};
    }

    // The chain from its start: every slno present or deleted with a record, each digest recomputed
    // over its contents and the digest before it.
    previous.clear();
    qint64 expected = chainStart;
    bool linkKnown = true;
    const auto gap = [&](qint64 from, qint64 to) {
        report.gaps.push_back({from, to, 0, {}});
        linkKnown = false;
    };
    for (const auto& [slno, e] : entries) {
        if (chainStart == 0 || slno < chainStart) continue;
        if (slno > expected) gap(expected, slno - 1);
        expected = slno + 1;
        if (e.deletedBy != 0) {
            ChainGap* last = report.gaps.empty() ? nullptr : &report.gaps.back();
            if (last && last->eventId == e.deletedBy && last->to == slno - 1)
                last->to = slno;
            else
                report.gaps.push_back({slno, slno, e.deletedBy, e.deletedAt});
        } else {
            ++report.rowsChecked;
            if (report.firstSlno == 0) report.firstSlno = slno;
            report.lastSlno = slno;
        }
        const QString computed = rowDigest(report.logId, slno, e.weight, e.datetime, previous);
        if (!e.hasDigest)
            report.rowMismatches.push_back({slno, QStringLiteral("the row has no digest")});
        else if (computed != e.digest && linkKnown)
            report.rowMismatches.push_back(
                {slno, e.deletedBy ? QStringLiteral("the deleted row's record does not match")
                                   : QStringLiteral("its digest does not match its contents")});
        previous = e.digest;
        linkKnown = true;
    }
    if (chainStart != 0) {
        const qint64 handedOut = sequenceOf(db, "weightlog");
        if (handedOut >= expected)
            gap(expected, handedOut);
        else if (readLogInfo(db, QStringLiteral("lastdigest")) != previous)
            report.rowMismatches.push_back(
                {expected - 1, QStringLiteral("the newest rows after this one are missing")});
    }
    return report;
}

QString ChainReport::text() const {
    QString t = QStringLiteral("Weight log: %1\nLog id: %2\n").arg(file, logId);
    if (rowsChecked == 0)
        t += QStringLiteral("Rows checked: 0\n");
    else
        t += QStringLiteral("Rows checked: %1 (slno %2 to %3)\n")
                 .arg(rowsChecked)
                 .arg(firstSlno)
                 .arg(lastSlno);
    if (unchainedRows)
        t += QStringLiteral("Rows written before the chain started (not checked): %1\n").arg(unchainedRows);
    t += QStringLiteral("Events checked: %1\n").arg(eventsChecked);
    const auto range = [](qint64 from, qint64 to) {
        return from == to ? QStringLiteral("slno %1").arg(from)
                          : QStringLiteral("slno %1 to %2").arg(from).arg(to);
    };
    for (const ChainGap& g : gaps)
        t +=
            g.eventId
                ? QStringLiteral("Gap %1: deleted in the log viewer at %2 (event %3)\n")
                      .arg(range(g.from, g.to), g.time)
                      .arg(g.eventId)
                : QStringLiteral("Gap %1: NOT EXPLAINED by any recorded deletion\n").arg(range(g.from, g.to));
    for (const ChainFinding& f : rowMismatches)
        t += QStringLiteral("Row slno %1: NOT EXPLAINED: %2\n").arg(f.id).arg(f.reason);
    for (const ChainFinding& f : eventFindings)
        t += QStringLiteral("Event %1: NOT EXPLAINED: %2\n").arg(f.id).arg(f.reason);
    for (const DecodingChange& c : decodingChanges)
        t += QStringLiteral("Decoding settings changed at %1 (event %2): %3\n")
                 .arg(c.time)
                 .arg(c.eventId)
                 .arg(c.changes.join(QStringLiteral(", ")));
    t += explained() ? QStringLiteral("Result: everything is explained.\n")
                     : QStringLiteral("Result: NOT everything is explained.\n");
    return t;
}

QJsonObject ChainReport::json() const {
    QJsonArray gapList;
    for (const ChainGap& g : gaps) {
        QJsonObject o{{QStringLiteral("from"), g.from},
                      {QStringLiteral("to"), g.to},
                      {QStringLiteral("explained"), g.eventId != 0}};
        if (g.eventId) {
            o.insert(QStringLiteral("eventid"), g.eventId);
            o.insert(QStringLiteral("time"), g.time);
        }
        gapList.append(o);
    }
    const auto findings = [](const std::vector<ChainFinding>& list, const char* key) {
        QJsonArray a;
        for (const ChainFinding& f : list)
            a.append(QJsonObject{{QLatin1String(key), f.id}, {QStringLiteral("reason"), f.reason}});
        return a;
    };
    QJsonArray changes;
    for (const DecodingChange& c : decodingChanges)
        changes.append(QJsonObject{{QStringLiteral("eventid"), c.eventId},
                                   {QStringLiteral("time"), c.time},
                                   {QStringLiteral("changes"), QJsonArray::fromStringList(c.changes)}});
    return {{QStringLiteral("file"), file},
            {QStringLiteral("logid"), logId},
            {QStringLiteral("rows"), rowsChecked},
            {QStringLiteral("first"), firstSlno},
            {QStringLiteral("last"), lastSlno},
            {QStringLiteral("unchained"), unchainedRows},
            {QStringLiteral("events"), eventsChecked},
            {QStringLiteral("gaps"), gapList},
            {QStringLiteral("mismatches"), findings(rowMismatches, "slno")},
            {QStringLiteral("eventproblems"), findings(eventFindings, "eventid")},
            {QStringLiteral("decodingchanges"), changes},
            {QStringLiteral("explained"), explained()}};
}

}  // namespace veltrane
