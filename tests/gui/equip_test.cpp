#include "gui/Equip.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class EquipTest : public testing::Test {
protected:
    QLineEdit* box() { return dialog.findChild<QLineEdit*>(QStringLiteral("Edit1")); }
    void confirm() { QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("suiButton1")), Qt::LeftButton); }
    void retype(const QString& text)
    {
        box()->clear();
        QTest::keyClicks(box(), text);
    }
    std::string stored() const { return std::string(deviceIpText.data()); }

    std::array<char, 20> deviceIpText{};
    QStringList hosts;
    TForm7 dialog{deviceIpText, [this](const QString& host) { hosts << host; }};
};

TEST_F(EquipTest, OpeningAlwaysStartsFromTheStoredAddress)
{
    std::memcpy(deviceIpText.data(), "192.168.0.8", 12);
    dialog.showDialog();
    EXPECT_EQ(box()->text(), QStringLiteral("192.168.0.8"));

    retype(QStringLiteral("10.1.1.1"));
    dialog.hide();  // closed by its title bar: nothing kept
    dialog.showDialog();
    EXPECT_EQ(box()->text(), QStringLiteral("192.168.0.8"));
    EXPECT_TRUE(hosts.isEmpty());
}

TEST_F(EquipTest, ConfirmStoresTheAddressMakesItTheHostAndCloses)
{
    std::memset(deviceIpText.data(), 'x', 19);  // a longer earlier text leaves nothing behind
    dialog.showDialog();
    retype(QStringLiteral("10.0.0.7"));
    confirm();

    std::array<char, 20> expected{};
    std::memcpy(expected.data(), "10.0.0.7", 8);
    EXPECT_EQ(deviceIpText, expected);
    EXPECT_EQ(hosts, QStringList{QStringLiteral("10.0.0.7")});
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(EquipTest, RefusedAddressChangesNothingAndMarksTheBox)
{
    std::memcpy(deviceIpText.data(), "192.168.0.8", 12);
    dialog.showDialog();
    for (const QString& bad : {QStringLiteral("192.168.0"), QStringLiteral("300.1.1.1"), QString(),
                               QStringLiteral("host.example")}) {
        retype(bad);
        confirm();
        EXPECT_EQ(stored(), "192.168.0.8") << bad.toStdString();
        EXPECT_TRUE(box()->property("refused").toBool()) << bad.toStdString();
        EXPECT_TRUE(dialog.isVisible()) << bad.toStdString();
    }
    EXPECT_TRUE(hosts.isEmpty());

    retype(QStringLiteral("192.168.0.9"));
    EXPECT_FALSE(box()->property("refused").toBool());
}

TEST_F(EquipTest, BoxHoldsAtMostNineteenCharacters)
{
    dialog.showDialog();
    retype(QStringLiteral("12345678901234567890123"));
    EXPECT_EQ(box()->text().size(), 19);
}

}  // namespace
