// Caption texts of the user interface, held as UTF-8.
//
// Every caption that switches between Chinese and English is one pair of
// the CaptionTable: entry 2k is the Chinese text of pair k, entry 2k + 1 the
// English one, so the caption in force is entry 2k + language. Leading and
// trailing blanks are part of the texts (menu titles are padded with them)
// and must never be trimmed.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace tk770 {

inline constexpr int language_chinese = 0;
inline constexpr int language_english = 1;
inline constexpr int language_count = 2;

inline constexpr int caption_pair_count = 117;
inline constexpr int signal_count = 6;
inline constexpr int bass_turnover_count = 11;
inline constexpr int treble_turnover_count = 10;

extern const std::array<std::string_view, caption_pair_count * language_count> CaptionTable;
// The six test-signal labels of each language, Chinese first.
extern const std::array<std::string_view, signal_count * language_count> SignalLabels;
// Same in both languages; also the labels of the subwoofer low-pass codes.
extern const std::array<std::string_view, bass_turnover_count> BassTurnoverLabels;
extern const std::array<std::string_view, treble_turnover_count> TrebleTurnoverLabels;

// Caption of pair 0..116 in language 0 (Chinese) or 1 (English). Anything
// outside the table gives an empty text rather than reading past it.
std::string_view caption(int pair, int language);
// Label of test signal 0..5; empty outside the table, like caption().
std::string_view signal_label(int s, int language);

// The pairs by name. Where several controls take consecutive pairs in
// order (the five format items, the eight channel tabs...), the name is the
// first pair of the run and the count says how many follow.
inline constexpr int pair_window_title = 0;  // first part of the window caption
// File menu
inline constexpr int pair_file_menu = 1;
inline constexpr int pair_new_project = 2;
inline constexpr int pair_open_project = 3;
inline constexpr int pair_save_project = 4;
inline constexpr int pair_save_project_as = 5;
inline constexpr int pair_load_from_device = 6;
inline constexpr int pair_download_to_device = 7;
inline constexpr int pair_backup_to_ic_card = 8;
inline constexpr int pair_save_to_device = 115;
inline constexpr int pair_restart_device = 116;
// Format, EQ, communication, power-on format, profile and language menus
inline constexpr int pair_format_menu = 9;
inline constexpr int pair_format_items = 10;  // five, in format order
inline constexpr int pair_eq_menu = 15;
inline constexpr int pair_copy_eq = 16;
inline constexpr int pair_communication_menu = 17;
inline constexpr int pair_port_menu = 18;
inline constexpr int pair_connect = 19;
inline constexpr int pair_disconnect = 20;
inline constexpr int pair_network_settings = 21;
inline constexpr int pair_power_on_menu = 22;
inline constexpr int pair_power_on_items = 23;  // six: five formats and "last selected"
inline constexpr int pair_profile_menu = 29;
inline constexpr int pair_language_menu = 30;
// Input panel
inline constexpr int pair_input_panel_title = 31;
inline constexpr int pair_preset = 32;
inline constexpr int pair_input_group_titles = 33;  // five, in format order
inline constexpr int pair_format_button_digital = 33;
inline constexpr int pair_format_button_analog = 34;
inline constexpr int pair_source_items = 38;  // three: analog, coaxial, optical
inline constexpr int pair_mic_center = 41;
inline constexpr int pair_mic_surround = 42;
// Format buttons 3 to 5, captioned by the source chosen
inline constexpr int pair_nonsync_source_on = 75;   // coaxial
inline constexpr int pair_nonsync_source_off = 76;  // analog
inline constexpr int pair_aux_sources = 77;         // three: analog, coaxial, optical
inline constexpr int pair_mic_format_button = 80;
// Output panel
inline constexpr int pair_output_panel_title = 43;
inline constexpr int pair_output_channel_header = 44;
inline constexpr int pair_polarity_normal = 45;
inline constexpr int pair_polarity_inverted = 46;
inline constexpr int pair_mute = 47;  // channel mute buttons and the master mute button
inline constexpr int pair_first_signal = 48;
inline constexpr int pair_signal_generator = 49;
// Channel page and master section
inline constexpr int pair_channel_tabs = 50;  // eight, L C R SL SR BSL BSR SW
inline constexpr int pair_page_test_signal = 58;
inline constexpr int pair_flat = 59;
inline constexpr int pair_bass = 60;
inline constexpr int pair_treble = 61;
inline constexpr int pair_bass_turnover = 62;
inline constexpr int pair_treble_turnover = 63;
inline constexpr int pair_master_volume = 64;
inline constexpr int pair_fade_times = 65;  // ten, 1 s to 10 s
inline constexpr int pair_lowpass = 111;
inline constexpr int pair_lowpass_slope = 112;
// EQ copy dialog
inline constexpr int pair_eq_copy_channels = 81;  // seven, L to BSR
inline constexpr int pair_eq_copy_button = 88;
inline constexpr int pair_eq_copy_title = 89;
// Profile dialog
inline constexpr int pair_profile_title = 90;
inline constexpr int pair_profile_field_labels = 91;  // eight
inline constexpr int pair_theater_heading = 99;
inline constexpr int pair_device_heading = 100;
inline constexpr int pair_device_model_line = 101;
inline constexpr int pair_device_serial_line = 102;
inline constexpr int pair_firmware_version_line = 103;
inline constexpr int pair_firmware_date_line = 104;
// Network configuration and device address dialogs
inline constexpr int pair_network_title = 105;
inline constexpr int pair_network_ip = 106;
inline constexpr int pair_network_mask = 107;
inline constexpr int pair_network_gateway = 108;
inline constexpr int pair_network_load = 109;
inline constexpr int pair_network_save = 110;
inline constexpr int pair_device_ip = 113;  // title and label
inline constexpr int pair_device_ip_ok = 114;

