#include "core/readout.h"

#include "core/captions.h"

#include <cstdlib>

namespace tk770 {

std::string level_text(int p)
{
    return std::to_string(p / 10) + "." + std::to_string(p % 10);
}

std::string gain_text(int g)
{
    // Between -0.9 and -0.1 dB the whole part is 0 and would lose its sign.
    if (g >= 0 || g <= -10)
        return std::to_string(g / 10) + "." + std::to_string(std::abs(g) % 10) + "dB";
    return "-0." + std::to_string(std::abs(g) % 10) + "dB";
}

std::string output_gain_text(int v)
{
    return gain_text((v - 44) * 5);
}

std::string delay_text(int v)
{
    return std::to_string(v) + "mS";
}

std::string frequency_text(int v)
{
    return std::to_string(v) + "Hz";
}

std::string q_text(int q)
{
    // The hundredths are printed unpadded, so Q 1.00 reads "1.0" and Q 1.50
    // reads "1.50"; the panel has always shown them so.
    const int x = 25 * q + 50;
    return std::to_string(x / 100) + "." + std::to_string(x % 100);
}

std::string bass_turnover_text(int code)
{
    if (code < 0 || code >= bass_turnover_count)
        return unknown_turnover_text;
    return std::string(BassTurnoverLabels[static_cast<std::size_t>(code)]);
}

std::string treble_turnover_text(int code)
{
    if (code < 0 || code >= treble_turnover_count)
        return unknown_turnover_text;
    return std::string(TrebleTurnoverLabels[static_cast<std::size_t>(code)]);
}

}  // namespace tk770
