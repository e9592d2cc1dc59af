// Re-captioning of the dialogs: the design texts at start-up, English after
// a switch, and the caption table's Chinese after switching back (which is
// not always the design text). The dialogs are never shown here: hidden
// dialogs are re-captioned as well.
#include "gui/Equip.h"
#include "gui/Eqcopy.h"
#include "gui/Ipsetup.h"
#include "gui/Profile.h"

#include "core/captions.h"

#include <QLineEdit>
#include <QWidget>
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

namespace {

struct CaptionRow {
    const char* dialog;
    const char* control;  // empty: the dialog's title
    const char* design;
    const char* english;
    const char* chinese;
};

const CaptionRow rows[] = {
    {"TForm4", "", "EQ 参数复制", "Copy EQ Settings", "复制EQ参数"},
    {"TForm4", "suiButton1", "复制到 >>>", "Copy To ...", "复制到 >>>"},
    {"TForm4", "suiRadioGroup1_0", "左", "Left", "左"},
    {"TForm4", "suiCheckGroup1_0", "左", "Left", "左"},
    {"TForm4", "suiRadioGroup1_1", "中", "Center", "中"},
    {"TForm4", "suiCheckGroup1_2", "右", "Right", "右"},
    {"TForm4", "suiRadioGroup1_3", "左环绕", "Left Surround", "左环绕"},
    {"TForm4", "suiCheckGroup1_4", "右环绕", "Right Surround", "右环绕"},
    {"TForm4", "suiRadioGroup1_5", "左后环绕", "Back Left Surround", "左后环绕"},
    {"TForm4", "suiRadioGroup1_6", "右后环绕", "Back Right Surround", "右后环绕 "},
    {"TForm4", "suiCheckGroup1_6", "右后环绕", "Back Right Surround", "右后环绕 "},
    {"TForm5", "", "概述文件", "Profile", "概述文件"},
    {"TForm5", "StaticText1", "剧院信息：", "Theater Information:", "剧院信息:"},
    {"TForm5", "StaticText2", "数字播放器1：", "Digital Player1:", "数字播放器1:"},
    {"TForm5", "StaticText3", "数字播放器2：", "Digital Player2:", "数字播放器2:"},
    {"TForm5", "StaticText4", "电影院名称：", "Project Name:", "项目名称:"},
    {"TForm5", "StaticText5", "电影厅名称：", "Theater Name:", "剧场名:"},
    {"TForm5", "StaticText6", "银幕号：", "Screen Number:", "屏幕号:"},
    {"TForm5", "StaticText7", "放映机型号：", "Projector Model Number:", "放映机型号:"},
    {"TForm5", "StaticText8", "自动化系统：", "Automation System:", "自动化系统:"},
    {"TForm5", "StaticText9", "备注：", "Comments:", "备注:"},
    {"TForm5", "StaticText10", "设备信息：", "Component Information:", "设备信息:"},
    {"TForm5", "StaticText12", "设备型号：", "Component Model:", "设备型号:"},
    {"TForm5", "StaticText11", "设备序列号：", "Serial Number:", "设备序列号:"},
    {"TForm5", "StaticText13", "固件版本：", "Firmware VER:", "固件版本:"},
    {"TForm5", "StaticText14", "固件发布：", "Firmware Date:", "固件发布:"},
    {"TForm5", "StaticText15", "软件版本： V2.2   09-11-04", "软件版本： V2.2   09-11-04",
     "软件版本： V2.2   09-11-04"},
    {"TForm6", "", "网络配置", "NET CONFIG", "网络配置"},
    {"TForm6", "StaticText1", "IP地址：", "IP Address:", "IP地址:"},
    {"TForm6", "StaticText2", "子网掩码：", "Subnet Mask:", "子网掩码:"},
    {"TForm6", "StaticText3", "网关：", "Gateway:", "网关:"},
    {"TForm6", "suiButton1", "读取设置", "Load", "读取设置"},
    {"TForm6", "suiButton2", "下载设置", "Save", "下载设置:"},
    {"TForm7", "", "设备IP地址", "Dest IP ADD", "设备IP地址"},
    {"TForm7", "StaticText1", "设备IP地址:", "Dest IP ADD", "设备IP地址"},
    {"TForm7", "suiButton1", "确定", "OK", "确定:"},
};

class DialogLanguageTest : public testing::Test {
protected:
    QString shown(const CaptionRow& row)
    {
        QWidget* dialog = dialogs.at(row.dialog);
        if (*row.control == '\0') return dialog->windowTitle();
        auto* control = dialog->findChild<QWidget*>(QString::fromLatin1(row.control));
        if (!control) return QStringLiteral("<no %1>").arg(QString::fromLatin1(row.control));
        return control->property("text").toString();
    }
    void switchTo(int language)
    {
        eqCopy.applyLanguage(language);
        profile.applyLanguage(language);
        network.applyLanguage(language);
        address.applyLanguage(language);
    }
    void expectAll(const char* CaptionRow::*column, const char* when)
    {
        for (const auto& row : rows)
            EXPECT_EQ(shown(row), QString::fromUtf8(row.*column))
                << when << ": " << row.dialog << '.' << (*row.control ? row.control : "title");
    }

    tk770::ParameterImage image{};
    tk770::LinkState state;
    std::array<char, 20> deviceIpText{};
    TForm4 eqCopy{image, state, nullptr};
    TForm5 profile{image};
    TForm6 network{nullptr};
    TForm7 address{deviceIpText, nullptr};
    std::map<std::string, QWidget*> dialogs{
        {"TForm4", &eqCopy}, {"TForm5", &profile}, {"TForm6", &network}, {"TForm7", &address}};
};

TEST_F(DialogLanguageTest, SwitchToEnglishAndBackRecaptionsEveryNamedControl)
{
    expectAll(&CaptionRow::design, "start-up");
    switchTo(tk770::language_english);
    expectAll(&CaptionRow::english, "English");
    switchTo(tk770::language_chinese);
    expectAll(&CaptionRow::chinese, "Chinese");
    EXPECT_FALSE(eqCopy.isVisible() || profile.isVisible() || network.isVisible() || address.isVisible());
}

TEST_F(DialogLanguageTest, SwitchKeepsChoicesAndTexts)
{
    eqCopy.setSourceChannel(4);
    eqCopy.setDestination(2, true);
    profile.edit(0)->setText(QStringLiteral("Player"));
    switchTo(tk770::language_english);
    EXPECT_EQ(eqCopy.sourceChannel(), 4);
    EXPECT_TRUE(eqCopy.findChild<QWidget*>(QStringLiteral("suiCheckGroup1_2"))->property("checked").toBool());
    EXPECT_EQ(profile.edit(0)->text(), QStringLiteral("Player"));
    EXPECT_EQ(image.profile_text[0][0], 'P');
}

}  // namespace
