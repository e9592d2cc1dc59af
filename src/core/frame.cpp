#include "core/frame.h"

#include <algorithm>

namespace tk770 {

namespace {

constexpr int max_address = 0xFFFF;

std::uint8_t high_byte(int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }
std::uint8_t low_byte(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

// Lays out the header; a read passes no data but announces `length`.
std::size_t put_header(Framing framing, std::uint8_t cmd, int address, int length, std::span<std::uint8_t> out)
{
    std::size_t i = 0;
    if (framing == Framing::serial) out[i++] = serial_lead_byte;
    out[i++] = cmd;
    out[i++] = high_byte(address);
    out[i++] = low_byte(address);
    out[i++] = high_byte(length);
    out[i++] = low_byte(length);
    return i;
}

std::size_t build_frame(Framing framing, std::uint8_t cmd, int address, int length,
                        std::span<const std::uint8_t> data, std::span<std::uint8_t> out)
{
    if (address < 0 || address > max_address || length < 0 || length > 0xFFFF) return 0;
    const std::size_t total = frame_overhead(framing) + data.size();
    if (total > out.size()) return 0;
    std::size_t i = put_header(framing, cmd, address, length, out);
    std::copy(data.begin(), data.end(), out.begin() + static_cast<std::ptrdiff_t>(i));
    i += data.size();
    out[i] = checksum(out.first(i));
    return total;
}

std::vector<std::uint8_t> built(Framing framing, std::uint8_t cmd, int address, int length,
                                std::span<const std::uint8_t> data)
{
    std::vector<std::uint8_t> out(frame_overhead(framing) + data.size());
    out.resize(build_frame(framing, cmd, address, length, data, out));
    return out;
}

}  // namespace

std::uint8_t checksum(std::span<const std::uint8_t> bytes)
{
    unsigned sum = 0;
    for (auto b : bytes) sum += b;
    return static_cast<std::uint8_t>(sum & 0xFF);
}

bool is_command(std::uint8_t byte)
{
    return byte == static_cast<std::uint8_t>(Command::read) || byte == static_cast<std::uint8_t>(Command::write) ||
           byte == static_cast<std::uint8_t>(Command::store);
}

std::size_t build_request(Framing framing, Command cmd, int address, std::span<const std::uint8_t> data,
                          std::span<std::uint8_t> out)
{
    return build_frame(framing, static_cast<std::uint8_t>(cmd), address, static_cast<int>(data.size()), data, out);
}

std::size_t build_read_request(Framing framing, int address, int length, std::span<std::uint8_t> out)
{
    return build_frame(framing, static_cast<std::uint8_t>(Command::read), address, length, {}, out);
}

std::vector<std::uint8_t> build_read_reply(Framing framing, int address, std::span<const std::uint8_t> data)
{
    return built(framing, static_cast<std::uint8_t>(Command::read), address, static_cast<int>(data.size()), data);
}

std::vector<std::uint8_t> build_ack(Framing framing, Command cmd, int address, int length)
{
    return built(framing, static_cast<std::uint8_t>(cmd), address, length, {});
}

namespace {

// Whether the reply's header repeats the request's.
bool echoes(Framing framing, std::span<const std::uint8_t> reply, Command cmd, int address, int length)
{
    const std::size_t head = framing == Framing::serial ? 1 : 0;
    if (reply.size() < header_size(framing)) return false;
    if (framing == Framing::serial && reply[0] != serial_lead_byte) return false;
    return reply[head] == static_cast<std::uint8_t>(cmd) && ((reply[head + 1] << 8) | reply[head + 2]) == address &&
           ((reply[head + 3] << 8) | reply[head + 4]) == length;
}

}  // namespace

bool read_reply_ok(Framing framing, std::span<const std::uint8_t> reply, int address, int length)
{
    if (!echoes(framing, reply, Command::read, address, length)) return false;
    if (framing == Framing::tcp) return true;
    if (reply.size() != static_cast<std::size_t>(length) + frame_overhead(framing)) return false;
    return checksum(reply.first(reply.size() - 1)) == reply.back();
}

bool ack_ok(Framing framing, std::span<const std::uint8_t> reply, Command cmd, int address, int length)
{
    if (!echoes(framing, reply, cmd, address, length)) return false;
    return framing == Framing::tcp || reply.size() == frame_overhead(framing);
}

std::optional<std::size_t> request_extent(Framing framing, std::span<const std::uint8_t> bytes)
{
    const std::size_t head = framing == Framing::serial ? 1 : 0;
    if (bytes.size() < head + 5) return std::nullopt;
    if (!is_command(bytes[head])) return 0;
    std::size_t extent = frame_overhead(framing);
    if (bytes[head] != static_cast<std::uint8_t>(Command::read)) {
        const int length = (bytes[head + 3] << 8) | bytes[head + 4];
        // Anything longer than the whole memory cannot be waited for.
        if (length > device_memory_size) return 0;
        extent += static_cast<std::size_t>(length);
    }
    return extent;
}

FrameError parse_request(Framing framing, std::span<const std::uint8_t> frame, Request& out)
{
    std::size_t head = 0;
    if (framing == Framing::serial) {
        if (frame.empty()) return FrameError::incomplete;
        if (frame[0] != serial_lead_byte) return FrameError::bad_lead;
        head = 1;
    }
    if (frame.size() < head + 5) return FrameError::incomplete;
    const std::uint8_t cmd = frame[head];
    if (!is_command(cmd)) return FrameError::unknown_command;
    const int address = (frame[head + 1] << 8) | frame[head + 2];
    const int length = (frame[head + 3] << 8) | frame[head + 4];
    const bool read = cmd == static_cast<std::uint8_t>(Command::read);
    const std::size_t data_size = read ? 0 : static_cast<std::size_t>(length);
    const std::size_t expected = frame_overhead(framing) + data_size;
    if (frame.size() < expected) return FrameError::incomplete;
    if (frame.size() > expected) return FrameError::wrong_size;
    // The checksum is judged before the contents: a frame whose sum is right
    // was framed right, which is what the serial resynchronisation relies on.
    if (checksum(frame.first(expected - 1)) != frame[expected - 1]) return FrameError::bad_checksum;
    if (length == 0) return FrameError::zero_length;
    if (address + length > device_memory_size) return FrameError::out_of_range;
    out.command = static_cast<Command>(cmd);
    out.address = address;
    out.length = length;
    out.data = frame.subspan(head + 5, data_size);
    return FrameError::none;
}

std::string hexBytes(std::span<const std::uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (auto b : bytes) {
        if (!out.empty()) out.push_back(' ');
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

}  // namespace tk770
