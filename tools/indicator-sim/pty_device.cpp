#include "tools/indicator-sim/pty_device.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace veltrane::sim {

bool readPtyLine(int fd, int* baud, int* dataBits, char* parity, int* stopBits);
bool writePtyLine(int fd, int baud, int stopBits);

PtyDevice::~PtyDevice() {
    destroy();
}

bool PtyDevice::create(const LineSettings& settings, QString* error) {
    destroy();
    auto fail = [&](const char* what) {
        if (error)
            *error =
                QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
        destroy();
        return false;
    };
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0) return fail("cannot open a pseudo-terminal");
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) return fail("cannot unlock the pseudo-terminal");
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0) return fail("cannot name the pseudo-terminal");
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0) return fail("cannot open the pseudo-terminal's device");
    termios t{};
    if (tcgetattr(m_slave, &t) != 0) return fail("cannot read the device settings");
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(m_slave, TCSANOW, &t) != 0) return fail("cannot make the device raw");
    if (!writePtyLine(m_slave, settings.baud, settings.stopBits)) return fail("cannot set the line speed");
    if (!m_link.isEmpty()) {
        const QString link = m_link;
        m_link.clear();
        if (!setLink(link, error)) {
            destroy();
            return false;
        }
    }
    return true;
}

void PtyDevice::destroy() {
    if (m_slave >= 0) ::close(m_slave);
    if (m_master >= 0) ::close(m_master);
    m_slave = m_master = -1;
    removeLink();
    m_slavePath.clear();
}

bool PtyDevice::setLink(const QString& path, QString* error) {
    const QFileInfo info(path);
    if (info.exists() && !info.isSymLink()) {
        if (error) *error = QStringLiteral("%1 exists and is not a link; not replacing it").arg(path);
        return false;
    }
    if (info.isSymLink()) QFile::remove(path);
    // A link left by another run is replaced; the path then names this run's device.
    if (::symlink(m_slavePath.toLocal8Bit().constData(), path.toLocal8Bit().constData()) != 0) {
        if (error)
            *error = QStringLiteral("cannot create the link %1: %2")
                         .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    m_link = path;
    return true;
}

void PtyDevice::removeLink() {
    if (m_link.isEmpty()) return;
    const QFileInfo info(m_link);
    // Only the link that still names our device is ours to remove.
    if (info.isSymLink() && info.symLinkTarget() == m_slavePath) QFile::remove(m_link);
}

std::optional<LineSettings> PtyDevice::readerSettings() const {
    LineSettings s;
    if (m_master < 0 || !readPtyLine(m_master, &s.baud, &s.dataBits, &s.parity, &s.stopBits))
        return std::nullopt;
    return s;
}

int PtyDevice::unreadBytes() const {
    int n = 0;
    if (m_slave < 0 || ioctl(m_slave, FIONREAD, &n) != 0) return 0;
    return n;
}

void PtyDevice::dropUnread() {
    if (m_slave >= 0) tcflush(m_slave, TCIFLUSH);
}

}  // namespace veltrane::sim
