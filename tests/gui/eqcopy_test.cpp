#include "gui/Eqcopy.h"

#include "support/recording_sim.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

namespace {

struct Write {
    int address;
    std::vector<std::uint8_t> data;
    bool operator==(const Write&) const = default;
};

void PrintTo(const Write& w, std::ostream* os)
{
    *os << "write @0x" << std::hex << w.address << ":";
    for (auto b : w.data) *os << ' ' << static_cast<int>(b);
    *os << std::dec;
}

class EqCopyTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&image, 0, sizeof image);
        // Every channel gets its own recognisable values.
        for (int c = 0; c < tk770::eq_channel_count; ++c) {
            for (int b = 0; b < tk770::band_count; ++b) image.eq[c][b] = static_cast<std::int8_t>(c * 30 + b - 60);
            image.tone[c] = {static_cast<std::int8_t>(-10 * c), static_cast<std::uint8_t>(c),
                             static_cast<std::int8_t>(5 * c), static_cast<std::uint8_t>(9 - c)};
        }
        state.serial_port = 2;
        dialog.showDialog();
    }

    // Clicks on the indicator: a short item text does not reach the middle
    // of its button, and a click beside the text is no click.
    static void clickItem(QAbstractButton* item)
    {
        ASSERT_NE(item, nullptr);
        QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(6, item->height() / 2));
    }
    void pickSource(int channel)
    {
        clickItem(dialog.findChild<QRadioButton*>(QStringLiteral("suiRadioGroup1_%1").arg(channel)));
    }
    void check(int channel)
    {
        clickItem(dialog.findChild<QCheckBox*>(QStringLiteral("suiCheckGroup1_%1").arg(channel)));
    }
    void copy() { QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("suiButton1")), Qt::LeftButton); }

    // Decodes the serial write frames, checking the layout of each.
    std::vector<Write> writes() const
    {
        std::vector<Write> out;
        for (const auto& f : serial.writes) {
            EXPECT_EQ(f.port, 2);
            EXPECT_EQ(f.bytes.at(0), 0xCA);
            EXPECT_EQ(f.bytes.at(1), 0x06);
            const int length = f.bytes.at(4) * 256 + f.bytes.at(5);
            EXPECT_EQ(f.bytes.size(), static_cast<std::size_t>(length) + 7);
            EXPECT_EQ(f.bytes.back(), tk770::testing::sumOf({f.bytes.begin(), f.bytes.end() - 1}));
            out.push_back({f.bytes[2] * 256 + f.bytes[3], {f.bytes.begin() + 6, f.bytes.end() - 1}});
        }
        return out;
    }

    tk770::ParameterImage image{};
    tk770::LinkState state;
    tk770::testing::RecordingSim serial;
    tk770::DeviceLink link{state, &serial, nullptr, nullptr};
    TForm4 dialog{image, state, &link};
};

std::vector<Write> expectedCopy(const tk770::ParameterImage& before, int s, int d)
{
    std::vector<Write> w;
    for (int b = 0; b < tk770::band_count; ++b)
        w.push_back({0x40 + 27 * d + b, {static_cast<std::uint8_t>(before.eq[s][b])}});
    const auto& t = before.tone[s];
    w.push_back({0x24 + 4 * d, {static_cast<std::uint8_t>(t.bass_gain), t.bass_freq}});
    w.push_back({0x26 + 4 * d, {static_cast<std::uint8_t>(t.treble_gain), t.treble_freq}});
    return w;
}

TEST_F(EqCopyTest, LeftOntoCenterAndBsrWritesAllOfCenterThenAllOfBsr)
{
    state.connected = 1;
    const tk770::ParameterImage before = image;
    int afterCopyRuns = 0;
    dialog.setAfterCopy([&] { ++afterCopyRuns; });

    check(1);
    check(6);
    copy();

    auto expected = expectedCopy(before, 0, 1);
    const auto bsr = expectedCopy(before, 0, 6);
    expected.insert(expected.end(), bsr.begin(), bsr.end());
    const auto sent = writes();
    EXPECT_EQ(sent.size(), 58u);
    EXPECT_EQ(sent, expected);

    for (int d : {1, 6}) {
        EXPECT_EQ(0, std::memcmp(image.eq[d], before.eq[0], tk770::band_count)) << d;
        EXPECT_EQ(0, std::memcmp(&image.tone[d], &before.tone[0], sizeof(tk770::ToneRecord))) << d;
    }
    // Channels that were not destinations are left alone.
    for (int c : {0, 2, 3, 4, 5}) {
        EXPECT_EQ(0, std::memcmp(image.eq[c], before.eq[c], tk770::band_count)) << c;
        EXPECT_EQ(0, std::memcmp(&image.tone[c], &before.tone[c], sizeof(tk770::ToneRecord))) << c;
    }
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(afterCopyRuns, 1);
}

TEST_F(EqCopyTest, WhileDisconnectedOnlyTheImageChanges)
{
    const tk770::ParameterImage before = image;
    pickSource(4);
    check(2);
    copy();

    EXPECT_TRUE(serial.writes.empty());
    EXPECT_EQ(0, std::memcmp(image.eq[2], before.eq[4], tk770::band_count));
    EXPECT_EQ(0, std::memcmp(&image.tone[2], &before.tone[4], sizeof(tk770::ToneRecord)));
    EXPECT_EQ(state.error_count, 0);
}

TEST_F(EqCopyTest, NothingCheckedOnlyClosesAndChoicesSurviveReopening)
{
    state.connected = 1;
    const tk770::ParameterImage before = image;
    pickSource(3);
    copy();
    EXPECT_TRUE(serial.writes.empty());
    EXPECT_EQ(0, std::memcmp(&image, &before, sizeof image));
    EXPECT_FALSE(dialog.isVisible());

    dialog.showDialog();
    EXPECT_EQ(dialog.sourceChannel(), 3);
}

TEST_F(EqCopyTest, SourceCheckedAsDestinationIsWrittenAgain)
{
    state.connected = 1;
    const tk770::ParameterImage before = image;
    pickSource(5);
    check(5);
    copy();
    EXPECT_EQ(writes(), expectedCopy(before, 5, 5));
    EXPECT_EQ(0, std::memcmp(&image, &before, sizeof image));
}

}  // namespace
