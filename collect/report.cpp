#include "collect/report.h"

#include <QStringList>
#include <QTextStream>

#include <map>

namespace veltrane {

QString serialRuns(const std::vector<qint64>& serials) {
    QStringList runs;
    for (size_t i = 0; i < serials.size();) {
        size_t j = i;
        while (j + 1 < serials.size() && serials[j + 1] == serials[j] + 1) ++j;
        runs << (i == j ? QString::number(serials[i])
                        : QStringLiteral("%1-%2").arg(serials[i]).arg(serials[j]));
        i = j + 1;
    }
    return runs.join(QStringLiteral(", "));
}

bool writeReport(Store& store, QTextStream& out) {
    std::map<QString, std::vector<LogState>> logs;
    for (LogState& log : store.logs()) logs[log.site].push_back(std::move(log));
    bool clean = true;
    for (const SiteState& s : store.sites()) {
        out << s.site << ": " << (s.status.isEmpty() ? QStringLiteral("status unknown") : s.status) << ", "
            << s.rows << " rows";
        if (s.lastSlno > 0)
            out << ", last " << s.lastSlno << " (" << s.lastWeight << " at " << s.lastServed << ")";
        out << '\n';
        for (const LogState& log : logs[s.site]) {
            const QString name = log.logid.isEmpty() ? QStringLiteral("(no log id)") : log.logid;
            out << "  log " << name << ": " << log.lowest << " to " << log.highest;
            if (log.missing.empty() && log.breaks.empty()) out << ", whole";
            out << '\n';
            if (!log.missing.empty()) out << "    missing: " << serialRuns(log.missing) << '\n';
            if (!log.breaks.empty()) out << "    chain broken at: " << serialRuns(log.breaks) << '\n';
            clean = clean && log.missing.empty() && log.breaks.empty();
        }
        if (s.conflicts > 0) {
            out << "  " << s.conflicts << " row(s) sent again with other content than stored\n";
            clean = false;
        }
    }
    out << (clean ? "All sites whole.\n" : "Unexplained gaps, breaks or changes above.\n");
    return clean;
}

}  // namespace veltrane
