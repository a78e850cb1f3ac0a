// The cost of an unplugged USB adapter: while its device is absent, the reconnect watch tries the port
// once a second, and the open routine tries it 21 times in a row. Real settings database (port 3 mapped
// to a device that does not exist), real Qt SerialPort.
//   build/bench/reconnect_bench
#include "config/comports.h"
#include "config/schema.h"
#include "platform/qt_serial_port.h"

#include "bench/qt_benchmark_main.h"

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

using namespace veltrane;

namespace {

struct AbsentAdapter {
    AbsentAdapter() {
        createSettingsDatabase(settings, dir.path() + QLatin1Char('/'));
        writeComportDevice(settings, 3, QStringLiteral("/dev/serial/by-id/usb-absent-adapter-port0"));
        port.setPortNumber(3);
        port.setSettingsText(QStringLiteral("9600,n,8,1"));
    }
    QTemporaryDir dir{QDir::currentPath() + QStringLiteral("/reconnect-bench-XXXXXX")};
    QString settings = dir.path() + QStringLiteral("/scale.mdb");
    QtSerialPort port{settingsDeviceResolver(settings)};
};

// One try of the reconnect watch: the watch ticks once a second, so this is its cost per second.
void BM_ReconnectTryAbsentDevice(benchmark::State& state) {
    AbsentAdapter a;
    for (auto _ : state) benchmark::DoNotOptimize(a.port.open());
}
BENCHMARK(BM_ReconnectTryAbsentDevice)->Unit(benchmark::kMillisecond)->UseRealTime();

// The open routine's 21 tries, during which the window takes no input but what the tries let through.
void BM_OpenTriesAbsentDevice(benchmark::State& state) {
    AbsentAdapter a;
    for (auto _ : state)
        for (int i = 0; i < 21; ++i) benchmark::DoNotOptimize(a.port.open());
}
BENCHMARK(BM_OpenTriesAbsentDevice)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

VELTRANE_QT_BENCHMARK_MAIN()
