#include "core/response.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace tk770 {

const std::array<std::uint16_t, 27> BandFrequencies{
    40,   50,   63,   80,   100,  125,  160,  200,  250,  315,   400,   500,   630,  800,
    1000, 1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000,
};

const std::array<std::uint16_t, 21> TurnoverFrequencies{
    63,   80,   100,  125,  160,  200,  250,  315,  400,  500, 630,
    1000, 1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000,
};

namespace {

// The per-point loops are also built for AVX2 and picked at load time where
// the processor has it. AVX2 alone brings no fused multiply-add, so both
// builds round every operation alike and give bit-identical curves.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TK770_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define TK770_WIDE_VECTORS
#endif

constexpr double pi = std::numbers::pi;
constexpr int padded_points = curve_padded_points;

// z^-1 and z^-2 on the unit circle at every curve point, computed once. The
// padding points repeat the last real point so the vector loops below can run
// over whole vectors and still see only finite values.
struct PointTable {
    std::array<double, curve_point_count> frequency;
    alignas(32) std::array<double, padded_points> cos1, sin1, cos2, sin2;

    PointTable()
    {
        double f = curve_first_frequency;
        for (int k = 0; k < padded_points; ++k) {
            const int p = std::min(k, curve_point_count - 1);
            if (k < curve_point_count) {
                frequency[k] = f;
                f *= curve_frequency_step;
            }
            const double w = 2.0 * pi * frequency[p] / sample_rate;
            cos1[k] = std::cos(w);
            sin1[k] = std::sin(w);
            cos2[k] = std::cos(2.0 * w);
            sin2[k] = std::sin(2.0 * w);
        }
    }
};

const PointTable& points()
{
    static const PointTable table;
    return table;
}

double level_to_amplitude(int tenths_db) { return std::pow(10.0, 0.005 * tenths_db); }

// Codes come from the image unchecked; a file could hold any byte. Clamp to
// the table rather than read past its end.
double turnover_frequency(int entry)
{
    return TurnoverFrequencies[std::clamp(entry, 0, static_cast<int>(TurnoverFrequencies.size()) - 1)];
}

BiquadSection peaking(double f, double q, int gain)
{
    const double v = level_to_amplitude(gain);
    const double t = std::tan(pi * f / q / sample_rate);
    const double k = v >= 1.0 ? (t - 1.0) / (t + 1.0) : (t - v) / (t + v);
    const double h = (v - 1.0) / 2.0;
    const double d = -std::cos(2.0 * pi * f / sample_rate);
    BiquadSection s;
    s.b0 = 1.0 + (1.0 + k) * h;
    s.b1 = (1.0 - k) * d;
    s.b2 = -(k + (1.0 + k) * h);
    s.a1 = s.b1;
    s.a2 = -k;
    return s;
}

BiquadSection lowpass(double fc)
{
    constexpr double fs = sample_rate;
    const double kk = 2.0 * fs * std::tan(pi * fc / fs);
    const double c = 1.0 / 0.707;
    const double d = kk * kk + 2.0 * kk * fs * c + 4.0 * fs * fs;
    BiquadSection s;
    s.b0 = kk * kk / d;
    s.b1 = 2.0 * s.b0;
    s.b2 = s.b0;
    s.a1 = -(8.0 * fs * fs - 2.0 * kk * kk) / d;
    s.a2 = (kk * kk - 2.0 * kk * fs * c + 4.0 * fs * fs) / d;
    return s;
}

enum class Shelf { bass, treble };

BiquadSection shelf(Shelf which, double f, int gain)
{
    const double v = level_to_amplitude(gain);
    const double v2 = v * v;
    double vc = v;  // corner at half the shelf gain in dB
    if (gain <= -60 || gain >= 60) {
        // At the ends of the range the corner sits 3 dB from the full gain.
        if (which == Shelf::bass) {
            vc = v > 1.0 ? v2 / 2.0 : 2.0 * v2;
        } else {
            const double m = v > 1.0 ? 0.707106781373095 * v : 1.414213562 * v;
            vc = m * m;
        }
    }
    const double x = (vc - 1.0) / (v2 - vc);
    const double p = std::pow(x, 0.25);
    const double p2 = p * p;
    const double r_ = std::sqrt(v) * p;
    const double r2 = r_ * r_;
    const double a = 0.7071067811865476 * p;
    const double r = 0.7071067811865476 * r_;
    const double t = std::tan(pi * (f / sample_rate - 0.25));
    const double sigma = which == Shelf::bass ? 1.0 : -1.0;

    auto poly = [t](double c0, double c1, double c2) { return c0 + c1 * t + c2 * t * t; };
    const double d = poly(1.0 + 2.0 * a + p2, sigma * (2.0 * p2 - 2.0), 1.0 - 2.0 * a + p2);
    BiquadSection s;
    s.b0 = poly(1.0 + 2.0 * r + r2, sigma * (2.0 * r2 - 2.0), 1.0 - 2.0 * r + r2) / d;
    s.b1 = poly(sigma * (2.0 * r2 - 2.0), 4.0 * r2 + 4.0, sigma * (2.0 * r2 - 2.0)) / d;
    s.b2 = poly(1.0 - 2.0 * r + r2, sigma * (2.0 * r2 - 2.0), 1.0 + 2.0 * r + r2) / d;
    s.a1 = poly(sigma * (2.0 * p2 - 2.0), 4.0 * p2 + 4.0, sigma * (2.0 * p2 - 2.0)) / d;
    s.a2 = poly(1.0 - 2.0 * a + p2, sigma * (2.0 * p2 - 2.0), 1.0 + 2.0 * a + p2) / d;
    return s;
}

// |H|^2 at every point of the table. The loop has no branches and writes a
// local array (which cannot alias the table), so the compiler vectorises it.
TK770_WIDE_VECTORS void magnitudes2(const BiquadSection& s, std::array<double, padded_points>& result)
{
    const PointTable& pt = points();
    const double b0 = s.b0, b1 = s.b1, b2 = s.b2, a1 = s.a1, a2 = s.a2;
    alignas(32) std::array<double, padded_points> out;
    for (int k = 0; k < padded_points; ++k) {
        const double nr = b0 + b1 * pt.cos1[k] + b2 * pt.cos2[k];
        const double ni = b1 * pt.sin1[k] + b2 * pt.sin2[k];
        const double dr = 1.0 + a1 * pt.cos1[k] + a2 * pt.cos2[k];
        const double di = a1 * pt.sin1[k] + a2 * pt.sin2[k];
        out[k] = (nr * nr + ni * ni) / (dr * dr + di * di);
    }
    result = out;
}

// into[k] *= row[k], through a local so that the loop vectorises without a
// run-time overlap check.
TK770_WIDE_VECTORS void multiply_into(std::array<double, padded_points>& into,
                                      const std::array<double, padded_points>& row)
{
    alignas(32) std::array<double, padded_points> out;
    for (int k = 0; k < padded_points; ++k) out[k] = into[k] * row[k];
    into = out;
}

}  // namespace

