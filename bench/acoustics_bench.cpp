// The acoustics layer's goals: analysing 10 s of 48 kHz audio within 1 % of
// its duration, fitting one channel within 20 ms.
#include "acoustics/analysis.h"
#include "acoustics/fit.h"

#include "acoustics/signals.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace tk770 {
namespace {

void BM_Analyse10sAt48k(benchmark::State& state)
{
    auto audio = test::pink_noise(48000, 19, -20.0);
    audio.resize(480000);
    for (auto _ : state) {
        auto levels = analyse(audio, 48000);
        benchmark::DoNotOptimize(levels);
    }
}
BENCHMARK(BM_Analyse10sAt48k)->Unit(benchmark::kMillisecond);

// Four seats of a room with peaks and dips that differ between seats and a
// high-frequency roll-off.
std::vector<ThirdOctaveLevels> room()
{
    std::vector<ThirdOctaveLevels> seats(4);
    for (int s = 0; s < 4; ++s) {
        for (int i = 0; i < third_octave_count; ++i) {
            const double f = band_centre(i);
            double level = 75.0 + 4.0 * std::sin(0.9 * i + s) + 2.5 * std::cos(0.37 * i * (s + 1));
            if (f > 4000) level -= 4.0 * std::log2(f / 4000);
            seats[static_cast<std::size_t>(s)][static_cast<std::size_t>(i)] = level;
        }
    }
    return seats;
}

void fit_benchmark(benchmark::State& state, bool shelves)
{
    ParameterImage image{};
    image.reset_to_defaults();
    const auto seats = room();
    const Target target = std::get<Target>(parse_target("x-curve"));
    FitOptions options;
    options.shelves = shelves;
    for (auto _ : state) {
        auto result = fit_channel(image, 1, seats, target, options);
        benchmark::DoNotOptimize(result);
    }
}

void BM_FitChannel(benchmark::State& state) { fit_benchmark(state, false); }
void BM_FitChannelWithShelves(benchmark::State& state) { fit_benchmark(state, true); }
BENCHMARK(BM_FitChannel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FitChannelWithShelves)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tk770

BENCHMARK_MAIN();
