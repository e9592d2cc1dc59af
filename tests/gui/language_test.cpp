// The Language menu over the whole window: every switchable caption at
// start-up, in English and back in Chinese (which is not always the design
// text), the texts that must stay as they are, the polarity buttons named
// from their own bits, the fade-time choice, the format buttons by source,
// the test-signal labels and the device lines of the profile dialog.
#include "gui/Main.h"

#include "gui/Eqcopy.h"
#include "gui/Equip.h"
#include "gui/Ipsetup.h"
#include "gui/Profile.h"
#include "support/recording_sim.h"
#include "support/window.h"

#include <QLabel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Compared as UTF-8 so a failure prints the texts rather than UTF-16 units.
std::string str(const QString& s) { return s.toStdString(); }

const QColor pure_red(255, 0, 0);
const QColor pure_black(0, 0, 0);

QColor textColour(const QWidget* w) { return w->palette().color(QPalette::ButtonText); }

// The dialog of that type the window owns; one is added under the window
// when the window does not create it itself, as the program entry would.
template <class Dialog, class... Args>
Dialog* dialogOf(TForm1& form, Args&&... args)
{
    if (auto* d = form.findChild<Dialog*>()) return d;
    return new Dialog(std::forward<Args>(args)..., &form);
}

QString textOf(const QWidget* dialog, const char* name)
{
    const auto* control = dialog->findChild<QWidget*>(QString::fromLatin1(name));
    return control ? control->property("text").toString() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
}

class LanguageSwitch : public ::testing::Test {
protected:
    void SetUp() override { form.setTransports(&serial, nullptr); }

    void toEnglish() { form.Endlish1->trigger(); }
    void toChinese() { form.N24->trigger(); }

    TForm1 form;
    tk770::testing::RecordingSim serial;
    TForm4* eqCopy = dialogOf<TForm4>(form, form.image(), form.linkState(), &form.link());
    TForm5* profile = dialogOf<TForm5>(form, form.image());
    TForm6* network = dialogOf<TForm6>(form, nullptr);
    TForm7* deviceIp = dialogOf<TForm7>(form, form.deviceIpText(), TForm7::HostSetter{});
};

struct CaptionCase {
    std::string control;
    std::function<QString()> text;
    const char* startup;
    const char* english;
    const char* chinese;  // after choosing 中文
};

// ---------------------------------------------------------------- the pass

