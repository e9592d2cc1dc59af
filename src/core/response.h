// The response graph's arithmetic: one biquad per equaliser band, shelf,
// subwoofer section and low-pass stage, and the summed magnitude curve that
// the graph draws over 315 log-spaced frequencies.
//
// The curve is recomputed on every slider step, so the model caches, per
// section, its squared magnitude at each curve point. Changing one section
// costs one section's evaluation plus an exact re-multiplication of the
// cached values; nothing is ever subtracted out again, so there is no drift
// and an incremental curve is bit-for-bit the curve of a fresh model.
#pragma once

#include "core/parameter_image.h"

#include <array>
#include <cstdint>

namespace tk770 {

inline constexpr double sample_rate = 48000.0;

extern const std::array<std::uint16_t, 27> BandFrequencies;
// Bass turnover and subwoofer low-pass codes select entries 0..10, a treble
// turnover code c selects entry 11 + c.
extern const std::array<std::uint16_t, 21> TurnoverFrequencies;
inline constexpr int treble_turnover_first = 11;

// Coefficients of H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2).
struct BiquadSection {
    double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    bool operator==(const BiquadSection&) const = default;
};

// A low-pass stage that is switched off: numerator equals denominator.
inline constexpr BiquadSection unity_section{1.0, -1.99876130081668, 0.998788699717626,
                                             -1.99876130081668, 0.998788699717626};

inline constexpr int response_section_count = 29;
inline constexpr int bass_shelf_entry = 27;
inline constexpr int treble_shelf_entry = 28;
inline constexpr int sw_section_count = 6;  // two parametric sections, four low-pass stages

using ResponseSections = std::array<BiquadSection, response_section_count>;

// What ComputeSection is asked to build.
enum SectionKind : int {
    kind_sw_peaking = 0,
    kind_band = 1,
    kind_sw_lowpass = 2,
    kind_bass_shelf = 4,
    kind_treble_shelf = 5,
};

// The curve: point k lies at f_k = f_0 * 10^(k/100), column 6 + 2k.
inline constexpr int curve_point_count = 315;
inline constexpr int curve_first_column = 6;
inline constexpr double curve_first_frequency = 17.419271799121613;
inline constexpr double curve_frequency_step = 1.023292992280754;
// Per-point tables are padded to whole vectors so loops over them vectorise.
inline constexpr int curve_padded_points = 320;

// Frequency of curve point k, built by the same repeated multiplication the
// graph has always used (so f_6 is 20 Hz to the last bit it ever was).
double curve_frequency(int k);

// Magnitude of one section at f Hz, in dB; used to check designs by ear.
double section_gain_db(const BiquadSection& section, double frequency);

// The 0 dB row and the number of sections drawn for a channel's page.
struct CurveLayout {
    int base;
    int section_count;
};
CurveLayout curve_layout(int selected_channel, int graph_height);

// Pixel row of a curve sum S (sum of 40 ln|H|): base - 2S, truncated toward
// zero. Infinite or NaN sums (a zeroed section has |H| = 0) map to rows far
// outside any graph so that drawing clips them instead of overflowing an int.
int curve_row(int base, double sum);

using CurveRows = std::array<int, curve_point_count>;

class ResponseModel {
public:
    // Every entry starts zeroed, as before the first refresh.
    ResponseModel();

    // Builds entry `index` (or the shelf entry) from the image. A shelf whose
    // gain is 0 is designed at +0.1 dB instead and the image gain becomes 1.
    // Arguments outside the table of kinds, channels and indices do nothing.
    void ComputeSection(ParameterImage& image, int channel, int index, int kind);

    void set_section(int index, const BiquadSection& section);
    const BiquadSection& section(int index) const { return m_sections[index]; }
    const ResponseSections& sections() const { return m_sections; }

    // Sum of 40 ln|H_i| over the first `count` sections at every curve point.
    const std::array<double, curve_point_count>& curve_sums(int count);
    // Pixel rows of the curve for a graph whose 0 dB row is `base`.
    CurveRows curve_rows(int base, int count);

private:
    ResponseSections m_sections{};
    using PointRow = std::array<double, curve_padded_points>;

    // |H_i|^2 per section and point.
    std::array<PointRow, response_section_count> m_magnitude2{};
    std::uint32_t m_stale = 0;  // one bit per section whose m_magnitude2 row is out of date

    // Products of the rows of six consecutive sections. Group 0 is exactly
    // the subwoofer page; a band step rebuilds one group and multiplies five.
    static constexpr int group_size = sw_section_count;
    static constexpr int group_count = (response_section_count + group_size - 1) / group_size;
    std::array<PointRow, group_count> m_group_product{};
    std::uint32_t m_group_stale = 0;

    std::array<double, curve_point_count> m_sums{};
    int m_sums_count = -1;  // section count m_sums was built for; -1 = must rebuild
};

}  // namespace tk770
