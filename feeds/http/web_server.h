#pragma once
// The web feed's HTTP server, on Qt's HTTP server module and the program's own event loop:
//   GET /                the sample page (veltrane-sample.html from the application folder)
//   GET /api/weight      {"weight": "...", "port": "on"|"off", "time": "YYYY-MM-DDTHH:MM:SS"}
//   GET /api/events      Server-Sent Events: "weight" {"weight": "..."} on change, at most 20 a second,
//                        the latest value always sent; "served" {"slno": N, ...} with the id
//                        "<log id>:<slno>" once per serving, after its weight-log row is on disk; a
//                        comment every 15 s. A stream opened with Last-Event-ID first replays the
//                        servings after that one from the weight log (all of a newer log's).
//   GET /api/weighments  ?from=YYYY-MM-DD&to=YYYY-MM-DD&limit=N: weight-log rows, newest first;
//                        with &after=SLNO the rows after that one, oldest first
// Anything else is 404, a method other than GET 405, all with {"error": "..."}. With a token every
// request needs "Authorization: Bearer <token>" or "?token=<token>" (EventSource sends no headers),
// else 401. A request naming a host that is not this computer's, nor an allowed origin's, is 421: a
// page of a foreign name that resolves to this computer must not become same-origin. Only pages of the
// allowed origins may read the answers from a browser (CORS for exactly that origin).

#include "core/weight_feed.h"
#include "feeds/http/connection_guard.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

class QTcpSocket;

namespace veltrane {

// What the server answers from.
struct WebSources {
    std::function<bool()> portOpen;
    // Weight-log rows from one date to another ("YYYY-MM-DD", both included; empty: no bound), newest
    // first, at most limit of them. Throws DbError.
    // Weight-log rows, newest first, at most limit of them; from/to ("YYYY-MM-DD", both included;
    // empty: no bound). With after set, only the rows after that serial number, oldest first. Throws
    // DbError.
    struct Query {
        QString from;
        QString to;
        int limit = 0;
        std::optional<qint64> after;
    };
    std::function<std::vector<ServedWeighment>(const Query& query)> weighments;
    std::function<QString()> logId;  // the weight log's id
    QString page;                    // the sample page's file
    QStringList origins;             // whose pages may read the feed from a browser
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
    bool knownHost(const QHttpServerRequest& request) const;
    // The request's origin when it may read the answer, else empty.
    QByteArray allowedOrigin(const QHttpServerRequest& request) const;
    void route(const QHttpServerRequest& request, QTcpSocket* socket);
    void page(const QHttpServerRequest& request, QTcpSocket* socket);
    void weighments(const QHttpServerRequest& request, QTcpSocket* socket);
    void openStream(const QHttpServerRequest& request, QTcpSocket* socket);
    void sendWeight();
    void broadcast(const QByteArray& event);
    QByteArray servedEvent(const ServedWeighment& weighment);
    QByteArray missedServings(const QHttpServerRequest& request);

    WebSources m_sources;
    QByteArray m_token;
    HttpLimits m_limits;
    QStringList m_hosts;                 // names and addresses the feed answers to, lowercase
    ConnectionGuard* m_guard = nullptr;  // a child, once listening
    std::vector<QPointer<QTcpSocket>> m_streams;
    QString m_weight;
    QString m_weightSent;
    QElapsedTimer m_weightClock;
    QTimer m_weightTimer;
    QTimer m_keepAlive;
};

}  // namespace veltrane
