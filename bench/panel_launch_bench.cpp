// A whole launch of tk770-panel, from starting the process to its first
// painted window, and where the time goes: loading the program and its
// libraries, creating the application, building the window, the first paint.
// The in-process figure (panel_bench) leaves out everything but building.
#include "bench_main.h"
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

namespace {

long long nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void BM_PanelLaunchToFirstPaint(benchmark::State& state)
{
    double load = 0, app = 0, window = 0, paint = 0;
    // The panel keeps its settings in the configuration folder: a folder of
    // the run's own, so the operator's settings are neither read nor written.
    QTemporaryDir config;
    for (auto _ : state) {
        QProcess panel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TK770_STARTUP_REPORT"), QStringLiteral("1"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        if (!env.contains(QStringLiteral("QT_QPA_PLATFORM"))) env.insert(QStringLiteral("QT_QPA_PLATFORM"), "offscreen");
        panel.setProcessEnvironment(env);
        const long long started = nowUs();
        panel.start(QStringLiteral(TK770_PANEL_PATH), {});
        if (!panel.waitForFinished(30000) || panel.exitCode() != 0) {
            state.SkipWithError("the panel did not start and quit");
            return;
        }
        long long main = 0, appReady = 0, built = 0, painted = 0;
        const QByteArray report = panel.readAllStandardError();
        const int at = report.indexOf("startup ");
        if (at < 0 || std::sscanf(report.constData() + at, "startup main=%lld app=%lld window=%lld painted=%lld", &main,
                                  &appReady, &built, &painted) != 4) {
            state.SkipWithError("the panel printed no start-up report");
            return;
        }
        state.SetIterationTime(static_cast<double>(painted - started) / 1e6);
        load += static_cast<double>(main - started) / 1e3;
        app += static_cast<double>(appReady - main) / 1e3;
        window += static_cast<double>(built - appReady) / 1e3;
        paint += static_cast<double>(painted - built) / 1e3;
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["load_ms"] = load / n;
    state.counters["application_ms"] = app / n;
    state.counters["window_ms"] = window / n;
    state.counters["first_paint_ms"] = paint / n;
}
BENCHMARK(BM_PanelLaunchToFirstPaint)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return run_benchmarks<QCoreApplication>(argc, argv); }
