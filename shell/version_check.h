#pragma once
// The version database beside the program: config.mdb, table config, column dummy.

#include <QString>

namespace veltrane {

// The markers of a current version database, compared exactly after trimming.
bool isAcceptedVersionMarker(const QString& marker);

enum class VersionCheck { Accepted, Missing, Refused, Older, Failed };

struct VersionCheckResult {
    VersionCheck result = VersionCheck::Failed;
    QString marker;       // as read; empty for a Null
    QString description;  // the engine's text when Failed; the way to the file when Refused
};

// programFolder ends in "/".
VersionCheckResult checkVersionDatabaseFile(const QString& programFolder);

}  // namespace veltrane
