#pragma once
// Bare Unix sockets for tests of the local sockets: a line client that keeps the Qt event loop turning
// while it waits, so that a server living on the test's own thread can answer; and a socket bound at a
// path, as another program leaves or serves it there.

#include "tests/support/wait.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane::test {

// XDG_RUNTIME_DIR set to a fresh folder while it lives: the program's local sockets go there.
struct RuntimeFolder : QTemporaryDir {
    RuntimeFolder() { qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path())); }
};

inline sockaddr_un unixAddress(const QString& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, QFile::encodeName(path).constData(), sizeof addr.sun_path - 1);
    return addr;
}

// A non-blocking socket bound at path and, with a backlog, listening; -1 when that fails.
inline int bindUnixSocket(const QString& path, int backlog = -1) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_un addr = unixAddress(path);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        (backlog >= 0 && ::listen(fd, backlog) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

class UnixLineClient {
public:
    explicit UnixLineClient(const QString& path) {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_un addr = unixAddress(path);
        if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~UnixLineClient() { close(); }
    UnixLineClient(const UnixLineClient&) = delete;
    UnixLineClient& operator=(const UnixLineClient&) = delete;

    bool connected() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    bool send(std::string_view bytes) {
        while (!bytes.empty() && m_fd >= 0) {
            const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n > 0)
                bytes.remove_prefix(static_cast<std::size_t>(n));
            else if (n < 0 && errno != EAGAIN)
                return false;
            else
                QCoreApplication::processEvents();
        }
        return bytes.empty();
    }

    // The next whole line without its "\n", or nothing when none came in time or the server closed.
    std::optional<std::string> line(int timeoutMs = 10000) {
        std::optional<std::string> result;
        pumpUntil(
            [&] {
                const auto nl = m_buffer.find('\n');
                if (nl != std::string::npos) {
                    result = m_buffer.substr(0, nl);
                    m_buffer.erase(0, nl + 1);
                    return true;
                }
                return !receive();
            },
            timeoutMs);
        return result;
    }

    // Nothing more arrives for a while (for "no update was sent").
    bool quietFor(int ms) {
        pumpUntil(
            [&] {
                receive();
                return false;
            },
            ms);
        return m_buffer.empty();
    }

    // Reads until the server closes; everything received in that time.
    std::optional<std::string> readToEnd(int timeoutMs = 20000) {
        bool closed = false;
        pumpUntil([&] { return closed = !receive(); }, timeoutMs);
        if (!closed) return std::nullopt;
        std::string all;
        all.swap(m_buffer);
        return all;
    }

private:
    // False once the server has closed the connection.
    bool receive() {
        if (m_fd < 0) return false;
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n > 0)
                m_buffer.append(chunk, static_cast<std::size_t>(n));
            else if (n == 0)
                return false;
            else
                return errno == EAGAIN || errno == EINTR;
        }
    }

    int m_fd = -1;
    std::string m_buffer;
};

}  // namespace veltrane::test
