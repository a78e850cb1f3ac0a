#include "platform/socket_folder.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veltrane {
namespace {

QString runtimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : QString();
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

QString socketFolder(const QString& name) {
    QString runtime = runtimeFolder();
    if (!runtime.isEmpty()) return runtime;
    return QStringLiteral("/tmp/%1-%2").arg(name.toLower()).arg(::getuid());
}

QString prepareSocketFolder(const QString& name) {
    if (!runtimeFolder().isEmpty()) return {};
    const QString folder = socketFolder(name);
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), S_IRWXU) != 0 && errno != EEXIST)
        return QStringLiteral("cannot make the folder %1: %2").arg(folder, systemError(errno));
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        return QStringLiteral("cannot use the folder %1: %2").arg(folder, systemError(errno));
    if (!S_ISDIR(st.st_mode)) return folder + QStringLiteral(" is not a folder");
    if (st.st_uid != ::getuid()) return QStringLiteral("the folder %1 belongs to another user").arg(folder);
    if ((st.st_mode & 07777) != S_IRWXU && ::chmod(native.constData(), S_IRWXU) != 0)
        return QStringLiteral("cannot make the folder %1 private: %2").arg(folder, systemError(errno));
    return {};
}

}  // namespace veltrane
