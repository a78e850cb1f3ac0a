#pragma once
// What an outward feed of the weight hears from the weighing core. The local-socket live feed, the web
// feed and the broker feed each implement this and are added to the core by the program's start-up;
// the core calls every feed the same way and knows none of them.

#include <QString>

namespace veltrane {

// One row of the weight log, as it was written by a serving.
struct ServedWeighment {
    qint64 slno = 0;
    QString weight;    // the served weight text
    QString datetime;  // "YYYY-MM-DD HH:MM:SS", local time, as stored in the log
    QString logId;     // the weight log's own id: slno counts within one log only
    QString digest;    // the row's chained digest; empty for a row written before the log was chained
};

class WeightFeed {
public:
    virtual ~WeightFeed() = default;
    // The weight box's text changed (empty when the box was cleared). Called on changes only.
    virtual void weightChanged(const QString& weightText) = 0;
    // A serving's weight-log row is on disk. Called before the output file is written, so that a
    // feed never waits for an operator's answer to a locked file; a serving whose log row failed is
    // not reported (it has no serial number).
    virtual void weighmentServed(const ServedWeighment& weighment) = 0;
};

}  // namespace veltrane
