// The web feed as an HTTP client meets it: a real server on loopback, raw requests over TCP. Status
// codes, JSON shapes, the token and CORS rules, the weight-log query, the event stream, and the limits
// that keep bad clients from costing anything.

#include "feeds/http/http_feed.h"
#include "config/weight_chain.h"
#include "tests/core/core_fixture.h"
#include "tests/support/wait.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace veltrane;
using namespace veltrane::test;

namespace {

struct Answer {
    int status = 0;
    QByteArray head;
    QByteArray body;
};

// A server with a weight log of three rows, the last on another day, and a page of its own.
struct Web {
    explicit Web(const QString& token = {}, const QString& address = QStringLiteral("127.0.0.1"),
                 const HttpLimits& limits = {})
        : feed(
              app.settingsPath(), app.path() + QStringLiteral("/page.html"), [] { return true; }, {},
              limits) {
        QFile page(app.path() + QStringLiteral("/page.html"));
        page.open(QIODevice::WriteOnly);
        page.write("<html>sample</html>");
        for (const char* when : {"2026-01-02 08:00:00", "2026-01-02 23:59:59", "2026-01-03 00:00:00"})
            app.settingsDb()->execute(
                QStringLiteral("insert into weightlog (Datetime, weight) values (?, '4200')"), {when});
        QTcpServer probe;  // a free port
        probe.listen(QHostAddress::LocalHost);
        FeedSettings settings;
        settings.httpfeed = true;
        settings.httpaddress = address;
        settings.httpport = probe.serverPort();
        settings.httptoken = token;
        probe.close();
        feed.weightChanged(QStringLiteral("1250"));
        feed.apply(settings);
    }
    quint16 port() { return feed.server()->port(); }
    void open(QTcpSocket& socket, const QByteArray& bytes) {
        socket.connectToHost(QHostAddress::LocalHost, port());
        socket.write(bytes);
    }
    // Sends bytes and reads one whole answer, or what came before the connection closed.
    Answer send(const QByteArray& bytes) {
        QTcpSocket socket;
        open(socket, bytes);
        QByteArray got;
        pumpUntil([&] {
            got += socket.readAll();
            const qsizetype end = got.indexOf("\r\n\r\n");
            const auto length = QRegularExpression(QStringLiteral("Content-Length: (\\d+)"))
                                    .match(QString::fromLatin1(got.left(end)));
            return socket.state() == QAbstractSocket::UnconnectedState || got.startsWith("HTTP/1.1 204") ||
                   (end > 0 && length.hasMatch() && got.size() >= end + 4 + length.captured(1).toInt());
        });
        const qsizetype end = got.indexOf("\r\n\r\n");
        return {got.mid(9, 3).toInt(), got.left(end + 2), got.mid(end + 4)};
    }
    Answer get(const QByteArray& target, const QByteArray& headers = {}) {
        return send("GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + headers + "\r\n");
    }
    AppFolder app;
    HttpFeed feed;
};

}  // namespace

TEST(HttpFeed, AnswersEveryEndpointWithItsShape) {
    Web web;
    Answer a = web.get("/api/weight");
    EXPECT_EQ(a.status, 200);
    EXPECT_TRUE(a.head.contains("Content-Type: application/json\r\n"));
    EXPECT_TRUE(a.head.contains("Access-Control-Allow-Origin: *\r\n")) << "loopback without a token";
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^\{"weight": "1250", "port": "on", "time": )"
                                                  R"("\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d"\}$)"))
                    .match(QString::fromUtf8(a.body))
                    .hasMatch())
        << a.body.toStdString();

    // Rows written before the log was chained carry the log id and no digest.
    const QByteArray log =
        ", \"logid\": \"" + readLogId(*web.app.settingsDb()).toLatin1() + "\", \"digest\": null}";
    EXPECT_EQ(web.get("/api/weighments").body,
              "[{\"slno\": 3, \"weight\": \"4200\", \"datetime\": \"2026-01-03 00:00:00\"" + log + ",\n" +
                  "{\"slno\": 2, \"weight\": \"4200\", \"datetime\": \"2026-01-02 23:59:59\"" + log + ",\n" +
                  "{\"slno\": 1, \"weight\": \"4200\", \"datetime\": \"2026-01-02 08:00:00\"" + log + "]");
    EXPECT_EQ(web.get("/api/weighments?from=2026-01-02&to=2026-01-02&limit=1").body,
              "[{\"slno\": 2, \"weight\": \"4200\", \"datetime\": \"2026-01-02 23:59:59\"" + log + "]");
    EXPECT_EQ(web.get("/api/weighments?from=2026-01-03&limit=10000").body.count("slno"), 1);
    EXPECT_EQ(web.get("/api/weighments?from=2026-01-02%27%20or%201=1--").status, 400) << "dates are values";
    for (const char* bad :
         {"from=2026-13-01", "to=2026-1-2", "limit=0", "limit=10001", "limit=x", "limit="}) {
        a = web.get(QByteArray("/api/weighments?") + bad);
        EXPECT_EQ(a.status, 400) << bad;
        EXPECT_TRUE(a.body.startsWith("{\"error\": \"")) << bad;
    }
    a = web.get("/");
    EXPECT_EQ(a.status, 200);
    EXPECT_TRUE(a.head.contains("Content-Type: text/html; charset=utf-8\r\n"));
    EXPECT_EQ(a.body, "<html>sample</html>");
    EXPECT_EQ(web.get("/api/nothing").status, 404);
    EXPECT_EQ(web.send("POST /api/weight HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}").status, 405);
    EXPECT_EQ(web.send("OPTIONS /api/weight HTTP/1.1\r\n\r\n").status, 204) << "a browser's preflight";
}

