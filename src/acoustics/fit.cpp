#include "acoustics/fit.h"

#include "core/response.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

namespace tk770 {

namespace {

constexpr int gain_min = -60;  // the field range of eq and the shelves, tenths
constexpr int gain_max = 60;
constexpr int gain_steps = gain_max - gain_min + 1;
// Points of the fine grid in each band, evenly spread on log frequency. The
// band sections overlap their neighbours, so a band's predicted level is the
// power mean of the whole response across it, never its value at the centre.
constexpr int points_per_band = 16;
constexpr int grid_size = band_count * points_per_band;
// A band whose residual is smaller than this has not been stopped short.
constexpr double stop_tolerance_db = 0.05;

// The response of each fitted section at every grid point, in dB, for each
// whole-tenth gain, designed by the response model the graph draws. Between
// two tenths the model is read linearly, which gives the solver exact slopes.
class SectionTable {
public:
    SectionTable(const ParameterImage& image, int channel, bool shelves) : m_image(image), m_channel(channel)
    {
        for (int b = 0; b < band_count; ++b) {
            const int i = b + processor_band_offset;
            const double lo = band_lower_edge(i), hi = band_upper_edge(i);
            for (int p = 0; p < points_per_band; ++p) {
                const int k = b * points_per_band + p;
                const double w = 2.0 * std::numbers::pi * lo * std::pow(hi / lo, (p + 0.5) / points_per_band) / sample_rate;
                m_cos1[k] = std::cos(w);
                m_sin1[k] = std::sin(w);
                m_cos2[k] = std::cos(2.0 * w);
                m_sin2[k] = std::sin(2.0 * w);
            }
        }
        m_rows.resize(static_cast<std::size_t>(section_count(shelves)) * gain_steps);
    }

    static int section_count(bool shelves) { return band_count + (shelves ? 2 : 0); }

    // Section s: bands 0..26, then the bass and the treble shelf.
    const std::vector<double>& row(int s, int gain)
    {
        gain = std::clamp(gain, gain_min, gain_max);
        auto& slot = m_rows[static_cast<std::size_t>(s * gain_steps + gain - gain_min)];
        if (!slot) {
            slot = std::make_unique<std::vector<double>>(grid_size);
            ParameterImage image = m_image;
            int entry = s, kind = kind_band;
            if (s < band_count) {
                image.eq[m_channel][s] = static_cast<std::int8_t>(gain);
            } else if (s == band_count) {
                image.tone[m_channel].bass_gain = static_cast<std::int8_t>(gain);
                entry = bass_shelf_entry;
                kind = kind_bass_shelf;
            } else {
                image.tone[m_channel].treble_gain = static_cast<std::int8_t>(gain);
                entry = treble_shelf_entry;
                kind = kind_treble_shelf;
            }
            m_model.ComputeSection(image, m_channel, s < band_count ? s : 0, kind);
            // |H|^2 on the unit circle, as section_gain_db has it, with the
            // grid's sines and cosines computed once.
            const BiquadSection& s_ = m_model.section(entry);
            for (int p = 0; p < grid_size; ++p) {
                const double nr = s_.b0 + s_.b1 * m_cos1[p] + s_.b2 * m_cos2[p];
                const double ni = s_.b1 * m_sin1[p] + s_.b2 * m_sin2[p];
                const double dr = 1.0 + s_.a1 * m_cos1[p] + s_.a2 * m_cos2[p];
                const double di = s_.a1 * m_sin1[p] + s_.a2 * m_sin2[p];
                (*slot)[static_cast<std::size_t>(p)] = 10.0 * std::log10((nr * nr + ni * ni) / (dr * dr + di * di));
            }
        }
        return *slot;
    }

private:
    ParameterImage m_image;
    int m_channel;
    ResponseModel m_model;
    std::array<double, grid_size> m_cos1{}, m_sin1{}, m_cos2{}, m_sin2{};
    std::vector<std::unique_ptr<std::vector<double>>> m_rows;
};

// The fit problem: the change of the summed response against the settings
// in effect while measuring, and the band residuals it gives.
struct Problem {
    SectionTable* table;
    std::vector<int> old_gain;  // per section
    std::vector<int> sections;  // the unknowns' section numbers
    std::vector<int> bands;     // the bands inside the range
    std::vector<double> wanted; // per range band: target - seat average
    std::vector<double> delta;  // scratch: response change per grid point

