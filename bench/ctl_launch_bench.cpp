// Whole runs of tk770ctl as scripts see them: from starting the process to
// reaping it, and the peak resident memory the kernel counted for it. Backup
// scripts run the tool hundreds of times, so its start-up is the figure.
// posix_spawn and wait4 give the child's own peak RSS, which QProcess hides.
#include "../tests/link/sim_process.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Run {
    bool ok = false;
    double seconds = 0;
    long peakRssKb = 0;
};

// Runs tk770ctl with `args`, its output to /dev/null.
Run runCtl(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    std::string program = TK770CTL_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakRssKb = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

void measure(benchmark::State& state, const std::vector<std::string>& args)
{
    long peak = 0;
    for (auto _ : state) {
        const Run run = runCtl(args);
        if (!run.ok) {
            state.SkipWithError("tk770ctl failed");
            return;
        }
        state.SetIterationTime(run.seconds);
        peak = std::max(peak, run.peakRssKb);
    }
    state.counters["peak_rss_mb"] = static_cast<double>(peak) / 1024.0;
}

void BM_CtlHelp(benchmark::State& state) { measure(state, {"--help"}); }
BENCHMARK(BM_CtlHelp)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);

// An offline command that touches a file.
void BM_CtlNewProject(benchmark::State& state)
{
    QTemporaryDir dir;
    measure(state, {"new", "-o", dir.filePath(QStringLiteral("new.qsdat")).toStdString()});
}
BENCHMARK(BM_CtlNewProject)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);

// A full read over loopback TCP from the simulator into a project file.
void BM_CtlReadOverTcp(benchmark::State& state)
{
    tk770::testing::SimProcess sim;
    if (!sim.start(tk770::testing::SimProcess::tcpArgs())) {
        state.SkipWithError(qPrintable(sim.error()));
        return;
    }
    QTemporaryDir dir;
    const std::string where = QStringLiteral("%1:%2").arg(sim.tcpHost()).arg(sim.tcpPort()).toStdString();
    measure(state, {"read", "-o", dir.filePath(QStringLiteral("read.qsdat")).toStdString(), "--tcp", where});
}
BENCHMARK(BM_CtlReadOverTcp)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
