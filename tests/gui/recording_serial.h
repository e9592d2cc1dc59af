// A serial port for the dialog tests: records every frame written and
// answers each read from a script (or with a plain 7-byte acknowledgement).
#pragma once

#include "core/device_link.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

struct WrittenFrame {
    int port;
    std::vector<std::uint8_t> bytes;
};

class RecordingSerial : public tk770::SerialTransport {
public:
    std::vector<WrittenFrame> writes;
    std::deque<std::vector<std::uint8_t>> replies;  // taken one per read
    int reads = 0;

    void open(int) override {}
    void close(int) override {}
    void set_read_timeout(int, int) override {}
    void write(int port, std::span<const std::uint8_t> bytes) override
    {
        writes.push_back({port, {bytes.begin(), bytes.end()}});
    }
    int read(int, std::span<std::uint8_t> bytes) override
    {
        ++reads;
        std::vector<std::uint8_t> reply(7, 0);
        if (!replies.empty()) {
            reply = replies.front();
            replies.pop_front();
        }
        const std::size_t n = std::min(reply.size(), bytes.size());
        std::copy_n(reply.begin(), n, bytes.begin());
        return static_cast<int>(n);
    }
};

inline std::uint8_t sumOf(const std::vector<std::uint8_t>& bytes)
{
    unsigned sum = 0;
    for (auto b : bytes) sum += b;
    return static_cast<std::uint8_t>(sum);
}

// Appends the checksum byte the way the processor's frames carry it.
inline std::vector<std::uint8_t> withChecksum(std::vector<std::uint8_t> bytes)
{
    bytes.push_back(sumOf(bytes));
    return bytes;
}
