// From seat measurements to equaliser settings: the seat average and spread,
// the fit of one channel's 27 bands (and shelves) against a target with the
// processor's own response model, and the matching of channel levels.
#pragma once

#include "acoustics/bands.h"
#include "acoustics/target.h"
#include "core/parameter_image.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

namespace tk770 {

enum class AverageMode { power, db };

struct SeatSummary {
    ThirdOctaveLevels average{};
    // Standard deviation of the seats' levels in a band, after each seat is
    // moved by its own 500 Hz .. 2 kHz mean to the seats' common mean.
    ThirdOctaveLevels spread{};
};

// Refuses no seats, seats that hold no finite level in a band.
std::variant<SeatSummary, std::string> summarise_seats(std::span<const ThirdOctaveLevels> seats,
                                                       AverageMode mode = AverageMode::power);

struct FitOptions {
    double boost_max_db = 3.0;
    double cut_max_db = 6.0;
    double spread_max_db = 3.0;  // no boost in a band whose spread is larger
    double range_low_hz = 50.0;  // nominal band labels, inclusive
    double range_high_hz = 12500.0;
    AverageMode average = AverageMode::power;
    bool shelves = false;  // also fit the bass and treble shelf gains
};

enum class StopReason { none, limit, spread, range };
const char* stop_reason_text(StopReason reason);

struct BandFit {
    double centre_hz = 0;
    double seat_average_db = 0;
    double spread_db = 0;
    // The target moved by the fit's free offset; NaN outside the range,
    // where the target has no opinion.
    double target_db = 0;
    double predicted_db = 0;  // seat average after the new settings
    int old_gain = 0;         // tenths of a dB
    int new_gain = 0;
    StopReason reason = StopReason::none;
};

struct FitResult {
    int channel = 0;
    std::array<BandFit, band_count> bands{};
    std::int8_t bass_gain = 0;  // tenths of a dB, as fitted or as they were
    std::int8_t treble_gain = 0;
    double offset_db = 0;  // the free level the target was moved by
    // Largest |seat average - target| over the range before, and predicted after.
    double max_deviation_before_db = 0;
    double max_deviation_after_db = 0;
};

// Fits channel 0..6. `measured_with` holds the settings in effect while the
// seats were measured; `seats` are their band levels. Deterministic: the
// same input gives the same result bit for bit.
std::variant<FitResult, std::string> fit_channel(const ParameterImage& measured_with, int channel,
                                                 std::span<const ThirdOctaveLevels> seats, const Target& target,
                                                 const FitOptions& options = {});

// Writes the fitted bands (and shelves) of the result's channel into `image`.
void apply_fit(ParameterImage& image, const FitResult& result);

// ---- Levels ----

inline constexpr int screen_channel_count = 3;  // L, C, R; the next four are surrounds

// C-weighted level of band levels (each band at its centre's weight).
double c_weighted_level(const ThirdOctaveLevels& levels);
// Power or dB mean of levels.
double average_level(std::span<const double> levels, AverageMode mode = AverageMode::power);

struct LevelOptions {
    int reference = 1;  // C
    double surround_offset_db = 3.0;
    std::optional<double> spl_offset_db;  // dB SPL that reads 0 dBFS
};

struct ChannelLevel {
    bool measured = false;
    double level_db = 0;  // dBC re full scale, seat average
    double target_db = 0;
    int old_code = 0;  // output_gain codes: dB = (code - 44) / 2
    int new_code = 0;
    double predicted_db = 0;
    bool at_limit = false;  // the gain range ended before the target
    std::optional<double> level_spl;  // dBC SPL, with an SPL offset
};

struct LevelResult {
    std::array<ChannelLevel, eq_channel_count> channels{};
};

// Screen channels go to the reference's level, surrounds to it minus the
// surround offset, in the output gain's 0.5 dB steps. Refuses a reference
// outside 0..6 or one that was not measured.
std::variant<LevelResult, std::string> level_match(const std::array<std::optional<double>, eq_channel_count>& level_dbc,
                                                   const ParameterImage& image, const LevelOptions& options = {});
void apply_levels(ParameterImage& image, const LevelResult& result);

}  // namespace tk770
