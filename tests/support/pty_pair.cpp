#include "tests/support/pty_pair.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>

namespace veltrane::test {

PtyPair::PtyPair() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0) return;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        closeMaster();
        return;
    }
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        closeMaster();
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    // Raw on the slave side too, so bytes pass unchanged even before the reader sets its own modes.
    const int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios t{};
        if (tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
        }
        ::close(slave);
    }
}

PtyPair::~PtyPair() {
    closeMaster();
}

bool PtyPair::write(const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(m_master, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            // The reader lives on this thread: let it take what waits before writing more.
            if (errno == EAGAIN) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
                continue;
            }
            return false;
        }
        done += n;
    }
    return true;
}

QByteArray PtyPair::read(int atLeast, int timeoutMs) {
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.size() < atLeast && clock.elapsed() < timeoutMs) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            out.append(buf, n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
    return out;
}

void PtyPair::closeMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

}  // namespace veltrane::test
