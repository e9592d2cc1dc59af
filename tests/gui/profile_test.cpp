#include "gui/Profile.h"

#include "core/captions.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> fieldBytes(const char* field, std::size_t n)
{
    return {reinterpret_cast<const std::uint8_t*>(field), reinterpret_cast<const std::uint8_t*>(field) + n};
}

QString text(const QLabel* label) { return label->text(); }

// Types character by character like a keyboard (or input method) would;
// keyClicks handles only characters that have a key of their own.
void typeText(QWidget* box, const QString& typed)
{
    for (QChar ch : typed) QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

class ProfileTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&image, 0, sizeof image);
        dialog.showDialog();
    }
    QLineEdit* box(int n) { return dialog.findChild<QLineEdit*>(QStringLiteral("Edit%1").arg(n)); }
    QLabel* label(const char* name) { return dialog.findChild<QLabel*>(QString::fromLatin1(name)); }

    tk770::ParameterImage image{};
    TForm5 dialog{image};
};

TEST_F(ProfileTest, TypingAbcWritesItsBytesAndAZeroAndKeepsTheRestOfTheField)
{
    std::memset(image.profile_text[7], 0x55, tk770::profile_text_size);
    typeText(box(8), QStringLiteral("ABC"));

    std::vector<std::uint8_t> expected{0x41, 0x42, 0x43, 0x00};
    expected.resize(tk770::profile_text_size, 0x55);
    EXPECT_EQ(fieldBytes(image.profile_text[7], tk770::profile_text_size), expected);
    // Only the field of the edited box changes.
    EXPECT_EQ(image.profile_text[6][0], 0);
}

TEST_F(ProfileTest, ClearingABoxZeroesTheFirstByte)
{
    typeText(box(3), QStringLiteral("Hall"));
    box(3)->clear();
    EXPECT_EQ(image.profile_text[2][0], 0);
}

struct TypingCase {
    const char* name;
    QString typed;
    QString shown;                    // what the box holds afterwards
    std::vector<std::uint8_t> field;  // the field's bytes up to and including its zero
};

void PrintTo(const TypingCase& c, std::ostream* os) { *os << c.name; }

class ProfileTypingTest : public ProfileTest, public testing::WithParamInterface<TypingCase> {};

TEST_P(ProfileTypingTest, FieldHoldsCp936TextOfAtMost39Bytes)
{
    const auto& c = GetParam();
    typeText(box(1), c.typed);
    EXPECT_EQ(box(1)->text(), c.shown);
    EXPECT_EQ(fieldBytes(image.profile_text[0], c.field.size()), c.field);
}

std::vector<std::uint8_t> repeated(std::uint8_t byte, int n, std::vector<std::uint8_t> tail)
{
    std::vector<std::uint8_t> v(static_cast<std::size_t>(n), byte);
    v.insert(v.end(), tail.begin(), tail.end());
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileTypingTest,
    testing::Values(
        TypingCase{"chinese_character_takes_two_bytes", QStringLiteral("A中"), QStringLiteral("A中"),
                   {0x41, 0xD6, 0xD0, 0x00}},
        // 38 bytes leave room for one byte only: the double-byte character is
        // refused whole, a following single byte still fits.
        TypingCase{"double_byte_character_refused_at_the_limit", QString(38, u'a') + QStringLiteral("中b"),
                   QString(38, u'a') + u'b', repeated(0x61, 38, {0x62, 0x00})},
        TypingCase{"character_after_39_bytes_refused", QString(37, u'a') + QStringLiteral("中x"),
                   QString(37, u'a') + QStringLiteral("中"), repeated(0x61, 37, {0xD6, 0xD0, 0x00})},
        // A character code page 936 lacks never reaches the field.
        TypingCase{"unmappable_character_refused", QStringLiteral("A\u0e01B"), QStringLiteral("AB"),
                   {0x41, 0x42, 0x00}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProfileTest, DecodeFillsBoxesAndDeviceLinesReadingNoFurtherThanEachField)
{
    std::memcpy(image.profile_text[3], "Hall 1", 7);
    std::memcpy(image.profile_text[2], "\xB5\xE7\xD3\xB0", 5);  // 电影
    std::memcpy(image.device_serial, "0123456789ABCDEF", 16);   // no zero byte
    std::memcpy(image.firmware_version, "V3.1", 5);
    std::memcpy(image.firmware_date, "2009-11-04", 11);
    // device_model starts with its zero byte.

    dialog.decodeDeviceInformation();

    EXPECT_EQ(box(4)->text(), QStringLiteral("Hall 1"));
    EXPECT_EQ(box(3)->text(), QStringLiteral("电影"));
    EXPECT_EQ(box(1)->text(), QString());
    EXPECT_EQ(text(label("StaticText11")), QStringLiteral("设备序列号：  0123456789ABCDEF"));
    EXPECT_EQ(text(label("StaticText12")), QStringLiteral("设备型号：      "));
    EXPECT_EQ(text(label("StaticText13")), QStringLiteral("固件版本：      V3.1"));
    EXPECT_EQ(text(label("StaticText14")), QStringLiteral("固件发布：      2009-11-04"));
}

TEST_F(ProfileTest, FieldArrivingWithFortyTextBytesIsHeldToThirtyNineAndItsZero)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> arrived;  // 40 bytes, no zero
        QString shown;
        std::vector<std::uint8_t> kept;
    };
    const Case cases[] = {
        {"single_bytes", repeated(0x61, 40, {}), QString(39, u'a'), repeated(0x61, 39, {0x00})},
        // Cutting at 39 would split the last character: it goes whole.
        {"double_byte_at_the_end", repeated(0x61, 38, {0xD6, 0xD0}), QString(38, u'a'),
         repeated(0x61, 38, {0x00})},
    };
    for (const auto& c : cases) {
        std::memcpy(image.profile_text[5], c.arrived.data(), 40);
        std::memcpy(image.profile_text[6], "next", 5);
        dialog.decodeDeviceInformation();
        EXPECT_EQ(box(6)->text(), c.shown) << c.name;
        EXPECT_EQ(fieldBytes(image.profile_text[5], c.kept.size()), c.kept) << c.name;
        EXPECT_EQ(box(7)->text(), QStringLiteral("next")) << c.name;
    }
}

TEST_F(ProfileTest, FieldWithBytesThatAreNotCp936TextIsKeptAsItArrived)
{
    const std::vector<std::uint8_t> arrived{0x41, 0x81, 0x20, 0x42, 0x00, 0x77};
    std::memcpy(image.profile_text[1], arrived.data(), arrived.size());
    dialog.decodeDeviceInformation();
    EXPECT_TRUE(box(2)->text().startsWith(u'A'));
    EXPECT_EQ(fieldBytes(image.profile_text[1], arrived.size()), arrived);
}

TEST_F(ProfileTest, DeviceLinesLoseTheirValuesOnALanguageSwitchAndRegainThemOnDecode)
{
    std::memcpy(image.device_model, "TK770", 6);
    dialog.decodeDeviceInformation();
    dialog.applyLanguage(tk770::language_english);
    EXPECT_EQ(text(label("StaticText12")), QStringLiteral("Component Model:"));
    dialog.decodeDeviceInformation();
    // The prefixes stay Chinese in either language.
    EXPECT_EQ(text(label("StaticText12")), QStringLiteral("设备型号：      TK770"));
    EXPECT_EQ(text(label("StaticText15")), QStringLiteral("软件版本： V2.2   09-11-04"));
}

}  // namespace
