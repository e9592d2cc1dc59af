#include "core/parameter_image.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

using namespace tk770;

namespace {

struct Boundary {
    const char* name;
    int image_offset;
    int device_address;
};

class FieldBoundaryTest : public testing::TestWithParam<Boundary> {};

TEST_P(FieldBoundaryTest, MapsToItsDeviceAddress)
{
    const auto& c = GetParam();
    EXPECT_EQ(device_address_of(c.image_offset), c.device_address) << c.name;
    EXPECT_EQ(image_offset_of(c.device_address), c.image_offset) << c.name;
}

INSTANTIATE_TEST_SUITE_P(RunEdges, FieldBoundaryTest,
    testing::Values(Boundary{"eq[6][26]", TK770_OFFSET(eq[6][26]), 252},
                    Boundary{"input_format", TK770_OFFSET(input_format), 300},
                    Boundary{"system_spare2", TK770_OFFSET(system_spare2), 311},
                    Boundary{"profile_text[0]", TK770_OFFSET(profile_text[0]), 500},
                    Boundary{"profile_text[7] last byte", TK770_OFFSET(profile_text[7][39]), 819},
                    Boundary{"device_model", TK770_OFFSET(device_model), 820},
                    Boundary{"device_serial", TK770_OFFSET(device_serial), 0x344},
                    Boundary{"firmware_date last byte", TK770_OFFSET(firmware_date[15]), 883}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (auto& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

void PrintTo(const Boundary& b, std::ostream* os) { *os << b.name; }

TEST(ParameterImageLayout, NamedFieldsSitAtTheirOffsets)
{
    EXPECT_EQ(TK770_OFFSET(eq[2][11]), 129);
    EXPECT_EQ(TK770_OFFSET(tone[6].treble_freq), 36 + 4 * 6 + 3);
    EXPECT_EQ(TK770_OFFSET(sw_filter[1].q), 35);
    EXPECT_EQ(TK770_OFFSET(profile_text[7][39]), 584);
}

TEST(ParameterImageLayout, AddressesOutsideTheRunsHaveNoOffset)
{
    for (int address : {253, 299, 312, 0x15E, 0x190, 499, 884})
        EXPECT_FALSE(image_offset_of(address).has_value()) << address;
    EXPECT_EQ(device_address_of(-1), -1);
    EXPECT_EQ(device_address_of(649), -1);
}

TEST(ParameterImageLayout, SignedFieldsReadAsSigned)
{
    ParameterImage img{};
    img.data()[TK770_OFFSET(eq[3][4])] = 0xC4;
    img.data()[TK770_OFFSET(sw_filter[0].cut)] = 0x88;
    EXPECT_EQ(img.eq[3][4], -60);
    EXPECT_EQ(img.sw_filter[0].cut, -120);
}

TEST(BlockMapTest, CoversTheImageExactlyOnceWithoutCrossingARun)
{
    int covered[image_size] = {};
    for (const auto& row : BlockMap) {
        ASSERT_EQ(device_address_of(row.image_offset), row.device_address);
        ASSERT_EQ(device_address_of(row.image_offset + row.length - 1),
                  row.device_address + row.length - 1)
            << "row at " << row.device_address << " crosses a run";
        for (int i = 0; i < row.length; ++i) ++covered[row.image_offset + i];
    }
    for (std::size_t i = 0; i < image_size; ++i) EXPECT_EQ(covered[i], 1) << "offset " << i;
}

TEST(BlockMapTest, ReadOrderMatchesTheDevice)
{
    const int expected[block_count][3] = {
        {0x000, 36, 0x000}, {0x024, 28, 0x024}, {0x040, 54, 0x040}, {0x076, 54, 0x076},
        {0x0AC, 54, 0x0AC}, {0x0E2, 27, 0x0E2}, {0x12C, 12, 0x0FD}, {0x1F4, 40, 0x109},
        {0x21C, 40, 0x131}, {0x244, 40, 0x159}, {0x26C, 40, 0x181}, {0x294, 40, 0x1A9},
        {0x2BC, 40, 0x1D1}, {0x2E4, 40, 0x1F9}, {0x30C, 40, 0x221}, {0x344, 16, 0x259},
        {0x334, 16, 0x249}, {0x354, 16, 0x269}, {0x364, 16, 0x279},
    };
    for (int r = 0; r < block_count; ++r) {
        EXPECT_EQ(BlockMap[r].device_address, expected[r][0]) << "row " << r + 1;
        EXPECT_EQ(BlockMap[r].length, expected[r][1]) << "row " << r + 1;
        EXPECT_EQ(BlockMap[r].image_offset, expected[r][2]) << "row " << r + 1;
    }
}

TEST(WriteUnitTest, UnitsHaveTheirAddressLengthAndCommand)
{
    struct Case {
        UnitKind kind;
        int index;
        int address;
        int length;
        WriteCommand command;
    };
    const Case cases[] = {
        {UnitKind::input_levels, 0, 0, 5, WriteCommand::write},
        {UnitKind::preset_flags, 0, 8, 1, WriteCommand::write},
        {UnitKind::mic_routing, 0, 9, 1, WriteCommand::write},
        {UnitKind::sw_lowpass, 0, 10, 2, WriteCommand::write},
        {UnitKind::output_gain, 7, 19, 1, WriteCommand::write},
        {UnitKind::output_delay, 3, 23, 1, WriteCommand::write},
        {UnitKind::polarity, 0, 28, 1, WriteCommand::write},
        {UnitKind::mute, 0, 29, 1, WriteCommand::write},
        {UnitKind::sw_section, 1, 33, 3, WriteCommand::write},
        {UnitKind::bass, 6, 60, 2, WriteCommand::write},
        {UnitKind::treble, 2, 46, 2, WriteCommand::write},
        {UnitKind::eq_band, 2 * 27 + 11, 129, 1, WriteCommand::write},
        {UnitKind::input_selection, 0, 300, 5, WriteCommand::write},
        {UnitKind::master_volume, 0, 305, 1, WriteCommand::write},
        {UnitKind::test_signal, 0, 306, 2, WriteCommand::write},
        {UnitKind::fade_time, 0, 308, 1, WriteCommand::store},
        {UnitKind::power_on_format, 0, 309, 1, WriteCommand::store},
        {UnitKind::master_mute, 0, 310, 1, WriteCommand::write},
    };
    for (const auto& c : cases) {
        const auto unit = write_unit(c.kind, c.index);
        EXPECT_EQ(unit.device_address, c.address) << static_cast<int>(c.kind);
        EXPECT_EQ(unit.length, c.length) << static_cast<int>(c.kind);
        EXPECT_EQ(unit.command, c.command) << static_cast<int>(c.kind);
    }
    EXPECT_EQ(write_unit(UnitKind::master_volume).image_offset(), 258);
}

TEST(ResetToDefaults, WritesTheNewProjectValues)
{
    ParameterImage img{};
    img.reset_to_defaults();
    for (int f = 0; f < format_count; ++f) EXPECT_EQ(img.input_level[f], 80);
    for (auto spare : img.level_spare) EXPECT_EQ(spare, 80);
    EXPECT_EQ(img.preset_flags, 0);
    EXPECT_EQ(img.mic_routing, 4);
    for (int ch = 0; ch < channel_count; ++ch) EXPECT_EQ(img.output_gain[ch], 44);
    EXPECT_EQ(img.sw_filter[0].fc, 60);
    EXPECT_EQ(img.sw_filter[1].fc, 80);
    EXPECT_EQ(img.sw_filter[1].q, 2);
    for (int c = 0; c < eq_channel_count; ++c) {
        EXPECT_EQ(img.tone[c].bass_gain, 1);
        EXPECT_EQ(img.tone[c].bass_freq, 3);
        EXPECT_EQ(img.tone[c].treble_gain, 1);
        EXPECT_EQ(img.tone[c].treble_freq, 3);
        for (int b = 0; b < band_count; ++b) EXPECT_EQ(img.eq[c][b], 0);
    }
    EXPECT_EQ(img.input_format, 1);
    EXPECT_EQ(img.master_volume, 70);
    EXPECT_EQ(img.fade_time, 4);
    EXPECT_EQ(img.power_on_format, 5);
    EXPECT_EQ(img.system_spare2, 83);
    // Fields without a new-project value stay as the zero image had them.
    EXPECT_EQ(img.sw_lpf_mode, 0);
    EXPECT_EQ(img.master_mute, 0);
    EXPECT_EQ(img.profile_text[0][0], 0);
}

TEST(ResetToDefaults, KeepsFieldsThatHaveNoNewProjectValue)
{
    ParameterImage loaded{};
    std::memset(loaded.data(), 0x5A, image_size);
    ParameterImage img = loaded;
    img.reset_to_defaults();

    EXPECT_EQ(img.sw_lpf_freq, 0x5A);
    EXPECT_EQ(img.sw_lpf_mode, 0x5A);
    for (auto d : img.output_delay) EXPECT_EQ(d, 0x5A);
    EXPECT_EQ(img.mute_flags, 0x5A);
    EXPECT_EQ(img.master_mute, 0x5A);
    EXPECT_EQ(0, std::memcmp(img.data() + TK770_OFFSET(profile_text), loaded.data() + TK770_OFFSET(profile_text),
                             image_size - TK770_OFFSET(profile_text)));
    // Spare bytes do have new-project values.
    EXPECT_EQ(img.level_spare[2], 80);
    EXPECT_EQ(img.system_spare1, 0);
    EXPECT_EQ(img.mic_routing, 4);
}

}  // namespace
