#include "core/captions.h"
#include "core/cp936.h"
#include "support/case_name.h"

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
                    CaptionCase{116, 1, "Restart TK770"}),
    [](const testing::TestParamInfo<CaptionCase>& info) {
        return "pair_" + std::to_string(info.param.pair) + (info.param.language == 0 ? "_zh" : "_en");
    });

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

// The safety-net texts keep a table of their own beside the 117 pairs.
TEST(NoticeTable, EveryEntryIsFilledShowableAndBoundedLikeTheCaptions)
{
    for (std::size_t i = 0; i < NoticeTable.size(); ++i) {
        EXPECT_FALSE(NoticeTable[i].empty()) << "entry " << i;
        EXPECT_TRUE(fits_cp936(NoticeTable[i], 400)) << "entry " << i;
    }
    EXPECT_EQ(notice(notice_not_saved_status, language_chinese), "未存入设备");
    EXPECT_EQ(notice(notice_not_saved_status, language_english), "Not saved to processor");
    for (const auto& [pair, language] : std::vector<std::pair<int, int>>{{-1, 0}, {notice_pair_count, 0}, {0, 2}})
        EXPECT_TRUE(notice(pair, language).empty()) << pair << "/" << language;
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

namespace {

// A name that points at the wrong pair captions a control with another
// control's text; the English texts tell the pairs apart.
struct NamedPair {
    const char* name;
    int pair;
    std::string_view english;
};

void PrintTo(const NamedPair& c, std::ostream* os) { *os << c.name; }

class CaptionPairName : public testing::TestWithParam<NamedPair> {};

TEST_P(CaptionPairName, PointsAtItsControlsText)
{
    EXPECT_EQ(caption(GetParam().pair, language_english), GetParam().english);
}

INSTANTIATE_TEST_SUITE_P(
    Names, CaptionPairName,
    testing::Values(NamedPair{"save_project_as", pair_save_project_as, "Save as..."},
                    NamedPair{"save_to_device", pair_save_to_device, "Save To TK770"},
                    NamedPair{"restart_device", pair_restart_device, "Restart TK770"},
                    NamedPair{"format_items", pair_format_items, "Ext Digital 8CH"},
                    NamedPair{"power_on_items_last", pair_power_on_items + 5, "Last Selected"},
                    NamedPair{"language_menu", pair_language_menu, "Language"},
                    NamedPair{"input_group_titles_mic", pair_input_group_titles + 4, "MIC"},
                    NamedPair{"source_items_optical", pair_source_items + 2, "OPT"},
                    NamedPair{"mic_surround", pair_mic_surround, "Surr"},
                    NamedPair{"nonsync_source_on", pair_nonsync_source_on, "NON/SYNC COAX"},
                    NamedPair{"nonsync_source_off", pair_nonsync_source_off, "NON/SYNC ANA"},
                    NamedPair{"aux_sources_optical", pair_aux_sources + 2, "AUX Digi OPT"},
                    NamedPair{"mute", pair_mute, " Mute "},
                    NamedPair{"channel_tabs_sw", pair_channel_tabs + 7, "Subwoofer"},
                    NamedPair{"page_test_signal", pair_page_test_signal, "Pink Noise"},
                    NamedPair{"master_volume", pair_master_volume, "Main Fader"},
                    NamedPair{"fade_times_last", pair_fade_times + 9, "Fade Time 10S"},
                    NamedPair{"lowpass_slope", pair_lowpass_slope, "dB/Oct"},
                    NamedPair{"eq_copy_title", pair_eq_copy_title, "Copy EQ Settings"},
                    NamedPair{"profile_field_labels_last", pair_profile_field_labels + 7, "Comments:"},
                    NamedPair{"firmware_date_line", pair_firmware_date_line, "Firmware Date:"},
                    NamedPair{"network_save", pair_network_save, "Save"},
                    NamedPair{"device_ip_ok", pair_device_ip_ok, "OK"}),
    [](const auto& info) { return std::string(info.param.name); });

// The start-up texts are their pair's Chinese text but for blanks and the
// colon: anything more would be a different caption, not a spelling of it.
TEST(StartupTexts, DifferFromTheirPairOnlyInBlanksAndColons)
{
    const std::pair<std::string_view, int> texts[] = {
        {startup_save_project_as, pair_save_project_as},   {startup_eq_menu, pair_eq_menu},
        {startup_communication_menu, pair_communication_menu}, {startup_power_on_menu, pair_power_on_menu},
        {startup_back_left_tab, pair_channel_tabs + 5},    {startup_back_right_tab, pair_channel_tabs + 6},
        {startup_channel_mute, pair_mute},                 {startup_master_mute, pair_mute},
        {startup_flat, pair_flat},                         {startup_master_volume, pair_master_volume},
        {startup_eq_copy_back_right, pair_eq_copy_channels + 6}};
    auto bare = [](std::string_view s) {
        std::string out;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] == ' ') continue;
            if (s.substr(i, 3) == "：") {
                i += 2;
                continue;
            }
            out += s[i];
        }
        return out;
    };
    for (const auto& [text, pair] : texts) {
        const std::string_view table = caption(pair, language_chinese);
        EXPECT_NE(text, table) << pair;
        EXPECT_EQ(bare(text), bare(table)) << pair;
    }
}

}  // namespace
