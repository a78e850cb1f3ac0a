#include "platform/gui/desktop_shell_open.h"

#include <QDesktopServices>
#include <QUrl>

namespace veltrane {

bool DesktopShellOpen::open(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace veltrane
