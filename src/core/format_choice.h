// Choosing the input format, as the format buttons and the Format menu do,
// written once for the window and the gateway's remote commands.
#pragma once

#include "core/parameter_image.h"

namespace tk770 {

// Format numbers: 0 8-channel digital, 1 8-channel analog, 2 NON/SYNC,
// 3 AUX, 4 MIC. Sets input_format, and eight_channel_digital for the two
// 8-channel formats (the others leave it as it is). False, and nothing
// changed, for a number outside 0..4.
bool choose_format(ParameterImage& image, int format);

// The format number the image selects, or -1 for a code no control writes.
int current_format(const ParameterImage& image);

// While any test signal plays, the format buttons (and the source and MIC
// routing groups) change nothing; only the Format menu still does.
inline bool format_locked_by_test_signal(const ParameterImage& image) { return image.test_signal_flags != 0; }

}  // namespace tk770
