#pragma once
// Checks a settings file's weight log and event log against their digest chains: what an inspector
// runs (veltrane-verify, the log viewer's "Verify") to see that no row was changed or removed without
// a trace, and which settings that change decoding were saved when.

#include "platform/database.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace veltrane {

struct ChainGap {
    qint64 from = 0;
    qint64 to = 0;
    qint64 eventId = 0;  // the deletion that explains it; 0 when nothing does
    QString time;        // the deletion's time
};

struct ChainFinding {
    qint64 id = 0;  // slno, or eventid for an event
    QString reason;
};

struct DecodingChange {
    qint64 eventId = 0;
    QString time;
    QStringList changes;  // "weightstart 0 -> 3"
};

struct ChainReport {
    QString file;
    QString logId;
    qint64 rowsChecked = 0;
    qint64 firstSlno = 0;
    qint64 lastSlno = 0;
    qint64 unchainedRows = 0;  // written before the log was chained: not checkable
    qint64 eventsChecked = 0;
    std::vector<ChainGap> gaps;
    std::vector<ChainFinding> rowMismatches;
    std::vector<ChainFinding> eventFindings;
    std::vector<DecodingChange> decodingChanges;

    bool explained() const;
    QString text() const;
    QJsonObject json() const;
};

// Reads both logs of the open file. Throws DbError when they cannot be read.
ChainReport checkChains(Database& db);

}  // namespace veltrane
