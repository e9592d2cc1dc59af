#include "gui/Wrser.h"

#include "link/sequences.h"
#include "support/recording_sim.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <string>

namespace {

using tk770::testing::withChecksum;

class WrserTest : public testing::Test {
protected:
    void SetUp() override
    {
        state.serial_port = 7;
        state.network_mode = 1;  // the writer talks to the serial port regardless
        dialog.showDialog();
    }
    QLineEdit* box() { return dialog.findChild<QLineEdit*>(QStringLiteral("Edit1")); }
    void type(const QString& text)
    {
        for (QChar ch : text) QTest::sendKeyEvent(QTest::Click, box(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
    void write() { QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton); }

    tk770::ParameterImage image{};
    tk770::LinkState state;
    tk770::testing::RecordingSim serial;
    tk770::DeviceLink link{state, &serial, nullptr, nullptr};
    tk770::DeviceSequences sequences{link, image};
    TForm8 dialog{&sequences};
};

struct SerialCase {
    const char* name;
    QString typed;
    std::vector<std::uint8_t> text;  // the 16 data bytes, leading part; the rest must be zero
};

void PrintTo(const SerialCase& c, std::ostream* os) { *os << c.name; }

class WrserFrameTest : public WrserTest, public testing::WithParamInterface<SerialCase> {};

TEST_P(WrserFrameTest, StoresSixteenTextBytesInOneFrame)
{
    const auto& c = GetParam();
    type(c.typed);
    write();

    std::vector<std::uint8_t> data = c.text;
    data.resize(16, 0x00);
    std::vector<std::uint8_t> expected{0xCA, 0x10, 0x03, 0x44, 0x00, 0x10};
    expected.insert(expected.end(), data.begin(), data.end());
    ASSERT_EQ(serial.writes.size(), 1u);
    EXPECT_EQ(serial.writes[0].port, 7);
    EXPECT_EQ(serial.writes[0].bytes, withChecksum(expected));
    EXPECT_EQ(serial.reads, 1);  // the acknowledgement is read and ignored
}

std::vector<std::uint8_t> ascii(const char* s) { return {s, s + std::char_traits<char>::length(s)}; }

INSTANTIATE_TEST_SUITE_P(
    Cases, WrserFrameTest,
    testing::Values(SerialCase{"sixteen_characters_no_zero", QStringLiteral("TK770-0123456789"),
                               ascii("TK770-0123456789")},
                    SerialCase{"shorter_text_zero_filled", QStringLiteral("SN1"), ascii("SN1")},
                    SerialCase{"typing_stops_at_sixteen", QStringLiteral("ABCDEFGHIJKLMNOPQRST"),
                               ascii("ABCDEFGHIJKLMNOP")},
                    SerialCase{"empty", QString(), {}},
                    SerialCase{"double_byte_characters_that_fit", QStringLiteral("中中中中中中中中"),
                               {0xD6, 0xD0, 0xD6, 0xD0, 0xD6, 0xD0, 0xD6, 0xD0, 0xD6, 0xD0, 0xD6, 0xD0, 0xD6, 0xD0,
                                0xD6, 0xD0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WrserTest, TextThatDoesNotFitSixteenBytesIsRefusedAndMarked)
{
    // Nine characters, eighteen bytes: cutting would store half a number.
    type(QStringLiteral("中中中中中中中中A"));
    write();
    EXPECT_TRUE(serial.writes.empty());
    EXPECT_TRUE(box()->property("refused").toBool());

    box()->backspace();
    EXPECT_FALSE(box()->property("refused").toBool());
    write();
    EXPECT_EQ(serial.writes.size(), 1u);
}

}  // namespace