    // Response change at every grid point for the unknowns at x (tenths).
    // With slopes, also each unknown's change per tenth.
    void response(const std::vector<double>& x, std::vector<std::vector<double>>* slopes)
    {
        delta.assign(grid_size, 0.0);
        if (slopes) slopes->assign(sections.size(), std::vector<double>(grid_size, 0.0));
        for (std::size_t u = 0; u < sections.size(); ++u) {
            const int s = sections[u];
            const int g0 = std::clamp(static_cast<int>(std::floor(x[u])), gain_min, gain_max - 1);
            const double t = x[u] - g0;
            const auto& r0 = table->row(s, g0);
            const auto& r1 = table->row(s, g0 + 1);
            const auto& old = table->row(s, old_gain[static_cast<std::size_t>(s)]);
            for (int p = 0; p < grid_size; ++p) {
                const std::size_t q = static_cast<std::size_t>(p);
                delta[q] += r0[q] + t * (r1[q] - r0[q]) - old[q];
                if (slopes) (*slopes)[u][q] = r1[q] - r0[q];
            }
        }
    }

    // Moves one unknown between whole tenths, changing the response in place.
    void move(std::size_t u, int from, int to)
    {
        const auto& a = table->row(sections[u], from);
        const auto& b = table->row(sections[u], to);
        for (std::size_t q = 0; q < grid_size; ++q) delta[q] += b[q] - a[q];
    }

    // A band's level change: the power mean of the response change across it.
    // With weights, also each grid point's share of that power.
    double band_change(int b, double* weights) const
    {
        const int first = b * points_per_band;
        double sum = 0;
        for (int p = 0; p < points_per_band; ++p) {
            const double w = std::pow(10.0, delta[static_cast<std::size_t>(first + p)] / 10.0);
            if (weights) weights[p] = w;
            sum += w;
        }
        if (weights)
            for (int p = 0; p < points_per_band; ++p) weights[p] /= sum;
        return 10.0 * std::log10(sum / points_per_band);
    }