double curve_frequency(int k) { return points().frequency.at(static_cast<std::size_t>(k)); }

double section_gain_db(const BiquadSection& s, double frequency)
{
    const double w = 2.0 * pi * frequency / sample_rate;
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> z2 = z1 * z1;
    const std::complex<double> h = (s.b0 + s.b1 * z1 + s.b2 * z2) / (1.0 + s.a1 * z1 + s.a2 * z2);
    return 20.0 * std::log10(std::abs(h));
}

CurveLayout curve_layout(int selected_channel, int graph_height)
{
    CurveLayout layout{graph_height / 2, response_section_count};
    if (selected_channel == channel_count - 1) {
        layout.base -= 50;
        layout.section_count = sw_section_count;
    }
    return layout;
}

int curve_row(int base, double sum)
{
    constexpr double far = 1.0e6;
    double y = base - 2.0 * sum;
    if (std::isnan(y)) y = far;
    return static_cast<int>(std::clamp(y, -far, far));
}

ResponseModel::ResponseModel() : m_stale(~0u), m_group_stale(~0u) {}

void ResponseModel::set_section(int index, const BiquadSection& section)
{
    m_sections.at(static_cast<std::size_t>(index)) = section;
    m_stale |= 1u << index;
    m_group_stale |= 1u << (index / group_size);
    m_sums_count = -1;
}

