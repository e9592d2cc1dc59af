#include "core/frame_reader.h"

#include <algorithm>

namespace tk770 {

FrameReader::FrameReader(Framing framing, std::size_t capacity) : m_framing(framing), m_capacity(capacity) {}

std::span<const std::uint8_t> FrameReader::pending() const
{
    return std::span<const std::uint8_t>(m_buffer).subspan(m_start);
}

bool FrameReader::feed(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() > free_space()) return false;
    append_compacting(m_buffer, m_start, bytes);
    return true;
}

void append_compacting(std::vector<std::uint8_t>& buffer, std::size_t& start, std::span<const std::uint8_t> bytes)
{
    if (start > 0 && start * 2 >= buffer.size()) {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(start));
        start = 0;
    }
    buffer.insert(buffer.end(), bytes.begin(), bytes.end());
}

void FrameReader::drop(std::size_t count)
{
    count = std::min(count, buffered());
    const auto first = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start);
    m_dropped.insert(m_dropped.end(), first, first + static_cast<std::ptrdiff_t>(count));
    m_start += count;
}

std::optional<std::vector<std::uint8_t>> FrameReader::next()
{
    const bool serial = m_framing == Framing::serial;
    for (;;) {
        if (serial) {
            const auto bytes = pending();
            const auto lead = std::find(bytes.begin(), bytes.end(), serial_lead_byte);
            drop(static_cast<std::size_t>(lead - bytes.begin()));
        }
        const auto bytes = pending();
        const auto extent = request_extent(m_framing, bytes);
        if (!extent) return std::nullopt;
        if (*extent == 0) {
            // Without a lead byte there is no telling where the next frame
            // would start after garbage, so TCP gives up on everything it holds.
            drop(serial ? 1 : bytes.size());
            continue;
        }
        if (bytes.size() < *extent) return std::nullopt;

        const auto frame = bytes.first(*extent);
        Request request;
        const auto error = parse_request(m_framing, frame, request);
        if (error == FrameError::none) {
            std::vector<std::uint8_t> out(frame.begin(), frame.end());
            m_start += *extent;
            if (m_start == m_buffer.size()) {
                m_buffer.clear();
                m_start = 0;
            }
            return out;
        }
        // A bad sum means the extent cannot be trusted either: on serial a
        // real frame may start inside it.
        drop(serial && error == FrameError::bad_checksum ? 1 : *extent);
    }
}

std::vector<std::uint8_t> FrameReader::take_dropped()
{
    std::vector<std::uint8_t> out;
    out.swap(m_dropped);
    return out;
}

void FrameReader::discard_partial()
{
    drop(buffered());
    m_buffer.clear();
    m_start = 0;
}

}  // namespace tk770