    // Residuals (band change - wanted) before the offset; their mean is the
    // best offset, and the cost is the sum of squares around it.
    double cost(Eigen::VectorXd* residual, double* offset) const
    {
        const Eigen::Index m = static_cast<Eigen::Index>(bands.size());
        Eigen::VectorXd r(m);
        for (Eigen::Index i = 0; i < m; ++i)
            r[i] = band_change(bands[static_cast<std::size_t>(i)], nullptr) - wanted[static_cast<std::size_t>(i)];
        const double c = r.mean();
        if (offset) *offset = c;
        if (residual) *residual = r;
        return (r.array() - c).square().sum();
    }
};

}  // namespace

const char* stop_reason_text(StopReason reason)
{
    switch (reason) {
    case StopReason::limit: return "limit";
    case StopReason::spread: return "spread";
    case StopReason::range: return "range";
    case StopReason::none: break;
    }
    return "";
}

std::variant<SeatSummary, std::string> summarise_seats(std::span<const ThirdOctaveLevels> seats, AverageMode mode)
{
    if (seats.empty()) return std::string("no seat measurements");
    for (std::size_t s = 0; s < seats.size(); ++s)
        for (int b = 0; b < third_octave_count; ++b)
            if (!std::isfinite(seats[s][static_cast<std::size_t>(b)]))
                return "seat " + std::to_string(s + 1) + ": no level in the " + band_label(b) + " Hz band";

    SeatSummary summary;
    const double n = static_cast<double>(seats.size());
    for (int b = 0; b < third_octave_count; ++b) {
        std::vector<double> levels;
        for (const auto& seat : seats) levels.push_back(seat[static_cast<std::size_t>(b)]);
        summary.average[static_cast<std::size_t>(b)] = average_level(levels, mode);
    }
    // Each seat's mean over 500 Hz .. 2 kHz, against the mean of those means.
    std::vector<double> seat_mean(seats.size(), 0.0);
    constexpr int align_first = 14, align_last = 20;  // 500 Hz, 2 kHz
    for (std::size_t s = 0; s < seats.size(); ++s) {
        for (int b = align_first; b <= align_last; ++b) seat_mean[s] += seats[s][static_cast<std::size_t>(b)];
        seat_mean[s] /= align_last - align_first + 1;
    }
    double common = 0;
    for (double m : seat_mean) common += m / n;
    for (int b = 0; b < third_octave_count; ++b) {
        double mean = 0, square = 0;
        for (std::size_t s = 0; s < seats.size(); ++s) mean += (seats[s][static_cast<std::size_t>(b)] - seat_mean[s] + common) / n;
        for (std::size_t s = 0; s < seats.size(); ++s) {
            const double d = seats[s][static_cast<std::size_t>(b)] - seat_mean[s] + common - mean;
            square += d * d / n;
        }
        summary.spread[static_cast<std::size_t>(b)] = std::sqrt(square);
    }
    return summary;
}

double average_level(std::span<const double> levels, AverageMode mode)
{
    if (levels.empty()) return std::numeric_limits<double>::quiet_NaN();
    double sum = 0;
    for (double l : levels) sum += mode == AverageMode::power ? std::pow(10.0, l / 10.0) : l;
    sum /= static_cast<double>(levels.size());
    return mode == AverageMode::power ? 10.0 * std::log10(sum) : sum;
}

std::variant<FitResult, std::string> fit_channel(const ParameterImage& measured_with, int channel,
                                                 std::span<const ThirdOctaveLevels> seats, const Target& target,
                                                 const FitOptions& options)
{
    if (channel < 0 || channel >= eq_channel_count)
        return "channel " + std::to_string(channel) + " has no equaliser (0 to 6: L, C, R, SL, SR, BSL, BSR)";
    if (!(options.boost_max_db >= 0) || !(options.cut_max_db >= 0) || !(options.spread_max_db >= 0))
        return std::string("the boost, cut and spread limits must be 0 dB or more");
    if (!(options.range_low_hz < options.range_high_hz))
        return std::string("the fit range must run from a lower to a higher frequency");
    auto summary_or = summarise_seats(seats, options.average);
    if (auto* error = std::get_if<std::string>(&summary_or)) return *error;
    const SeatSummary& summary = std::get<SeatSummary>(summary_or);

    SectionTable table(measured_with, channel, options.shelves);
    Problem problem{&table, {}, {}, {}, {}, {}};
    const int section_total = SectionTable::section_count(options.shelves);
    for (int b = 0; b < band_count; ++b) problem.old_gain.push_back(measured_with.eq[channel][b]);
    if (options.shelves) {
        // A shelf at 0 dB is designed at +0.1 dB, as the processor does.
        auto shelf_gain = [](int g) { return g == 0 ? 1 : g; };
        problem.old_gain.push_back(shelf_gain(measured_with.tone[channel].bass_gain));
        problem.old_gain.push_back(shelf_gain(measured_with.tone[channel].treble_gain));
    }

    const int boost_limit = std::clamp(static_cast<int>(std::floor(options.boost_max_db * 10.0 + 1e-9)), 0, gain_max);
    const int cut_limit = std::clamp(static_cast<int>(std::ceil(-options.cut_max_db * 10.0 - 1e-9)), gain_min, 0);
    std::vector<int> lower, upper;
    std::vector<bool> spread_capped;
    FitResult result;
    result.channel = channel;
    for (int b = 0; b < band_count; ++b) {
        const int i = b + processor_band_offset;
        const bool in_range = band_nominal(i) >= options.range_low_hz && band_nominal(i) <= options.range_high_hz;
        if (!in_range) continue;
        problem.bands.push_back(b);
        problem.wanted.push_back(target.db(band_centre(i)) - summary.average[static_cast<std::size_t>(i)]);
        problem.sections.push_back(b);
        const bool capped = summary.spread[static_cast<std::size_t>(i)] > options.spread_max_db;
        lower.push_back(cut_limit);
        upper.push_back(capped ? 0 : boost_limit);
        spread_capped.push_back(capped && boost_limit > 0);
    }
    if (problem.bands.empty()) return std::string("the fit range holds none of the processor's bands");
    for (int s = band_count; s < section_total; ++s) {
        problem.sections.push_back(s);
        lower.push_back(cut_limit);
        upper.push_back(boost_limit);
        spread_capped.push_back(false);
    }

    // Projected Gauss-Newton on the continuous gains with the offset free.
    const std::size_t n = problem.sections.size();
    const Eigen::Index m = static_cast<Eigen::Index>(problem.bands.size());
    std::vector<double> x(n);
    for (std::size_t u = 0; u < n; ++u)
        x[u] = std::clamp(problem.old_gain[static_cast<std::size_t>(problem.sections[u])], lower[u], upper[u]);
    std::vector<std::vector<double>> slopes;
    std::array<double, points_per_band> weights{};
    for (int iteration = 0; iteration < 60; ++iteration) {
        problem.response(x, &slopes);
        Eigen::VectorXd r;
        double offset = 0;
        const double cost = problem.cost(&r, &offset);
        Eigen::MatrixXd jacobian(m, static_cast<Eigen::Index>(n) + 1);
        for (Eigen::Index i = 0; i < m; ++i) {
            const int b = problem.bands[static_cast<std::size_t>(i)];
            problem.band_change(b, weights.data());
            for (std::size_t u = 0; u < n; ++u) {
                double d = 0;
                for (int p = 0; p < points_per_band; ++p)
                    d += weights[static_cast<std::size_t>(p)] * slopes[u][static_cast<std::size_t>(b * points_per_band + p)];
                jacobian(i, static_cast<Eigen::Index>(u)) = d;
            }
            jacobian(i, static_cast<Eigen::Index>(n)) = -1.0;
        }
        const Eigen::VectorXd e = r.array() - offset;
        const Eigen::VectorXd gradient = jacobian.transpose() * e;
        // Unknowns held at a bound that the gradient pushes against stay there.
        std::vector<Eigen::Index> free;
        for (std::size_t u = 0; u < n; ++u) {
            const auto k = static_cast<Eigen::Index>(u);
            const bool held = (x[u] <= lower[u] && gradient[k] > 0) || (x[u] >= upper[u] && gradient[k] < 0);
            if (!held) free.push_back(k);
        }
        free.push_back(static_cast<Eigen::Index>(n));
        Eigen::MatrixXd jf(m, static_cast<Eigen::Index>(free.size()));
        for (std::size_t k = 0; k < free.size(); ++k) jf.col(static_cast<Eigen::Index>(k)) = jacobian.col(free[k]);
        Eigen::MatrixXd normal = jf.transpose() * jf;
        normal.diagonal().array() += 1e-9 * (1.0 + normal.diagonal().maxCoeff());
        const Eigen::VectorXd step = normal.ldlt().solve(-(jf.transpose() * e));

        bool accepted = false;
        double moved = 0;
        for (double alpha = 1.0; alpha > 1e-4; alpha *= 0.5) {
            std::vector<double> trial = x;
            for (std::size_t k = 0; k + 1 < free.size(); ++k) {
                const auto u = static_cast<std::size_t>(free[k]);
                trial[u] = std::clamp(x[u] + alpha * step[static_cast<Eigen::Index>(k)], static_cast<double>(lower[u]),
                                      static_cast<double>(upper[u]));
            }
            problem.response(trial, nullptr);
            if (problem.cost(nullptr, nullptr) < cost - 1e-12) {
                for (std::size_t u = 0; u < n; ++u) moved = std::max(moved, std::abs(trial[u] - x[u]));
                x = trial;
                accepted = true;
                break;
            }
        }
        if (!accepted || moved < 1e-3) break;
    }

    // Whole tenths, then single-tenth moves while any makes the fit better:
    // rounding never leaves a rounded neighbour that fits better.
    std::vector<double> rounded(n);
    for (std::size_t u = 0; u < n; ++u)
        rounded[u] = std::clamp(static_cast<int>(std::lround(x[u])), lower[u], upper[u]);
    problem.response(rounded, nullptr);
    double best = problem.cost(nullptr, nullptr);
    for (int pass = 0; pass < 100; ++pass) {
        bool improved = false;
        for (std::size_t u = 0; u < n; ++u) {
            const double keep = rounded[u];
            double choice = keep;
            for (int step : {-1, 1}) {
                const double candidate = keep + step;
                if (candidate < lower[u] || candidate > upper[u]) continue;
                problem.move(u, static_cast<int>(rounded[u]), static_cast<int>(candidate));
                rounded[u] = candidate;
                const double c = problem.cost(nullptr, nullptr);
                if (c < best - 1e-12) {
                    best = c;
                    choice = candidate;
                }
                problem.move(u, static_cast<int>(candidate), static_cast<int>(keep));
                rounded[u] = keep;
            }
            if (choice != keep) problem.move(u, static_cast<int>(keep), static_cast<int>(choice));
            rounded[u] = choice;
            improved = improved || choice != keep;
        }
        if (!improved) break;
    }

    // The report.
    problem.response(rounded, nullptr);
    Eigen::VectorXd r;
    problem.cost(&r, &result.offset_db);
    double before_offset = 0;
    {
        Eigen::VectorXd wanted(m);
        for (Eigen::Index i = 0; i < m; ++i) wanted[i] = -problem.wanted[static_cast<std::size_t>(i)];
        before_offset = wanted.mean();
        result.max_deviation_before_db = (wanted.array() - before_offset).abs().maxCoeff();
        result.max_deviation_after_db = (r.array() - result.offset_db).abs().maxCoeff();
    }
    std::vector<int> new_gain = problem.old_gain;
    for (std::size_t u = 0; u < n; ++u) new_gain[static_cast<std::size_t>(problem.sections[u])] = static_cast<int>(rounded[u]);
    std::size_t range_index = 0;
    for (int b = 0; b < band_count; ++b) {
        const int i = b + processor_band_offset;
        BandFit& band = result.bands[static_cast<std::size_t>(b)];
        band.centre_hz = band_centre(i);
        band.seat_average_db = summary.average[static_cast<std::size_t>(i)];
        band.spread_db = summary.spread[static_cast<std::size_t>(i)];
        band.predicted_db = band.seat_average_db + problem.band_change(b, nullptr);
        band.old_gain = measured_with.eq[channel][b];
        band.new_gain = new_gain[static_cast<std::size_t>(b)];
        if (range_index < problem.bands.size() && problem.bands[range_index] == b) {
            band.target_db = target.db(band.centre_hz) + result.offset_db;
            const double miss = band.predicted_db - band.target_db;
            const std::size_t u = range_index;  // bands come first among the unknowns
            if (band.new_gain >= upper[u] && miss < -stop_tolerance_db)
                band.reason = spread_capped[u] ? StopReason::spread : StopReason::limit;
            else if (band.new_gain <= lower[u] && miss > stop_tolerance_db)
                band.reason = StopReason::limit;
            ++range_index;
        } else {
            band.target_db = std::numeric_limits<double>::quiet_NaN();
            band.reason = StopReason::range;
        }
    }
    // A shelf left where it was keeps its byte (0 and 1 are the same design).
    const ToneRecord& tone = measured_with.tone[channel];
    auto shelf_result = [&](int s, std::int8_t was) {
        return options.shelves && new_gain[static_cast<std::size_t>(s)] != problem.old_gain[static_cast<std::size_t>(s)]
                   ? static_cast<std::int8_t>(new_gain[static_cast<std::size_t>(s)])
                   : was;
    };
    result.bass_gain = shelf_result(band_count, tone.bass_gain);
    result.treble_gain = shelf_result(band_count + 1, tone.treble_gain);
    return result;
}

void apply_fit(ParameterImage& image, const FitResult& result)
{
    for (int b = 0; b < band_count; ++b)
        image.eq[result.channel][b] = static_cast<std::int8_t>(result.bands[static_cast<std::size_t>(b)].new_gain);
    image.tone[result.channel].bass_gain = result.bass_gain;
    image.tone[result.channel].treble_gain = result.treble_gain;
}

double c_weighted_level(const ThirdOctaveLevels& levels)
{
    double power = 0;
    for (int b = 0; b < third_octave_count; ++b)
        power += std::pow(10.0, (levels[static_cast<std::size_t>(b)] + c_weighting_db(band_centre(b))) / 10.0);
    return 10.0 * std::log10(power);
}

std::variant<LevelResult, std::string> level_match(const std::array<std::optional<double>, eq_channel_count>& level_dbc,
                                                   const ParameterImage& image, const LevelOptions& options)
{
    if (options.reference < 0 || options.reference >= eq_channel_count)
        return "reference channel " + std::to_string(options.reference) + " is not one of 0 to 6";
    const auto& reference = level_dbc[static_cast<std::size_t>(options.reference)];
    if (!reference) return std::string("the reference channel was not measured");
    // The screen level the reference stands for.
    const double screen = *reference + (options.reference < screen_channel_count ? 0.0 : options.surround_offset_db);
    LevelResult result;
    for (int ch = 0; ch < eq_channel_count; ++ch) {
        ChannelLevel& level = result.channels[static_cast<std::size_t>(ch)];
        level.old_code = level.new_code = image.output_gain[ch];
        const auto& measured = level_dbc[static_cast<std::size_t>(ch)];
        if (!measured) continue;
        level.measured = true;
        level.level_db = *measured;
        level.target_db = ch < screen_channel_count ? screen : screen - options.surround_offset_db;
        const long steps = std::lround(2.0 * (level.target_db - level.level_db));
        const long wanted = level.old_code + steps;
        level.new_code = static_cast<int>(std::clamp(wanted, 0L, 60L));
        level.at_limit = level.new_code != wanted;
        level.predicted_db = level.level_db + 0.5 * (level.new_code - level.old_code);
        if (options.spl_offset_db) level.level_spl = level.level_db + *options.spl_offset_db;
    }
    return result;
}

void apply_levels(ParameterImage& image, const LevelResult& result)
{
    for (int ch = 0; ch < eq_channel_count; ++ch)
        if (result.channels[static_cast<std::size_t>(ch)].measured)
            image.output_gain[ch] = static_cast<std::uint8_t>(result.channels[static_cast<std::size_t>(ch)].new_code);
}

}  // namespace tk770
