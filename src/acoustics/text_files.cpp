#include "acoustics/text_files.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

namespace tk770 {

namespace {

std::vector<std::string_view> split_fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    auto separator = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r'; };
    while (i < line.size()) {
        while (i < line.size() && separator(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !separator(line[i])) ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

std::optional<double> number(std::string_view field)
{
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (ec != std::errc{} || end != field.data() + field.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string at_line(int line, std::string_view what) { return "line " + std::to_string(line) + ": " + std::string(what); }

// The number after `key` and an optional '=' in `line`, if any.
std::optional<double> value_after(std::string_view line, std::string_view key)
{
    const auto at = line.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = line.substr(at + key.size());
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '=')) rest.remove_prefix(1);
    std::size_t n = 0;
    while (n < rest.size() && (std::isdigit(static_cast<unsigned char>(rest[n])) || rest[n] == '-' || rest[n] == '+' ||
                               rest[n] == '.'))
        ++n;
    return number(rest.substr(0, n));
}

// The rows of a two-column file. A line whose first field is not a number is
// a header or a comment and is skipped; a row must be all numbers with a
// frequency above the previous one.
std::variant<FrequencyCurve, std::string> parse_rows(std::string_view text, std::string_view what)
{
    FrequencyCurve curve;
    int line_number = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string_view line = text.substr(pos, end - pos);
        ++line_number;
        pos = end + 1;
        if (end == text.size() && line.empty()) break;
        const auto fields = split_fields(line);
        if (fields.empty() || fields.front().front() == '*') continue;
        const auto frequency = number(fields[0]);
        if (!frequency) continue;
        if (fields.size() < 2) return at_line(line_number, "a row needs a frequency and a level");
        for (std::size_t i = 1; i < std::min<std::size_t>(fields.size(), 3); ++i)
            if (!number(fields[i]))
                return at_line(line_number, "\"" + std::string(fields[i]) + "\" is not a number");
        if (*frequency <= 0) return at_line(line_number, "the frequency must be above 0 Hz");
        if (!curve.frequency_hz.empty() && *frequency <= curve.frequency_hz.back())
            return at_line(line_number, "the frequency does not increase");
        curve.frequency_hz.push_back(*frequency);
        curve.level_db.push_back(*number(fields[1]));
    }
    if (curve.frequency_hz.empty())
        return at_line(line_number, "no " + std::string(what) + " rows (frequency and level) in the file");
    return curve;
}

}  // namespace

double FrequencyCurve::at(double frequency) const
{
    if (frequency_hz.empty()) return 0.0;
    if (frequency <= frequency_hz.front()) return level_db.front();
    if (frequency >= frequency_hz.back()) return level_db.back();
    const auto upper = std::upper_bound(frequency_hz.begin(), frequency_hz.end(), frequency);
    const std::size_t i = static_cast<std::size_t>(upper - frequency_hz.begin());
    const double t = std::log(frequency / frequency_hz[i - 1]) / std::log(frequency_hz[i] / frequency_hz[i - 1]);
    return level_db[i - 1] + t * (level_db[i] - level_db[i - 1]);
}

std::variant<MicCalibration, std::string> parse_mic_calibration(std::string_view text)
{
    auto rows = parse_rows(text, "calibration");
    if (auto* error = std::get_if<std::string>(&rows)) return *error;
    MicCalibration cal;
    cal.response = std::get<FrequencyCurve>(std::move(rows));
    const std::string_view first = text.substr(0, text.find('\n'));
    if (first.find("Sens Factor") != std::string_view::npos) {
        cal.sensitivity_db = value_after(first, "Sens Factor");
        cal.amplifier_gain_db = value_after(first, "AGain");
    } else if (!first.empty() && first.front() == '*') {
        const auto fields = split_fields(first);
        if (fields.size() >= 2) cal.sensitivity_db = number(fields[1]);
    }
    return cal;
}

std::string input_problem(const std::filesystem::path& path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) return path.string() + ": no such file";
    if (!std::filesystem::is_regular_file(status)) return path.string() + ": not a regular file";
    return {};
}

std::variant<std::string, std::string> read_text_file(const std::filesystem::path& path)
{
    if (auto problem = input_problem(path); !problem.empty())
        return std::variant<std::string, std::string>(std::in_place_index<1>, std::move(problem));
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::variant<std::string, std::string>(std::in_place_index<1>, path.string() + ": cannot be read");
    std::ostringstream content;
    content << in.rdbuf();
    return std::variant<std::string, std::string>(std::in_place_index<0>, content.str());
}

std::variant<MicCalibration, std::string> read_mic_calibration(const std::filesystem::path& path)
{
    auto text = read_text_file(path);
    if (text.index() == 1) return std::get<1>(text);
    auto cal = parse_mic_calibration(std::get<0>(text));
    if (auto* error = std::get_if<std::string>(&cal)) return path.string() + ": " + *error;
    return cal;
}

std::variant<FrequencyCurve, std::string> parse_measurement(std::string_view text)
{
    return parse_rows(text, "measurement");
}

std::variant<FrequencyCurve, std::string> read_measurement(const std::filesystem::path& path)
{
    auto text = read_text_file(path);
    if (text.index() == 1) return std::get<1>(text);
    auto curve = parse_measurement(std::get<0>(text));
    if (auto* error = std::get_if<std::string>(&curve)) return path.string() + ": " + *error;
    return curve;
}

ThirdOctaveLevels measurement_bands(const FrequencyCurve& curve)
{
    ThirdOctaveLevels levels{};
    for (int b = 0; b < third_octave_count; ++b) {
        const double lo = band_lower_edge(b), hi = band_upper_edge(b);
        double power = 0;
        int rows = 0;
        for (std::size_t i = 0; i < curve.frequency_hz.size(); ++i) {
            if (curve.frequency_hz[i] >= lo && curve.frequency_hz[i] < hi) {
                power += std::pow(10.0, curve.level_db[i] / 10.0);
                ++rows;
            }
        }
        levels[static_cast<std::size_t>(b)] =
            rows > 0 ? 10.0 * std::log10(power / rows) : curve.at(band_centre(b));
    }
    return levels;
}

std::string band_table_text(const ThirdOctaveLevels& levels)
{
    std::string out = "centre_hz,level_db\n";
    char row[64];
    for (int b = 0; b < third_octave_count; ++b) {
        std::snprintf(row, sizeof row, "%s,%.1f\n", band_label(b).c_str(), levels[static_cast<std::size_t>(b)]);
        out += row;
    }
    return out;
}

std::string measurement_export_text(const ThirdOctaveLevels& levels, std::string_view title)
{
    std::string out = "* " + std::string(title) + "\n* Freq(Hz) SPL(dB) Phase(degrees)\n";
    char row[64];
    for (int b = 0; b < third_octave_count; ++b) {
        std::snprintf(row, sizeof row, "%.3f %.1f 0.0\n", band_centre(b), levels[static_cast<std::size_t>(b)]);
        out += row;
    }
    return out;
}

}  // namespace tk770
