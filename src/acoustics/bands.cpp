#include "acoustics/bands.h"

#include <cmath>
#include <cstdio>

namespace tk770 {

namespace {

constexpr std::array<double, third_octave_count> nominal{
    20,   25,   31.5, 40,   50,   63,   80,   100,  125,   160,   200,   250,   315,   400,   500,  630,
    800,  1000, 1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000, 20000,
};

// The weightings' pole frequencies.
constexpr double f1 = 20.598997;
constexpr double f2 = 107.65265;
constexpr double f3 = 737.86223;
constexpr double f4 = 12194.217;

double c_raw(double f)
{
    const double f2_ = f * f;
    return 20.0 * std::log10(f4 * f4 * f2_ / ((f2_ + f1 * f1) * (f2_ + f4 * f4)));
}

double a_raw(double f)
{
    const double f2_ = f * f;
    return 20.0 * std::log10(f4 * f4 * f2_ * f2_ /
                             ((f2_ + f1 * f1) * std::sqrt((f2_ + f2 * f2) * (f2_ + f3 * f3)) * (f2_ + f4 * f4)));
}

}  // namespace

double band_centre(int index) { return 1000.0 * std::pow(10.0, (index - 17) / 10.0); }
double band_lower_edge(int index) { return band_centre(index) * std::pow(10.0, -1.0 / 20.0); }
double band_upper_edge(int index) { return band_centre(index) * std::pow(10.0, 1.0 / 20.0); }
double band_nominal(int index) { return nominal.at(static_cast<std::size_t>(index)); }

std::string band_label(int index)
{
    char text[16];
    std::snprintf(text, sizeof text, "%g", band_nominal(index));
    return text;
}

double a_weighting_db(double frequency)
{
    static const double at_1k = a_raw(1000.0);
    return a_raw(frequency) - at_1k;
}

double c_weighting_db(double frequency)
{
    static const double at_1k = c_raw(1000.0);
    return c_raw(frequency) - at_1k;
}

}  // namespace tk770
