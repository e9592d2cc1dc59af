// Results shown in the message panel of the main status bar. They are fixed
// English texts whatever the caption language; the link panel's Chinese
// texts live with the link (text_connected, text_not_connected).
#pragma once

#include <string_view>

namespace tk770 {

// Connect and disconnect.
inline constexpr std::string_view text_system_connected = "System Connected";
// Followed directly by the host text when the TCP connection is made.
inline constexpr std::string_view text_system_connected_to = "System Connected to ";
inline constexpr std::string_view text_connect_fail = "Connect Fail!";
inline constexpr std::string_view text_disconnected = "DisConnected";

// Bulk device operations.
inline constexpr std::string_view text_load_success = "Load Success";
inline constexpr std::string_view text_download_success = "DownLoad Success";
inline constexpr std::string_view text_save_memory_success = "Save To Memory Success";
inline constexpr std::string_view text_save_memory_fail = "Save Memory Fail!";
inline constexpr std::string_view text_save_ic_card_success = "Save To IC Card Success";
inline constexpr std::string_view text_save_ic_card_fail = "Save IC Card Fail!";

// Project files.
inline constexpr std::string_view text_open_file_success = "Open File Success";
inline constexpr std::string_view text_cannot_open_file = "Can't open this file!";
inline constexpr std::string_view text_cannot_write_file = "Can't write this file!";
inline constexpr std::string_view text_file_format_error = "File Format Error!";

}  // namespace tk770
