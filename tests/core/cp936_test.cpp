#include "core/cp936.h"
#include "core/parameter_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace tk770;

namespace {

std::string repeat(std::string_view s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

struct EncodeCase {
    std::string utf8;
    std::string cp936;
};

TEST(Utf8ToCp936, EncodesOneOrTwoBytesPerCharacter)
{
    const EncodeCase cases[] = {
        {"", ""},
        {"ABC", "\x41\x42\x43"},
        {"中", "\xD6\xD0"},
        {"左环绕", "\xD7\xF3\xBB\xB7\xC8\xC6"},
        {"A中B", "A\xD6\xD0" "B"},
        {"€", "\x80"},  // the code page's one single-byte character above ASCII
    };
    for (const auto& c : cases) {
        const auto r = utf8_to_cp936_field(c.utf8, 39);
        ASSERT_TRUE(r) << c.utf8;
        EXPECT_EQ(r->bytes, c.cp936) << c.utf8;
        EXPECT_FALSE(r->truncated) << c.utf8;
    }
}

TEST(Utf8ToCp936, TruncatesOnlyAtCharacterBoundaries)
{
    struct Case {
        std::string utf8;
        std::size_t max_bytes;
        std::string cp936;
        bool truncated;
    };
    const std::string zhong = "\xD6\xD0";
    const Case cases[] = {
        {repeat("中", 20), 39, repeat(zhong, 19), true},
        {"A" + repeat("中", 20), 39, "A" + repeat(zhong, 19), true},
        {repeat("中", 19) + "A", 39, repeat(zhong, 19) + "A", false},
        {repeat("x", 40), 39, repeat("x", 39), true},
        {repeat("x", 39), 39, repeat("x", 39), false},
        {"AB中", 3, "AB", true},
        {"中", 1, "", true},
        {"中", 0, "", true},
        {"", 0, "", false},
    };
    for (const auto& c : cases) {
        const auto r = utf8_to_cp936_field(c.utf8, c.max_bytes);
        ASSERT_TRUE(r) << c.utf8 << " / " << c.max_bytes;
        EXPECT_EQ(r->bytes, c.cp936) << c.utf8 << " / " << c.max_bytes;
        EXPECT_EQ(r->truncated, c.truncated) << c.utf8 << " / " << c.max_bytes;
    }
}

TEST(Utf8ToCp936, RejectsWhatItCannotHoldWithoutCrashing)
{
    const std::string cases[] = {
        "\xFF",                 // never valid in UTF-8
        "ab\xC0\xAF",           // overlong encoding of '/'
        "\xED\xA0\x80",         // a lone surrogate
        "\xE4\xB8",             // a character cut short at the end
        "\xE4\x41\x41",         // a lead byte followed by ASCII
        "한",                   // Hangul: not in the code page
        "\xF0\x9F\x98\x80",     // an emoji
        std::string("a\0b", 3), // a zero byte would end the field early
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(utf8_to_cp936_field(c, 39)) << testing::PrintToString(c);
        EXPECT_FALSE(fits_cp936(c, 39)) << testing::PrintToString(c);
    }
}

TEST(FitsCp936, CountsCodePageBytesNotUtf8Bytes)
{
    struct Case {
        std::string utf8;
        std::size_t max_bytes;
        bool fits;
    };
    const Case cases[] = {
        {repeat("中", 19) + "A", 39, true},  // 58 UTF-8 bytes, 39 in the code page
        {repeat("中", 20), 39, false},
        {repeat("x", 39), 39, true},
        {repeat("x", 40), 39, false},
        {"", 0, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fits_cp936(c.utf8, c.max_bytes), c.fits) << c.utf8 << " / " << c.max_bytes;
}

TEST(Cp936FieldToUtf8, RoundTripsTheOperatorsText)
{
    const std::string texts[] = {"", "Hall 3", "数字播放器1:", "万达影城 IMAX 厅", "格式（输入设置）", "€ 5"};
    for (const auto& text : texts) {
        const auto r = utf8_to_cp936_field(text, 39);
        ASSERT_TRUE(r) << text;
        char field[40] = {};
        std::memcpy(field, r->bytes.data(), r->bytes.size());
        EXPECT_EQ(cp936_field_to_utf8(field), text);
    }
}

// A field without a zero byte ends at its size; the next field's bytes,
// which sit right behind it in the image, must not show.
TEST(Cp936FieldToUtf8, ReadsNoFurtherThanTheField)
{
    ParameterImage image{};
    std::memcpy(image.device_serial, "ABCDEFGHIJKLMNOP", 16);
    std::memcpy(image.firmware_version, "V1.0", 5);
    EXPECT_EQ(cp936_field_to_utf8(image.device_serial), "ABCDEFGHIJKLMNOP");

    std::memcpy(image.device_serial, "SN\0XYZ", 6);
    EXPECT_EQ(cp936_field_to_utf8(image.device_serial), "SN");

    image.device_model[0] = '\0';
    std::memcpy(image.device_model + 1, "junk", 4);
    EXPECT_EQ(cp936_field_to_utf8(image.device_model), "");

    // Half a character at the very end is not completed from the next field.
    std::memcpy(image.device_serial, "ABCDEFGHIJKLMNO\xD6", 16);
    std::memcpy(image.firmware_version, "\xD0", 2);
    EXPECT_EQ(cp936_field_to_utf8(image.device_serial), "ABCDEFGHIJKLMNO\xEF\xBF\xBD");

    EXPECT_EQ(cp936_field_to_utf8(nullptr, 16), "");
    EXPECT_EQ(cp936_field_to_utf8(image.device_serial, 0), "");
}

TEST(Cp936FieldToUtf8, ReplacesInvalidBytesAndGoesOn)
{
    struct Case {
        std::string field;
        std::string utf8;
    };
    const std::string fffd = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"A\xFF" "B", "A" + fffd + "B"},
        {"\xD6\xD0\xFF\xD6\xD0", "中" + fffd + "中"},
        {"\x81\x20" "C", fffd + " C"},  // a lead byte without a valid trail byte
    };
    for (const auto& c : cases)
        EXPECT_EQ(cp936_field_to_utf8(c.field.data(), c.field.size()), c.utf8)
            << testing::PrintToString(c.field);
}

}  // namespace

