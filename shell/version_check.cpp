#include "shell/version_check.h"

#include "config/settings.h"
#include "platform/database.h"
#include "platform/file_access.h"

#include <QFileInfo>

namespace veltrane {

bool isAcceptedVersionMarker(const QString& marker) {
    static const QStringList accepted{QStringLiteral("8.x"), QStringLiteral("9.x"), QStringLiteral("11.x"),
                                      QStringLiteral("12.x")};
    return accepted.contains(marker.trimmed());
}

VersionCheckResult checkVersionDatabaseFile(const QString& programFolder) {
    const QString path = programFolder + QLatin1String(kVersionDatabaseName);
    // Behind a folder this user may not enter, the file looks missing to a plain check.
    const FileReachResult reach = reachFile(path, false);
    if (reach.reach == FileReach::Refused) return {VersionCheck::Refused, {}, reach.advice};
    if (!QFileInfo(path).isFile()) return {VersionCheck::Missing, {}, {}};
    try {
        auto db = Database::open(path, QString::fromLatin1(kVersionDatabaseConnect));
        auto set = db->openRecordSet(QStringLiteral("select * from config"));
        QString marker = QStringLiteral("0");
        set->moveFirst();
        // A Null marker is an unaccepted one, like any other text that is not a version.
        if (!set->isEof()) marker = set->field(QStringLiteral("dummy")).toString();
        return {isAcceptedVersionMarker(marker) ? VersionCheck::Accepted : VersionCheck::Older, marker, {}};
    } catch (const DbError& e) {
        return {VersionCheck::Failed, {}, e.description()};
    }
}

}  // namespace veltrane
