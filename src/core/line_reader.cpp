#include "core/line_reader.h"

#include "core/frame_reader.h"

#include <algorithm>

namespace tk770 {

LineReader::LineReader(std::size_t max_line, std::size_t capacity)
    : m_max_line(max_line), m_capacity(std::max(capacity, max_line + 2))
{
}

bool LineReader::feed(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() > free_space()) return false;
    append_compacting(m_buffer, m_start, bytes);
    return true;
}

std::optional<TextLine> LineReader::next()
{
    for (;;) {
        if (m_after_cr && m_start < m_buffer.size()) {
            if (m_buffer[m_start] == '\n') ++m_start;
            m_after_cr = false;
        }
        const auto first = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start);
        const auto end = std::find_if(first, m_buffer.end(), [](std::uint8_t b) { return b == '\r' || b == '\n'; });
        const auto length = static_cast<std::size_t>(end - first);
        if (end == m_buffer.end()) {
            if (m_skipping) {
                m_start = m_buffer.size();  // the rest of an over-long line goes
                return std::nullopt;
            }
            if (length > m_max_line) {
                m_skipping = true;
                m_start = m_buffer.size();
                return TextLine{{}, true};
            }
            return std::nullopt;
        }
        m_after_cr = *end == '\r';
        m_start += length + 1;
        if (m_skipping) {
            m_skipping = false;
            continue;
        }
        if (length > m_max_line) return TextLine{{}, true};
        if (length == 0) continue;
        return TextLine{std::string(first, end), false};
    }
}

void LineReader::discard_partial()
{
    m_buffer.clear();
    m_start = 0;
    m_after_cr = false;
}

}  // namespace tk770
