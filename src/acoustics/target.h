// The curves a room is equalised to. A target has no opinion below the fit
// range; the fit only asks it inside the range.
#pragma once

#include "acoustics/text_files.h"

#include <string>
#include <string_view>
#include <variant>

namespace tk770 {

struct Target {
    std::string name;
    // Slopes in dB per octave: from 2 kHz to 10 kHz, and above 10 kHz.
    double slope_mid = 0;
    double slope_high = 0;
    // For file:PATH; empty otherwise.
    FrequencyCurve curve;

    double db(double frequency) const;
};

// `x-curve`, `x-curve:SEATS`, `small-room`, `flat` or `file:PATH`.
std::variant<Target, std::string> parse_target(std::string_view name);

}  // namespace tk770
