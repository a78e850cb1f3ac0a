// mqtt_bench [--servings N] [--backlog M]
//
// The broker feed with its real parts: a settings database with its weight log, the feed as the
// program runs it, a mosquitto of its own on a free loopback port and mosquitto_sub as the subscriber,
// which stamps each message with the wall clock as it receives it.
//  - latency: N servings one at a time; from the moment the core tells the feeds that the log row is
//    on disk to the subscriber's line for it. The durable write of the row itself comes before that.
//  - catch-up: M rows logged while the feed was off, then the feed switched on; from the switch to
//    the subscriber's line for the last row, and the mark in the file once it was written.

#include "config/feed_settings.h"
#include "config/schema.h"
#include "config/settings.h"
#include "feeds/mqtt/mqtt_feed.h"
#include "platform/database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace veltrane;

namespace {

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "mqtt_bench: %s\n", what);
    std::exit(1);
}

qint64 wallClockNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The subscriber's messages, each with the time it received it.
struct Subscriber {
    explicit Subscriber(int port) {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine();
                static const QRegularExpression stamped(
                    QStringLiteral("^(\\d+)\\.(\\d{9}) .*\"slno\": (\\d+)"));
                const auto m = stamped.match(QString::fromUtf8(line));
                if (m.hasMatch())
                    arrivals.push_back({m.captured(3).toLongLong(), m.captured(1).toLongLong() * 1000000000 +
                                                                        m.captured(2).toLongLong()});
            }
        });
        process.start(QStringLiteral("mosquitto_sub"),
                      {QStringLiteral("-p"), QString::number(port), QStringLiteral("-t"),
                       QStringLiteral("bench/site/weighment"), QStringLiteral("-q"), QStringLiteral("1"),
                       QStringLiteral("-F"), QStringLiteral("%U %p")});
        if (!process.waitForStarted()) die("mosquitto_sub does not start");
    }
    ~Subscriber() {
        process.kill();
        process.waitForFinished();
    }
    bool has(qint64 slno) const {
        return std::any_of(arrivals.begin(), arrivals.end(),
                           [slno](const auto& a) { return a.first == slno; });
    }
    QProcess process;
    std::vector<std::pair<qint64, qint64>> arrivals;  // slno, wall clock in ns
};

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int servings = 200;
    int backlog = 5000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--servings")) servings = args[i + 1].toInt();
        if (args[i] == QLatin1String("--backlog")) backlog = args[i + 1].toInt();
    }

    QTemporaryDir folder;
    const QString dbPath = folder.filePath(QStringLiteral("scale.mdb"));
    createSettingsDatabase(dbPath, folder.path() + QLatin1Char('/'));
    auto db = Database::open(dbPath, QString::fromLatin1(kSettingsDatabaseConnect));

    const int port = freePort();
    QFile conf(folder.filePath(QStringLiteral("broker.conf")));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\nuser %2\n")
                   .arg(port)
                   .arg(qEnvironmentVariable("USER", QStringLiteral("root")))
                   .toUtf8());
    conf.close();
    QProcess broker;
    broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    if (!broker.waitForStarted()) die("mosquitto does not start");
    pumpUntil([&] { return broker.readAllStandardError().contains("running"); }, 5000);
    Subscriber subscriber(port);

    FeedSettings on;
    on.mqttfeed = true;
    on.mqtthost = QStringLiteral("127.0.0.1");
    on.mqttport = port;
    on.mqtttopic = QStringLiteral("bench/site");
    MqttFeed feed(dbPath, [](const QString& note) { std::printf("note: %s\n", qPrintable(note)); });

    const auto logRow = [&db](const QString& weight) {
        db->execute(
            QStringLiteral("insert into weightlog (Datetime, weight) values ('2026-01-01 00:00:00', ?)"),
            {weight});
        return db->lastInsertRowId();
    };

    // Latency, one serving at a time.
    feed.apply(on);
    const qint64 probe = logRow(QStringLiteral("1"));
    feed.weighmentServed({probe, {}, {}, {}, {}});
    if (!pumpUntil([&] { return subscriber.has(probe); }, 20000)) die("the broker feed does not connect");
    std::vector<double> latencies;
    std::vector<double> writes;
    for (int i = 0; i < servings; ++i) {
        QElapsedTimer write;
        write.start();
        const qint64 slno = logRow(QString::number(1000 + i));
        writes.push_back(double(write.nsecsElapsed()) / 1e6);
        const qint64 told = wallClockNs();
        feed.weighmentServed({slno, {}, {}, {}, {}});
        if (!pumpUntil([&] { return subscriber.has(slno); }, 10000)) die("a weighment did not arrive");
        latencies.push_back(double(subscriber.arrivals.back().second - told) / 1e6);
    }
    std::printf("latency, serving to subscriber (%d servings): median %.2f ms, 90%% %.2f ms, max %.2f ms\n",
                servings, percentile(latencies, 0.5), percentile(latencies, 0.9), percentile(latencies, 1.0));
    std::printf("the durable log write before it: median %.2f ms\n", percentile(writes, 0.5));

    // Catch-up after an outage: the rows logged while the feed was off.
    feed.apply(FeedSettings{});
    db->execute(QStringLiteral("begin"));
    qint64 last = 0;
    for (int i = 0; i < backlog; ++i) last = logRow(QString::number(i));
    db->execute(QStringLiteral("commit"));
    const qint64 start = wallClockNs();
    feed.apply(on);
    if (!pumpUntil([&] { return subscriber.has(last); }, 600000)) die("the backlog did not arrive");
    const double seconds = double(subscriber.arrivals.back().second - start) / 1e9;
    std::printf("catch-up: %d weighments in %.2f s, %.0f weighments/s (connect included)\n", backlog, seconds,
                double(backlog) / seconds);
    pumpUntil([&] { return readMqttAcknowledged(*db) == last; }, 5000);
    std::printf("mark in the file: %lld (last row %lld)\n",
                static_cast<long long>(readMqttAcknowledged(*db).value_or(-1)), static_cast<long long>(last));

    feed.apply(FeedSettings{});
    broker.terminate();
    broker.waitForFinished();
    return 0;
}
