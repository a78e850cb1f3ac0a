// The log viewer's search over a weight log of 1,000,000 records (1,000 a day for 1,000 days):
// one day, one month, and the whole log. The file is built once per run in a temporary folder.

#include "config/schema.h"
#include "config/settings.h"
#include "platform/database.h"
#include "shell/weight_log_model.h"

#include "bench/qt_benchmark_main.h"

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QTemporaryDir>

using namespace veltrane;

namespace {

constexpr int kRecords = 1'000'000;

Database& logDatabase() {
    static QTemporaryDir dir;
    static std::unique_ptr<Database> db = [] {
        const QString path = dir.filePath(QStringLiteral("scale.mdb"));
        createSettingsDatabase(path, dir.path() + QLatin1Char('/'));
        auto d = Database::open(path, QString::fromLatin1(kSettingsDatabaseConnect));
        d->execute(QStringLiteral(
                       "begin;"
                       "with recursive n(i) as (select 0 union all select i + 1 from n where i < %1)"
                       " insert into weightlog (Datetime, weight)"
                       " select strftime('%Y-%m-%d %H:%M:%S', '2024-01-01', '+' || (i * 86) || ' seconds'),"
                       " cast(1000 + i % 40000 as text) from n;"
                       "commit;")
                       .arg(kRecords - 1));
        return d;
    }();
    return *db;
}

void searchRange(benchmark::State& state, QDate first, QDate last) {
    WeightLogModel model;
    model.setDatabase(&logDatabase());
    for (auto _ : state) {
        model.search(logRangeFor(first, last));
        benchmark::DoNotOptimize(model.total());
    }
    state.counters["records"] = model.total();
    state.counters["rows_loaded"] = model.rowCount();
}

void BM_SearchOneDay(benchmark::State& state) {
    searchRange(state, QDate(2025, 6, 1), QDate(2025, 6, 1));
}
void BM_SearchOneMonth(benchmark::State& state) {
    searchRange(state, QDate(2025, 6, 1), QDate(2025, 6, 30));
}
void BM_SearchWholeLog(benchmark::State& state) {
    searchRange(state, QDate(2023, 1, 1), QDate(2027, 12, 31));
}

BENCHMARK(BM_SearchOneDay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchOneMonth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchWholeLog)->Unit(benchmark::kMillisecond);

}  // namespace

VELTRANE_QT_BENCHMARK_MAIN()
