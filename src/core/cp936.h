// Conversion between the UTF-8 the program works in and the Simplified
// Chinese code page 936 (GBK) that the processor keeps its texts in.
//
// A code-page-936 character is one byte (ASCII and 0x80) or two bytes (a lead
// byte 0x81..0xFE and a trail byte). Fields on the device are fixed-size and
// zero-terminated, so a text cut to fit must never end in half a character.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tk770 {

struct Cp936Text {
    std::string bytes;       // code-page-936 bytes, no terminating zero
    bool truncated = false;  // characters were dropped to fit max_bytes
};

// Converts UTF-8 to code page 936 and keeps as many whole characters as fit
// in max_bytes. Empty when the input is not valid UTF-8, holds a character
// the code page lacks, or holds a zero byte (which a zero-terminated field
// would silently cut at).
std::optional<Cp936Text> utf8_to_cp936_field(std::string_view utf8, std::size_t max_bytes);

// True when the whole UTF-8 text converts and takes at most max_bytes; the
// profile edit boxes use it to refuse what their field cannot hold.
bool fits_cp936(std::string_view utf8, std::size_t max_bytes);

// Reads a device text field: the bytes before the first zero byte, and no
// more than field_size bytes when there is none. Bytes that are not valid
// code page 936 become U+FFFD.
std::string cp936_field_to_utf8(const char* field, std::size_t field_size);

template <std::size_t N>
std::string cp936_field_to_utf8(const char (&field)[N])
{
    return cp936_field_to_utf8(field, N);
}

// Why `utf8` cannot be stored as a code-page-936 text of at most max_bytes,
// or empty when it can: not valid UTF-8, a zero byte, a control character
// (which would reach a terminal or split a printed line), a character code
// page 936 lacks, or too long. The reason names the character at fault.
std::string cp936_text_problem(std::string_view utf8, std::size_t max_bytes);

// The text with every control character written as an escape ("\n",
// "\u001b") and the backslash doubled, so a printed field stays one line and
// nothing in it reaches the terminal as a command.
std::string escape_controls(std::string_view utf8);

}  // namespace tk770
