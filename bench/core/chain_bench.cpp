// What chaining costs a serving: the weight-log row as it was written before (one durable insert) beside
// the chained row (the insert, its digest and the log's last digest in one durable transaction), both
// on a real keyed scale.mdb, and the whole serving through the core for scale.
//   build/bench/chain_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "config/schema.h"
#include "config/settings.h"
#include "config/weight_chain.h"
#include "platform/database.h"

#include "bench/qt_benchmark_main.h"

#include <benchmark/benchmark.h>
#include <QDir>
#include <QTemporaryDir>

using namespace veltrane;

namespace {

void BM_WeightLogRow(benchmark::State& state) {
    const bool chained = state.range(0) != 0;
    QTemporaryDir dir{QDir::currentPath() + QStringLiteral("/chain-bench-XXXXXX")};
    const QString folder = dir.path() + QLatin1Char('/');
    createSettingsDatabase(folder + QStringLiteral("scale.mdb"), folder);
    auto db =
        Database::open(folder + QStringLiteral("scale.mdb"), QString::fromLatin1(kSettingsDatabaseConnect));
    const QString when = QStringLiteral("2026-03-14 09:30:00");
    const QString weight = QStringLiteral("12345");
    for (auto _ : state) {
        if (chained)
            appendChainedRow(*db, weight, when);
        else
            db->execute(QStringLiteral("insert into weightlog (Datetime, weight) values (?, ?)"),
                        {when, weight});
    }
}
BENCHMARK(BM_WeightLogRow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

VELTRANE_QT_BENCHMARK_MAIN()
