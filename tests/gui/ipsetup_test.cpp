#include "gui/Ipsetup.h"

#include "link/sequences.h"
#include "support/recording_sim.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using tk770::testing::Bytes;
using tk770::testing::withChecksum;

const std::vector<std::uint8_t> readRequest{0xCA, 0x03, 0x01, 0x90, 0x00, 0x0C, 0x6A};

class IpsetupTest : public testing::Test {
protected:
    void SetUp() override
    {
        state.serial_port = 4;
        dialog.showDialog();
    }
    QLineEdit* box(int n) { return dialog.findChild<QLineEdit*>(QStringLiteral("Edit%1").arg(n)); }
    void click(const char* name) { QTest::mouseClick(dialog.findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton); }
    void retype(int n, const QString& text)
    {
        box(n)->clear();
        QTest::keyClicks(box(n), text);
    }
    bool marked(int n) { return box(n)->property("refused").toBool(); }

    tk770::ParameterImage image{};
    tk770::LinkState state;
    tk770::testing::RecordingSim serial;
    tk770::DeviceLink link{state, &serial, nullptr, nullptr};
    tk770::DeviceSequences sequences{link, image};
    TForm6 dialog{&sequences};
};

struct ReadCase {
    const char* name;
    int networkMode;
    const char* fault;  // the processor's fault mode on the read, nullptr for none
    int lost;           // bytes of the reply lost on the line besides
    QStringList shown;  // the three boxes afterwards
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

// The network block the processor holds: 192.168.0.8, 255.255.255.0, 10.0.0.254.
const Bytes networkBlock{0xC0, 0xA8, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0x00, 0x0A, 0x00, 0x00, 0xFE};

class IpsetupReadTest : public IpsetupTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(IpsetupReadTest, ShowsAReplyOnlyWhenItIsWholeAndItsChecksumMatches)
{
    const auto& c = GetParam();
    state.network_mode = c.networkMode;
    for (int n = 1; n <= 3; ++n) retype(n, QStringLiteral("old%1").arg(n));
    serial.setMemory(0x190, networkBlock);
    if (c.fault) serial.fault(c.fault);
    serial.alterReply = [&](long, Bytes& reply) { reply.resize(reply.size() - std::min<std::size_t>(reply.size(), c.lost)); };

    click("suiButton1");

    // The request always goes to the serial port, whatever the link mode.
    ASSERT_EQ(serial.writes.size(), 1u);
    EXPECT_EQ(serial.writes[0].port, 4);
    EXPECT_EQ(serial.writes[0].bytes, readRequest);
    EXPECT_EQ(QStringList({box(1)->text(), box(2)->text(), box(3)->text()}), c.shown);
    EXPECT_EQ(state.error_count, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IpsetupReadTest,
    testing::Values(
        ReadCase{"accepted", 0, nullptr, 0, {"192.168.0.8", "255.255.255.0", "10.0.0.254"}},
        ReadCase{"accepted_in_network_mode", 1, nullptr, 0, {"192.168.0.8", "255.255.255.0", "10.0.0.254"}},
        ReadCase{"checksum_mismatch_rejected", 0, "bad-checksum@1", 0, {"old1", "old2", "old3"}},
        ReadCase{"short_reply_rejected", 0, nullptr, 1, {"old1", "old2", "old3"}},
        ReadCase{"short_fault_rejected", 0, "short@1", 0, {"old1", "old2", "old3"}},
        ReadCase{"no_reply_rejected", 0, "no-reply@1", 0, {"old1", "old2", "old3"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IpsetupTest, WriteSendsTheParsedAddressesInOneStoreFrame)
{
    retype(1, QStringLiteral("192.168.0.8"));
    retype(2, QStringLiteral("255.255.255.0"));
    retype(3, QStringLiteral("010.0.0.1"));
    click("suiButton2");

    ASSERT_EQ(serial.writes.size(), 1u);
    EXPECT_EQ(serial.writes[0].port, 4);
    EXPECT_EQ(serial.writes[0].bytes, withChecksum({0xCA, 0x10, 0x01, 0x90, 0x00, 0x0C, 0xC0, 0xA8, 0x00, 0x08, 0xFF,
                                                    0xFF, 0xFF, 0x00, 0x0A, 0x00, 0x00, 0x01}));
    EXPECT_EQ(serial.reads, 1);  // the acknowledgement is read
    EXPECT_FALSE(marked(1) || marked(2) || marked(3));
}

struct RefusalCase {
    const char* name;
    QString ip, mask, gateway;
    std::array<bool, 3> marks;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class IpsetupRefusalTest : public IpsetupTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(IpsetupRefusalTest, RefusedAddressSendsNothingAndMarksItsBox)
{
    const auto& c = GetParam();
    retype(1, c.ip);
    retype(2, c.mask);
    retype(3, c.gateway);
    click("suiButton2");

    EXPECT_TRUE(serial.writes.empty());
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(marked(n), c.marks[n - 1]) << "Edit" << n;

    // Correcting a box clears its mark; a send with every box valid goes out.
    for (int n = 1; n <= 3; ++n)
        if (c.marks[n - 1]) retype(n, QStringLiteral("1.2.3.4"));
    for (int n = 1; n <= 3; ++n) EXPECT_FALSE(marked(n)) << "Edit" << n;
    click("suiButton2");
    EXPECT_EQ(serial.writes.size(), 1u);
}

const QString ok = QStringLiteral("192.168.1.1");

INSTANTIATE_TEST_SUITE_P(
    Cases, IpsetupRefusalTest,
    testing::Values(RefusalCase{"octet_above_255", QStringLiteral("256.0.0.1"), ok, ok, {true, false, false}},
                    RefusalCase{"only_two_dots", ok, QStringLiteral("255.255.0"), ok, {false, true, false}},
                    RefusalCase{"fifth_part", ok, ok, QStringLiteral("10.0.0.1.5"), {false, false, true}},
                    RefusalCase{"empty_octet", QStringLiteral("1..2.3"), ok, ok, {true, false, false}},
                    RefusalCase{"letters", ok, ok, QStringLiteral("a.b.c.d"), {false, false, true}},
                    RefusalCase{"empty_box", ok, QString(), ok, {false, true, false}},
                    RefusalCase{"two_bad_boxes", QStringLiteral("1.2.3"), ok, QStringLiteral("1.2.3.999"),
                                {true, false, true}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IpsetupTest, BoxesHoldAtMostNineteenCharacters)
{
    for (int n = 1; n <= 3; ++n) {
        retype(n, QStringLiteral("1234567890123456789012"));
        EXPECT_EQ(box(n)->text(), QStringLiteral("1234567890123456789")) << "Edit" << n;
    }
}

TEST_F(IpsetupTest, WithoutSequencesTheButtonsDoNothing)
{
    TForm6 bare(nullptr);
    bare.findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QStringLiteral("1.2.3.4"));
    QTest::mouseClick(bare.findChild<QPushButton*>(QStringLiteral("suiButton1")), Qt::LeftButton);
    QTest::mouseClick(bare.findChild<QPushButton*>(QStringLiteral("suiButton2")), Qt::LeftButton);
    EXPECT_EQ(bare.findChild<QLineEdit*>(QStringLiteral("Edit1"))->text(), QStringLiteral("1.2.3.4"));
}

}  // namespace
