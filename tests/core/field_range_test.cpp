// A project whose fields lie outside the ranges the controls keep.
#include "core/field_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tk770;

namespace {

TEST(FieldsOutOfRange, NewProjectHasNone)
{
    ParameterImage image{};
    image.reset_to_defaults();
    EXPECT_TRUE(fields_out_of_range(image).empty());
}

TEST(FieldsOutOfRange, NamesEachFieldItsValueAndItsRange)
{
    ParameterImage image{};
    image.reset_to_defaults();
    image.master_volume = 169;
    image.eq[2][5] = 61;
    image.tone[1].bass_gain = -61;
    image.sw_filter[1].fc = 19;
    image.polarity_flags = 0xFF;  // any bit pattern is a valid flag byte
    image.master_mute = 0x82;     // bits 1..7 belong to no control
    image.device_model[0] = 'X';  // not part of a project
    EXPECT_EQ(fields_out_of_range(image),
              (std::vector<std::string>{"sw_filter[1].fc 19 (20..120)", "tone[1].bass_gain -61 (-60..60)",
                                        "eq[2][5] 61 (-60..60)", "master_volume 169 (0..100)"}));
}

}  // namespace
