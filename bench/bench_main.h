// Google Benchmark's main, run inside the Qt application the benchmarks of a
// program need: QCoreApplication for sockets and child processes,
// QApplication (offscreen unless told otherwise) for widgets.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <type_traits>

template <class Application>
int run_benchmarks(int argc, char** argv)
{
    if constexpr (std::is_same_v<Application, QApplication>) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    Application app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
