#include "acoustics/analysis.h"
#include "acoustics/text_files.h"

#include <sndfile.h>
#include <unsupported/Eigen/FFT>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace tk770 {

namespace {

constexpr double full_scale_sine_power = 0.5;  // mean square of a sine of amplitude 1

double to_db(double power) { return 10.0 * std::log10(std::max(power, 1e-30) / full_scale_sine_power); }

}  // namespace

bool supported_rate(double rate) { return rate == 44100.0 || rate == 48000.0 || rate == 96000.0; }

int segment_points(double rate) { return rate > 48000.0 ? 131072 : 65536; }

std::variant<BandLevels, std::string> analyse(std::span<const float> samples, double rate, const MicCalibration* mic)
{
    if (!supported_rate(rate))
        return "a sample rate of " + std::to_string(static_cast<long>(rate)) +
               " Hz is not supported (44100, 48000 or 96000)";
    const int n = segment_points(rate);
    if (samples.size() < static_cast<std::size_t>(n))
        return "too little audio: " + std::to_string(samples.size()) + " samples, at least " + std::to_string(n) +
               " are needed";

    // Periodic Hann: at 50 % overlap the windows add up to a constant.
    std::vector<double> window(static_cast<std::size_t>(n));
    double window_power = 0;
    for (int i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / n);
        window[static_cast<std::size_t>(i)] = w;
        window_power += w * w;
    }

    const int half = n / 2;
    std::vector<double> power(static_cast<std::size_t>(half + 1), 0.0);
    Eigen::FFT<double> fft;
    fft.SetFlag(Eigen::FFT<double>::HalfSpectrum);
    std::vector<double> segment(static_cast<std::size_t>(n));
    std::vector<std::complex<double>> spectrum;
    const std::size_t hop = static_cast<std::size_t>(n / 2);
    int segments = 0;
    for (std::size_t start = 0; start + static_cast<std::size_t>(n) <= samples.size(); start += hop) {
        for (std::size_t i = 0; i < segment.size(); ++i) segment[i] = samples[start + i] * window[i];
        fft.fwd(spectrum, segment);
        for (int k = 0; k <= half; ++k) power[static_cast<std::size_t>(k)] += std::norm(spectrum[static_cast<std::size_t>(k)]);
        ++segments;
    }
    // Parseval with the window's power: the one-sided bins sum to the mean square.
    const double scale = 1.0 / (static_cast<double>(n) * window_power * segments);
    const double bin_hz = rate / n;
    for (int k = 0; k <= half; ++k) {
        double p = power[static_cast<std::size_t>(k)] * scale * (k == 0 || k == half ? 1.0 : 2.0);
        if (mic && k > 0) p *= std::pow(10.0, -mic->response.at(k * bin_hz) / 10.0);
        power[static_cast<std::size_t>(k)] = p;
    }

    // A bin stands for [k - 1/2, k + 1/2) * bin_hz; a bin that straddles a
    // band edge gives each side the share of its width that lies there, so
    // neighbouring bands split its power and none is counted twice.
    auto sum_between = [&](double lo, double hi, double (*weight)(double)) {
        hi = std::min(hi, half * bin_hz);
        double total = 0;
        const int first = std::max(0, static_cast<int>(std::floor(lo / bin_hz + 0.5)));
        const int last = std::min(half, static_cast<int>(std::floor(hi / bin_hz + 0.5)));
        for (int k = first; k <= last; ++k) {
            const double share =
                (std::min(hi, (k + 0.5) * bin_hz) - std::max(lo, (k - 0.5) * bin_hz)) / bin_hz;
            if (share <= 0) continue;
            double p = power[static_cast<std::size_t>(k)] * share;
            if (weight) p *= std::pow(10.0, weight(k * bin_hz) / 10.0);
            total += p;
        }
        return total;
    };

    BandLevels levels;
    for (int b = 0; b < third_octave_count; ++b)
        levels.band_db[static_cast<std::size_t>(b)] =
            to_db(sum_between(band_lower_edge(b), band_upper_edge(b), nullptr));
    const double lo = band_lower_edge(0), hi = band_upper_edge(third_octave_count - 1);
    levels.unweighted_db = to_db(sum_between(lo, hi, nullptr));
    levels.c_weighted_db = to_db(sum_between(lo, hi, c_weighting_db));
    levels.a_weighted_db = to_db(sum_between(lo, hi, a_weighting_db));
    return levels;
}

std::variant<Audio, std::string> read_wav(const std::filesystem::path& path, int channel)
{
    if (auto problem = input_problem(path); !problem.empty()) return problem;
    const std::string name = path.string();

    SF_INFO info{};
    SNDFILE* file = sf_open(name.c_str(), SFM_READ, &info);
    if (!file) return name + ": not an audio file the reader knows (" + sf_strerror(nullptr) + ")";
    struct Closer {
        SNDFILE* f;
        ~Closer() { sf_close(f); }
    } closer{file};

    if (channel < 0 || channel >= info.channels)
        return name + ": channel " + std::to_string(channel + 1) + " asked for, the file has " +
               std::to_string(info.channels) + (info.channels == 1 ? " channel" : " channels");
    if (!supported_rate(info.samplerate))
        return name + ": a sample rate of " + std::to_string(info.samplerate) +
               " Hz is not supported (44100, 48000 or 96000)";

    Audio audio;
    audio.rate = info.samplerate;
    audio.samples.reserve(static_cast<std::size_t>(info.frames));
    std::vector<float> block(static_cast<std::size_t>(4096 * info.channels));
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), 4096);
        if (got <= 0) break;
        for (sf_count_t i = 0; i < got; ++i)
            audio.samples.push_back(block[static_cast<std::size_t>(i * info.channels + channel)]);
    }
    if (sf_error(file) != SF_ERR_NO_ERROR) return name + ": " + sf_strerror(file);
    return audio;
}

}  // namespace tk770