TEST_F(LanguageSwitch, EveryNamedControlToEnglishAndBack)
{
    TForm1& f = form;
    std::vector<CaptionCase> cases;
    auto add = [&](std::string name, std::function<QString()> text, const char* s, const char* e, const char* c) {
        cases.push_back({std::move(name), std::move(text), s, e, c});
    };
    auto action = [&](const char* name, QAction* a, const char* s, const char* e, const char* c) {
        add(name, [a] { return a->text(); }, s, e, c);
    };
    auto menu = [&](const char* name, QMenu* m, const char* s, const char* e, const char* c) {
        add(name, [m] { return m->title(); }, s, e, c);
    };
    auto widget = [&](const std::string& name, const QWidget* w, const char* s, const char* e, const char* c) {
        add(name, [w] { return w->property("text").toString(); }, s, e, c);
    };
    auto inDialog = [&](const std::string& name, const QWidget* d, const std::string& control, const char* s,
                        const char* e, const char* c) {
        if (control.empty()) add(name, [d] { return d->windowTitle(); }, s, e, c);
        else add(name, [d, control] { return textOf(d, control.c_str()); }, s, e, c);
    };

    add("window title", [&f] { return f.windowTitle(); }, "高精度影院音频处理器   Untitle.QSdat",
        "High Performance Cine Audio Processor   Untitle.QSdat", "高精度影院音频处理器   Untitle.QSdat");
    widget("suiForm1", f.suiForm1, "高精度影院音频处理器   Untitle.QSdat",
           "High Performance Cine Audio Processor   Untitle.QSdat", "高精度影院音频处理器   Untitle.QSdat");
    menu("N1", f.N1, "  文件  ", "  Flie  ", "  文件  ");
    action("N2", f.N2, "新建项目", "New Project", "新建项目");
    action("N3", f.N3, "打开项目", "Open Project", "打开项目");
    action("N4", f.N4, "保存项目", "Save Project", "保存项目");
    action("N5", f.N5, "另存为", "Save as...", "另存为  ");
    action("N21", f.N21, "读取设备数据", "Load From TK770", "读取设备数据");
    action("N20", f.N20, "下载设备数据", "Download To TK770", "下载设备数据");
    action("N6", f.N6, "备份至IC卡", "Save To IC CARD", "备份至IC卡");
    action("N25", f.N25, "存入设备", "Save To TK770", "存入设备");
    action("N27", f.N27, "重新启动设备", "Restart TK770", "重新启动设备");
    menu("EQ1", f.EQ1, "  格式  ", "  Format  ", "  格式  ");
    action("N81", f.N81, "8通道数字", "Ext Digital 8CH", "8通道数字");
    action("N82", f.N82, "8通道模拟", "Ext Analog 8CH", "8通道模拟");
    action("N7", f.N7, "非同步", "NON/SYNC", "非同步");
    action("N8", f.N8, "辅助", "AUX", "辅助");
    action("N9", f.N9, "麦克风", "MIC", "麦克风");
    menu("EQ2", f.EQ2, " EQ参数 ", "   EQ   ", "EQ参数");
    action("EQ3", f.EQ3, "复制EQ", "Copy EQ...", "复制EQ");
    menu("N10", f.N10, "  通讯  ", "  Communication  ", " 通讯 ");
    menu("N16", f.N16, "通讯端口", "COMM PORT", "通讯端口");
    action("N17", f.N17, "连接设备", "Connect", "连接设备");
    action("N18", f.N18, "断开设备", "DisConnect", "断开设备");
    action("IP1", f.IP1, "网络设置", "Net Config", "网络设置");
    menu("N11", f.N11, "  开机格式  ", "  Power on Format  ", "开机格式");
    action("N83", f.N83, "8通道数字", "Ext Digital 8CH", "8通道数字");
    action("N84", f.N84, "8通道模拟", "Ext Analog 8CH", "8通道模拟");
    action("N12", f.N12, "非同步", "NON/SYNC", "非同步");
    action("N13", f.N13, "辅助", "AUX", "辅助");
    action("N14", f.N14, "麦克风", "MIC", "麦克风");
    action("N15", f.N15, "保持上次", "Last Selected", "保持上次");
    action("N22", f.N22, "  概要文件  ", "  Profile  ", "  概要文件  ");
    menu("N23", f.N23, "语言", "Language", "语言");

    add("suiSideChannel1", [&f] { return f.suiSideChannel1->caption(); }, "格式（输入设置）", "Format(Input Setup)",
        "格式（输入设置）");
    for (int i = 0; i < 5; ++i)
        widget("preset box " + std::to_string(i), f.PresetBoxes[i], "预设值", "Preset", "预设值");
    widget("StaticText42", f.StaticText42, "8通道数字输入", "Ext Digital 8CH", "8通道数字输入");
    widget("StaticText41", f.StaticText41, "8通道模拟输入", "Ext Analog 8CH", "8通道模拟输入");
    widget("StaticText44", f.StaticText44, "非同步输入", "NON/SYNC", "非同步输入");
    widget("StaticText46", f.StaticText46, "辅助输入", "AUX", "辅助输入");
    widget("StaticText48", f.StaticText48, "麦克风输入", "MIC", "麦克风输入");
    widget("suiRadioGroup1 item 0", f.suiRadioGroup1->item(0), "模拟", "ANA", "模拟");
    widget("suiRadioGroup1 item 1", f.suiRadioGroup1->item(1), "同轴", "COAX", "同轴");
    widget("suiRadioGroup2 item 0", f.suiRadioGroup2->item(0), "模拟", "ANA", "模拟");
    widget("suiRadioGroup2 item 1", f.suiRadioGroup2->item(1), "同轴", "COAX", "同轴");
    widget("suiRadioGroup2 item 2", f.suiRadioGroup2->item(2), "光纤", "OPT", "光纤");
    widget("suiCheckGroup1 item 0", f.suiCheckGroup1->item(0), "中置", "Center", "中置");
    widget("suiCheckGroup1 item 1", f.suiCheckGroup1->item(1), "环绕", "Surr", "环绕");

    add("suiSideChannel2", [&f] { return f.suiSideChannel2->caption(); }, "输出设置", "Output Setup", "输出设置");
    const char* const headerChinese =
        " 左         中         右       左环绕      右环绕    左后环绕    右后环绕     次低频";
    widget("StaticText21", f.StaticText21, headerChinese,
           "Left      Center      Right       SL          SR        BSL         BSR         SW  ", headerChinese);
    for (int ch = 0; ch < 8; ++ch) {
        const std::string n = std::to_string(ch);
        widget("polarity button " + n, f.PolarityButtons[ch], "正 相", "Normal", "正相");
        widget("mute button " + n, f.MuteButtons[ch], "静  音", " Mute ", "静音");
        widget("test-signal box " + n, f.TestSignalBoxes[ch], "粉红噪声", "Pink", "粉红噪声");
    }
    widget("suiRadioGroup3 item 0", f.suiRadioGroup3->item(0), "粉红噪声", "Pink", "粉红噪声");
    add("suiRadioGroup3 title", [&f] { return f.suiRadioGroup3->title(); }, "信号发生器", "Signal Generator",
        "信号发生器");
    const char* const tabs[8][3] = {{"    左    ", "Left", "    左    "},
                                    {"    中    ", "Center", "    中    "},
                                    {"    右    ", "Right", "    右    "},
                                    {"  左环绕  ", "Left Surround", "  左环绕  "},
                                    {"  右环绕  ", "Right Surround", "  右环绕  "},
                                    {" 左后环绕", "Back Left Surround", " 左后环绕 "},
                                    {" 右后环绕", "Back Right Surround", " 右后环绕 "},
                                    {"  次低频  ", "Subwoofer", "  次低频  "}};
    for (int t = 0; t < 8; ++t)
        add("tab " + std::to_string(t), [&f, t] { return f.suiTabControl1->tabs()->tabText(t); }, tabs[t][0],
            tabs[t][1], tabs[t][2]);
    widget("suiCheckBox14", f.suiCheckBox14, "粉红噪声", "Pink Noise", "粉红噪声");
    widget("suiButton22", f.suiButton22, "平  直", "Flat", "平直");
    widget("StaticText27", f.StaticText27, "低音", "Bass", "低音");
    widget("StaticText28", f.StaticText28, "高音", "Treble", "高音");
    widget("StaticText31", f.StaticText31, "低音折转频率", "Bass Freq", "低音折转频率");
    widget("StaticText32", f.StaticText32, "高音折转频率", "Treble Freq", "高音折转频率");
    widget("suiButton23", f.suiButton23, "静 音", " Mute ", "静音");
    widget("StaticText29", f.StaticText29, "主音量：", "Main Fader", "主音量");
    for (int i = 0; i < 10; ++i) {
        static const std::string zh[10] = {"淡入淡出1秒", "淡入淡出2秒", "淡入淡出3秒", "淡入淡出4秒",
                                           "淡入淡出5秒", "淡入淡出6秒", "淡入淡出7秒", "淡入淡出8秒",
                                           "淡入淡出9秒", "淡入淡出10秒"};
        static const std::string en[10] = {"Fade Time 1S", "Fade Time 2S", "Fade Time 3S", "Fade Time 4S",
                                           "Fade Time 5S", "Fade Time 6S", "Fade Time 7S", "Fade Time 8S",
                                           "Fade Time 9S", "Fade Time 10S"};
        add("ComboBox1 item " + std::to_string(i), [&f, i] { return f.ComboBox1->itemText(i); }, zh[i].c_str(),
            en[i].c_str(), zh[i].c_str());
    }
    // The default image: both sources analog.
    widget("suiButton1", f.suiButton1, "8通道数字输入", "Ext Digital 8CH", "8通道数字输入");
    widget("suiButton2", f.suiButton2, "8通道模拟输入", "Ext Analog 8CH", "8通道模拟输入");
    widget("suiButton3", f.suiButton3, "非同步模拟输入", "NON/SYNC ANA", "非同步模拟输入");
    widget("suiButton4", f.suiButton4, "辅助模拟输入", "AUX Analog", "辅助模拟输入");
    widget("suiButton5", f.suiButton5, "话筒输入", "MIC", "话筒输入");

    inDialog("TForm4 title", eqCopy, "", "EQ 参数复制", "Copy EQ Settings", "复制EQ参数");
    const char* const eqNames[7][2] = {{"左", "Left"},         {"中", "Center"},
                                       {"右", "Right"},        {"左环绕", "Left Surround"},
                                       {"右环绕", "Right Surround"}, {"左后环绕", "Back Left Surround"},
                                       {"右后环绕", "Back Right Surround"}};
    for (int i = 0; i < 7; ++i) {
        for (const char* list : {"suiRadioGroup1_", "suiCheckGroup1_"}) {
            const std::string item = list + std::to_string(i);
            // Pair 87 carries a trailing blank the design text lacks.
            inDialog("TForm4 " + item, eqCopy, item, eqNames[i][0], eqNames[i][1], i == 6 ? "右后环绕 " : eqNames[i][0]);
        }
    }
    inDialog("TForm4 copy button", eqCopy, "suiButton1", "复制到 >>>", "Copy To ...", "复制到 >>>");
    inDialog("TForm5 title", profile, "", "概述文件", "Profile", "概述文件");
    inDialog("TForm5 theatre heading", profile, "StaticText1", "剧院信息：", "Theater Information:", "剧院信息:");
    inDialog("TForm5 label 1", profile, "StaticText2", "数字播放器1：", "Digital Player1:", "数字播放器1:");
    inDialog("TForm5 label 2", profile, "StaticText3", "数字播放器2：", "Digital Player2:", "数字播放器2:");
    inDialog("TForm5 label 3", profile, "StaticText4", "电影院名称：", "Project Name:", "项目名称:");
    inDialog("TForm5 label 4", profile, "StaticText5", "电影厅名称：", "Theater Name:", "剧场名:");
    inDialog("TForm5 label 5", profile, "StaticText6", "银幕号：", "Screen Number:", "屏幕号:");
    inDialog("TForm5 label 6", profile, "StaticText7", "放映机型号：", "Projector Model Number:", "放映机型号:");
    inDialog("TForm5 label 7", profile, "StaticText8", "自动化系统：", "Automation System:", "自动化系统:");
    inDialog("TForm5 label 8", profile, "StaticText9", "备注：", "Comments:", "备注:");
    inDialog("TForm5 device heading", profile, "StaticText10", "设备信息：", "Component Information:", "设备信息:");
    inDialog("TForm5 model line", profile, "StaticText12", "设备型号：", "Component Model:", "设备型号:");
    inDialog("TForm5 serial line", profile, "StaticText11", "设备序列号：", "Serial Number:", "设备序列号:");
    inDialog("TForm5 version line", profile, "StaticText13", "固件版本：", "Firmware VER:", "固件版本:");
    inDialog("TForm5 date line", profile, "StaticText14", "固件发布：", "Firmware Date:", "固件发布:");
    inDialog("TForm6 title", network, "", "网络配置", "NET CONFIG", "网络配置");
    inDialog("TForm6 address label", network, "StaticText1", "IP地址：", "IP Address:", "IP地址:");
    inDialog("TForm6 mask label", network, "StaticText2", "子网掩码：", "Subnet Mask:", "子网掩码:");
    inDialog("TForm6 gateway label", network, "StaticText3", "网关：", "Gateway:", "网关:");
    inDialog("TForm6 load button", network, "suiButton1", "读取设置", "Load", "读取设置");
    inDialog("TForm6 save button", network, "suiButton2", "下载设置", "Save", "下载设置:");
    widget("suiCheckBox15", f.suiCheckBox15, "低通滤波", "LPF", "低通滤波");
    add("suiRadioGroup4 title", [&f] { return f.suiRadioGroup4->title(); }, "斜率", "dB/Oct", "斜率");
    inDialog("TForm7 title", deviceIp, "", "设备IP地址", "Dest IP ADD", "设备IP地址");
    inDialog("TForm7 label", deviceIp, "StaticText1", "设备IP地址:", "Dest IP ADD", "设备IP地址");
    inDialog("TForm7 button", deviceIp, "suiButton1", "确定", "OK", "确定:");

    // Texts with one form only: the pass must leave them as they are.
    action("N24", f.N24, "中文", "中文", "中文");
    action("Endlish1", f.Endlish1, "English", "English", "English");
    action("COM11", f.COM11, "COM1", "COM1", "COM1");
    action("NET1", f.NET1, "NET", "NET", "NET");
    widget("suiRadioGroup3 item 3", f.suiRadioGroup3->item(3), "1KHz", "1KHz", "1KHz");
    widget("suiRadioGroup4 item 0", f.suiRadioGroup4->item(0), "12dB/OCT", "12dB/OCT", "12dB/OCT");
    widget("master volume read-out", f.StaticText30, "7.0", "7.0", "7.0");
    inDialog("TForm5 program version", profile, "StaticText15", "软件版本： V2.2   09-11-04",
             "软件版本： V2.2   09-11-04", "软件版本： V2.2   09-11-04");

    auto expectAll = [&](const char* CaptionCase::*column, const char* when) {
        for (const auto& c : cases) EXPECT_EQ(str(c.text()), c.*column) << when << ": " << c.control;
    };
    expectAll(&CaptionCase::startup, "start-up");
    toEnglish();
    EXPECT_EQ(form.Language, 1);
    expectAll(&CaptionCase::english, "English");
    toChinese();
    EXPECT_EQ(form.Language, 0);
    expectAll(&CaptionCase::chinese, "Chinese");
    // Choosing the language in force runs the pass again and changes nothing.
    toChinese();
    expectAll(&CaptionCase::chinese, "Chinese again");
    // None of the dialogs was ever shown.
    EXPECT_FALSE(eqCopy->isVisible() || profile->isVisible() || network->isVisible() || deviceIp->isVisible());
}

