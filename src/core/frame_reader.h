// Cuts request frames out of a byte stream that arrives in arbitrary pieces,
// for whoever listens for requests: the simulator and the gateway.
#pragma once

#include "core/frame.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tk770 {

// Appends to a buffer read from the front by moving `start`; the consumed
// front is cut off only once it is at least half the buffer, so a long
// stream of small requests costs no copying of the rest for each one. Shared
// by the frame and the line readers.
void append_compacting(std::vector<std::uint8_t>& buffer, std::size_t& start, std::span<const std::uint8_t> bytes);

// Room for many of the largest frames (1,031 bytes), so a client that sends
// its next request early is never refused, while a flood cannot grow it.
inline constexpr std::size_t frame_reader_capacity = 64 * 1024;

// Serial: bytes before a lead byte are dropped; a frame that turns out bad is
// dropped one lead byte at a time so a real frame hidden behind it is found.
// TCP: there is no lead byte, so a frame whose extent cannot be known (an
// unknown command, an impossible length) takes everything buffered with it.
class FrameReader {
public:
    explicit FrameReader(Framing framing, std::size_t capacity = frame_reader_capacity);

    // Appends the bytes; false (and nothing taken) when they would not fit.
    bool feed(std::span<const std::uint8_t> bytes);
    // The next valid request frame, if one is complete.
    std::optional<std::vector<std::uint8_t>> next();
    // Bytes thrown away since the last call.
    std::vector<std::uint8_t> take_dropped();
    // Forget a partial frame (the line went idle, the client went away).
    void discard_partial();

    std::size_t buffered() const { return m_buffer.size() - m_start; }
    std::size_t free_space() const { return m_capacity - buffered(); }
    std::size_t capacity() const { return m_capacity; }
    Framing framing() const { return m_framing; }

private:
    void drop(std::size_t count);
    std::span<const std::uint8_t> pending() const;

    Framing m_framing;
    std::size_t m_capacity;
    // Frames are consumed by moving m_start (see append_compacting).
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_start = 0;
    std::vector<std::uint8_t> m_dropped;
};

}  // namespace tk770
