#include "core/readout.h"
#include "support/case_name.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace tk770;

namespace {

struct ReadoutCase {
    const char* format;
    std::function<std::string(int)> text;
    int value;
    std::string expected;
};

void PrintTo(const ReadoutCase& c, std::ostream* os)
{
    *os << c.format << "(" << c.value << ")";
}

class ReadoutTextTest : public testing::TestWithParam<ReadoutCase> {};

// "gain_minus_25": the format and the value it is given.
std::string readoutName(const testing::TestParamInfo<ReadoutCase>& info)
{
    return case_name(info.param.format) + "_" + case_name(info.param.value);
}

TEST_P(ReadoutTextTest, FormatsTheValue)
{
    const auto& c = GetParam();
    EXPECT_EQ(c.text(c.value), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Level, ReadoutTextTest,
    testing::Values(ReadoutCase{"level", level_text, 70, "7.0"},
                    ReadoutCase{"level", level_text, 100, "10.0"},
                    ReadoutCase{"level", level_text, 5, "0.5"},
                    ReadoutCase{"level", level_text, 0, "0.0"},
                    ReadoutCase{"level", level_text, 255, "25.5"}),
    readoutName);

// The band of -0.9..-0.1 dB is where the whole part 0 would drop the sign.
INSTANTIATE_TEST_SUITE_P(Gain, ReadoutTextTest,
    testing::Values(ReadoutCase{"gain", gain_text, 60, "6.0dB"},
                    ReadoutCase{"gain", gain_text, 0, "0.0dB"},
                    ReadoutCase{"gain", gain_text, -25, "-2.5dB"},
                    ReadoutCase{"gain", gain_text, -5, "-0.5dB"},
                    ReadoutCase{"gain", gain_text, -60, "-6.0dB"},
                    ReadoutCase{"gain", gain_text, -9, "-0.9dB"},
                    ReadoutCase{"gain", gain_text, -1, "-0.1dB"},
                    ReadoutCase{"gain", gain_text, -10, "-1.0dB"},
                    ReadoutCase{"gain", gain_text, 9, "0.9dB"},
                    ReadoutCase{"gain", gain_text, -120, "-12.0dB"},
                    ReadoutCase{"gain", gain_text, -128, "-12.8dB"},
                    ReadoutCase{"gain", gain_text, 127, "12.7dB"}),
    readoutName);

INSTANTIATE_TEST_SUITE_P(OutputGain, ReadoutTextTest,
    testing::Values(ReadoutCase{"output gain", output_gain_text, 44, "0.0dB"},
                    ReadoutCase{"output gain", output_gain_text, 43, "-0.5dB"},
                    ReadoutCase{"output gain", output_gain_text, 42, "-1.0dB"},
                    ReadoutCase{"output gain", output_gain_text, 45, "0.5dB"},
                    ReadoutCase{"output gain", output_gain_text, 0, "-22.0dB"},
                    ReadoutCase{"output gain", output_gain_text, 60, "8.0dB"}),
    readoutName);

INSTANTIATE_TEST_SUITE_P(DelayAndFrequency, ReadoutTextTest,
    testing::Values(ReadoutCase{"delay", delay_text, 0, "0mS"},
                    ReadoutCase{"delay", delay_text, 200, "200mS"},
                    ReadoutCase{"frequency", frequency_text, 60, "60Hz"},
                    ReadoutCase{"frequency", frequency_text, 20, "20Hz"}),
    readoutName);

// Hundredths are not zero-padded: Q 1.00 shows "1.0" but Q 1.50 shows "1.50".
INSTANTIATE_TEST_SUITE_P(Q, ReadoutTextTest,
    testing::Values(ReadoutCase{"q", q_text, 0, "0.50"},
                    ReadoutCase{"q", q_text, 1, "0.75"},
                    ReadoutCase{"q", q_text, 2, "1.0"},
                    ReadoutCase{"q", q_text, 3, "1.25"},
                    ReadoutCase{"q", q_text, 4, "1.50"},
                    ReadoutCase{"q", q_text, 6, "2.0"},
                    ReadoutCase{"q", q_text, 38, "10.0"}),
    readoutName);

INSTANTIATE_TEST_SUITE_P(Turnover, ReadoutTextTest,
    testing::Values(ReadoutCase{"bass", bass_turnover_text, 0, "63Hz"},
                    ReadoutCase{"bass", bass_turnover_text, 3, "125Hz"},
                    ReadoutCase{"bass", bass_turnover_text, 10, "630Hz"},
                    ReadoutCase{"treble", treble_turnover_text, 0, "1KHz"},
                    ReadoutCase{"treble", treble_turnover_text, 1, "1.25K"},
                    ReadoutCase{"treble", treble_turnover_text, 3, "2KHz"},
                    ReadoutCase{"treble", treble_turnover_text, 9, "8KHz"}),
    readoutName);

// Codes beyond the lists can arrive from a project file or the processor.
INSTANTIATE_TEST_SUITE_P(TurnoverOutsideItsList, ReadoutTextTest,
    testing::Values(ReadoutCase{"bass", bass_turnover_text, 11, "?"},
                    ReadoutCase{"bass", bass_turnover_text, 255, "?"},
                    ReadoutCase{"bass", bass_turnover_text, -1, "?"},
                    ReadoutCase{"treble", treble_turnover_text, 10, "?"},
                    ReadoutCase{"treble", treble_turnover_text, -1, "?"}),
    readoutName);

}  // namespace
