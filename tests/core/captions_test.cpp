#include "core/captions.h"
#include "core/cp936.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tk770;

namespace {

struct CaptionCase {
    int pair;
    int language;
    std::string_view text;
};

void PrintTo(const CaptionCase& c, std::ostream* os)
{
    *os << "pair " << c.pair << " language " << c.language;
}

class CaptionTextTest : public testing::TestWithParam<CaptionCase> {};

// Blanks are part of the captions; these are the ones most easily lost.
TEST_P(CaptionTextTest, KeepsItsExactText)
{
    const auto& c = GetParam();
    EXPECT_EQ(caption(c.pair, c.language), c.text) << "pair " << c.pair << " language " << c.language;
}

INSTANTIATE_TEST_SUITE_P(Pairs, CaptionTextTest,
    testing::Values(CaptionCase{0, 0, "高精度影院音频处理器"},
                    CaptionCase{0, 1, "High Performance Cine Audio Processor"},
                    CaptionCase{1, 0, "  文件  "},
                    CaptionCase{1, 1, "  Flie  "},
                    CaptionCase{5, 0, "另存为  "},
                    CaptionCase{5, 1, "Save as..."},
                    CaptionCase{9, 0, "  格式  "},
                    CaptionCase{9, 1, "  Format  "},
                    CaptionCase{15, 1, "   EQ   "},
                    CaptionCase{17, 0, " 通讯 "},
                    CaptionCase{17, 1, "  Communication  "},
                    CaptionCase{22, 1, "  Power on Format  "},
                    CaptionCase{29, 0, "  概要文件  "},
                    CaptionCase{31, 0, "格式（输入设置）"},
                    CaptionCase{47, 1, " Mute "},
                    CaptionCase{50, 0, "    左    "},
                    CaptionCase{56, 0, " 右后环绕 "},
                    CaptionCase{87, 0, "右后环绕 "},
                    CaptionCase{88, 0, "复制到 >>>"},
                    CaptionCase{116, 0, "重新启动设备"},
                    CaptionCase{116, 1, "Restart TK770"}));

// Splits a line into its words and the lengths of the blank runs around them.
struct Layout {
    std::vector<std::string> words;
    std::vector<std::size_t> runs;  // runs[0] leading, runs.back() trailing
};

Layout layout_of(std::string_view line)
{
    Layout l;
    std::size_t i = 0;
    while (true) {
        std::size_t run = 0;
        while (i < line.size() && line[i] == ' ') {
            ++run;
            ++i;
        }
        l.runs.push_back(run);
        if (i == line.size())
            break;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        l.words.emplace_back(line.substr(start, i - start));
    }
    return l;
}

TEST(OutputChannelHeader, AlignsTheNamesWithTheirBlankRuns)
{
    struct Case {
        int language;
        std::vector<std::string> words;
        std::vector<std::size_t> runs;
    };
    const Case cases[] = {
        {0, {"左", "中", "右", "左环绕", "右环绕", "左后环绕", "右后环绕", "次低频"},
         {1, 9, 9, 7, 6, 4, 4, 5, 0}},
        {1, {"Left", "Center", "Right", "SL", "SR", "BSL", "BSR", "SW"},
         {0, 6, 6, 7, 10, 8, 9, 9, 2}},
    };
    for (const auto& c : cases) {
        const Layout l = layout_of(caption(pair_output_channel_header, c.language));
        EXPECT_EQ(l.words, c.words) << "language " << c.language;
        EXPECT_EQ(l.runs, c.runs) << "language " << c.language;
    }
}

TEST(CaptionTable, EveryEntryIsFilledAndShowableInTheDeviceCodePage)
{
    for (std::size_t i = 0; i < CaptionTable.size(); ++i) {
        EXPECT_FALSE(CaptionTable[i].empty()) << "entry " << i;
        EXPECT_TRUE(fits_cp936(CaptionTable[i], 200)) << "entry " << i;
    }
}

TEST(CaptionTable, RepeatedTextsStaySeparatePairs)
{
    for (int i = 0; i < 5; ++i) {
        // The Format menu and the power-on menu share their item texts...
        EXPECT_EQ(caption(10 + i, 0), caption(23 + i, 0)) << i;
        EXPECT_EQ(caption(10 + i, 1), caption(23 + i, 1)) << i;
        // ...while the input group titles add "input" to the Chinese ones.
        EXPECT_EQ(std::string(caption(33 + i, 0)), std::string(caption(10 + i, 0)) + "输入") << i;
    }
    EXPECT_NE(caption(56, 0), caption(87, 0));
    EXPECT_EQ(caption(56, 1), caption(87, 1));
}

TEST(CaptionTable, OutOfRangeLookupsGiveEmptyText)
{
    const std::pair<int, int> outside[] = {{-1, 0}, {117, 0}, {0, -1}, {0, 2}, {116, 2}};
    for (const auto& [pair, language] : outside)
        EXPECT_TRUE(caption(pair, language).empty()) << pair << "/" << language;
}

TEST(SignalLabels, FollowTheLanguageOnlyForPinkNoise)
{
    struct Case {
        int s;
        std::string_view chinese;
        std::string_view english;
    };
    const Case cases[] = {
        {0, "粉红噪声", "Pink"}, {1, "120Hz", "120Hz"}, {2, "500Hz", "500Hz"},
        {3, "1KHz", "1KHz"},     {4, "5KHz", "5KHz"},   {5, "10KHz", "10KHz"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(signal_label(c.s, language_chinese), c.chinese) << c.s;
        EXPECT_EQ(signal_label(c.s, language_english), c.english) << c.s;
    }
    EXPECT_TRUE(signal_label(6, language_chinese).empty());
    EXPECT_TRUE(signal_label(-1, language_english).empty());
    EXPECT_TRUE(signal_label(0, 2).empty());
}

TEST(TurnoverLabels, BassEndsAt630HzAndTrebleStartsAt1KHz)
{
    EXPECT_EQ(BassTurnoverLabels.front(), "63Hz");
    EXPECT_EQ(BassTurnoverLabels.back(), "630Hz");
    EXPECT_EQ(TrebleTurnoverLabels.front(), "1KHz");
    EXPECT_EQ(TrebleTurnoverLabels[1], "1.25K");
    EXPECT_EQ(TrebleTurnoverLabels.back(), "8KHz");
}

TEST(DeviceLinePrefixes, EndInTheBlanksThatLineTheValuesUp)
{
    struct Case {
        std::string_view prefix;
        std::string_view label;
        std::size_t blanks;
    };
    const Case cases[] = {
        {device_model_prefix, "设备型号：", 6},
        {device_serial_prefix, "设备序列号：", 2},
        {firmware_version_prefix, "固件版本：", 6},
        {firmware_date_prefix, "固件发布：", 6},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.prefix, std::string(c.label) + std::string(c.blanks, ' ')) << c.label;
}

}  // namespace
