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

// Pairs looked up by name outside the language switch.
inline constexpr int pair_window_title = 0;
inline constexpr int pair_output_channel_header = 44;
inline constexpr int pair_polarity_normal = 45;
inline constexpr int pair_polarity_inverted = 46;

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
