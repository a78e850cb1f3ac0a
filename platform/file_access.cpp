#include "platform/file_access.h"

#include "platform/qt_serial_port.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include <cerrno>

namespace veltrane {

namespace {

bool refused(const QString& path, int mode) {
    return ::access(QFile::encodeName(path).constData(), mode) != 0 && (errno == EACCES || errno == EPERM);
}

// The file a path finally names, following links; a link itself is readable wherever its folder is.
QString finalTarget(QString path) {
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(path);
        if (!info.isSymLink()) break;
        path = QDir::cleanPath(QDir(info.absolutePath()).absoluteFilePath(info.symLinkTarget()));
    }
    return QFileInfo(path).absoluteFilePath();
}

// The first folder on the way that may not be entered, or else the file itself.
QString blocker(const QString& target) {
    const QStringList parts = target.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString folder;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        folder += QLatin1Char('/') + parts.at(i);
        if (refused(folder, X_OK)) return folder;
    }
    return target;
}

QString advice(const QString& path, const DeviceAccess& a) {
    const QString what =
        a.device == path ? a.device : QStringLiteral("%1 (the folder of %2)").arg(a.device, path);
    if (a.group.isEmpty() || a.group == QLatin1String("root")) {
        return QStringLiteral(
                   "Permission denied: %1 may be used only by its owner %2. Run Veltrane as "
                   "that user, or have an administrator give this user access.")
            .arg(what, a.owner);
    }
    if (a.accountInGroup && !a.sessionInGroup) {
        return QStringLiteral(
                   "Permission denied: %1 is for members of the group %2. The user %3 was added "
                   "to it after this login began: log out and log in again.")
            .arg(what, a.group, a.user);
    }
    return QStringLiteral(
               "Permission denied: %1 is for members of the group %2, and the user %3 is not one. "
               "Add the user to the group (as root: adduser %3 %2), then log out and log in again.")
        .arg(what, a.group, a.user);
}

}  // namespace

FileReachResult reachFile(const QString& path, bool needsWrite) {
    const int mode = needsWrite ? R_OK | W_OK : R_OK;
    if (::access(QFile::encodeName(path).constData(), mode) == 0) return {};
    if (errno != EACCES && errno != EPERM && errno != EROFS) return {FileReach::Missing, {}};
    // A read-only file system is not a permission the operator can be given.
    if (errno == EROFS) return {};
    const QString target = finalTarget(path);
    const QString refuses = blocker(target);
    if (refuses == target && !refused(target, mode)) return {};
    return {FileReach::Refused, advice(target, lookUpDeviceAccess(refuses))};
}

}  // namespace veltrane
