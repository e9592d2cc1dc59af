#include "core/captions.h"

namespace tk770 {

namespace {

// The output panel header lines the eight channel names up over the strips;
// every blank run below is counted and belongs to the text.
constexpr std::string_view channel_header_zh =
    " 左" "         " "中" "         " "右" "       " "左环绕" "      "
    "右环绕" "    " "左后环绕" "    " "右后环绕" "     " "次低频";
constexpr std::string_view channel_header_en =
    "Left" "      " "Center" "      " "Right" "       " "SL" "          "
    "SR" "        " "BSL" "         " "BSR" "         " "SW" "  ";

}  // namespace

// Pairs that repeat another pair's texts (10..14 and 23..27, 56 and 87) stay
// separate entries: they caption different controls. Pair 1 is spelled
// "Flie" on purpose; it is what the operators know.
const std::array<std::string_view, caption_pair_count * language_count> CaptionTable{
    /*   0 */ "高精度影院音频处理器", "High Performance Cine Audio Processor",  // window title, first part
    /*   1 */ "  文件  ", "  Flie  ",  // File menu title
    /*   2 */ "新建项目", "New Project",  // File menu item
    /*   3 */ "打开项目", "Open Project",  // File menu item
    /*   4 */ "保存项目", "Save Project",  // File menu item
    /*   5 */ "另存为  ", "Save as...",  // File menu item
    /*   6 */ "读取设备数据", "Load From TK770",  // File menu item
    /*   7 */ "下载设备数据", "Download To TK770",  // File menu item
    /*   8 */ "备份至IC卡", "Save To IC CARD",  // File menu item
    /*   9 */ "  格式  ", "  Format  ",  // Format menu title
    /*  10 */ "8通道数字", "Ext Digital 8CH",  // Format menu item
    /*  11 */ "8通道模拟", "Ext Analog 8CH",  // Format menu item
    /*  12 */ "非同步", "NON/SYNC",  // Format menu item
    /*  13 */ "辅助", "AUX",  // Format menu item
    /*  14 */ "麦克风", "MIC",  // Format menu item
    /*  15 */ "EQ参数", "   EQ   ",  // EQ menu title
    /*  16 */ "复制EQ", "Copy EQ...",  // EQ menu item
    /*  17 */ " 通讯 ", "  Communication  ",  // Communication menu title
    /*  18 */ "通讯端口", "COMM PORT",  // port submenu
    /*  19 */ "连接设备", "Connect",  // Communication menu item
    /*  20 */ "断开设备", "DisConnect",  // Communication menu item
    /*  21 */ "网络设置", "Net Config",  // Communication menu item
    /*  22 */ "开机格式", "  Power on Format  ",  // Power-on format menu title
    /*  23 */ "8通道数字", "Ext Digital 8CH",  // Power-on format menu item
    /*  24 */ "8通道模拟", "Ext Analog 8CH",  // Power-on format menu item
    /*  25 */ "非同步", "NON/SYNC",  // Power-on format menu item
    /*  26 */ "辅助", "AUX",  // Power-on format menu item
    /*  27 */ "麦克风", "MIC",  // Power-on format menu item
    /*  28 */ "保持上次", "Last Selected",  // Power-on format menu item
    /*  29 */ "  概要文件  ", "  Profile  ",  // Profile menu title
    /*  30 */ "语言", "Language",  // Language menu title
    /*  31 */ "格式（输入设置）", "Format(Input Setup)",  // input panel title
    /*  32 */ "预设值", "Preset",  // the five preset check boxes of the input panel
    /*  33 */ "8通道数字输入", "Ext Digital 8CH",  // input panel group title; format button 1
    /*  34 */ "8通道模拟输入", "Ext Analog 8CH",  // input panel group title; format button 2
    /*  35 */ "非同步输入", "NON/SYNC",  // input panel group title
    /*  36 */ "辅助输入", "AUX",  // input panel group title
    /*  37 */ "麦克风输入", "MIC",  // input panel group title
    /*  38 */ "模拟", "ANA",  // input source choice 0
    /*  39 */ "同轴", "COAX",  // input source choice 1
    /*  40 */ "光纤", "OPT",  // input source choice 2
    /*  41 */ "中置", "Center",  // MIC group check item 0
    /*  42 */ "环绕", "Surr",  // MIC group check item 1
    /*  43 */ "输出设置", "Output Setup",  // output panel title
    /*  44 */ channel_header_zh, channel_header_en,  // output panel channel header
    /*  45 */ "正相", "Normal",  // polarity buttons, normal
    /*  46 */ "反相", "Invert",  // polarity buttons, inverted
    /*  47 */ "静音", " Mute ",  // channel mute buttons and master mute button
    /*  48 */ "粉红噪声", "Pink",  // first choice of the signal generator
    /*  49 */ "信号发生器", "Signal Generator",  // signal generator group title
    /*  50 */ "    左    ", "Left",  // channel tab 0
    /*  51 */ "    中    ", "Center",  // channel tab 1
    /*  52 */ "    右    ", "Right",  // channel tab 2
    /*  53 */ "  左环绕  ", "Left Surround",  // channel tab 3
    /*  54 */ "  右环绕  ", "Right Surround",  // channel tab 4
    /*  55 */ " 左后环绕 ", "Back Left Surround",  // channel tab 5
    /*  56 */ " 右后环绕 ", "Back Right Surround",  // channel tab 6
    /*  57 */ "  次低频  ", "Subwoofer",  // channel tab 7
    /*  58 */ "粉红噪声", "Pink Noise",  // test-signal check box of the EQ page
    /*  59 */ "平直", "Flat",  // EQ flat button
    /*  60 */ "低音", "Bass",  // bass gain label
    /*  61 */ "高音", "Treble",  // treble gain label
    /*  62 */ "低音折转频率", "Bass Freq",  // bass turnover label
    /*  63 */ "高音折转频率", "Treble Freq",  // treble turnover label
    /*  64 */ "主音量", "Main Fader",  // master volume label
    /*  65 */ "淡入淡出1秒", "Fade Time 1S",  // fade-time choice 0
    /*  66 */ "淡入淡出2秒", "Fade Time 2S",  // fade-time choice 1
    /*  67 */ "淡入淡出3秒", "Fade Time 3S",  // fade-time choice 2
    /*  68 */ "淡入淡出4秒", "Fade Time 4S",  // fade-time choice 3
    /*  69 */ "淡入淡出5秒", "Fade Time 5S",  // fade-time choice 4
    /*  70 */ "淡入淡出6秒", "Fade Time 6S",  // fade-time choice 5
    /*  71 */ "淡入淡出7秒", "Fade Time 7S",  // fade-time choice 6
    /*  72 */ "淡入淡出8秒", "Fade Time 8S",  // fade-time choice 7
    /*  73 */ "淡入淡出9秒", "Fade Time 9S",  // fade-time choice 8
    /*  74 */ "淡入淡出10秒", "Fade Time 10S",  // fade-time choice 9
    /*  75 */ "非同步数字输入", "NON/SYNC COAX",  // format button 3, coaxial source
    /*  76 */ "非同步模拟输入", "NON/SYNC ANA",  // format button 3, analog source
    /*  77 */ "辅助模拟输入", "AUX Analog",  // format button 4, analog source
    /*  78 */ "辅助同轴数字输入", "AUX Digi COAX",  // format button 4, coaxial source
    /*  79 */ "辅助光纤数字输入", "AUX Digi OPT",  // format button 4, optical source
    /*  80 */ "话筒输入", "MIC",  // format button 5
    /*  81 */ "左", "Left",  // EQ copy dialog, channel 0
    /*  82 */ "中", "Center",  // EQ copy dialog, channel 1
    /*  83 */ "右", "Right",  // EQ copy dialog, channel 2
    /*  84 */ "左环绕", "Left Surround",  // EQ copy dialog, channel 3
    /*  85 */ "右环绕", "Right Surround",  // EQ copy dialog, channel 4
    /*  86 */ "左后环绕", "Back Left Surround",  // EQ copy dialog, channel 5
    /*  87 */ "右后环绕 ", "Back Right Surround",  // EQ copy dialog, channel 6
    /*  88 */ "复制到 >>>", "Copy To ...",  // EQ copy dialog button
    /*  89 */ "复制EQ参数", "Copy EQ Settings",  // EQ copy dialog title
    /*  90 */ "概述文件", "Profile",  // profile dialog title
    /*  91 */ "数字播放器1:", "Digital Player1:",  // profile dialog label
    /*  92 */ "数字播放器2:", "Digital Player2:",  // profile dialog label
    /*  93 */ "项目名称:", "Project Name:",  // profile dialog label
    /*  94 */ "剧场名:", "Theater Name:",  // profile dialog label
    /*  95 */ "屏幕号:", "Screen Number:",  // profile dialog label
    /*  96 */ "放映机型号:", "Projector Model Number:",  // profile dialog label
    /*  97 */ "自动化系统:", "Automation System:",  // profile dialog label
    /*  98 */ "备注:", "Comments:",  // profile dialog label
    /*  99 */ "剧院信息:", "Theater Information:",  // profile dialog heading
    /* 100 */ "设备信息:", "Component Information:",  // profile dialog heading
    /* 101 */ "设备型号:", "Component Model:",  // profile dialog device line
    /* 102 */ "设备序列号:", "Serial Number:",  // profile dialog device line
    /* 103 */ "固件版本:", "Firmware VER:",  // profile dialog device line
    /* 104 */ "固件发布:", "Firmware Date:",  // profile dialog device line
    /* 105 */ "网络配置", "NET CONFIG",  // network configuration dialog title
    /* 106 */ "IP地址:", "IP Address:",  // network configuration dialog label
    /* 107 */ "子网掩码:", "Subnet Mask:",  // network configuration dialog label
    /* 108 */ "网关:", "Gateway:",  // network configuration dialog label
    /* 109 */ "读取设置", "Load",  // network configuration dialog button
    /* 110 */ "下载设置:", "Save",  // network configuration dialog button
    /* 111 */ "低通滤波", "LPF",  // low-pass filter check box
    /* 112 */ "斜率", "dB/Oct",  // low-pass slope group title
    /* 113 */ "设备IP地址", "Dest IP ADD",  // device address dialog title and label
    /* 114 */ "确定:", "OK",  // device address dialog button
    /* 115 */ "存入设备", "Save To TK770",  // File menu item
    /* 116 */ "重新启动设备", "Restart TK770",  // File menu item
};

const std::array<std::string_view, signal_count * language_count> SignalLabels{
    "粉红噪声", "120Hz", "500Hz", "1KHz", "5KHz", "10KHz",
    "Pink", "120Hz", "500Hz", "1KHz", "5KHz", "10KHz",
};

const std::array<std::string_view, bass_turnover_count> BassTurnoverLabels{
    "63Hz", "80Hz", "100Hz", "125Hz", "160Hz", "200Hz",
    "250Hz", "315Hz", "400Hz", "500Hz", "630Hz",
};

// Code 1 really is "1.25K", without "Hz".
const std::array<std::string_view, treble_turnover_count> TrebleTurnoverLabels{
    "1KHz", "1.25K", "1.6KHz", "2KHz", "2.5KHz",
    "3.15KHz", "4KHz", "5KHz", "6.3KHz", "8KHz",
};

namespace {

bool valid_language(int language)
{
    return language == language_chinese || language == language_english;
}

}  // namespace

std::string_view caption(int pair, int language)
{
    if (pair < 0 || pair >= caption_pair_count || !valid_language(language))
        return {};
    return CaptionTable[static_cast<std::size_t>(2 * pair + language)];
}

std::string_view signal_label(int s, int language)
{
    if (s < 0 || s >= signal_count || !valid_language(language))
        return {};
    return SignalLabels[static_cast<std::size_t>(signal_count * language + s)];
}

const std::array<std::string_view, notice_pair_count * language_count> NoticeTable{
    /*  0 */ "项目“%1”已修改。是否保存修改？", "The project \"%1\" has changed. Save the changes?",
    /*  1 */ "保存", "Save",
    /*  2 */ "不保存", "Discard",
    /*  3 */ "取消", "Cancel",
    /*  4 */ "设备的参数已修改但未存入设备，设备断电后修改将丢失。是否存入设备？",
             "The processor's settings have changed but are not saved to its memory; they are lost when it is "
             "switched off. Save them to the processor's memory?",
    /*  5 */ "存入设备", "Save to processor memory",
    /*  6 */ "不存入", "Don't save",
    /*  7 */ "未存入设备", "Not saved to processor",
    /*  8 */ "没有权限打开串口 %1。请把用户加入 dialout 组（sudo usermod -aG dialout $USER），重新登录后再试。",
             "No permission to open the serial port %1. Add your user to the dialout group "
             "(sudo usermod -aG dialout $USER), log in again and retry.",
    /*  9 */ "项目未保存", "Unsaved project",
    /* 10 */ "参数未存入设备", "Not saved to processor",
};

std::string_view notice(int pair, int language)
{
    if (pair < 0 || pair >= notice_pair_count || !valid_language(language))
        return {};
    return NoticeTable[static_cast<std::size_t>(2 * pair + language)];
}

}  // namespace tk770
