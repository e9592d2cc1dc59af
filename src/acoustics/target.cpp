#include "acoustics/target.h"

#include <array>
#include <charconv>
#include <cmath>

namespace tk770 {

namespace {

struct XVersion {
    int seats;
    double mid, high;
};
// The curve steepens with the room's size.
constexpr std::array<XVersion, 6> x_versions{{
    {30, 2.0, 4.0}, {150, 2.5, 5.0}, {500, 3.0, 6.0}, {1000, 3.5, 7.0}, {1500, 4.0, 8.0}, {2000, 4.5, 9.0},
}};

Target x_curve(const XVersion& v)
{
    return Target{"x-curve:" + std::to_string(v.seats), v.mid, v.high, {}};
}

}  // namespace

double Target::db(double frequency) const
{
    if (!curve.frequency_hz.empty()) return curve.at(frequency);
    if (frequency <= 2000.0) return 0.0;
    if (frequency <= 10000.0) return -slope_mid * std::log2(frequency / 2000.0);
    return -slope_mid * std::log2(5.0) - slope_high * std::log2(frequency / 10000.0);
}

std::variant<Target, std::string> parse_target(std::string_view name)
{
    if (name == "x-curve") return x_curve(x_versions[2]);
    if (name == "flat") return Target{"flat", 0, 0, {}};
    if (name == "small-room") return Target{"small-room", 1.5, 1.5, {}};
    if (name.starts_with("x-curve:")) {
        const std::string_view digits = name.substr(8);
        long seats = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), seats);
        if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size() || seats < 1)
            return "target " + std::string(name) + ": the seat count must be a whole number of at least 1";
        XVersion chosen = x_versions[0];
        for (const auto& v : x_versions)
            if (v.seats <= seats) chosen = v;
        return x_curve(chosen);
    }
    if (name.starts_with("file:")) {
        auto curve = read_measurement(std::string(name.substr(5)));
        if (auto* error = std::get_if<std::string>(&curve)) return "target " + *error;
        return Target{std::string(name), 0, 0, std::get<FrequencyCurve>(std::move(curve))};
    }
    return "unknown target \"" + std::string(name) + "\" (x-curve, x-curve:SEATS, small-room, flat, file:PATH)";
}

}  // namespace tk770
