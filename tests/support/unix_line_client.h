#pragma once
// A bare Unix-socket line client for tests of the live feed. It keeps the Qt event loop turning while it
// waits, so that a server living on the test's own thread can answer.

#include "tests/support/wait.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane::test {

class UnixLineClient {
public:
    explicit UnixLineClient(const QString& path) {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray p = QFile::encodeName(path);
        std::strncpy(addr.sun_path, p.constData(), sizeof addr.sun_path - 1);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
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
