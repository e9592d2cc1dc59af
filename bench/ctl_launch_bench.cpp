// Whole runs of tk770ctl as scripts see them: from starting the process to
// reaping it, and the peak resident memory the kernel counted for it. Backup
// scripts run the tool hundreds of times, so its start-up is the figure.
// fork, exec and wait4 give the child's own peak RSS, which QProcess hides.
// Not posix_spawn: its child shares this process's memory until exec, and
// the kernel counts that towards the child's peak. A forked child starts
// from a copy of this process's anonymous pages only, so the figure is the
// tool's own unless this process holds more; that bound is reported too.
#include "support/sim_process.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Run {
    bool ok = false;
    double seconds = 0;
    long peakRssKb = 0;
};

// Runs `program` with `args`, its output to /dev/null.
Run runProgram(std::string program, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);

    Run run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return run;
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakRssKb = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// This process's anonymous resident memory, which a forked child starts with.
long ownAnonKb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long kb = 0;
    while (status >> key) {
        if (key == "RssAnon:" && status >> kb) return kb;
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

void measure(benchmark::State& state, const std::vector<std::string>& args, const std::string& program = TK770CTL_PATH)
{
    const long floorKb = ownAnonKb();
    long peak = 0;
    for (auto _ : state) {
        const Run run = runProgram(program, args);
        if (!run.ok) {
            state.SkipWithError("the program failed");
            return;
        }
        state.SetIterationTime(run.seconds);
        peak = std::max(peak, run.peakRssKb);
    }
    if (peak <= floorKb) {
        state.SkipWithError("the child's peak cannot be told from this process's own memory");
        return;
    }
    state.counters["peak_rss_mb"] = static_cast<double>(peak) / 1024.0;
    state.counters["bench_anon_mb"] = static_cast<double>(floorKb) / 1024.0;
}

// The floor under every figure here: starting and reaping a process that
// does nothing, on this machine at this moment.
void BM_TrueProcess(benchmark::State& state) { measure(state, {}, "/bin/true"); }
BENCHMARK(BM_TrueProcess)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);

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
