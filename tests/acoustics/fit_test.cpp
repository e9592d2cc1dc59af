#include "acoustics/fit.h"

#include "core/response.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace tk770 {
namespace {

constexpr int channel = 2;

// The change of every band's level when a channel's equaliser goes from one
// image to another: the processor's sections, summed and power-averaged over
// 200 points per band, a grid much finer than (and apart from) the fit's.
ThirdOctaveLevels response_change(ParameterImage from, ParameterImage to, int ch = channel)
{
    auto sections = [ch](ParameterImage& image) {
        ResponseModel model;
        for (int b = 0; b < band_count; ++b) model.ComputeSection(image, ch, b, kind_band);
        model.ComputeSection(image, ch, 0, kind_bass_shelf);
        model.ComputeSection(image, ch, 0, kind_treble_shelf);
        std::vector<BiquadSection> out(model.sections().begin(), model.sections().begin() + band_count);
        out.push_back(model.section(bass_shelf_entry));
        out.push_back(model.section(treble_shelf_entry));
        return out;
    };
    const auto a = sections(from), b = sections(to);
    ThirdOctaveLevels change{};
    constexpr int points = 200;
    for (int i = 0; i < third_octave_count; ++i) {
        const double lo = band_lower_edge(i), hi = band_upper_edge(i);
        double mean = 0;
        for (int p = 0; p < points; ++p) {
            const double f = lo * std::pow(hi / lo, (p + 0.5) / points);
            double db = 0;
            for (std::size_t s = 0; s < a.size(); ++s) db += section_gain_db(b[s], f) - section_gain_db(a[s], f);
            mean += std::pow(10.0, db / 10.0) / points;
        }
        change[static_cast<std::size_t>(i)] = 10.0 * std::log10(mean);
    }
    return change;
}

ParameterImage new_project()
{
    ParameterImage image{};
    image.reset_to_defaults();
    return image;
}

const Target& x_curve()
{
    static const Target target = std::get<Target>(parse_target("x-curve"));
    return target;
}

// A room that the equaliser `cure` makes follow the target exactly (80 dB
// above it), measured while `measured_with` was in effect.
ThirdOctaveLevels curable_room(const ParameterImage& measured_with, const ParameterImage& cure)
{
    const auto flat = new_project();
    const auto needs = response_change(flat, cure);
    const auto playing = response_change(flat, measured_with);
    ThirdOctaveLevels seat{};
    for (int i = 0; i < third_octave_count; ++i) {
        const auto k = static_cast<std::size_t>(i);
        seat[k] = 80.0 + x_curve().db(band_centre(i)) - needs[k] + playing[k];
    }
    return seat;
}

// Seat levels after the fit's settings replace those in effect, seen through
// the fine grid; the largest miss against the target moved by the best offset.
double largest_miss_after(const ParameterImage& measured_with, const FitResult& fit, const ThirdOctaveLevels& average,
                          const FitOptions& options)
{
    ParameterImage after = measured_with;
    apply_fit(after, fit);
    const auto change = response_change(measured_with, after);
    std::vector<double> miss;
    for (int b = 0; b < band_count; ++b) {
        const int i = b + processor_band_offset;
        if (band_nominal(i) < options.range_low_hz || band_nominal(i) > options.range_high_hz) continue;
        miss.push_back(average[static_cast<std::size_t>(i)] + change[static_cast<std::size_t>(i)] - x_curve().db(band_centre(i)));
    }
    double mean = 0;
    for (double m : miss) mean += m / static_cast<double>(miss.size());
    double worst = 0;
    for (double m : miss) worst = std::max(worst, std::abs(m - mean));
    return worst;
}

FitResult fit_ok(const ParameterImage& image, std::span<const ThirdOctaveLevels> seats, const FitOptions& options = {})
{
    auto result = fit_channel(image, channel, seats, x_curve(), options);
    if (auto* error = std::get_if<std::string>(&result)) ADD_FAILURE() << *error;
    return std::get<FitResult>(result);
}

ParameterImage with_gains(ParameterImage image, int (*gain)(int))
{
    for (int b = 0; b < band_count; ++b) image.eq[channel][b] = static_cast<std::int8_t>(gain(b));
    return image;
}

// A room whose cure lies inside the limits is brought to the target to
// within a tenth-step's worth, whatever equaliser played while measuring;
// its bands are recovered, since neighbouring sections overlap but differ.
TEST(Fit, CurableRoomsReachTheTarget)
{
    auto playing = with_gains(new_project(), [](int b) { return (b * 13) % 41 - 20; });
    playing.tone[channel].bass_gain = -35;
    for (const ParameterImage& measured_with : {new_project(), playing}) {
        // The cure changes only what the fit may change: the bands in the range.
        auto cure = measured_with;
        for (int b = 1; b < band_count - 1; ++b) cure.eq[channel][b] = static_cast<std::int8_t>((b * 37) % 81 - 50);
        const auto seat = curable_room(measured_with, cure);
        const std::vector<ThirdOctaveLevels> seats{seat, seat};
        const FitOptions options;
        const auto fit = fit_ok(measured_with, seats, options);
        EXPECT_LT(largest_miss_after(measured_with, fit, seat, options), 0.15);
        EXPECT_LT(fit.max_deviation_after_db, 0.15);
        EXPECT_GT(fit.max_deviation_before_db, 2.0);
        for (int b = 0; b < band_count; ++b) {
            const auto& band = fit.bands[static_cast<std::size_t>(b)];
            EXPECT_EQ(band.old_gain, measured_with.eq[channel][b]);
            if (band.reason == StopReason::range) continue;
            // A band at an end of the range is seen on its inner side only.
            const bool range_end = b == 1 || b == band_count - 2;
            EXPECT_NEAR(band.new_gain, cure.eq[channel][b], range_end ? 5 : 3) << "band " << b;
            EXPECT_EQ(band.reason, StopReason::none) << "band " << b;
            EXPECT_NEAR(band.predicted_db, band.target_db, 0.15) << "band " << b;
        }
        EXPECT_EQ(fit.bass_gain, measured_with.tone[channel].bass_gain);
    }
}

// A dip deeper than the boost limit and a peak higher than the cut limit
// stop at the limits and say so; no band ever leaves its bounds.
TEST(Fit, LimitsAreKeptAndReported)
{
    ThirdOctaveLevels seat{};
    for (int i = 0; i < third_octave_count; ++i) seat[static_cast<std::size_t>(i)] = 80.0 + x_curve().db(band_centre(i));
    seat[9 + processor_band_offset] -= 12.0;   // 250 Hz
    seat[17 + processor_band_offset] += 12.0;  // 2 kHz
    const std::vector<ThirdOctaveLevels> seats{seat};
    for (const auto& [boost, cut] : {std::pair{3.0, 6.0}, std::pair{1.5, 3.0}, std::pair{0.0, 6.0}, std::pair{3.0, 0.0}}) {
        FitOptions options;
        options.boost_max_db = boost;
        options.cut_max_db = cut;
        const auto fit = fit_ok(new_project(), seats, options);
        for (const auto& band : fit.bands) {
            EXPECT_LE(band.new_gain, std::lround(boost * 10));
            EXPECT_GE(band.new_gain, -std::lround(cut * 10));
        }
        EXPECT_EQ(fit.bands[9].new_gain, std::lround(boost * 10)) << boost;
        EXPECT_EQ(fit.bands[9].reason, StopReason::limit);
        EXPECT_EQ(fit.bands[17].new_gain, -std::lround(cut * 10)) << cut;
        EXPECT_EQ(fit.bands[17].reason, StopReason::limit);
    }
}

// Seats that disagree in a band mean a null at some of them: no boost there
// while the spread is above the limit, and the report says why.
TEST(Fit, NoBoostWhereTheSeatsDisagree)
{
    ThirdOctaveLevels base{};
    for (int i = 0; i < third_octave_count; ++i) base[static_cast<std::size_t>(i)] = 80.0 + x_curve().db(band_centre(i));
    auto near = base, far = base;
    const std::size_t at = 5 + processor_band_offset;  // 125 Hz
    near[at] -= 4.0;
    far[at] -= 12.0;  // spread 4 dB, average 6.4 dB low
    const std::vector<ThirdOctaveLevels> seats{near, far};
    struct Case {
        double spread_max;
        StopReason reason;
    };
    for (const Case c : {Case{3.0, StopReason::spread}, Case{5.0, StopReason::limit}}) {
        FitOptions options;
        options.spread_max_db = c.spread_max;
        const auto fit = fit_ok(new_project(), seats, options);
        EXPECT_NEAR(fit.bands[5].spread_db, 4.0, 1e-9);
        EXPECT_EQ(fit.bands[5].reason, c.reason);
        EXPECT_EQ(fit.bands[5].new_gain, c.reason == StopReason::spread ? 0 : 30);
    }
}

// Bands outside the range keep the gains they had, and the target has no
// opinion there.
TEST(Fit, BandsOutsideTheRangeStayAsTheyWere)
{
    auto measured_with = with_gains(new_project(), [](int b) { return b % 2 ? 15 : -25; });
    const auto cure = with_gains(new_project(), [](int b) { return (b * 7) % 31 - 20; });
    const auto seat = curable_room(measured_with, cure);
    const std::vector<ThirdOctaveLevels> seats{seat};
    FitOptions options;
    options.range_low_hz = 100;
    options.range_high_hz = 8000;
    const auto fit = fit_ok(measured_with, seats, options);
    for (int b = 0; b < band_count; ++b) {
        const auto& band = fit.bands[static_cast<std::size_t>(b)];
        const double nominal = band_nominal(b + processor_band_offset);
        if (nominal < 100 || nominal > 8000) {
            EXPECT_EQ(band.new_gain, measured_with.eq[channel][b]) << nominal;
            EXPECT_EQ(band.reason, StopReason::range);
            EXPECT_TRUE(std::isnan(band.target_db));
        } else {
            EXPECT_FALSE(std::isnan(band.target_db)) << nominal;
        }
    }
    EXPECT_LT(largest_miss_after(measured_with, fit, seat, options), 0.3);
}

// Rounding to whole tenths never leaves a single-tenth neighbour that fits
// better: a room the bands cannot cure exactly (seat differences, a deep
// dip, a peak) is fitted, then every band moved one tenth either way within
// its bounds is judged on the fine grid. The margin covers the two grids'
// difference, which is far smaller than a tenth-step's effect.
TEST(Fit, NoRoundedNeighbourFitsBetter)
{
    std::vector<ThirdOctaveLevels> seats(3);
    for (int s = 0; s < 3; ++s)
        for (int i = 0; i < third_octave_count; ++i)
            seats[static_cast<std::size_t>(s)][static_cast<std::size_t>(i)] =
                80.0 + x_curve().db(band_centre(i)) + 2.5 * std::sin(0.8 * i + s) + 1.7 * std::cos(0.31 * i * (s + 1));
    const auto measured_with = new_project();
    const FitOptions options;
    const auto fit = fit_ok(measured_with, seats, options);
    const auto average = std::get<SeatSummary>(summarise_seats(seats)).average;

    auto cost = [&](const ParameterImage& after) {
        const auto change = response_change(measured_with, after);
        std::vector<double> miss;
        for (int b = 1; b < band_count - 1; ++b) {
            const auto i = static_cast<std::size_t>(b + processor_band_offset);
            miss.push_back(average[i] + change[i] - x_curve().db(band_centre(static_cast<int>(i))));
        }
        double mean = 0, sum = 0;
        for (double m : miss) mean += m / static_cast<double>(miss.size());
        for (double m : miss) sum += (m - mean) * (m - mean);
        return sum;
    };
    ParameterImage fitted = measured_with;
    apply_fit(fitted, fit);
    const double best = cost(fitted);
    for (int b = 1; b < band_count - 1; ++b) {
        for (int step : {-1, 1}) {
            ParameterImage neighbour = fitted;
            const int gain = neighbour.eq[channel][b] + step;
            if (gain > 30 || gain < -60 || (gain > 0 && fit.bands[static_cast<std::size_t>(b)].spread_db > 3.0)) continue;
            neighbour.eq[channel][b] = static_cast<std::int8_t>(gain);
            EXPECT_GE(cost(neighbour), best - 1e-3) << "band " << b << " moved by " << step;
        }
    }
}

// The same input gives the same output, bit for bit.
TEST(Fit, IsDeterministic)
{
    const auto cure = with_gains(new_project(), [](int b) { return (b * 29) % 61 - 40; });
    auto seat = curable_room(new_project(), cure);
    seat[12] += 0.123456789;
    const std::vector<ThirdOctaveLevels> seats{seat, curable_room(new_project(), new_project())};
    FitOptions options;
    options.shelves = true;
    const auto a = fit_ok(new_project(), seats, options);
    const auto b = fit_ok(new_project(), seats, options);
    for (int i = 0; i < band_count; ++i) {
        const auto& x = a.bands[static_cast<std::size_t>(i)];
        const auto& y = b.bands[static_cast<std::size_t>(i)];
        EXPECT_EQ(x.new_gain, y.new_gain);
        EXPECT_EQ(std::memcmp(&x.predicted_db, &y.predicted_db, sizeof(double)), 0);
    }
    EXPECT_EQ(std::memcmp(&a.offset_db, &b.offset_db, sizeof(double)), 0);
    EXPECT_EQ(a.bass_gain, b.bass_gain);
    EXPECT_EQ(a.treble_gain, b.treble_gain);
}

// With --shelves a broad tilt made by the shelves is taken out by the
// shelves; without, the shelf bytes are left alone.
TEST(Fit, ShelvesAreFittedOnlyWhenAsked)
{
    auto cure = new_project();
    cure.tone[channel].bass_gain = 50;
    cure.tone[channel].bass_freq = 5;     // 200 Hz
    cure.tone[channel].treble_gain = -40;
    cure.tone[channel].treble_freq = 6;   // 4 kHz
    const auto measured_with = new_project();
    const auto seat = curable_room(measured_with, cure);
    const std::vector<ThirdOctaveLevels> seats{seat};
    FitOptions options;
    options.boost_max_db = 6.0;
    options.shelves = true;
    const auto fit = fit_ok(measured_with, seats, options);
    EXPECT_GT(fit.bass_gain, 20);
    EXPECT_LT(fit.treble_gain, -20);
    EXPECT_LT(largest_miss_after(measured_with, fit, seat, options), 0.3);
    options.shelves = false;
    const auto bands_only = fit_ok(measured_with, seats, options);
    EXPECT_EQ(bands_only.bass_gain, measured_with.tone[channel].bass_gain);
    EXPECT_EQ(bands_only.treble_gain, measured_with.tone[channel].treble_gain);
}

TEST(Fit, RefusesWhatCannotBeFitted)
{
    const auto image = new_project();
    ThirdOctaveLevels seat{};
    const std::vector<ThirdOctaveLevels> one{seat};
    auto nan_seat = seat;
    nan_seat[20] = std::nan("");
    const std::vector<ThirdOctaveLevels> bad{seat, nan_seat};
    struct Case {
        int channel;
        std::span<const ThirdOctaveLevels> seats;
        FitOptions options;
        std::string says;
    };
    FitOptions high, reversed, negative;
    high.range_low_hz = 18000;
    high.range_high_hz = 20000;
    reversed.range_low_hz = 500;
    reversed.range_high_hz = 100;
    negative.cut_max_db = -1;
    for (const Case& c : {Case{7, one, {}, "channel 7 has no equaliser"}, Case{-1, one, {}, "no equaliser"},
                          Case{0, {}, {}, "no seat measurements"}, Case{0, bad, {}, "seat 2: no level in the 2000 Hz band"},
                          Case{0, one, high, "holds none"}, Case{0, one, reversed, "lower to a higher"},
                          Case{0, one, negative, "0 dB or more"}}) {
        const auto result = fit_channel(image, c.channel, c.seats, x_curve(), c.options);
        ASSERT_TRUE(std::holds_alternative<std::string>(result)) << c.says;
        EXPECT_NE(std::get<std::string>(result).find(c.says), std::string::npos) << std::get<std::string>(result);
    }
}

TEST(Seats, AveragesAndSpreadAfterAlignment)
{
    ThirdOctaveLevels quiet{}, loud{};
    for (auto& l : loud) l = 10.0;  // one seat 10 dB louder everywhere: no spread
    loud[5] = 16.0;                 // ... except 6 dB more in one band
    const std::vector<ThirdOctaveLevels> seats{quiet, loud};
    const auto power = std::get<SeatSummary>(summarise_seats(seats, AverageMode::power));
    const auto db = std::get<SeatSummary>(summarise_seats(seats, AverageMode::db));
    EXPECT_NEAR(power.average[0], 10.0 * std::log10((1.0 + 10.0) / 2.0), 1e-12);
    EXPECT_NEAR(db.average[0], 5.0, 1e-12);
    EXPECT_NEAR(power.spread[0], 0.0, 1e-12);
    EXPECT_NEAR(power.spread[5], 3.0, 1e-12);
    EXPECT_EQ(power.spread, db.spread);
}

TEST(Levels, ScreenToTheReferenceAndSurroundsBelowIt)
{
    auto image = new_project();
    image.output_gain[5] = 58;
    const std::array<std::optional<double>, eq_channel_count> measured{-20.3, -20.0, -19.2, -24.0, -22.6, -29.0,
                                                                       std::nullopt};
    struct Expect {
        int code;
        bool limit;
    };
    const std::array<Expect, 6> expect{{{45, false}, {44, false}, {42, false}, {46, false}, {43, false}, {60, true}}};
    LevelOptions options;
    options.spl_offset_db = 105.0;
    const auto result = std::get<LevelResult>(level_match(measured, image, options));
    for (int ch = 0; ch < 6; ++ch) {
        const auto& level = result.channels[static_cast<std::size_t>(ch)];
        EXPECT_EQ(level.new_code, expect[static_cast<std::size_t>(ch)].code) << ch;
        EXPECT_EQ(level.at_limit, expect[static_cast<std::size_t>(ch)].limit) << ch;
        EXPECT_DOUBLE_EQ(level.target_db, ch < 3 ? -20.0 : -23.0);
        if (!level.at_limit) {
            EXPECT_LE(std::abs(level.predicted_db - level.target_db), 0.25) << ch;
        }
        EXPECT_DOUBLE_EQ(*level.level_spl, *measured[static_cast<std::size_t>(ch)] + 105.0);
    }
    EXPECT_FALSE(result.channels[6].measured);
    apply_levels(image, result);
    EXPECT_EQ(image.output_gain[0], 45);
    EXPECT_EQ(image.output_gain[6], 44);

    // A surround as the reference stands for a screen level 3 dB above it.
    options.reference = 3;
    options.surround_offset_db = 2.0;
    const auto from_surround = std::get<LevelResult>(level_match(measured, new_project(), options));
    EXPECT_DOUBLE_EQ(from_surround.channels[1].target_db, -22.0);
    EXPECT_EQ(from_surround.channels[3].new_code, 44);

    options.reference = 6;
    EXPECT_NE(std::get<std::string>(level_match(measured, image, options)).find("not measured"), std::string::npos);
    options.reference = 7;
    EXPECT_NE(std::get<std::string>(level_match(measured, image, options)).find("not one of"), std::string::npos);
}

TEST(Levels, CWeightedLevelOfBands)
{
    ThirdOctaveLevels levels{};
    for (auto& l : levels) l = -300.0;
    levels[17] = -20.0;
    EXPECT_NEAR(c_weighted_level(levels), -20.0, 1e-9);
    levels[7] = -20.0;  // 100 Hz reads 0.3 dB down
    EXPECT_NEAR(c_weighted_level(levels), 10.0 * std::log10(0.01 + 0.01 * std::pow(10.0, -0.03)), 0.005);
}

}  // namespace
}  // namespace tk770
