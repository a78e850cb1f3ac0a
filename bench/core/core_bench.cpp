// Decoder throughput beside a bare loop over the same bytes, and the time of one serving (record
// delimiter to CSV replaced and weight-log row durable) beside one bare durable SQLite insert in each of
// the durable modes SQLite offers.
//   build/bench/core_bench
#include "bench/core/bench_services.h"
#include "config/schema.h"
#include "config/settings.h"
#include "core/decoder.h"
#include "core/weighing_core.h"
#include "platform/database.h"

#include "bench/qt_benchmark_main.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

using namespace veltrane;
using namespace veltrane::bench;

namespace {

// Continuous indicator output with a changing weight, so no record is ever stable.
QByteArray stream(int records) {
    QByteArray s;
    for (int i = 0; i < records; ++i)
        s += "ST,GS,+" + QByteArray::number(100000 + i % 900000).right(6) + "kg\r\n";
    return s;
}

struct NullDecoderHost final : DecoderHost {
    void showRawData(const QByteArray&) override {}
    void setWeightText(const QString& t) override { weight = t; }
    QString weightText() const override { return weight; }
    bool weighmentStep(float w) override {
        benchmark::DoNotOptimize(w);
        return true;
    }
    QString weight;
};

void BM_BareLoop(benchmark::State& state) {
    const QByteArray bytes = stream(10000);
    for (auto _ : state) {
        unsigned sum = 0;
        for (char c : bytes) {
            sum += static_cast<unsigned char>(c);
            benchmark::DoNotOptimize(sum);
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_BareLoop);

void decode(benchmark::State& state, bool autosense) {
    const QByteArray bytes = stream(10000);
    Settings s;
    s.simpinterface = autosense;
    s.delimiterCode = 10;
    s.weightstart = 7;
    s.weightLength = 7;
    NullDecoderHost host;
    Decoder d(s, host);
    for (auto _ : state) {
        for (char c : bytes) d.DecodeCharacter(QByteArray(1, c));
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["records/s"] =
        benchmark::Counter(10000.0 * state.iterations(), benchmark::Counter::kIsRate);
}
void BM_DecoderAutosense(benchmark::State& state) {
    decode(state, true);
}
void BM_DecoderPosition(benchmark::State& state) {
    decode(state, false);
}
BENCHMARK(BM_DecoderAutosense);
BENCHMARK(BM_DecoderPosition);

// The core on a real application folder, print-button mode: every record is a serving.
struct Serving {
    Serving() {
        folder = dir.path() + QLatin1Char('/');
        createSettingsDatabase(folder + QStringLiteral("scale.mdb"), folder);
        auto db = Database::open(folder + QStringLiteral("scale.mdb"),
                                 QString::fromLatin1(kSettingsDatabaseConnect));
        db->execute(QStringLiteral("update config set AutosaveonStableWeight = 0, saveonbutton = -1"));
    }
    QTemporaryDir dir{QDir::currentPath() + QStringLiteral("/core-bench-XXXXXX")};
    QString folder;
};

void BM_ServeWeight(benchmark::State& state) {
    Serving app;
    ManualClock clock;
    SilentPrompts prompts;
    NoEvents events;
    IdleTimers timers;
    NoSound sound;
    NoShell shell;
    NoClipboard clipboard;
    NoPort port;
    NoFeed feed;
    PosixFiles files;
    Services services{clock, prompts, events, timers, sound, shell, clipboard, port, feed, files, app.folder};
    Settings settings;
    NoView view;
    WeighingCore core(services, settings, view);
    core.loadConfiguration();
    core.setLastRecordTime(clock.now().addSecs(-60));
    int served = 0;
    for (auto _ : state) {
        state.PauseTiming();
        clock.advanceSeconds(20);
        for (char c : QByteArrayLiteral("12345")) core.receiveByte(c);
        state.ResumeTiming();
        core.receiveByte('\r');  // the delimiter: decode, serve, write, log
        ++served;
    }
    state.counters["messages"] = prompts.messages;
    auto log = Database::open(app.folder + QStringLiteral("scale.mdb"),
                              QString::fromLatin1(kSettingsDatabaseConnect));
    if (log->openRecordSet(QStringLiteral("select * from weightlog"))->recordCount() != served)
        state.SkipWithError("a serving was not logged");
}
BENCHMARK(BM_ServeWeight)->Unit(benchmark::kMillisecond)->UseRealTime();

// What keeping the weight log open saves: opening the keyed settings database once.
void BM_OpenKeyedSettingsDatabase(benchmark::State& state) {
    Serving app;
    for (auto _ : state) {
        auto db = Database::open(app.folder + QStringLiteral("scale.mdb"),
                                 QString::fromLatin1(kSettingsDatabaseConnect));
        db->execute(QStringLiteral("select count(*) from weightlog"));
    }
}
BENCHMARK(BM_OpenKeyedSettingsDatabase)->Unit(benchmark::kMillisecond)->UseRealTime();

// One bare insert into a plain SQLite file, durable in one of the ways SQLite offers:
//   0 rollback journal, synchronous FULL (the journal's deletion not synced)
//   1 rollback journal, synchronous EXTRA (the database layer's choice: the deletion synced too)
//   2 WAL, synchronous FULL (the log synced at each commit)
//   3 WAL, synchronous FULL, a full checkpoint after each commit (the database file itself up to date)
void BM_BareDurableInsert(benchmark::State& state) {
    static const char* const setups[] = {
        "pragma journal_mode=DELETE; pragma synchronous=FULL;",
        "pragma journal_mode=DELETE; pragma synchronous=EXTRA;",
        "pragma journal_mode=WAL; pragma synchronous=FULL;",
        "pragma journal_mode=WAL; pragma synchronous=FULL;",
    };
    const auto mode = state.range(0);
    Serving app;
    const QByteArray path = QFile::encodeName(app.folder + QStringLiteral("bare.db"));
    sqlite3* db = nullptr;
    sqlite3_open(path.constData(), &db);
    sqlite3_exec(db, setups[mode], nullptr, nullptr, nullptr);
    sqlite3_exec(
        db, "create table weightlog (slno INTEGER PRIMARY KEY AUTOINCREMENT, Datetime TEXT, weight TEXT)",
        nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "insert into weightlog (Datetime, weight) values ('2026-03-14 09:30:00', '12345')",
                       -1, &insert, nullptr);
    for (auto _ : state) {
        if (sqlite3_step(insert) != SQLITE_DONE) state.SkipWithError("insert failed");
        sqlite3_reset(insert);
        if (mode == 3) sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_FULL, nullptr, nullptr);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
}
BENCHMARK(BM_BareDurableInsert)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

VELTRANE_QT_BENCHMARK_MAIN()
