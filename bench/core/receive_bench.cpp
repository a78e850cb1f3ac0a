// The receive path from the simulator's pty: bytes per second through Qt SerialPort, the decoder and
// the weighment cycle, counting records sent and decoded; beside cat reading the same pty.
//   build/bench/receive_bench
#include "bench/core/bench_services.h"
#include "config/comports.h"
#include "config/schema.h"
#include "core/weighing_core.h"
#include "platform/qt_serial_port.h"

#include "bench/qt_benchmark_main.h"

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

using namespace veltrane;
using namespace veltrane::bench;

namespace {

constexpr int kRecords = 250000;
constexpr int kFrameBytes = 17;  // "ST,GS,+NNNNNNkg\r\n"

struct Recording {
    Recording() {
        QByteArray s;
        s.reserve(qsizetype(kRecords) * kFrameBytes);
        for (int i = 0; i < kRecords; ++i)
            s += "ST,GS,+" + QByteArray::number(1000000 + i).right(6) + "kg\r\n";
        path = dir.filePath(QStringLiteral("stream.bin"));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(s);
        size = s.size();
    }
    QTemporaryDir dir;
    QString path;
    qint64 size = 0;
};

// The simulator replaying the recording as fast as it is read; it holds back while nobody reads.
struct Simulator {
    explicit Simulator(const Recording& r) {
        link = r.dir.filePath(QStringLiteral("scale"));
        process.start(QStringLiteral(VELTRANE_APP_DIR "/indicator-sim"),
                      {"--replay", r.path, "--replay-rate", "0", "--link", link, "--no-stdin"});
        started = process.waitForStarted(10000) && process.waitForReadyRead(10000);
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(5000);
    }
    QProcess process;
    QString link;
    bool started = false;
};

void BM_CatReadsThePty(benchmark::State& state) {
    const Recording rec;
    for (auto _ : state) {
        Simulator sim(rec);
        if (!sim.started) return state.SkipWithError("no simulator");
        const QString out = rec.dir.filePath(QStringLiteral("cat.out"));
        QFile::remove(out);
        QElapsedTimer t;
        t.start();
        QProcess cat;
        cat.setStandardOutputFile(out);
        cat.start(QStringLiteral("cat"), {sim.link});
        // cat never sees an end on a terminal: it is done when the whole recording has come through.
        QDeadlineTimer deadline(120000);
        while (QFileInfo(out).size() < rec.size && !deadline.hasExpired()) QThread::usleep(500);
        const qint64 ns = t.nsecsElapsed();
        cat.kill();
        cat.waitForFinished(5000);
        if (QFileInfo(out).size() != rec.size)
            return state.SkipWithError("cat did not read the whole recording");
        state.SetIterationTime(ns / 1e9);
    }
    state.SetBytesProcessed(state.iterations() * rec.size);
}
BENCHMARK(BM_CatReadsThePty)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Counts the records the core decoded: each carries its sequence number as its weight.
struct Counter final : CoreObserver {
    void recordCompleted(const QByteArray& record, const QString&) override {
        const int seq = record.toInt();
        if (++seen <= 2) return;  // the first records may be cut by the opening
        if (first < 0) {
            first = seq;
            clock.start();
        } else if (seq != last + 1) {
            ++gaps;
        }
        last = seq;
        ++counted;
        elapsedNs = clock.nsecsElapsed();
    }
    int seen = 0, first = -1, last = -1, counted = 0, gaps = 0;
    // From the first counted record to the last: the opening and the loader are not the receive path.
    QElapsedTimer clock;
    qint64 elapsedNs = 0;
};

void BM_CoreReadsThePty(benchmark::State& state) {
    const Recording rec;
    long sent = 0, decoded = 0, lost = 0;
    double bytes = 0;
    for (auto _ : state) {
        Simulator sim(rec);
        if (!sim.started) return state.SkipWithError("no simulator");
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        createSettingsDatabase(folder + QStringLiteral("scale.mdb"), folder);
        writeComportDevice(folder + QStringLiteral("scale.mdb"), 1, sim.link);

        ManualClock clock;
        SilentPrompts prompts;
        QtEventPump events;
        QtTimerService timers;
        NoSound sound;
        NoShell shell;
        NoClipboard clipboard;
        QtSerialPort port(settingsDeviceResolver(folder + QStringLiteral("scale.mdb")));
        NoFeed feed;
        PosixFiles files;
        Services services{clock, prompts, events, timers, sound, shell, clipboard, port, feed, files, folder};
        Settings settings;
        NoView view;
        WeighingCore core(services, settings, view);
        Counter counter;
        core.setObserver(&counter);

        core.OpenSerialPort();
        if (!core.isPortOpen()) return state.SkipWithError("port did not open");
        QDeadlineTimer deadline(120000);
        while (counter.last != kRecords - 1 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        state.SetIterationTime(counter.elapsedNs / 1e9);
        if (counter.last != kRecords - 1) return state.SkipWithError("the last record never arrived");
        sent += counter.last - counter.first + 1;
        decoded += counter.counted;
        lost += (counter.last - counter.first + 1) - counter.counted + counter.gaps;
        bytes += double(counter.last - counter.first) * kFrameBytes;
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["records_sent"] = double(sent);
    state.counters["records_decoded"] = double(decoded);
    state.counters["lost"] = double(lost);
}
BENCHMARK(BM_CoreReadsThePty)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

VELTRANE_QT_BENCHMARK_MAIN()
