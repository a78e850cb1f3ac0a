// collect_burst PORT CONNINFO ROWS SITES SAMPLES
// Against a running broker and collector: publishes ROWS weighments (QoS 1) from SITES sites as fast
// as the broker takes them and reports the rows committed per second from the first publish to the
// last row in PostgreSQL; then publishes SAMPLES single weighments, one at a time, and reports the
// time from each publish to its committed row (polled every 0.2 ms).
#include <libpq-fe.h>
#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long count(PGconn* db, const char* sql) {
    PGresult* r = PQexec(db, sql);
    const long long n = PQresultStatus(r) == PGRES_TUPLES_OK ? std::atoll(PQgetvalue(r, 0, 0)) : -1;
    PQclear(r);
    return n;
}

std::string payload(int site, long long slno) {
    char logid[33];
    std::snprintf(logid, sizeof logid, "%032x", site);
    return "{\"slno\": " + std::to_string(slno) + ", \"weight\": \"" + std::to_string(10000 + slno % 30000) +
           "\", \"datetime\": \"2026-03-01 08:00:00\", \"site\": \"bench/s" + std::to_string(site) +
           "\", \"logid\": \"" + logid + "\", \"digest\": \"\"}";
}

void publish(mosquitto* m, int site, long long slno) {
    const std::string topic = "bench/s" + std::to_string(site) + "/weighment";
    const std::string body = payload(site, slno);
    while (mosquitto_publish(m, nullptr, topic.c_str(), int(body.size()), body.data(), 1, false) ==
           MOSQ_ERR_NOMEM)
        mosquitto_loop(m, 1, 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: collect_burst PORT CONNINFO ROWS SITES SAMPLES\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const long long rows = std::atoll(argv[3]);
    const int sites = std::atoi(argv[4]);
    const int samples = std::atoi(argv[5]);
    PGconn* db = PQconnectdb(argv[2]);
    if (PQstatus(db) != CONNECTION_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(db));
        return 1;
    }
    mosquitto_lib_init();
    mosquitto* m = mosquitto_new("collect-burst", true, nullptr);
    mosquitto_max_inflight_messages_set(m, 1000);
    if (mosquitto_connect(m, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(m) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "no broker on port %d\n", port);
        return 1;
    }
    const long long before = count(db, "select count(*) from weighment");
    const auto start = Clock::now();
    for (long long i = 0; i < rows; ++i) publish(m, int(i % sites), i / sites + 1);
    const auto published = Clock::now();
    while (count(db, "select count(*) from weighment") < before + rows) {
        if (Clock::now() - start > std::chrono::minutes(10)) {
            std::fprintf(stderr, "the rows did not all arrive\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("burst: %lld rows from %d sites in %.2f s (all published after %.2f s): %.0f rows/s\n", rows,
                sites, seconds, std::chrono::duration<double>(published - start).count(),
                double(rows) / seconds);

    std::vector<double> ms;
    const long long next = rows / sites + 1;
    for (int i = 0; i < samples; ++i) {
        const std::string probe =
            "select count(*) from weighment where site = 'bench/s0' and slno = " + std::to_string(next + i);
        const auto t0 = Clock::now();
        publish(m, 0, next + i);
        while (count(db, probe.c_str()) < 1) std::this_thread::sleep_for(std::chrono::microseconds(200));
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::sort(ms.begin(), ms.end());
    if (!ms.empty())
        std::printf(
            "publish to committed row, %d samples: median %.1f ms, 90th percentile %.1f ms, slowest %.1f "
            "ms\n",
            samples, ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, false);
    mosquitto_destroy(m);
    PQfinish(db);
    return 0;
}
