#include "platform/program_identity.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifndef VELTRANE_VERSION
#define VELTRANE_VERSION "unknown"
#endif

namespace veltrane {

namespace {

// Folders whose libraries are part of this program: its own folder and the package's.
bool isOwnFolder(const QString& path, const QString& programFolder) {
    return path.startsWith(programFolder + QLatin1Char('/')) ||
           path.startsWith(QLatin1String("/usr/lib/veltrane/"));
}

QStringList loadedLibraries(const QString& programFile) {
    QStringList found;
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly)) return found;
    const QString folder = QFileInfo(programFile).absolutePath();
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const int slash = line.indexOf('/');
        if (slash < 0) continue;
        const QString path = QFileInfo(QString::fromLocal8Bit(line.mid(slash).trimmed())).canonicalFilePath();
        if (path.isEmpty() || path == programFile || !isOwnFolder(path, folder)) continue;
        if (!found.contains(path)) found << path;
    }
    return found;
}

}  // namespace

QString programVersion() {
    return QStringLiteral(VELTRANE_VERSION);
}

ProgramIdentity identityOf(const QString& programFile, QStringList libraries) {
    std::sort(libraries.begin(), libraries.end());
    ProgramIdentity identity{programVersion(), {}, QStringList{programFile} + libraries};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString& path : identity.files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
            identity.digest.clear();
            return identity;  // an unreadable file has no identity to show
        }
    }
    identity.digest = QString::fromLatin1(hash.result().toHex());
    return identity;
}

ProgramIdentity programIdentity() {
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return identityOf(program, loadedLibraries(program));
}

QString identityText(const ProgramIdentity& identity) {
    QString text =
        QStringLiteral("Veltrane %1\nSHA-256 %2\n")
            .arg(identity.version,
                 identity.digest.isEmpty() ? QStringLiteral("(a file could not be read)") : identity.digest);
    for (const QString& file : identity.files) text += QStringLiteral("  ") + file + QLatin1Char('\n');
    return text;
}

}  // namespace veltrane
