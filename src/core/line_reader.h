// Cuts text lines out of a byte stream that arrives in arbitrary pieces, for
// the gateway's automation protocol: lines end in CR, LF or CR LF, and a line
// longer than its limit is reported once and skipped up to its end, so a
// client that never sends an ending cannot grow the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tk770 {

struct TextLine {
    std::string text;       // without its ending
    bool too_long = false;  // the line passed the limit; text is empty
};

class LineReader {
public:
    explicit LineReader(std::size_t max_line, std::size_t capacity = 4096);

    // Appends the bytes; false (and nothing taken) when they would not fit.
    bool feed(std::span<const std::uint8_t> bytes);
    // The next complete line (empty lines are skipped), or a too-long report.
    std::optional<TextLine> next();
    // Forget an unfinished line.
    void discard_partial();

    std::size_t buffered() const { return m_buffer.size() - m_start; }
    std::size_t free_space() const { return m_capacity - buffered(); }
    std::size_t max_line() const { return m_max_line; }

private:
    std::size_t m_max_line;
    std::size_t m_capacity;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_start = 0;
    bool m_skipping = false;   // inside a line already reported as too long
    bool m_after_cr = false;   // an LF right after a CR ends nothing more
};

}  // namespace tk770
