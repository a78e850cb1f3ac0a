#pragma once
// veltrane-collect --report: the sites, their gaps and chain breaks.

#include "collect/store.h"

#include <QString>
#include <QTextStream>

namespace veltrane {

// Runs of serial numbers: "5-7, 9".
QString serialRuns(const std::vector<qint64>& serials);

// Writes the report; true when nothing in it is unexplained (no gap, no chain break, no changed row).
bool writeReport(Store& store, QTextStream& out);

}  // namespace veltrane
