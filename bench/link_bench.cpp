// The whole-device sequences against the simulated processor: a full read
// and a full download over loopback TCP, and a full read over a pty paced
// at the real line rate (38,400 baud), whose floor is the line time itself.
#include "bench_main.h"
#include "support/sim_process.h"
#include "link/sequences.h"
#include "link/serial_transport.h"
#include "link/tcp_transport.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {

using tk770::testing::SimProcess;

struct TcpRig {
    SimProcess sim;
    tk770::QtTcpTransport tcp;
    tk770::LinkState state;
    tk770::SilentStatus quiet;
    tk770::ParameterImage image{};
    tk770::DeviceLink link{state, nullptr, &tcp, &quiet};
    tk770::DeviceSequences sequences{link, image};

    bool start(benchmark::State& s)
    {
        if (!sim.start(SimProcess::tcpArgs())) {
            s.SkipWithError(qPrintable(sim.error()));
            return false;
        }
        tcp.connect(sim.tcpHost(), sim.tcpPort());
        state.network_mode = 1;
        state.connected = 1;
        image.reset_to_defaults();
        return true;
    }
};

void BM_TcpFullRead(benchmark::State& state)
{
    TcpRig rig;
    if (!rig.start(state)) return;
    for (auto _ : state) {
        if (rig.sequences.read_image() != 0) {
            state.SkipWithError("a read failed");
            break;
        }
    }
}
BENCHMARK(BM_TcpFullRead)->Unit(benchmark::kMillisecond);

void BM_TcpFullDownload(benchmark::State& state)
{
    TcpRig rig;
    if (!rig.start(state)) return;
    for (auto _ : state) {
        if (rig.sequences.download_all() != tk770::Outcome::succeeded) {
            state.SkipWithError("the download failed");
            break;
        }
    }
}
BENCHMARK(BM_TcpFullDownload)->Unit(benchmark::kMillisecond);

// 19 requests of 7 bytes and replies of N + 7 bytes, ten bits a byte.
constexpr int image_read_line_bytes = 19 * 7 + (tk770::image_size + 19 * 7);

void BM_SerialFullReadAtLineRate(benchmark::State& state)
{
    SimProcess sim;
    if (!sim.start(sim.ptyArgs() + QStringList{QStringLiteral("--line-rate")})) {
        state.SkipWithError(qPrintable(sim.error()));
        return;
    }
    tk770::QtSerialTransport serial;
    serial.bindPort(1, sim.ptyPath());
    tk770::LinkState link_state;
    link_state.serial_port = 1;
    tk770::SilentStatus quiet;
    tk770::ParameterImage image{};
    tk770::DeviceLink link{link_state, &serial, nullptr, &quiet};
    tk770::DeviceSequences sequences{link, image};
    sequences.open_serial_port();
    for (auto _ : state) {
        if (sequences.read_image() != 0) {
            state.SkipWithError("a read failed");
            break;
        }
    }
    state.counters["line_time_ms"] = 1000.0 * image_read_line_bytes / 3840.0;
}
BENCHMARK(BM_SerialFullReadAtLineRate)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return run_benchmarks<QCoreApplication>(argc, argv); }