void ResponseModel::ComputeSection(ParameterImage& image, int channel, int index, int kind)
{
    const bool eq_channel = channel >= 0 && channel < eq_channel_count;
    switch (kind) {
    case kind_sw_peaking:
        if (index == 0 || index == 1) {
            const SwFilter& f = image.sw_filter[index];
            set_section(index, peaking(f.fc, 0.5 + 0.25 * f.q, f.cut));
        }
        break;
    case kind_band:
        if (eq_channel && index >= 0 && index < band_count)
            set_section(index, peaking(BandFrequencies[index], 4.32, image.eq[channel][index]));
        break;
    case kind_sw_lowpass:
        if (index >= 2 && index <= 5) {
            if (index > image.sw_lpf_mode + 1)
                set_section(index, unity_section);
            else
                set_section(index, lowpass(turnover_frequency(image.sw_lpf_freq)));
        }
        break;
    case kind_bass_shelf:
    case kind_treble_shelf:
        if (eq_channel) {
            ToneRecord& tone = image.tone[channel];
            const bool bass = kind == kind_bass_shelf;
            std::int8_t& gain = bass ? tone.bass_gain : tone.treble_gain;
            // The design is singular at 0 dB; the image keeps +0.1 dB instead.
            if (gain == 0) gain = 1;
            const double f = bass ? turnover_frequency(tone.bass_freq)
                                  : turnover_frequency(treble_turnover_first + tone.treble_freq);
            set_section(bass ? bass_shelf_entry : treble_shelf_entry,
                        shelf(bass ? Shelf::bass : Shelf::treble, f, gain));
        }
        break;
    default:
        break;
    }
}

const std::array<double, curve_point_count>& ResponseModel::curve_sums(int count)
{
    count = std::clamp(count, 0, response_section_count);
    if (count == m_sums_count) return m_sums;

    // Only the drawn sections need fresh magnitudes; the others stay stale.
    for (int i = 0; i < count; ++i) {
        if (m_stale & (1u << i)) {
            magnitudes2(m_sections[i], m_magnitude2[i]);
            m_stale &= ~(1u << i);
        }
    }

    // Sum of 40 ln|H_i| = 20 ln(prod |H_i|^2): one logarithm per point. The
    // product is always rebuilt the same way from the cached rows (whole
    // groups in order, then the sections of a partial group in order), so a
    // curve reached by single-section updates equals a fresh computation.
    alignas(32) PointRow product;
    product.fill(1.0);
    int i = 0;
    for (int g = 0; g < group_count; ++g) {
        const int begin = g * group_size;
        const int end = std::min(begin + group_size, response_section_count);
        if (end > count) break;
        if (m_group_stale & (1u << g)) {
            alignas(32) PointRow group = m_magnitude2[begin];
            for (int s = begin + 1; s < end; ++s) multiply_into(group, m_magnitude2[s]);
            m_group_product[g] = group;
            m_group_stale &= ~(1u << g);
        }
        multiply_into(product, m_group_product[g]);
        i = end;
    }
    for (; i < count; ++i) multiply_into(product, m_magnitude2[i]);
    for (int k = 0; k < curve_point_count; ++k) m_sums[k] = 20.0 * std::log(product[k]);
    m_sums_count = count;
    return m_sums;
}

CurveRows ResponseModel::curve_rows(int base, int count)
{
    const auto& sums = curve_sums(count);
    CurveRows rows;
    for (int k = 0; k < curve_point_count; ++k) rows[k] = curve_row(base, sums[k]);
    return rows;
}

}  // namespace tk770
