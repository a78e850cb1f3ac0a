#pragma once
// The web feed's HTTP server, on Qt's HTTP server module and the program's own event loop:
//   GET /                the sample page (veltrane-sample.html from the application folder)
//   GET /api/weight      {"weight": "...", "port": "on"|"off", "time": "YYYY-MM-DDTHH:MM:SS"}
//   GET /api/events      Server-Sent Events: "weight" {"weight": "..."} on change, at most 20 a second,
//                        the latest value always sent; "served" {"slno": N, "weight": "...",
//                        "datetime": "..."} once per serving, after its weight-log row is on disk; a
//                        comment every 15 s
//   GET /api/weighments  ?from=YYYY-MM-DD&to=YYYY-MM-DD&limit=N: weight-log rows, newest first
// Anything else is 404, a method other than GET 405, all with {"error": "..."}. With a token every
// request needs "Authorization: Bearer <token>" or "?token=<token>" (EventSource sends no headers),
// else 401. Only on loopback without a token may any web page read the answers (CORS "*").

#include "core/weight_feed.h"
#include "feeds/http/connection_guard.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <vector>

class QTcpSocket;

namespace veltrane {

// What the server answers from.
struct WebSources {
    std::function<bool()> portOpen;
    // Weight-log rows from one date to another ("YYYY-MM-DD", both included; empty: no bound), newest
    // first, at most limit of them. Throws DbError.
    std::function<std::vector<ServedWeighment>(const QString& from, const QString& to, int limit)> weighments;
    QString page;  // the sample page's file
};

class WebServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    WebServer(WebSources sources, QString token, const HttpLimits& limits = {}, QObject* parent = nullptr);
    ~WebServer() override;

    // Listens on address and port (0: a free one). Empty when listening, else why not.
    QString start(const QHostAddress& address, quint16 port);
    quint16 port() const;

    // The live weight's text changed.
    void setWeight(const QString& weight);
    // A serving's weight-log row is on disk.
    void served(const ServedWeighment& weighment);

    int connections() const { return m_guard ? m_guard->connections() : 0; }
    int eventStreams() const { return m_guard ? m_guard->eventStreams() : 0; }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    using Status = QHttpServerResponder::StatusCode;
    void answer(const QHttpServerRequest& request, QTcpSocket* socket, Status status, const QByteArray& type,
                const QByteArray& body);
    void error(const QHttpServerRequest& request, QTcpSocket* socket, Status status, const QString& why);
    bool authorized(const QHttpServerRequest& request) const;
    void route(const QHttpServerRequest& request, QTcpSocket* socket);
    void page(const QHttpServerRequest& request, QTcpSocket* socket);
    void weighments(const QHttpServerRequest& request, QTcpSocket* socket);
    void openStream(const QHttpServerRequest& request, QTcpSocket* socket);
    void sendWeight();
    void broadcast(const QByteArray& event);

    WebSources m_sources;
    QByteArray m_token;
    HttpLimits m_limits;
    bool m_anyOrigin = false;
    ConnectionGuard* m_guard = nullptr;  // a child, once listening
    std::vector<QPointer<QTcpSocket>> m_streams;
    QString m_weight;
    QString m_weightSent;
    QElapsedTimer m_weightClock;
    QTimer m_weightTimer;
    QTimer m_keepAlive;
};

}  // namespace veltrane
