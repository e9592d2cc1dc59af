// Whole runs of tk770ctl as scripts see them: from starting the process to
// reaping it, and the peak resident memory the kernel counted for it. Backup
// scripts run the tool hundreds of times, so its start-up is the figure.
// fork, exec and wait4 give the child's own peak RSS, which QProcess hides.
// Not posix_spawn: its child shares this process's memory until exec, and
// the kernel counts that towards the child's peak. A forked child starts
// from a copy of this process's anonymous pages only, so the figure is the
// tool's own unless this process holds more; that bound is reported too.
#include "bench_main.h"
#include "support/sim_process.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
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

// Each run of the tool is paired with a run of /bin/true, the floor under
// every figure here (starting and reaping a process that does nothing), so
// the figure and its floor come from the same moments of a shared machine.
void measure(benchmark::State& state, const std::vector<std::string>& args)
{
    const long floorKb = ownAnonKb();
    long peak = 0;
    double floorSeconds = 0;
    int runs = 0;
    for (auto _ : state) {
        const Run floor = runProgram("/bin/true", {});
        const Run run = runProgram(TK770CTL_PATH, args);
        if (!run.ok || !floor.ok) {
            state.SkipWithError(run.ok ? "/bin/true failed" : "the program failed");
            return;
        }
        state.SetIterationTime(run.seconds);
        floorSeconds += floor.seconds;
        ++runs;
        peak = std::max(peak, run.peakRssKb);
    }
    if (peak <= floorKb) {
        state.SkipWithError("the child's peak cannot be told from this process's own memory");
        return;
    }
    state.counters["true_process_ms"] = floorSeconds * 1000.0 / runs;
    state.counters["peak_rss_mb"] = static_cast<double>(peak) / 1024.0;
    state.counters["bench_anon_mb"] = static_cast<double>(floorKb) / 1024.0;
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

// backup of a fleet: 24 simulators on loopback TCP, each its own process
// with its own pacing (none is added), backed up with --jobs 8, against
// three single backups in a row, the reference the fleet must stay within
// 1.5 times of. Both are whole runs of the tool, files written included.
// The peak memory is the fleet run's.
class Fleet {
public:
    // On loopback TCP, or on pseudo-terminals paced like a 38,400-baud line.
    bool start(int count, std::string& error, bool serialAtLineRate = false)
    {
        m_serial = serialAtLineRate;
        for (int i = 0; i < count; ++i) {
            auto sim = std::make_unique<tk770::testing::SimProcess>();
            const QStringList args = m_serial ? sim->ptyArgs() + QStringList{QStringLiteral("--line-rate")}
                                              : tk770::testing::SimProcess::tcpArgs();
            if (!sim->start(args)) {
                error = sim->error().toStdString();
                return false;
            }
            m_sims.push_back(std::move(sim));
        }
        return m_out.isValid();
    }
    // A hosts file listing processors first .. first + count - 1.
    std::string hosts(int first, int count)
    {
        const QString path = m_dir.filePath(QStringLiteral("hosts-%1-%2").arg(first).arg(count));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) return {};
        for (int i = first; i < first + count; ++i) {
            const auto& sim = *m_sims[static_cast<std::size_t>(i)];
            const QString target = m_serial ? QStringLiteral("serial:%1").arg(sim.ptyPath())
                                            : QStringLiteral("tcp:%1:%2").arg(sim.tcpHost()).arg(sim.tcpPort());
            file.write(QStringLiteral("hall%1 %2\n").arg(i).arg(target).toUtf8());
        }
        return path.toStdString();
    }
    std::string out() const { return m_out.path().toStdString(); }

private:
    std::vector<std::unique_ptr<tk770::testing::SimProcess>> m_sims;
    bool m_serial = false;
    QTemporaryDir m_dir;
    QTemporaryDir m_out;
};

// `count` processors with --jobs 8; the reference is `singles` single
// backups in a row.
void backUpFleet(benchmark::State& state, int count, int singleCount, bool serialAtLineRate)
{
    Fleet fleet;
    std::string error;
    if (!fleet.start(count, error, serialAtLineRate)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string all = fleet.hosts(0, count);
    std::vector<std::string> singles;
    for (int i = 0; i < singleCount; ++i) singles.push_back(fleet.hosts(i, 1));
    const long floorKb = ownAnonKb();
    double referenceSeconds = 0;
    long peak = 0;
    int runs = 0;
    for (auto _ : state) {
        for (const auto& one : singles) {
            const Run run = runProgram(TK770CTL_PATH, {"backup", "--hosts", one, "--dir", fleet.out()});
            if (!run.ok) {
                state.SkipWithError("a single backup failed");
                return;
            }
            referenceSeconds += run.seconds;
        }
        const Run run = runProgram(TK770CTL_PATH, {"backup", "--hosts", all, "--dir", fleet.out(), "--jobs", "8"});
        if (!run.ok) {
            state.SkipWithError("the fleet backup failed");
            return;
        }
        state.SetIterationTime(run.seconds);
        peak = std::max(peak, run.peakRssKb);
        ++runs;
    }
    if (peak <= floorKb) {
        state.SkipWithError("the child's peak cannot be told from this process's own memory");
        return;
    }
    state.counters["reference_ms"] = referenceSeconds * 1000.0 / runs;
    state.counters["peak_rss_mb"] = static_cast<double>(peak) / 1024.0;
    state.counters["bench_anon_mb"] = static_cast<double>(floorKb) / 1024.0;
}

void BM_Backup24ProcessorsJobs8(benchmark::State& state) { backUpFleet(state, 24, 3, false); }
BENCHMARK(BM_Backup24ProcessorsJobs8)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// The serial line is where waiting dominates: 8 processors at 38,400 baud
// at once against one alone shows how far the jobs overlap.
void BM_Backup8SerialAtLineRateJobs8(benchmark::State& state) { backUpFleet(state, 8, 1, true); }
BENCHMARK(BM_Backup8SerialAtLineRateJobs8)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return run_benchmarks<QCoreApplication>(argc, argv); }
