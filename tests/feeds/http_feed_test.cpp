// The web feed as an HTTP client meets it: a real server on loopback, raw requests over TCP. Status
// codes, JSON shapes, the token, host and CORS rules, the weight-log query, the event stream, and the limits
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
                 const HttpLimits& limits = {}, const QStringList& origins = {})
        : feed(
              app.settingsPath(), app.path() + QStringLiteral("/page.html"), [] { return true; }, {},
              limits) {
        QFile page(app.path() + QStringLiteral("/page.html"));
        page.open(QIODevice::WriteOnly);
        page.write("<html>sample</html>");
        for (const char* when : {"2026-01-02 08:00:00", "2026-01-02 23:59:59", "2026-01-03 00:00:00"})
            app.settingsDb()->execute(
                QStringLiteral("insert into weightlog (Datetime, weight) values (?, '4200')"), {when});
        app.settingsDb()->execute(
            QStringLiteral("create table if not exists loginfo (name TEXT PRIMARY KEY, value TEXT)"));
        app.settingsDb()->execute(QStringLiteral("insert or replace into loginfo values ('logid', 'abc')"));
        QTcpServer probe;  // a free port
        probe.listen(QHostAddress::LocalHost);
        FeedSettings settings;
        settings.httpfeed = true;
        settings.httpaddress = address;
        settings.httpport = probe.serverPort();
        settings.httptoken = token;
        settings.httporigins = origins;
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
    Answer get(const QByteArray& target, const QByteArray& headers = {},
               const QByteArray& host = "localhost") {
        return send("GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n" + headers + "\r\n");
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
    EXPECT_EQ(web.get("/api/weighments?after=1").body,
              "[{\"slno\": 2, \"weight\": \"4200\", \"datetime\": \"2026-01-02 23:59:59\"" + log + ",\n" +
                  "{\"slno\": 3, \"weight\": \"4200\", \"datetime\": \"2026-01-03 00:00:00\"" + log + "]")
        << "after a serial number: oldest first";
    EXPECT_EQ(web.get("/api/weighments?after=-1").status, 400);
}

TEST(HttpFeed, OnlyListedOriginsReadFromABrowserAndOnlyKnownHostsAreAnswered) {
    Web open;  // loopback, no token, no origins: what a fresh install has
    const QByteArray evil = "Origin: https://evil.example\r\n";
    Answer a = open.get("/api/weighments", evil);
    EXPECT_EQ(a.status, 200);
    EXPECT_FALSE(a.head.contains("Access-Control-Allow")) << a.head.toStdString();
    a = open.send("OPTIONS /api/weight HTTP/1.1\r\n" + evil +
                  "Access-Control-Request-Private-Network: true\r\n\r\n");
    EXPECT_EQ(a.status, 405);
    EXPECT_FALSE(a.head.contains("Access-Control-Allow"));
    // A foreign name that resolves to this computer (DNS rebinding) is not this computer.
    for (const char* host : {"evil.example", "evil.example:8765", "127.0.0.1.evil.example", "[::2]"}) {
        a = open.get("/api/weight", {}, host);
        EXPECT_EQ(a.status, 421) << host;
        EXPECT_TRUE(a.body.startsWith("{\"error\": \"")) << host;
    }
    for (const char* host : {"127.0.0.1", "localhost:8765", "LOCALHOST."})
        EXPECT_EQ(open.get("/api/weight", {}, host).status, 200) << host;

    Web listed(QStringLiteral("tok"), QStringLiteral("127.0.0.1"), {},
               {QStringLiteral("https://erp.example.com:8443")});
    const QByteArray erp = "Origin: https://erp.example.com:8443\r\n";
    a = listed.send("OPTIONS /api/weighments HTTP/1.1\r\nHost: localhost\r\n" + erp +
                    "Access-Control-Request-Private-Network: true\r\n\r\n");
    EXPECT_EQ(a.status, 204) << "a preflight carries no token";
    EXPECT_TRUE(a.head.contains("Access-Control-Allow-Origin: https://erp.example.com:8443\r\n"));
    EXPECT_TRUE(a.head.contains("Access-Control-Allow-Private-Network: true\r\n"));
    EXPECT_TRUE(a.head.contains("Access-Control-Allow-Headers: Authorization"));
    a = listed.get("/api/weight", erp + "Authorization: Bearer tok\r\n");
    EXPECT_EQ(a.status, 200);
    EXPECT_TRUE(a.head.contains("Access-Control-Allow-Origin: https://erp.example.com:8443\r\n"));
    EXPECT_TRUE(a.head.contains("Vary: Origin\r\n"));
    EXPECT_EQ(listed.get("/api/weight", erp).status, 401) << "an allowed origin still needs the token";
    for (const QByteArray& other :
         {QByteArray("https://erp.example.com"), QByteArray("http://erp.example.com:8443"),
          QByteArray("https://erp.example.com:8443.evil.example")}) {
        a = listed.get("/api/weight", "Origin: " + other + "\r\nAuthorization: Bearer tok\r\n");
        EXPECT_FALSE(a.head.contains("Access-Control-Allow-Origin")) << other.toStdString();
    }
    EXPECT_EQ(listed.get("/api/weight", "Authorization: Bearer tok\r\n", "erp.example.com").status, 200)
        << "a listed origin's own name";
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
                              QStringLiteral("abc"), QStringLiteral("d1")});
    EXPECT_TRUE(until(
        "id: abc:7\nevent: served\ndata: {\"slno\": 7, \"weight\": \"4300\", \"datetime\": \"2026-01-03 "
        "10:00:00\", \"logid\": \"abc\", \"digest\": \"d1\"}\n\n"));
}

