// One-third-octave bands (base 10, as the standard for band filters has
// them) and the frequency weightings of sound level meters.
#pragma once

#include <array>
#include <string>

namespace tk770 {

// The 31 bands from 20 Hz to 20 kHz. Index i has the exact centre
// 1000 * 10^((i - 17) / 10) Hz; the processor's band b is index b + 3.
inline constexpr int third_octave_count = 31;
inline constexpr int processor_band_offset = 3;

using ThirdOctaveLevels = std::array<double, third_octave_count>;

double band_centre(int index);
double band_lower_edge(int index);
double band_upper_edge(int index);
// The nominal label (20, 25, 31.5, ... 20000), also used for comparisons
// with the frequencies people type.
double band_nominal(int index);
std::string band_label(int index);  // "31.5", "1000"

// Weightings in dB at f Hz, normalised to 0 dB at 1 kHz.
double a_weighting_db(double frequency);
double c_weighting_db(double frequency);

}  // namespace tk770
