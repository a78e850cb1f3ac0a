// Live feed figures. The server runs on its own thread with its own event loop, as it runs on the
// program's user-interface thread; the client is a bare blocking Unix socket, as socat or an ERP would be.
//   build/bench/feed_bench
#include "platform/dde.h"

#include "bench/qt_benchmark_main.h"

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

using veltrane::DdeServer;

const std::string kRequest = "REQUEST veltrane weightdata\n";

void writeAll(int fd, const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
}

// Reads until a "\n" ends what was read. Each iteration expects exactly one line, so no bytes of the next
// one can be swallowed.
std::size_t readLine(int fd) {
    char buf[512];
    std::size_t got = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buf + got, sizeof buf - got);
        if (n <= 0) std::abort();
        got += static_cast<std::size_t>(n);
        if (buf[got - 1] == '\n' || got == sizeof buf) return got;
    }
}

class FeedOnThread {
public:
    FeedOnThread() {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        m_thread.start();
        m_context.moveToThread(&m_thread);
        onServerThread([this] {
            m_server = veltrane::createLocalDdeServer(QStringLiteral("veltrane"));
            m_server->setTopic(QStringLiteral("veltrane"));
            m_server->setItem(QStringLiteral("weightdata"), QStringLiteral("12345.6"));
        });
        m_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path,
                     QFile::encodeName(veltrane::ddeSocketPath(QStringLiteral("veltrane"))).constData(),
                     sizeof addr.sun_path - 1);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::abort();
    }
    ~FeedOnThread() {
        ::close(m_fd);
        onServerThread([this] { m_server.reset(); });
        m_thread.quit();
        m_thread.wait();
    }
    template <typename F>
    void onServerThread(F f, Qt::ConnectionType type = Qt::BlockingQueuedConnection) {
        QMetaObject::invokeMethod(&m_context, std::move(f), type);
    }
    DdeServer& server() { return *m_server; }
    int fd() const { return m_fd; }

private:
    QTemporaryDir m_runtime;
    QThread m_thread;
    QObject m_context;
    std::unique_ptr<DdeServer> m_server;
    int m_fd = -1;
};

void BM_BareUnixPingPong(benchmark::State& state) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) std::abort();
    std::thread echo([fd = fds[1]] {
        const std::string reply = "DATA 12345.6\n";
        char buf[512];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] == '\n') writeAll(fd, reply);
        }
    });
    for (auto _ : state) {
        writeAll(fds[0], kRequest);
        benchmark::DoNotOptimize(readLine(fds[0]));
    }
    ::shutdown(fds[0], SHUT_RDWR);
    echo.join();
    ::close(fds[0]);
    ::close(fds[1]);
}
BENCHMARK(BM_BareUnixPingPong)->UseRealTime();

void BM_FeedRequestRoundTrip(benchmark::State& state) {
    FeedOnThread feed;
    for (auto _ : state) {
        writeAll(feed.fd(), kRequest);
        benchmark::DoNotOptimize(readLine(feed.fd()));
    }
}
BENCHMARK(BM_FeedRequestRoundTrip)->UseRealTime();

// From the moment the weight box changes (posted to the server's thread, as a serial event would arrive
// on the user-interface thread) to the advised client holding the whole "DATA" line.
void BM_FeedAdviseLatency(benchmark::State& state) {
    FeedOnThread feed;
    writeAll(feed.fd(), "ADVISE veltrane weightdata\n");
    readLine(feed.fd());
    int n = 0;
    for (auto _ : state) {
        const QString text = QString::number(++n);
        feed.onServerThread([&feed, text] { feed.server().setItem(QStringLiteral("weightdata"), text); },
                            Qt::QueuedConnection);
        benchmark::DoNotOptimize(readLine(feed.fd()));
    }
}
BENCHMARK(BM_FeedAdviseLatency)->UseRealTime();

}  // namespace

VELTRANE_QT_BENCHMARK_MAIN()
