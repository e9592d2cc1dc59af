// How fast the simulated processor answers, and how closely --line-rate
// holds the serial line to 3840 bytes per second.
#include "core/frame_reader.h"
#include "sim/sim_device.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using tk770::Framing;

std::vector<std::uint8_t> readRequest(Framing framing, int address, int length)
{
    std::vector<std::uint8_t> out(tk770::frame_overhead(framing));
    out.resize(tk770::build_read_request(framing, address, length, out));
    return out;
}

void BM_HandleRead(benchmark::State& state)
{
    tk770::SimDevice device;
    const auto length = static_cast<int>(state.range(0));
    const auto request = readRequest(Framing::serial, 0, length);
    for (auto _ : state) {
        auto outcome = device.handle(Framing::serial, request);
        benchmark::DoNotOptimize(outcome.reply.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HandleRead)->Arg(1)->Arg(54)->Arg(1017);

// A stream of frames fed in 5-byte pieces, as a slow line delivers them.
void BM_FrameReaderPieces(benchmark::State& state)
{
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 64; ++i) {
        const auto f = readRequest(Framing::serial, i, 16);
        stream.insert(stream.end(), f.begin(), f.end());
        stream.push_back(0x00);  // a byte of noise between frames
    }
    for (auto _ : state) {
        tk770::FrameReader reader(Framing::serial);
        int frames = 0;
        for (std::size_t at = 0; at < stream.size(); at += 5) {
            reader.feed(std::span(stream).subspan(at, std::min<std::size_t>(5, stream.size() - at)));
            while (reader.next()) ++frames;
        }
        reader.take_dropped();
        benchmark::DoNotOptimize(frames);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_FrameReaderPieces);

#ifdef TK770_SIM_PATH
// Starts the program on a pty with --line-rate, reads 1000 bytes of memory and
// reports the rate at which the reply arrived (bytes_per_second).
void BM_PtyLineRate(benchmark::State& state)
{
    int out[2];
    if (::pipe(out) != 0) {
        state.SkipWithError("pipe");
        return;
    }
    char link[] = "/tmp/tk770-bench-XXXXXX";
    if (!::mkdtemp(link)) {
        state.SkipWithError("mkdtemp");
        return;
    }
    const std::string path = std::string(link) + "/line";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::execl(TK770_SIM_PATH, TK770_SIM_PATH, "--pty", path.c_str(), "--line-rate", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string announced;
    char c;
    while (announced.find("ready\n") == std::string::npos && ::read(out[0], &c, 1) == 1) announced.push_back(c);

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const auto request = readRequest(Framing::serial, 0, 1000);
    const std::size_t expected = 1000 + 7;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        if (fd < 0 || ::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
            state.SkipWithError("pty");
            break;
        }
        std::size_t got = 0;
        const auto start = std::chrono::steady_clock::now();
        while (got < expected) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) break;
            char buffer[512];
            const auto n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) got += static_cast<std::size_t>(n);
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        bytes += static_cast<std::int64_t>(got);
        if (got != expected) {
            state.SkipWithError("short reply");
            break;
        }
    }
    state.SetBytesProcessed(bytes);
    if (fd >= 0) ::close(fd);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    ::close(out[0]);
    ::rmdir(link);
}
BENCHMARK(BM_PtyLineRate)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
