#include "core/field_table.h"
#include "support/case_name.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

using namespace tk770;

namespace {

struct RefCase {
    const char* text;
    int offset;             // expected image offset
    const char* canonical;  // expected name()
};

void PrintTo(const RefCase& c, std::ostream* os) { *os << c.text; }

class FieldRefAccepted : public testing::TestWithParam<RefCase> {};

TEST_P(FieldRefAccepted, ResolvesToTheStructOffset)
{
    const auto& c = GetParam();
    const auto parsed = parse_field_ref(c.text);
    ASSERT_TRUE(std::holds_alternative<FieldRef>(parsed)) << c.text << ": " << std::get<std::string>(parsed);
    const auto& ref = std::get<FieldRef>(parsed);
    EXPECT_EQ(ref.offset, c.offset) << c.text;
    EXPECT_EQ(ref.name(), c.canonical);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FieldRefAccepted,
    testing::Values(RefCase{"master_volume", TK770_OFFSET(master_volume), "master_volume"},
                    RefCase{"eq[3][14]", TK770_OFFSET(eq[3][14]), "eq[3][14]"},
                    RefCase{"eq[0][0]", TK770_OFFSET(eq[0][0]), "eq[0][0]"},
                    RefCase{"eq[6][26]", 252, "eq[6][26]"},
                    RefCase{"tone[1].bass_gain", TK770_OFFSET(tone[1].bass_gain), "tone[1].bass_gain"},
                    RefCase{"tone[6].treble_freq", TK770_OFFSET(tone[6].treble_freq), "tone[6].treble_freq"},
                    RefCase{"sw_filter[0].fc", TK770_OFFSET(sw_filter[0].fc), "sw_filter[0].fc"},
                    RefCase{"sw_filter[1].q", TK770_OFFSET(sw_filter[1].q), "sw_filter[1].q"},
                    RefCase{"output_gain[7]", TK770_OFFSET(output_gain[7]), "output_gain[7]"},
                    RefCase{"input_level[4]", TK770_OFFSET(input_level[4]), "input_level[4]"},
                    RefCase{"level_spare[2]", 7, "level_spare[2]"},
                    RefCase{"system_spare2", 264, "system_spare2"},
                    RefCase{"profile_text[2]", TK770_OFFSET(profile_text[2]), "profile_text[2]"},
                    RefCase{"profile_text[7]", 545, "profile_text[7]"},
                    RefCase{"device_model", 585, "device_model"},
                    RefCase{"firmware_date", 633, "firmware_date"}),
    [](const testing::TestParamInfo<RefCase>& info) { return case_name(info.param.text); });

class FieldRefRefused : public testing::TestWithParam<std::string> {};

TEST_P(FieldRefRefused, GivesAnErrorText)
{
    const auto parsed = parse_field_ref(GetParam());
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << GetParam();
    EXPECT_FALSE(std::get<std::string>(parsed).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Names, FieldRefRefused,
    testing::Values("", "nonsense", "Master_volume", "master_volume ", " master_volume", "master_volume[0]",
                    "eq", "eq[3]", "eq[7][0]", "eq[0][27]", "eq[3][14]x", "eq[3] [14]", "eq[-1][0]", "eq[+1][0]",
                    "eq[01][0]", "eq[3][14", "eq[][1]", "eq[99999999999][0]", "output_gain[8]", "tone[1]",
                    "tone[7].bass_gain", "tone[1].bass", "tone[1].", "tone[1].bass_gain.x", "tone.bass_gain",
                    "sw_filter[2].fc", "sw_filter[0]", "profile_text", "profile_text[8]", "profile_text[0][0]",
                    "device_model[0]", "master_volume\n", std::string("eq[1]\0[2]", 9), "\xff\xfe",
                    std::string("master_volume\0", 14)),
    // Blanks, brackets and stray bytes clean up alike: the index tells them apart.
    [](const testing::TestParamInfo<std::string>& info) { return case_name(info.index, info.param); });

TEST(FieldTable, CoversEveryImageByteExactlyOnce)
{
    std::vector<int> hits(image_size, 0);
    for_each_field_element([&](const FieldRef& ref) {
        for (int i = 0; i < ref.field->size; ++i) ++hits.at(ref.offset + i);
    });
    for (std::size_t i = 0; i < hits.size(); ++i) EXPECT_EQ(hits[i], 1) << "image offset " << i;
}

TEST(FieldTable, EveryElementNameParsesBackToItself)
{
    for_each_field_element([](const FieldRef& ref) {
        const auto parsed = parse_field_ref(ref.name());
        ASSERT_TRUE(std::holds_alternative<FieldRef>(parsed)) << ref.name();
        EXPECT_EQ(std::get<FieldRef>(parsed).offset, ref.offset) << ref.name();
        EXPECT_EQ(std::get<FieldRef>(parsed).field, ref.field) << ref.name();
    });
}

TEST(FieldTable, ProjectFieldsAreExactlyRunsAAndB)
{
    for_each_field_element([](const FieldRef& ref) {
        EXPECT_EQ(ref.field->in_project, ref.offset < TK770_OFFSET(profile_text)) << ref.name();
    });
}

FieldRef ref_of(const char* text) { return std::get<FieldRef>(parse_field_ref(text)); }

struct ValueCase {
    const char* field;
    const char* text;
    bool accepted;
    int number;  // expected when accepted
};

// Quoted, so blanks and empty texts stay visible in the case name.
void PrintTo(const ValueCase& c, std::ostream* os)
{
    *os << c.field << "=" << testing::PrintToString(std::string(c.text));
}

class FieldValueParse : public testing::TestWithParam<ValueCase> {};

TEST_P(FieldValueParse, KeepsToTheFieldRange)
{
    const auto& c = GetParam();
    const auto parsed = parse_field_value(ref_of(c.field), c.text);
    if (c.accepted) {
        ASSERT_TRUE(std::holds_alternative<FieldValue>(parsed))
            << c.field << "=" << c.text << ": " << std::get<std::string>(parsed);
        EXPECT_EQ(std::get<FieldValue>(parsed).number, c.number);
    } else {
        EXPECT_TRUE(std::holds_alternative<std::string>(parsed)) << c.field << "=" << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, FieldValueParse,
    testing::Values(ValueCase{"eq[0][0]", "-60", true, -60}, ValueCase{"eq[0][0]", "60", true, 60},
                    ValueCase{"eq[0][0]", "+60", true, 60}, ValueCase{"eq[0][0]", "61", false, 0},
                    ValueCase{"eq[0][0]", "-61", false, 0}, ValueCase{"sw_filter[1].cut", "-120", true, -120},
                    ValueCase{"sw_filter[1].cut", "31", false, 0}, ValueCase{"sw_filter[0].fc", "19", false, 0},
                    ValueCase{"sw_filter[0].fc", "120", true, 120}, ValueCase{"sw_filter[0].q", "38", true, 38},
                    ValueCase{"output_gain[3]", "60", true, 60}, ValueCase{"output_gain[3]", "-1", false, 0},
                    ValueCase{"output_delay[0]", "200", true, 200}, ValueCase{"output_delay[0]", "201", false, 0},
                    ValueCase{"master_volume", "100", true, 100}, ValueCase{"master_volume", "0", true, 0},
                    ValueCase{"fade_time", "10", false, 0}, ValueCase{"power_on_format", "5", true, 5},
                    ValueCase{"polarity_flags", "255", true, 255}, ValueCase{"polarity_flags", "256", false, 0},
                    ValueCase{"preset_flags", "32", false, 0}, ValueCase{"master_mute", "1", true, 1},
                    ValueCase{"master_mute", "2", false, 0}, ValueCase{"mic_routing", "3", true, 3},
                    ValueCase{"mic_routing", "4", false, 0},
                    ValueCase{"tone[2].treble_freq", "10", false, 0}, ValueCase{"master_volume", "", false, 0},
                    ValueCase{"master_volume", "-", false, 0}, ValueCase{"master_volume", " 5", false, 0},
                    ValueCase{"master_volume", "5 ", false, 0}, ValueCase{"master_volume", "0x10", false, 0},
                    ValueCase{"master_volume", "4294967366", false, 0},
                    ValueCase{"master_volume", "99999999999999999999", false, 0},
                    // No control sends these, and the device information is the processor's own.
                    ValueCase{"level_spare[0]", "80", false, 0}, ValueCase{"system_spare2", "83", false, 0},
                    ValueCase{"system_spare1", "255", false, 0},
                    ValueCase{"device_model", "X", false, 0}, ValueCase{"device_serial", "1", false, 0}),
    [](const testing::TestParamInfo<ValueCase>& info) {
        return case_name(info.index, std::string(info.param.field) + "=" + info.param.text);
    });

TEST(FieldValueText, ProfileTextIsHeldToThirtyNineCp936Bytes)
{
    const FieldRef ref = ref_of("profile_text[2]");
    // Two bytes per Chinese character in the code page: 19 fit, 20 do not.
    std::string nineteen, twenty;
    for (int i = 0; i < 19; ++i) nineteen += "影";
    twenty = nineteen + "影";
    const auto ok = parse_field_value(ref, nineteen + "A");
    ASSERT_TRUE(std::holds_alternative<FieldValue>(ok));
    EXPECT_EQ(std::get<FieldValue>(ok).text.size(), 39u);
    EXPECT_TRUE(std::holds_alternative<std::string>(parse_field_value(ref, twenty)));
    EXPECT_TRUE(std::holds_alternative<std::string>(parse_field_value(ref, std::string(40, 'x'))));
    EXPECT_TRUE(std::holds_alternative<std::string>(parse_field_value(ref, "\xff\xfe")));
}

TEST(FieldValueText, StoreZeroFillsAndReadsBack)
{
    ParameterImage image{};
    std::memset(image.profile_text[3], 'Z', profile_text_size);
    const FieldRef ref = ref_of("profile_text[3]");
    store_field(image, ref, std::get<FieldValue>(parse_field_value(ref, "Hall 1")));
    EXPECT_EQ(field_text(image, ref), "Hall 1");
    for (int i = 6; i < profile_text_size; ++i) EXPECT_EQ(image.profile_text[3][i], 0) << i;
    EXPECT_EQ(image.profile_text[4][0], 0);
}

TEST(FieldValueText, FullDeviceFieldReadsAllSixteenBytesAndNoMore)
{
    ParameterImage image{};
    std::memcpy(image.device_serial, "0123456789ABCDEF", 16);
    std::memcpy(image.firmware_version, "V9", 2);
    EXPECT_EQ(field_text(image, ref_of("device_serial")), "0123456789ABCDEF");
}

TEST(FieldNumbers, SignedFieldsReadSignedAndStoreTwosComplement)
{
    ParameterImage image{};
    const FieldRef cut = ref_of("sw_filter[1].cut");
    store_field(image, cut, FieldValue{-120, {}});
    EXPECT_EQ(image.data()[TK770_OFFSET(sw_filter[1].cut)], 0x88);
    EXPECT_EQ(field_number(image, cut), -120);
    image.output_gain[2] = 200;  // out of range values from a file stay readable
    EXPECT_EQ(field_number(image, ref_of("output_gain[2]")), 200);
}

// A set changes only the bits the field's control changes: the master mute
// button toggles bit 0 alone, the preset boxes bits 0 to 4, the MIC routing
// items bits 0 and 1. Bytes a control owns whole are replaced whole.
struct MergeCase {
    const char* field;
    std::uint8_t before;
    const char* value;
    std::uint8_t after;
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.field << "=" << c.value; }

class FieldStoreBits : public testing::TestWithParam<MergeCase> {};

TEST_P(FieldStoreBits, KeepsTheBitsNoControlOfTheFieldChanges)
{
    const auto& c = GetParam();
    const FieldRef ref = ref_of(c.field);
    ParameterImage image{};
    std::memset(image.data(), 0xA5, image_size);
    image.data()[ref.offset] = c.before;
    ParameterImage expected = image;
    expected.data()[ref.offset] = c.after;

    const auto value = parse_field_value(ref, c.value);
    ASSERT_TRUE(std::holds_alternative<FieldValue>(value)) << std::get<std::string>(value);
    store_field(image, ref, std::get<FieldValue>(value));
    EXPECT_EQ(static_cast<int>(image.data()[ref.offset]), static_cast<int>(c.after));
    EXPECT_EQ(image, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, FieldStoreBits,
    testing::Values(MergeCase{"master_mute", 0x82, "1", 0x83}, MergeCase{"master_mute", 0x83, "0", 0x82},
                    MergeCase{"master_mute", 0xFE, "0", 0xFE}, MergeCase{"preset_flags", 0xE0, "5", 0xE5},
                    MergeCase{"preset_flags", 0xFF, "0", 0xE0}, MergeCase{"mic_routing", 0x04, "2", 0x06},
                    MergeCase{"mic_routing", 0xFF, "0", 0xFC},
                    // Owned whole: every bit is some channel's or some choice's.
                    MergeCase{"polarity_flags", 0x5A, "1", 0x01}, MergeCase{"mute_flags", 0xFF, "0", 0x00},
                    MergeCase{"test_signal_flags", 0x81, "2", 0x02}, MergeCase{"sw_lpf_mode", 0xF0, "4", 0x04},
                    MergeCase{"input_format", 0x83, "1", 0x01}),
    [](const auto& info) {
        std::string name = std::string(info.param.field) + "_" + info.param.value + "_" +
                           std::to_string(static_cast<int>(info.param.before));
        for (auto& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

struct UnitCase {
    const char* field;
    int device_address;
    int length;
    WriteCommand command;
};

void PrintTo(const UnitCase& c, std::ostream* os) { *os << c.field; }

class FieldSendUnit : public testing::TestWithParam<UnitCase> {};

TEST_P(FieldSendUnit, IsTheControlSurfacesUnit)
{
    const auto& c = GetParam();
    const auto unit = send_unit_of(ref_of(c.field));
    ASSERT_TRUE(unit.has_value()) << c.field;
    EXPECT_EQ(unit->device_address, c.device_address) << c.field;
    EXPECT_EQ(unit->length, c.length) << c.field;
    EXPECT_EQ(unit->command, c.command) << c.field;
}

INSTANTIATE_TEST_SUITE_P(
    Units, FieldSendUnit,
    testing::Values(UnitCase{"input_level[3]", 0, 5, WriteCommand::write},
                    UnitCase{"preset_flags", 8, 1, WriteCommand::write},
                    UnitCase{"mic_routing", 9, 1, WriteCommand::write},
                    UnitCase{"sw_lpf_mode", 10, 2, WriteCommand::write},
                    UnitCase{"output_gain[5]", 17, 1, WriteCommand::write},
                    UnitCase{"output_delay[7]", 27, 1, WriteCommand::write},
                    UnitCase{"mute_flags", 29, 1, WriteCommand::write},
                    UnitCase{"sw_filter[1].q", 33, 3, WriteCommand::write},
                    UnitCase{"tone[2].bass_freq", 44, 2, WriteCommand::write},
                    UnitCase{"tone[2].treble_gain", 46, 2, WriteCommand::write},
                    UnitCase{"eq[2][11]", 129, 1, WriteCommand::write},
                    UnitCase{"aux_source", 300, 5, WriteCommand::write},
                    UnitCase{"master_volume", 305, 1, WriteCommand::write},
                    UnitCase{"test_signal", 306, 2, WriteCommand::write},
                    UnitCase{"fade_time", 308, 1, WriteCommand::store},
                    UnitCase{"power_on_format", 309, 1, WriteCommand::store},
                    UnitCase{"master_mute", 310, 1, WriteCommand::write},
                    UnitCase{"profile_text[1]", 540, 40, WriteCommand::write}),
    [](const testing::TestParamInfo<UnitCase>& info) { return case_name(info.param.field); });

TEST(FieldSendUnit, NoneForFieldsNoControlSends)
{
    for (const char* name : {"level_spare[1]", "system_spare1", "system_spare2", "device_model", "firmware_date"})
        EXPECT_FALSE(send_unit_of(ref_of(name)).has_value()) << name;
}

}  // namespace

namespace {

// Anything the parser accepts must be a field's one canonical spelling; a
// mutated name (a byte changed, dropped or added) must never be taken for a
// different element by accident.
TEST(FieldRefMutations, AcceptedTextIsAlwaysCanonical)
{
    std::vector<std::string> names;
    for_each_field_element([&](const FieldRef& ref) { names.push_back(ref.name()); });
    static constexpr char letters[] = "[].-+ _0123456789azq\0\xff";
    const std::string alphabet(letters, sizeof letters - 1);
    unsigned seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    for (int round = 0; round < 20000; ++round) {
        std::string text = names[next() % names.size()];
        const int edits = 1 + static_cast<int>(next() % 3);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = text.empty() ? 0 : next() % (text.size() + 1);
            const char c = alphabet[next() % alphabet.size()];
            switch (next() % 3) {
            case 0: if (at < text.size()) text[at] = c; break;
            case 1: if (at < text.size()) text.erase(at, 1); break;
            default: text.insert(at, 1, c); break;
            }
        }
        const auto parsed = parse_field_ref(text);
        if (const auto* ref = std::get_if<FieldRef>(&parsed)) {
            EXPECT_EQ(ref->name(), text);
            ASSERT_GE(ref->offset, 0);
            ASSERT_LE(ref->offset + ref->field->size, static_cast<int>(image_size));
        } else {
            EXPECT_FALSE(std::get<std::string>(parsed).empty()) << text;
        }
    }
}

}  // namespace
