// Web feed figures. The servers run on the main thread's event loop, as the feed runs on the program's
// user-interface thread; the clients are bare blocking sockets on another thread, as curl or a browser
// would be.
//   build/bench/http_bench [--requests N] [--changes N]
// 1. Round trip of GET /api/weight on one kept-alive connection, beside a bare QAbstractHttpServer that
//    answers every request with a fixed JSON body through the same library (no limits, no routing).
// 2. Latency from a weight change to the whole "event: weight" at each of 1 and 100 connected clients,
//    one change every 100 ms (above the 50 ms throttle, so none is held back).
#include "feeds/http/http_feed.h"

#include <QCoreApplication>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class BareServer : public QAbstractHttpServer {
protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        makeResponder(request, socket).write(QByteArray("{\"weight\": \"12345\"}"), "application/json");
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}
};

int connectTo(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) std::abort();
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void sendAll(int fd, const std::string& text) {
    if (::send(fd, text.data(), text.size(), 0) != ssize_t(text.size())) std::abort();
}

// Microseconds of each request's round trip (one connection, kept alive), sorted.
std::vector<double> roundTrips(quint16 port, int requests) {
    const int fd = connectTo(port);
    const std::string request = "GET /api/weight HTTP/1.1\r\nHost: localhost\r\n\r\n";
    std::vector<double> times;
    char buffer[4096];
    for (int i = 0; i < requests; ++i) {
        const auto began = Clock::now();
        sendAll(fd, request);
        std::string got;
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) std::abort();
            got.append(buffer, std::size_t(n));
            const auto end = got.find("\r\n\r\n");
            const auto length = got.find("Content-Length: ");
            if (end != std::string::npos && length != std::string::npos &&
                got.size() >= end + 4 + std::stoul(got.substr(length + 16)))
                break;
        }
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - began).count());
    }
    ::close(fd);
    std::sort(times.begin(), times.end());
    return times;
}

// Runs the client on its own thread while the event loop serves, until it is done.
template <typename Client>
void whileServing(Client client) {
    std::thread thread([&] {
        client();
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    thread.join();
}

double at(const std::vector<double>& sorted, double fraction) {
    return sorted[std::min(sorted.size() - 1, std::size_t(fraction * double(sorted.size())))];
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char* name, int fallback) {
        const qsizetype i = args.indexOf(QString::fromLatin1(name));
        return i >= 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
    };
    const int requests = option("--requests", 5000);
    const int changes = option("--changes", 100);

    BareServer bare;
    const quint16 barePort = bare.listen(QHostAddress::LocalHost, 0);
    std::vector<double> bareTimes;
    whileServing([&] { bareTimes = roundTrips(barePort, requests); });

    QTemporaryDir folder;
    veltrane::HttpFeed feed(folder.filePath(QStringLiteral("scale.mdb")),
                            folder.filePath(QStringLiteral("page.html")), [] { return true; }, {});
    veltrane::FeedSettings settings;
    settings.httpfeed = true;
    settings.httpport = freePort();
    feed.weightChanged(QStringLiteral("12345"));
    feed.apply(settings);
    std::vector<double> feedTimes;
    whileServing([&] { feedTimes = roundTrips(feed.server()->port(), requests); });

    std::printf("round trip over %d requests (µs)      median    90%%    99%%\n", requests);
    std::printf("bare QAbstractHttpServer             %7.1f %7.1f %7.1f\n", at(bareTimes, 0.5),
                at(bareTimes, 0.9), at(bareTimes, 0.99));
    std::printf("web feed GET /api/weight             %7.1f %7.1f %7.1f\n", at(feedTimes, 0.5),
                at(feedTimes, 0.9), at(feedTimes, 0.99));

    std::printf("\nchange to event at each client, %d changes (ms)   median    90%%    99%%     max\n",
                changes);
    for (const int clients : {1, 100}) {
        std::vector<int> fds;
        for (int i = 0; i < clients; ++i) {
            fds.push_back(connectTo(feed.server()->port()));
            sendAll(fds.back(), "GET /api/events HTTP/1.1\r\nHost: localhost\r\n\r\n");
        }
        const int base = 100000 * clients;  // the weights of this round: base + 1, base + 2, ...
        std::vector<std::atomic<Clock::rep>> changedAt(std::size_t(changes) + 1);
        std::atomic<bool> ready{false};
        QTimer tick;
        int next = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (!ready || next >= changes) return;
            ++next;
            changedAt[std::size_t(next)] = Clock::now().time_since_epoch().count();
            feed.weightChanged(QString::number(base + next));
        });
        tick.start(100);
        std::vector<double> latencies;
        whileServing([&] {
            std::vector<pollfd> polls;
            polls.reserve(fds.size());
            for (int fd : fds) polls.push_back({fd, POLLIN, 0});
            std::map<int, std::string> pending;
            // Every client has its stream's first event before the changes begin.
            int started = 0;
            while (latencies.size() < std::size_t(changes) * std::size_t(clients)) {
                ::poll(polls.data(), polls.size(), 1000);
                for (pollfd& p : polls) {
                    if (!(p.revents & POLLIN)) continue;
                    char buffer[8192];
                    const ssize_t n = ::recv(p.fd, buffer, sizeof buffer, 0);
                    if (n <= 0) std::abort();
                    const auto now = Clock::now().time_since_epoch().count();
                    std::string& text = pending[p.fd];
                    text.append(buffer, std::size_t(n));
                    std::size_t at;
                    while ((at = text.find("\n\n")) != std::string::npos) {
                        const std::string event = text.substr(0, at);
                        text.erase(0, at + 2);
                        if (event.find("event: weight") == std::string::npos) continue;
                        const int number = std::stoi(event.substr(event.find("\"weight\": \"") + 11)) - base;
                        if (number < 1 || number > changes) {  // the weight a stream begins with
                            if (++started == clients) ready = true;
                            continue;
                        }
                        latencies.push_back(double(now - changedAt[std::size_t(number)]) / 1e6);
                    }
                }
            }
        });
        for (int fd : fds) ::close(fd);
        std::sort(latencies.begin(), latencies.end());
        std::printf("%3d client%s                                        %7.3f %7.3f %7.3f %7.3f\n", clients,
                    clients == 1 ? " " : "s", at(latencies, 0.5), at(latencies, 0.9), at(latencies, 0.99),
                    latencies.back());
        feed.weightChanged(QStringLiteral("12345"));
    }
    return 0;
}