TEST_F(LanguageSwitch, TitleKeepsTheProjectFileName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("hall 2.qsdat"));
    form.setDialogRunner([&](QFileDialog*) { return path; });
    form.N5Click();
    ASSERT_EQ(form.currentFileName(), path);
    toEnglish();
    EXPECT_EQ(str(form.windowTitle()), "High Performance Cine Audio Processor   " + str(path));
    toChinese();
    EXPECT_EQ(str(form.windowTitle()), "高精度影院音频处理器   " + str(path));
}

TEST_F(LanguageSwitch, SendsNothingAndLeavesImageAndSelectionsAlone)
{
    form.linkState().serial_port = 1;
    form.linkState().connected = 1;
    form.suiTabControl1->setTabIndex(3);
    form.suiRadioGroup1->setItemIndex(1);
    form.suiRadioGroup3->setItemIndex(2);
    form.suiCheckBox8->setChecked(true);
    serial.writes.clear();
    const tk770::ParameterImage before = form.image();
    QAction* const formatBefore = form.FormatItems->checkedAction();
    QAction* const powerOnBefore = form.PowerOnItems->checkedAction();
    ASSERT_NE(formatBefore, nullptr);

    toEnglish();
    toChinese();

    EXPECT_TRUE(serial.writes.empty());
    EXPECT_TRUE(form.image() == before);
    EXPECT_EQ(form.suiTabControl1->tabIndex(), 3);
    EXPECT_EQ(form.SelectedChannel, 3);
    EXPECT_EQ(form.suiRadioGroup1->itemIndex(), 1);
    EXPECT_EQ(form.suiRadioGroup3->itemIndex(), 2);
    EXPECT_TRUE(form.suiCheckBox8->isChecked());
    EXPECT_EQ(form.FormatItems->checkedAction(), formatBefore);
    EXPECT_EQ(form.PowerOnItems->checkedAction(), powerOnBefore);
}

