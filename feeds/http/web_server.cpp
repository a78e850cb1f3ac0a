#include "feeds/http/web_server.h"

#include "feeds/feed_json.h"
#include "platform/database.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QNetworkInterface>
#include <QSysInfo>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

namespace veltrane {

namespace {

constexpr int kWeightIntervalMs = 50;  // at most 20 weight events a second
constexpr int kKeepAliveMs = 15000;
constexpr int kDefaultLimit = 1000;
constexpr int kMaxLimit = 10000;
constexpr qint64 kMaxPage = qint64{1024} * 1024;

QByteArray sseEvent(const char* name, const QByteArray& data) {
    return "event: " + QByteArray(name) + "\ndata: " + data + "\n\n";
}

QByteArray weightEvent(const QString& weight) {
    return sseEvent("weight", "{\"weight\": " + jsonString(weight) + "}");
}

bool isDate(const QString& text) {
    return text.size() == 10 && QDate::fromString(text, QStringLiteral("yyyy-MM-dd")).isValid();
}

bool isAny(const QHostAddress& address) {
    return address == QHostAddress::Any || address == QHostAddress::AnyIPv4 ||
           address == QHostAddress::AnyIPv6;
}

// A host name or address as the Host header may write it, in the form the list holds.
QString hostKey(QString host) {
    host = host.toLower();
    if (host.endsWith(QLatin1Char('.'))) host.chop(1);
    QHostAddress address;
    return address.setAddress(host) ? address.toString().toLower() : host;
}

// Compares without stopping at the first difference, so that the time taken tells nothing of the token.
bool sameSecret(const QByteArray& given, const QByteArray& secret) {
    unsigned char difference = given.size() == secret.size() ? 0 : 1;
    for (qsizetype i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(secret[i] ^ (i < given.size() ? given[i] : 0));
    return difference == 0;
}

}  // namespace

WebServer::WebServer(WebSources sources, QString token, const HttpLimits& limits, QObject* parent)
    : QAbstractHttpServer(parent), m_sources(std::move(sources)), m_token(token.toUtf8()), m_limits(limits) {
    m_weightTimer.setSingleShot(true);
    connect(&m_weightTimer, &QTimer::timeout, this, [this] { sendWeight(); });
    m_keepAlive.setInterval(kKeepAliveMs);
    // A comment line: proxies and browsers see traffic, EventSource ignores it.
    connect(&m_keepAlive, &QTimer::timeout, this, [this] { broadcast(": keep-alive\n\n"); });
}

WebServer::~WebServer() = default;

QString WebServer::start(const QHostAddress& address, quint16 port) {
    auto* guard = new ConnectionGuard(m_limits, this);
    if (!guard->listen(address, port)) {
        QString why = guard->errorString();
        delete guard;
        return why;
    }
    bind(guard);
    m_guard = guard;
    const auto add = [this](const QString& host) {
        if (!host.isEmpty() && !m_hosts.contains(hostKey(host))) m_hosts << hostKey(host);
    };
    for (const char* own : {"localhost", "127.0.0.1", "::1"}) add(QString::fromLatin1(own));
    if (isAny(address)) {
        for (const QHostAddress& mine : QNetworkInterface::allAddresses())
            add(mine.toString().section('%', 0, 0));
    } else {
        add(address.toString());
    }
    add(QSysInfo::machineHostName());
    add(QHostInfo::localHostName());
    if (!QHostInfo::localDomainName().isEmpty())
        add(QHostInfo::localHostName() + QLatin1Char('.') + QHostInfo::localDomainName());
    for (const QString& origin : m_sources.origins) add(QUrl(origin).host());
    m_keepAlive.start();
    return {};
}

quint16 WebServer::port() const {
    return m_guard ? m_guard->serverPort() : 0;
}

void WebServer::setWeight(const QString& weight) {
    m_weight = weight;
    if (m_weightTimer.isActive()) return;
    const qint64 since = m_weightClock.isValid() ? m_weightClock.elapsed() : kWeightIntervalMs;
    if (since >= kWeightIntervalMs)
        sendWeight();
    else
        m_weightTimer.start(int(kWeightIntervalMs - since));
}

void WebServer::sendWeight() {
    if (m_weight == m_weightSent && m_weightClock.isValid()) return;
    m_weightSent = m_weight;
    m_weightClock.start();
    broadcast(weightEvent(m_weight));
}

void WebServer::served(const ServedWeighment& weighment) {
    broadcast(servedEvent(weighment));
}

QByteArray WebServer::servedEvent(const ServedWeighment& weighment) {
    // The id is what a reconnecting browser sends back as Last-Event-ID; weight events carry none, so
    // that it stays the last serving's.
    const QString logid = !weighment.logId.isEmpty() ? weighment.logId
                          : m_sources.logId          ? m_sources.logId()
                                                     : QString();
    return "id: " + logid.toUtf8() + ':' + QByteArray::number(weighment.slno) + '\n' +
           sseEvent("served", weighmentJson(weighment));
}

void WebServer::broadcast(const QByteArray& text) {
    std::erase_if(m_streams, [](const QPointer<QTcpSocket>& s) {
        return !s || s->state() != QAbstractSocket::ConnectedState;
    });
    for (const QPointer<QTcpSocket>& socket : std::vector(m_streams)) {
        if (!socket) continue;
        socket->write(text);
        if (!m_guard->cutIfBacklogged(socket)) socket->flush();
    }
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    // A client that sends requests without reading their answers would have them pile up here.
    if (m_guard && m_guard->cutIfBacklogged(socket)) return true;
    if (m_guard) m_guard->answered(socket);
    route(request, socket);
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest&, QTcpSocket*) {
    // handleRequest answers every request.
}

void WebServer::route(const QHttpServerRequest& request, QTcpSocket* socket) {
    using Method = QHttpServerRequest::Method;
    if (!knownHost(request))
        return error(request, socket, Status::MisdirectedRequest,
                     QStringLiteral("this feed does not answer to the host \"%1\"; a page's own name "
                                    "must be listed in the origins of the web feed")
                         .arg(QString::fromLatin1(request.value("Host"))));
    // A browser's preflight carries no token: it asks whether the page may send one.
    if (request.method() == Method::Options && !allowedOrigin(request).isEmpty())
        return answer(request, socket, Status::NoContent, {}, {});
    if (!authorized(request))
        return error(
            request, socket, Status::Unauthorized,
            QStringLiteral("a token is needed: \"Authorization: Bearer <token>\" or ?token=<token>"));
    if (request.method() != Method::Get)
        return error(request, socket, Status::MethodNotAllowed, QStringLiteral("only GET is served"));
    const QString path = request.url().path();
    if (path == QLatin1String("/")) return page(request, socket);
    if (path == QLatin1String("/api/events")) return openStream(request, socket);
    if (path == QLatin1String("/api/weighments")) return weighments(request, socket);
    if (path != QLatin1String("/api/weight"))
        return error(
            request, socket, Status::NotFound,
            QStringLiteral("no such address; there are /, /api/weight, /api/events and /api/weighments"));
    const QByteArray time =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toLatin1();
    const bool portOpen = m_sources.portOpen && m_sources.portOpen();
    answer(request, socket, Status::Ok, "application/json",
           "{\"weight\": " + jsonString(m_weight) + ", \"port\": \"" + (portOpen ? "on" : "off") +
               "\", \"time\": \"" + time + "\"}");
}

bool WebServer::knownHost(const QHttpServerRequest& request) const {
    QString host = QString::fromLatin1(request.value("Host").trimmed());
    if (host.isEmpty()) return true;  // HTTP/1.0 without a name: not a browser's request
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype end = host.indexOf(QLatin1Char(']'));
        if (end < 0) return false;
        host = host.mid(1, end - 1);
    } else if (host.count(QLatin1Char(':')) == 1) {
        host = host.section(QLatin1Char(':'), 0, 0);
    }
    return m_hosts.contains(hostKey(host));
}

QByteArray WebServer::allowedOrigin(const QHttpServerRequest& request) const {
    const QByteArray origin = request.value("Origin");
    return !origin.isEmpty() && m_sources.origins.contains(QString::fromLatin1(origin)) ? origin
                                                                                        : QByteArray();
}

bool WebServer::authorized(const QHttpServerRequest& request) const {
    if (m_token.isEmpty()) return true;
    const QByteArray header = request.value("Authorization");
    if (header.startsWith("Bearer ") && sameSecret(header.mid(7).trimmed(), m_token)) return true;
    const QUrlQuery query(request.url());
    return query.hasQueryItem(QStringLiteral("token")) &&
           sameSecret(query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toUtf8(), m_token);
}

void WebServer::answer(const QHttpServerRequest& request, QTcpSocket* socket, Status status,
                       const QByteArray& type, const QByteArray& body) {
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(status);
    if (!type.isEmpty()) responder.writeHeader("Content-Type", type);
    if (status != Status::NoContent) responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    if (!m_sources.origins.isEmpty()) responder.writeHeader("Vary", "Origin");
    const QByteArray origin = allowedOrigin(request);
    if (!origin.isEmpty()) {
        responder.writeHeader("Access-Control-Allow-Origin", origin);
        if (status == Status::NoContent) {
            responder.writeHeader("Access-Control-Allow-Methods", "GET");
            responder.writeHeader("Access-Control-Allow-Headers", "Authorization, Last-Event-ID");
            if (request.value("Access-Control-Request-Private-Network") == "true")
                responder.writeHeader("Access-Control-Allow-Private-Network", "true");
            responder.writeHeader("Access-Control-Max-Age", "600");
        }
    }
    if (status == Status::Unauthorized) responder.writeHeader("WWW-Authenticate", "Bearer");
    if (status == Status::MethodNotAllowed)
        responder.writeHeader("Allow", m_sources.origins.isEmpty() ? "GET" : "GET, OPTIONS");
    responder.writeBody(body);
}

void WebServer::error(const QHttpServerRequest& request, QTcpSocket* socket, Status status,
                      const QString& why) {
    answer(request, socket, status, "application/json", "{\"error\": " + jsonString(why) + "}");
}

void WebServer::page(const QHttpServerRequest& request, QTcpSocket* socket) {
    QFile file(m_sources.page);
    if (!file.open(QIODevice::ReadOnly))
        return error(request, socket, Status::NotFound,
                     QStringLiteral("the sample page is not in the application folder: ") + m_sources.page);
    answer(request, socket, Status::Ok, "text/html; charset=utf-8", file.read(kMaxPage));
}

void WebServer::weighments(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QUrlQuery query(request.url());
    const QString from = query.queryItemValue(QStringLiteral("from"), QUrl::FullyDecoded);
    const QString to = query.queryItemValue(QStringLiteral("to"), QUrl::FullyDecoded);
    for (const QString& date : {from, to}) {
        if (!date.isEmpty() && !isDate(date))
            return error(request, socket, Status::BadRequest,
                         QStringLiteral("from and to are dates written YYYY-MM-DD, not \"%1\"").arg(date));
    }
    WebSources::Query asked{from, to, kDefaultLimit, std::nullopt};
    if (query.hasQueryItem(QStringLiteral("after"))) {
        const QString text = query.queryItemValue(QStringLiteral("after"), QUrl::FullyDecoded);
        const bool digits = !text.isEmpty() && text.size() <= 18 &&
                            std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
        if (!digits)
            return error(request, socket, Status::BadRequest,
                         QStringLiteral("after is a serial number, not \"%1\"").arg(text));
        asked.after = text.toLongLong();
    }
    int& limit = asked.limit;
    if (query.hasQueryItem(QStringLiteral("limit"))) {
        const QString text = query.queryItemValue(QStringLiteral("limit"), QUrl::FullyDecoded);
        const bool digits = !text.isEmpty() && text.size() <= 5 &&
                            std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
        limit = digits ? text.toInt() : 0;
        if (limit < 1 || limit > kMaxLimit)
            return error(
                request, socket, Status::BadRequest,
                QStringLiteral("limit is a number from 1 to %1, not \"%2\"").arg(kMaxLimit).arg(text));
    }
    std::vector<ServedWeighment> rows;
    try {
        if (m_sources.weighments) rows = m_sources.weighments(asked);
    } catch (const DbError& e) {
        return error(request, socket, Status::ServiceUnavailable, e.description());
    }
    QByteArray body = "[";
    for (const ServedWeighment& row : rows) body += (body.size() > 1 ? ",\n" : "") + weighmentJson(row);
    answer(request, socket, Status::Ok, "application/json", body + "]");
}

void WebServer::openStream(const QHttpServerRequest& request, QTcpSocket* socket) {
    if (m_guard->eventStreams() >= m_limits.maxEventStreams)
        return error(request, socket, Status::ServiceUnavailable,
                     QStringLiteral("%1 event streams are open already").arg(m_limits.maxEventStreams));
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(Status::Ok);
    responder.writeHeader("Content-Type", "text/event-stream");
    responder.writeHeader("Cache-Control", "no-store");
    if (!m_sources.origins.isEmpty()) responder.writeHeader("Vary", "Origin");
    if (const QByteArray origin = allowedOrigin(request); !origin.isEmpty())
        responder.writeHeader("Access-Control-Allow-Origin", origin);
    // A browser reconnects 2 s after losing the stream; the weight the others last had comes first,
    // after the servings it missed.
    responder.writeBody("retry: 2000\n\n" + missedServings(request) + weightEvent(m_weightSent));
    socket->flush();
    m_guard->holdOpen(socket);
    m_streams.emplace_back(socket);
}

QByteArray WebServer::missedServings(const QHttpServerRequest& request) {
    const QByteArray last = request.value("Last-Event-ID").trimmed();
    if (last.isEmpty() || !m_sources.weighments) return {};
    // An id of another log (the file was made anew) or none that can be read: every serving of this
    // log is new to the client.
    const qsizetype colon = last.lastIndexOf(':');
    bool number = false;
    const qint64 slno = last.mid(colon + 1).toLongLong(&number);
    const QString logid = m_sources.logId ? m_sources.logId() : QString();
    const bool sameLog = colon >= 0 && number && slno >= 0 && QString::fromUtf8(last.left(colon)) == logid;
    QByteArray events;
    try {
        for (const ServedWeighment& row : m_sources.weighments({{}, {}, kMaxLimit, sameLog ? slno : 0}))
            events += servedEvent(row);
    } catch (const DbError&) {
        // The stream still goes live; the client can ask /api/weighments?after= once the log reads.
    }
    return events;
}

}  // namespace veltrane
