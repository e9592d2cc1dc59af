// Any text as an IPv4 address. What is accepted is a strict dotted quad:
// digits and exactly three dots, short enough for the edit boxes, and it
// survives formatting and parsing again unchanged.
#include "link/sequences.h"
#include "fuzz_check.h"

#include <algorithm>

using namespace tk770;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto octets = parse_address(text);
    if (!octets) return 0;

    FUZZ_CHECK(text.size() <= max_address_text);
    FUZZ_CHECK(std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; }));
    FUZZ_CHECK(std::count(text.begin(), text.end(), '.') == 3);

    const std::string again = format_address(octets->data());
    const auto reparsed = parse_address(again);
    FUZZ_CHECK(reparsed && *reparsed == *octets);
    return 0;
}
