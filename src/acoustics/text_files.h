// The text files of room measurement: microphone calibration files as USB
// measurement microphones ship them, the plain export of room-measurement
// programs, and our own band table. Bad files are refused with a reason that
// names the line.
#pragma once

#include "acoustics/bands.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tk770 {

// Rows of (frequency, dB) with strictly increasing frequencies, read on a
// log-frequency axis: linear in dB between rows, flat beyond either end.
struct FrequencyCurve {
    std::vector<double> frequency_hz;
    std::vector<double> level_db;
    double at(double frequency) const;
};

// A microphone's own response; analysis subtracts it.
struct MicCalibration {
    FrequencyCurve response;
    std::optional<double> sensitivity_db;  // "Sens Factor =…dB" or "*1000Hz -36.6"
    std::optional<double> amplifier_gain_db;  // "AGain =18dB"
};

std::variant<MicCalibration, std::string> parse_mic_calibration(std::string_view text);
std::variant<MicCalibration, std::string> read_mic_calibration(const std::filesystem::path& path);

// A measurement: rows `frequency, SPL[, phase]` after `*` header lines, or
// our band table `centre_hz,level_db` under its header line.
std::variant<FrequencyCurve, std::string> parse_measurement(std::string_view text);
std::variant<FrequencyCurve, std::string> read_measurement(const std::filesystem::path& path);

// A measurement as band levels: the power mean of its rows inside each band,
// or, for a band that holds no row, the curve at the band's centre.
ThirdOctaveLevels measurement_bands(const FrequencyCurve& curve);

// Writers for both formats, one decimal; `title` goes into the export's header.
std::string band_table_text(const ThirdOctaveLevels& levels);
std::string measurement_export_text(const ThirdOctaveLevels& levels, std::string_view title);

// Why `path` cannot be read as an input file ("PATH: no such file", "PATH:
// not a regular file"), or empty. A FIFO or a device is refused before
// anything opens it, so no read blocks or runs endlessly.
std::string input_problem(const std::filesystem::path& path);

// Reads a whole text file (refusing what is not a regular file).
std::variant<std::string, std::string> read_text_file(const std::filesystem::path& path);

}  // namespace tk770
