// Read-out texts that sit beside the controls: levels, gains, delays,
// frequencies, Q and the turnover labels.
//
// Numbers are written without leading zeros or blanks and with a minus sign
// when negative; "/" is C++ integer division, which truncates toward zero as
// the device firmware's own read-outs do. The inputs are the byte values of
// the parameter image (or a slider position), so the arguments are plain int.
#pragma once

#include <string>

namespace tk770 {

// Input levels and the master volume, 0..100: 70 -> "7.0".
std::string level_text(int p);
// A signed gain in tenths of a dB: -25 -> "-2.5dB", -5 -> "-0.5dB".
std::string gain_text(int g);
// An output gain byte, 44 being 0 dB, in half-dB steps: 43 -> "-0.5dB".
std::string output_gain_text(int v);
// An output delay in milliseconds: 200 -> "200mS".
std::string delay_text(int v);
// A subwoofer section frequency: 60 -> "60Hz".
std::string frequency_text(int v);
// A subwoofer Q code, Q = (25q + 50) / 100: 1 -> "0.75", 2 -> "1.0".
std::string q_text(int q);

// Shown for a turnover code outside its label list; such a code can come
// only from a project file or the processor, never from the slider.
inline constexpr const char* unknown_turnover_text = "?";

// Bass (and subwoofer low-pass) turnover code 0..10: 3 -> "125Hz".
std::string bass_turnover_text(int code);
// Treble turnover code 0..9: 3 -> "2KHz".
std::string treble_turnover_text(int code);

}  // namespace tk770