TEST(HttpFeed, WithATokenEveryRequestShowsIt) {
    Web web(QStringLiteral("s3cret+&=/"), QStringLiteral("0.0.0.0"));
    for (const char* target : {"/", "/api/weight", "/api/events", "/nothing", "/api/weight?token=s3cret"}) {
        const Answer a = web.get(target);
        EXPECT_EQ(a.status, 401) << target;
        EXPECT_TRUE(a.head.contains("WWW-Authenticate: Bearer")) << target;
    }
    EXPECT_EQ(web.get("/api/weight", "Authorization: Bearer s3cret\r\n").status, 401);
    const Answer a = web.get("/api/weight", "Authorization: Bearer s3cret+&=/\r\n");
    EXPECT_EQ(a.status, 200);
    EXPECT_FALSE(a.head.contains("Access-Control-Allow-Origin")) << "no CORS with a token";
    EXPECT_EQ(web.get("/api/weighments?limit=1&token=s3cret%2B%26%3D%2F").status, 200);
    EXPECT_EQ(web.send("OPTIONS / HTTP/1.1\r\n\r\n").status, 401);
    web.feed.apply(FeedSettings{});
    EXPECT_EQ(web.feed.server(), nullptr) << "off";
}

TEST(HttpFeed, StreamsTheWeightAtMostTwentyTimesASecondAndEachServing) {
    Web web;
    QTcpSocket stream;
    web.open(stream, "GET /api/events HTTP/1.1\r\n\r\n");
    QByteArray got;
    const auto until = [&](const QByteArray& text) {
        return pumpUntil([&] { return (got += stream.readAll()).contains(text); }, 5000);
    };
    ASSERT_TRUE(until("event: weight\ndata: {\"weight\": \"1250\"}\n\n"));
    EXPECT_TRUE(got.contains("Content-Type: text/event-stream\r\n"));
    got.clear();
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= 200; ++i) {
        web.feed.weightChanged(QString::number(i));
        pumpUntil([] { return false; }, 5);
    }
    EXPECT_TRUE(until("{\"weight\": \"200\"}\n\n")) << "the latest value is always sent";
    EXPECT_LE(got.count("event: weight"), clock.elapsed() / 50 + 1);
    EXPECT_GE(got.count("event: weight"), 5);
    web.feed.weighmentServed({7, QStringLiteral("4300"), QStringLiteral("2026-01-03 10:00:00"),
                              QStringLiteral("ab12"), QStringLiteral("d1")});
    EXPECT_TRUE(
        until("event: served\ndata: {\"slno\": 7, \"weight\": \"4300\", \"datetime\": \"2026-01-03 "
              "10:00:00\", \"logid\": \"ab12\", \"digest\": \"d1\"}\n\n"));
}

TEST(HttpFeed, CutsOffBadInputAndKeepsServing) {
    Web web;
    EXPECT_EQ(web.get("/" + QByteArray(9000, 'a')).status, 414);
    QByteArray flood;
    for (int i = 0; i < 150; ++i) flood += "X-Flood-" + QByteArray::number(i) + ": 1\r\n";
    EXPECT_EQ(web.get("/api/weight", flood).status, 431);
    EXPECT_EQ(web.send("GET / HTTP/1.1\r\nContent-Length: 99999\r\n\r\n" + QByteArray(70000, 'x')).status,
              413);

    // 500 connections that say nothing: the newest 256 are held, and a real request still gets through.
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < 500; ++i) web.open(*silent.emplace_back(std::make_unique<QTcpSocket>()), {});
    ASSERT_TRUE(pumpUntil([&] { return web.feed.server()->connections() == 256; }));
    EXPECT_EQ(web.get("/api/weight").status, 200);
    silent.clear();

    // A stream's client that never reads is cut off once it leaves 64 KiB unread.
    QTcpSocket reader;
    reader.setReadBufferSize(1);  // takes one byte from the system, then no more
    web.open(reader, "GET /api/events HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(pumpUntil([&] { return web.feed.server()->eventStreams() == 1; }));
    for (int i = 0; i < 400 && web.feed.server()->eventStreams() == 1; ++i) {
        web.feed.weightChanged(QString(20000, QLatin1Char('7')) + QString::number(i));
        pumpUntil([] { return false; }, 60);
    }
    EXPECT_EQ(web.feed.server()->eventStreams(), 0);

    // Clients that come and go cost nothing.
    for (int i = 0; i < 100; ++i) {
        QTcpSocket gone;
        web.open(gone, "GET /api/events HTTP/1.1\r\n\r\n");
        pumpUntil([&] { return gone.bytesAvailable() > 0; });
    }
    web.feed.weightChanged(QStringLiteral("1"));
    EXPECT_TRUE(pumpUntil([&] { return web.feed.server()->connections() == 0; }));
}

TEST(HttpFeed, ClosesSlowAndIdleConnections) {
    HttpLimits quick;
    quick.requestTimeoutMs = 1000;
    quick.idleTimeoutMs = 1000;
    Web web({}, QStringLiteral("127.0.0.1"), quick);
    EXPECT_EQ(web.send("GET /api/wei").status, 408) << "a request never finished";
    QTcpSocket idle;
    web.open(idle, {});
    ASSERT_TRUE(pumpUntil([&] { return web.feed.server()->connections() == 1; }));
    EXPECT_TRUE(pumpUntil([&] { return idle.state() == QAbstractSocket::UnconnectedState; }, 5000));
}