// ---------------------------------------------------------------- by state

TEST_F(LanguageSwitch, PolarityButtonsNameTheirOwnChannelsState)
{
    // Both end channels and a mix between them inverted.
    form.image().polarity_flags = 0b1010'0101;
    tk770::testing::refreshFromImage(form);

    const char* const english[2] = {"Normal", "Invert"};
    const char* const chinese[2] = {"正相", "反相"};
    for (const auto& [language, names] : {std::pair{1, english}, std::pair{0, chinese}}) {
        language == 1 ? toEnglish() : toChinese();
        for (int ch = 0; ch < 8; ++ch) {
            const bool inverted = (0b1010'0101 >> ch) & 1;
            EXPECT_EQ(str(form.PolarityButtons[ch]->text()), names[inverted])
                << "language " << language << " channel " << ch;
            EXPECT_EQ(textColour(form.PolarityButtons[ch]), inverted ? pure_red : pure_black) << "channel " << ch;
        }
    }
}

TEST_F(LanguageSwitch, FadeTimeBoxKeepsItsChoice)
{
    struct Case {
        int fadeTime;
        int index;
        const char* english;
        const char* chinese;
    };
    const Case cases[] = {
        {0, 0, "Fade Time 1S", "淡入淡出1秒"},
        {4, 4, "Fade Time 5S", "淡入淡出5秒"},
        {9, 9, "Fade Time 10S", "淡入淡出10秒"},
        // A stored value past the list (a foreign project) selects nothing.
        {12, -1, "", ""},
    };
    for (const Case& c : cases) {
        form.image().fade_time = static_cast<std::uint8_t>(c.fadeTime);
        tk770::testing::refreshFromImage(form);
        toEnglish();
        EXPECT_EQ(form.ComboBox1->currentIndex(), c.index) << c.fadeTime;
        EXPECT_EQ(str(form.ComboBox1->currentText()), c.english) << c.fadeTime;
        toChinese();
        EXPECT_EQ(form.ComboBox1->currentIndex(), c.index) << c.fadeTime;
        EXPECT_EQ(str(form.ComboBox1->currentText()), c.chinese) << c.fadeTime;
        EXPECT_EQ(form.image().fade_time, c.fadeTime);
    }
}

TEST_F(LanguageSwitch, NonSyncAndAuxButtonsFollowTheirSources)
{
    struct Case {
        int nonsync;
        int aux;
        int language;
        const char* nonsyncText;
        const char* auxText;
    };
    const Case cases[] = {
        {0, 0, 1, "NON/SYNC ANA", "AUX Analog"},
        {1, 1, 1, "NON/SYNC COAX", "AUX Digi COAX"},
        {1, 2, 1, "NON/SYNC COAX", "AUX Digi OPT"},
        {0, 1, 0, "非同步模拟输入", "辅助同轴数字输入"},
        {1, 2, 0, "非同步数字输入", "辅助光纤数字输入"},
    };
    for (const Case& c : cases) {
        form.image().nonsync_source = static_cast<std::uint8_t>(c.nonsync);
        form.image().aux_source = static_cast<std::uint8_t>(c.aux);
        c.language == 1 ? toEnglish() : toChinese();
        EXPECT_EQ(str(form.suiButton3->text()), c.nonsyncText) << c.nonsync << ' ' << c.language;
        EXPECT_EQ(str(form.suiButton4->text()), c.auxText) << c.aux << ' ' << c.language;
        EXPECT_EQ(form.suiRadioGroup1->itemIndex(), c.nonsync);
        EXPECT_EQ(form.suiRadioGroup2->itemIndex(), c.aux);
    }
}

TEST_F(LanguageSwitch, UnknownAuxSourceLeavesItsButtonCaptionAlone)
{
    toEnglish();
    ASSERT_EQ(str(form.suiButton4->text()), "AUX Analog");
    form.image().aux_source = 3;
    toChinese();
    EXPECT_EQ(str(form.suiButton4->text()), "AUX Analog");
    EXPECT_EQ(str(form.suiButton3->text()), "非同步模拟输入");
}

TEST_F(LanguageSwitch, TestSignalBoxesShowTheChosenSignalInTheNewLanguage)
{
    struct Case {
        int signal;
        int language;
        const char* channelLabel;
        const char* eqPageLabel;
    };
    const Case cases[] = {
        {0, 1, "Pink", "Pink Noise"},
        {0, 0, "粉红噪声", "粉红噪声"},
        {3, 1, "1KHz", "Pink Noise"},
        {3, 0, "1KHz", "粉红噪声"},
        {5, 1, "10KHz", "Pink Noise"},
    };
    for (const Case& c : cases) {
        form.suiRadioGroup3->setItemIndex(c.signal);
        ASSERT_EQ(form.image().test_signal, c.signal);
        c.language == 1 ? toEnglish() : toChinese();
        for (QCheckBox* box : form.TestSignalBoxes)
            EXPECT_EQ(str(box->text()), c.channelLabel)
                << c.signal << ' ' << c.language << ' ' << str(box->objectName());
        EXPECT_EQ(str(form.suiCheckBox14->text()), c.eqPageLabel) << c.signal << ' ' << c.language;
    }
}

TEST_F(LanguageSwitch, DeviceLinesLoseTheirValuesUntilTheNextDecode)
{
    tk770::ParameterImage& image = form.image();
    // Model and serial fill their fields without a closing zero.
    std::memcpy(image.device_model, "TK770 PROCESSOR8", 16);
    std::memcpy(image.device_serial, "0123456789ABCDEF", 16);
    std::strcpy(image.firmware_version, "V3.1");
    std::strcpy(image.firmware_date, "2009-11-04");
    struct Line {
        const char* control;
        const char* english;
        const char* decoded;
    };
    const Line lines[] = {
        {"StaticText12", "Component Model:", "设备型号：      TK770 PROCESSOR8"},
        {"StaticText11", "Serial Number:", "设备序列号：  0123456789ABCDEF"},
        {"StaticText13", "Firmware VER:", "固件版本：      V3.1"},
        {"StaticText14", "Firmware Date:", "固件发布：      2009-11-04"},
    };
    profile->decodeDeviceInformation();
    toEnglish();
    for (const Line& l : lines) EXPECT_EQ(str(textOf(profile, l.control)), l.english) << l.control;
    // The next read decodes again: the values are back behind the Chinese
    // prefixes, English or not.
    profile->decodeDeviceInformation();
    for (const Line& l : lines) EXPECT_EQ(str(textOf(profile, l.control)), l.decoded) << l.control;
}

}  // namespace