TEST(HttpFeed, AReconnectingStreamGetsTheServingsItMissedFirst) {
    Web web;
    QByteArray got;
    const auto stream = [&](QTcpSocket& socket, const QByteArray& lastId) {
        got.clear();
        web.open(socket, "GET /api/events HTTP/1.1\r\nLast-Event-ID: " + lastId + "\r\n\r\n");
        return pumpUntil([&] { return (got += socket.readAll()).contains("event: weight"); }, 5000);
    };
    const auto ids = [&] {
        QStringList found;
        for (const auto& m : QRegularExpression(QStringLiteral("id: (\\S+)\nevent: served"))
                                 .globalMatch(QString::fromLatin1(got)))
            found << m.captured(1);
        return found;
    };
    {
        QTcpSocket first;
        ASSERT_TRUE(stream(first, "abc:1"));
        EXPECT_EQ(ids(), (QStringList{"abc:2", "abc:3"}));
        EXPECT_LT(got.indexOf("abc:3"), got.indexOf("event: weight")) << "the missed ones come first";
    }  // the network blip: the stream is gone while the log grows
    web.app.settingsDb()->execute(
        QStringLiteral("insert into weightlog (Datetime, weight) values ('2026-01-04 09:00:00', '5100')"));
    QTcpSocket again;
    ASSERT_TRUE(stream(again, "abc:3"));
    EXPECT_EQ(ids(), QStringList{"abc:4"});
    web.feed.weighmentServed({5, QStringLiteral("5200"), QStringLiteral("2026-01-04 09:01:00"), {}, {}});
    EXPECT_TRUE(pumpUntil([&] { return (got += again.readAll()).contains("id: abc:5\n"); }, 5000))
        << "then live";

    QTcpSocket newLog;  // an id of another log: the whole of this one is new to the client
    ASSERT_TRUE(stream(newLog, "old-log:900"));
    EXPECT_EQ(ids(), (QStringList{"abc:1", "abc:2", "abc:3", "abc:4"}));
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

    // A plain connection that sends requests and never reads their answers: what waits for it stays
    // within the same limit, and a normal client is answered meanwhile.
    QTcpSocket flooder;
    flooder.setReadBufferSize(1);
    flooder.connectToHost(QHostAddress::LocalHost, web.port());
    ASSERT_TRUE(flooder.waitForConnected());
    flooder.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    ASSERT_TRUE(pumpUntil([&] { return web.feed.server()->connections() == 1; }));
    qint64 most = 0;
    // Two at a time, so that the guard's limits on one request's head do not end it first.
    for (int i = 0; i < 2500 && web.feed.server()->connections() > 0; ++i) {
        flooder.write(
            "GET /api/weight HTTP/1.1\r\nHost: localhost\r\n\r\n"
            "GET /api/weight HTTP/1.1\r\nHost: localhost\r\n\r\n");
        pumpUntil([] { return false; }, 1);
        for (const QTcpSocket* held : web.feed.server()->findChildren<QTcpSocket*>())
            most = std::max(most, held->bytesToWrite());
        if (i == 200) {
            EXPECT_EQ(web.get("/api/weight").status, 200);
        }
    }
    EXPECT_LE(most, HttpLimits{}.maxUnread + 1024);
    flooder.abort();

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
