// Synthetic test signals for the acoustics tests and benchmarks.
#pragma once

#include "core/response.h"

#include <unsupported/Eigen/FFT>

#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace tk770::test {

inline std::vector<float> sine(double frequency, double amplitude, double rate, std::size_t length)
{
    std::vector<float> out(length);
    for (std::size_t i = 0; i < length; ++i)
        out[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / rate));
    return out;
}

// Periodic pink noise: every bin from 5 Hz up carries power proportional to
// 1/f with a random phase, so each third-octave band holds the same power and
// only the analysis itself can make the band levels differ. Scaled to the
// given RMS relative to full scale (dBFS, a full-scale sine being 0).
inline std::vector<float> pink_noise(double rate, std::size_t log2_length, double rms_dbfs, std::uint32_t seed = 7)
{
    const std::size_t n = std::size_t{1} << log2_length;
    std::mt19937 random(seed);
    std::vector<std::complex<double>> spectrum(n / 2 + 1);
    for (std::size_t k = 1; k < n / 2; ++k) {
        const double f = static_cast<double>(k) * rate / static_cast<double>(n);
        if (f < 5.0) continue;
        const double phase = 2.0 * std::numbers::pi * (random() / 4294967296.0);
        spectrum[k] = std::polar(1.0 / std::sqrt(f), phase);
    }
    Eigen::FFT<double> fft;
    fft.SetFlag(Eigen::FFT<double>::HalfSpectrum);
    std::vector<double> time;
    fft.inv(time, spectrum, static_cast<Eigen::Index>(n));
    double square = 0;
    for (double v : time) square += v * v;
    const double scale = std::pow(10.0, rms_dbfs / 20.0) * std::sqrt(0.5) / std::sqrt(square / static_cast<double>(n));
    std::vector<float> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<float>(time[i] * scale);
    return out;
}

// Runs a periodic signal through a biquad twice and keeps the second pass,
// so the output is the filter's steady state.
inline std::vector<float> filtered(const std::vector<float>& in, const BiquadSection& s)
{
    std::vector<float> out(in.size());
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < in.size(); ++i) {
            const double x = in[i];
            const double y = s.b0 * x + s.b1 * x1 + s.b2 * x2 - s.a1 * y1 - s.a2 * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            out[i] = static_cast<float>(y);
        }
    }
    return out;
}

// A folder of its own for one test, removed afterwards.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir()
    {
        path = std::filesystem::temp_directory_path() / ("tk770_acoustics_" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(path);
    }
    ~ScratchDir() { std::filesystem::remove_all(path); }
};

}  // namespace tk770::test