// Start-up texts that differ from their pair's Chinese text (blanks, a
// colon). The window and the EQ copy dialog show these from start-up until
// the first language switch captions the control from its pair.
inline constexpr std::string_view startup_save_project_as = "另存为";          // pair 5: "另存为  "
inline constexpr std::string_view startup_eq_menu = " EQ参数 ";                // pair 15: "EQ参数"
inline constexpr std::string_view startup_communication_menu = "  通讯  ";     // pair 17: " 通讯 "
inline constexpr std::string_view startup_power_on_menu = "  开机格式  ";      // pair 22: "开机格式"
inline constexpr std::string_view startup_back_left_tab = " 左后环绕";         // pair 55: " 左后环绕 "
inline constexpr std::string_view startup_back_right_tab = " 右后环绕";        // pair 56: " 右后环绕 "
inline constexpr std::string_view startup_channel_mute = "静  音";             // pair 47: "静音"
inline constexpr std::string_view startup_master_mute = "静 音";               // pair 47: "静音"
inline constexpr std::string_view startup_flat = "平  直";                     // pair 59: "平直"
inline constexpr std::string_view startup_master_volume = "主音量：";          // pair 64: "主音量"
inline constexpr std::string_view startup_eq_copy_title = "EQ 参数复制";       // pair 89: "复制EQ参数"
inline constexpr std::string_view startup_eq_copy_back_right = "右后环绕";     // pair 87: "右后环绕 "

// The window caption is the title pair, this separator and the file name.
inline constexpr std::string_view window_title_separator = "   ";
inline constexpr std::string_view untitled_project_name = "Untitle.QSdat";

// The output refresh captions the polarity buttons with these Chinese texts
// whatever the caption language; only a click re-captions from the table.
inline constexpr std::string_view polarity_refresh_normal = "正 相";
inline constexpr std::string_view polarity_refresh_inverted = "反 相";

// Fixed Chinese prefixes of the device lines of the profile dialog. Their
// trailing blanks line the values up and do not follow the language.
inline constexpr std::string_view device_model_prefix = "设备型号：      ";
inline constexpr std::string_view device_serial_prefix = "设备序列号：  ";
inline constexpr std::string_view firmware_version_prefix = "固件版本：      ";
inline constexpr std::string_view firmware_date_prefix = "固件发布：      ";

}  // namespace tk770

namespace tk770 {

// Texts of the operator's safety nets: the unsaved-project and
// processor-memory questions, the processor-memory reminder of the status
// bar and the serial-port permission message. Chinese and English like the
// caption pairs, but a table of their own: the CaptionTable's 117 pairs are
// the window's fixed set and stay so. "%1" stands for a file or device name.
inline constexpr int notice_pair_count = 11;
extern const std::array<std::string_view, notice_pair_count * language_count> NoticeTable;
// Text of notice pair 0..10 in language 0 or 1; empty outside the table.
std::string_view notice(int pair, int language);

inline constexpr int notice_project_changed = 0;      // question; %1 the file name
inline constexpr int notice_save = 1;                 // button
inline constexpr int notice_discard = 2;              // button
inline constexpr int notice_cancel = 3;               // button, both questions
inline constexpr int notice_processor_unsaved = 4;    // question
inline constexpr int notice_save_to_processor = 5;    // button
inline constexpr int notice_dont_save = 6;            // button
inline constexpr int notice_not_saved_status = 7;     // status bar reminder
inline constexpr int notice_port_permission = 8;      // message; %1 the device
inline constexpr int notice_unsaved_title = 9;        // title of the project question
inline constexpr int notice_processor_title = 10;     // title of the processor question

}  // namespace tk770
