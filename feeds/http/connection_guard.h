#pragma once
// The web feed's listening socket, and the limits it holds every connection to before the HTTP server
// parses a byte. Qt's HTTP server (6.4) has none of its own: it buffers a request line or a header
// section of any length, keeps a connection that never sends anything for ever, and writes to a client
// that never reads until memory runs out. The guard sees each connection's bytes first (it peeks, so
// the server still reads them all) and
//   - answers 414 to a request line over 8 KiB, 431 to a head of more than 100 lines or 16 KiB, 413 to a
//     request over 64 KiB, and closes the connection;
//   - answers 408 and closes a connection whose request is not complete 10 s after its first byte, and
//     closes one that has had no request in progress for 30 s;
//   - holds at most 256 connections: a newcomer beyond them closes the one idle longest, so a crowd of
//     silent connections cannot lock real clients out;
//   - cuts off a connection whose client leaves more than 64 KiB unread (an event stream, or requests
//     sent without reading their answers), and does not count a request as activity while earlier
//     answers wait unread.

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTimer>

#include <unordered_map>

class QTcpSocket;

namespace veltrane {

struct HttpLimits {
    int maxConnections = 256;
    int maxEventStreams = 200;  // of those connections; a stream beyond them is answered 503
    qint64 maxRequestLine = 8 * 1024;
    int maxHeadLines = 100;
    qint64 maxHeadBytes = 16 * 1024;
    qint64 maxRequestBytes = 64 * 1024;
    int requestTimeoutMs = 10000;
    int idleTimeoutMs = 30000;
    qint64 maxUnread = 64 * 1024;
};

class ConnectionGuard : public QTcpServer {
    Q_OBJECT
public:
    explicit ConnectionGuard(const HttpLimits& limits, QObject* parent = nullptr);
    ~ConnectionGuard() override;

    // The HTTP server answered a complete request on the socket: the next request starts afresh.
    void answered(QTcpSocket* socket);
    // The socket now carries an event stream: no timeouts, never closed for a newcomer, and closed if
    // its client sends anything more.
    void holdOpen(QTcpSocket* socket);
    // Closes an event stream whose client has left more than the limit unread. True when it did.
    bool cutIfBacklogged(QTcpSocket* socket);

    int connections() const { return int(m_connections.size()); }
    int eventStreams() const;
    const HttpLimits& limits() const { return m_limits; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Connection {
        QElapsedTimer since;  // the first byte of the request in progress, or the last answer
        qint64 bytes = 0;     // of the request in progress
        qint64 headBytes = 0;
        qint64 lineBytes = 0;
        int lines = 0;  // complete lines of the head so far, the request line first
        bool inBody = false;
        bool stream = false;
        // Answers still wait to be read: the clock runs on from when that began, whatever the client
        // sends meanwhile.
        bool unread = false;
    };

    void received(QTcpSocket* socket);
    // Answers status with reason as a JSON error, and closes the connection.
    void refuse(QTcpSocket* socket, int status, const QByteArray& reason);
    void drop(QTcpSocket* socket);
    void sweep();

    HttpLimits m_limits;
    std::unordered_map<QTcpSocket*, Connection> m_connections;
    QTimer m_sweep;
};

}  // namespace veltrane
