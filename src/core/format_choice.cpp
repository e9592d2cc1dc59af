#include "core/format_choice.h"

namespace tk770 {

namespace {
// Format number -> input_format code.
constexpr int format_code[format_count] = {0, 0, 1, 2, 3};
}  // namespace

bool choose_format(ParameterImage& image, int format)
{
    if (format < 0 || format >= format_count) return false;
    image.input_format = static_cast<std::uint8_t>(format_code[format]);
    if (format == 0) image.eight_channel_digital = 1;
    if (format == 1) image.eight_channel_digital = 0;
    return true;
}

int current_format(const ParameterImage& image)
{
    switch (image.input_format) {
    case 0: return image.eight_channel_digital ? 0 : 1;
    case 1: return 2;
    case 2: return 3;
    case 3: return 4;
    default: return -1;
    }
}

}  // namespace tk770
