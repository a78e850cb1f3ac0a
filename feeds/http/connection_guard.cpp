#include "feeds/http/connection_guard.h"

#include <QTcpSocket>

#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace veltrane {

namespace {

// A connection's kernel buffer: with the guard's own limit, what one client that stopped reading can hold.
constexpr int kStreamSendBuffer = 64 * 1024;

QByteArray kib(qint64 bytes) {
    return QByteArray::number(bytes / 1024) + " KiB";
}

QByteArray phrase(int status) {
    switch (status) {
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 414:
            return "URI Too Long";
        default:
            return "Request Header Fields Too Large";
    }
}

}  // namespace

ConnectionGuard::ConnectionGuard(const HttpLimits& limits, QObject* parent)
    : QTcpServer(parent), m_limits(limits) {
    // A burst of connections waits in the system's queue until the event loop takes it, rather than
    // being turned away there (the default queue holds 50).
    setListenBacklogSize(2 * m_limits.maxConnections);
    m_sweep.setInterval(1000);
    connect(&m_sweep, &QTimer::timeout, this, [this] { sweep(); });
    m_sweep.start();
}

ConnectionGuard::~ConnectionGuard() = default;

void ConnectionGuard::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    if (connections() >= m_limits.maxConnections) {
        QTcpSocket* idlest = nullptr;
        qint64 longest = -1;
        for (const auto& [other, c] : m_connections) {
            if (!c.stream && c.since.elapsed() > longest) {
                longest = c.since.elapsed();
                idlest = other;
            }
        }
        if (!idlest) {  // every place holds an event stream
            socket->abort();
            socket->deleteLater();
            return;
        }
        drop(idlest);
    }
    m_connections[socket].since.start();
    // What a client that stopped reading can hold in the system's buffers: the limit below holds for
    // what waits in the program's own.
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kStreamSendBuffer);
    // Before the HTTP server's own handler, which addPendingConnection() connects: this one runs first.
    connect(socket, &QIODevice::readyRead, this, [this, socket] { received(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { m_connections.erase(socket); });
    addPendingConnection(socket);
}

void ConnectionGuard::received(QTcpSocket* socket) {
    const auto it = m_connections.find(socket);
    if (it == m_connections.end()) return;
    Connection& c = it->second;
    if (c.stream) {
        drop(socket);  // an event stream's client has nothing more to say
        return;
    }
    // What the server has not read yet: the bytes that came since the last signal.
    const QByteArray data = socket->peek(socket->bytesAvailable());
    if (c.bytes == 0 && !c.unread) c.since.start();
    c.bytes += data.size();
    for (const char ch : data) {
        if (c.inBody) break;
        ++c.headBytes;
        if (ch == '\n') {
            if (c.lineBytes == 0 && c.lines > 0) c.inBody = true;  // the blank line that ends the head
            if (c.lineBytes > 0)
                ++c.lines;  // blank lines before the request line are skipped, as the server does
            c.lineBytes = 0;
        } else if (ch != '\r') {
            ++c.lineBytes;
        }
        if (c.lines == 0 && c.lineBytes > m_limits.maxRequestLine) {
            refuse(socket, 414, "request line longer than " + kib(m_limits.maxRequestLine));
            return;
        }
        if (c.lines > m_limits.maxHeadLines || c.headBytes > m_limits.maxHeadBytes) {
            refuse(socket, 431,
                   "more than " + QByteArray::number(m_limits.maxHeadLines) + " header lines or " +
                       kib(m_limits.maxHeadBytes));
            return;
        }
    }
    if (c.bytes > m_limits.maxRequestBytes)
        refuse(socket, 413, "request longer than " + kib(m_limits.maxRequestBytes));
}

void ConnectionGuard::answered(QTcpSocket* socket) {
    const auto it = m_connections.find(socket);
    if (it == m_connections.end()) return;
    const Connection before = it->second;
    it->second = Connection{};
    it->second.stream = before.stream;
    it->second.unread = socket->bytesToWrite() > 0;
    if (it->second.unread && before.since.isValid())
        it->second.since = before.since;
    else
        it->second.since.start();
}

void ConnectionGuard::holdOpen(QTcpSocket* socket) {
    const auto it = m_connections.find(socket);
    if (it == m_connections.end()) return;
    it->second.stream = true;
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kStreamSendBuffer);
}

bool ConnectionGuard::cutIfBacklogged(QTcpSocket* socket) {
    if (socket->bytesToWrite() <= m_limits.maxUnread) return false;
    drop(socket);
    return true;
}

int ConnectionGuard::eventStreams() const {
    int streams = 0;
    for (const auto& [socket, c] : m_connections) streams += c.stream ? 1 : 0;
    return streams;
}

void ConnectionGuard::refuse(QTcpSocket* socket, int status, const QByteArray& reason) {
    // The HTTP server must not parse what it would have read next: its handler goes.
    QObject::disconnect(socket, &QIODevice::readyRead, parent(), nullptr);
    m_connections.erase(socket);
    const QByteArray body = "{\"error\": \"" + reason + "\"}";
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + phrase(status) +
                  "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
                  "\r\nConnection: close\r\n\r\n" + body);
    socket->flush();
    // A lingering close: what the client still sends is read and dropped until it closes too, so that
    // its system does not discard the answer on a reset. A client that takes long is not waited for.
    if (socket->isTransactionStarted()) socket->commitTransaction();
    ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
    connect(socket, &QIODevice::readyRead, socket, [socket] { socket->readAll(); });
    socket->readAll();
    QTimer::singleShot(2000, socket, [socket] { socket->abort(); });
}

void ConnectionGuard::drop(QTcpSocket* socket) {
    QObject::disconnect(socket, &QIODevice::readyRead, parent(), nullptr);
    m_connections.erase(socket);
    socket->abort();  // the HTTP server deletes it later
}

void ConnectionGuard::sweep() {
    std::vector<QTcpSocket*> late;
    std::vector<QTcpSocket*> idle;
    for (auto& [socket, c] : m_connections) {
        if (c.unread && socket->bytesToWrite() == 0) {
            c.unread = false;
            c.since.start();
        }
        if (c.stream) {
            if (socket->bytesToWrite() > m_limits.maxUnread) idle.push_back(socket);
        } else if (c.bytes > 0 && c.since.elapsed() > m_limits.requestTimeoutMs) {
            late.push_back(socket);
        } else if (c.bytes == 0 && c.since.elapsed() > m_limits.idleTimeoutMs) {
            idle.push_back(socket);
        }
    }
    for (QTcpSocket* socket : late)
        refuse(socket, 408,
               "request not complete within " + QByteArray::number(m_limits.requestTimeoutMs / 1000) + " s");
    for (QTcpSocket* socket : idle) drop(socket);
}

}  // namespace veltrane