namespace {

TEST(Cp936TextProblem, NamesTheReason)
{
    struct Case {
        const char* what;
        std::string text;
        std::size_t room;
        std::string problem;  // empty: storable
    };
    const Case cases[] = {
        {"ASCII that fits", "SN123", 16, ""},
        {"Chinese that fits", "影厅 3", 16, ""},
        {"exactly full", std::string(16, 'x'), 16, ""},
        {"one byte too long", std::string(17, 'x'), 16, "is 17 bytes in code page 936; at most 16 fit"},
        {"nine Chinese characters", "影厅影厅影厅影厅影", 16, "is 18 bytes in code page 936; at most 16 fit"},
        {"a stray continuation byte", "ab\x80", 16, "is not valid UTF-8 (byte 3)"},
        {"an overlong slash", "\xC0\xAF", 16, "is not valid UTF-8 (byte 1)"},
        {"a cut-off character", "\xE5\xBD", 16, "is not valid UTF-8 (byte 1)"},
        {"a replacement mark", "a\xEF\xBF\xBD", 16, "is not valid UTF-8"},
        {"a zero byte", std::string("a\0b", 3), 16, "holds a zero byte"},
        {"a newline", "a\nb", 16, "holds a control character (U+000A)"},
        {"an escape", "\x1b[2J", 16, "holds a control character (U+001B)"},
        {"a C1 control", "a\xC2\x9B", 16, "holds a control character (U+009B)"},
        {"an emoji", "A\xF0\x9F\x98\x80", 16, "'\xF0\x9F\x98\x80' (U+1F600) has no code page 936 form"},
    };
    for (const auto& c : cases) EXPECT_EQ(tk770::cp936_text_problem(c.text, c.room), c.problem) << c.what;
}

TEST(EscapeControls, KeepsAPrintedTextOnOneLine)
{
    struct Case {
        std::string text;
        std::string shown;
    };
    const Case cases[] = {
        {"plain 影厅", "plain 影厅"},
        {"a\nb\r\tc", "a\\nb\\r\\tc"},
        {"\x1b[2J", "\\u001b[2J"},
        {"back\\slash", "back\\\\slash"},
        {"del\x7f", "del\\u007f"},
        {"bad\xff", "bad\\xff"},
    };
    for (const auto& c : cases) EXPECT_EQ(tk770::escape_controls(c.text), c.shown) << c.text;
}

}  // namespace
