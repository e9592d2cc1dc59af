// Names for the rows of a parameterised test. ctest lists every row by its
// name, so a row is found by what it tests, not by its index or a dump of
// its bytes; gtest allows letters, digits and '_' only.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>

// In tk770 itself, not tk770::testing: the core tests say `using namespace
// tk770`, and a second `testing` would make GoogleTest's ambiguous there.
namespace tk770 {

// `text` with every other character made '_'.
inline std::string case_name(std::string_view text)
{
    std::string name;
    for (const char c : text) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// For rows whose texts may look alike once cleaned (blanks, brackets, bytes
// that are not letters): the row's index keeps the name unique.
inline std::string case_name(std::size_t index, std::string_view text)
{
    return std::to_string(index) + "_" + (text.empty() ? std::string("empty") : case_name(text));
}

// A signed number as a name: -25 is "minus_25".
inline std::string case_name(int value)
{
    return value < 0 ? "minus_" + std::to_string(-static_cast<long long>(value)) : std::to_string(value);
}

}  // namespace tk770
