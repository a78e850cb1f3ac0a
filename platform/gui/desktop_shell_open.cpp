#include "platform/gui/desktop_shell_open.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace veltrane {

bool DesktopShellOpen::open(const QString& path) {
    // xdg-open runs on its own and reports nothing back: a missing file would fail unseen.
    if (!QFileInfo::exists(path)) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool DesktopShellOpen::startProgram(const QString& program) {
    return QProcess::startDetached(program, {});
}

}  // namespace veltrane
