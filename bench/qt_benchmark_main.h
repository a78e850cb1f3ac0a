#pragma once
// The main() of every benchmark program: the benchmarks run under a Qt application object, because the
// code they measure uses Qt's event loop, timers and sockets.

#include <benchmark/benchmark.h>
#include <QCoreApplication>

#define VELTRANE_QT_BENCHMARK_MAIN()         \
    int main(int argc, char** argv) {        \
        QCoreApplication app(argc, argv);    \
        benchmark::Initialize(&argc, argv);  \
        benchmark::RunSpecifiedBenchmarks(); \
        benchmark::Shutdown();               \
        return 0;                            \
    }
