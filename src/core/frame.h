// The processor's frames, written once for everybody who speaks them: the
// link that sends requests, the simulator that answers them and the gateway
// that passes them on. Two framings share one layout
//
//     [lead 0xCA] command address(2) length(2) [data] checksum
//
// and differ only in the lead byte (serial line) and in how a reply is
// judged. Multi-byte numbers are sent high byte first; the checksum is the
// sum of every byte before it, modulo 256.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tk770 {

enum class Command : std::uint8_t { read = 0x03, write = 0x06, store = 0x10 };
enum class Framing { serial, tcp };

inline constexpr std::uint8_t serial_lead_byte = 0xCA;
// The processor's address space; a request reaching past it is refused.
inline constexpr int device_memory_size = 1024;

// Header bytes before the data, and all bytes that are not data.
constexpr std::size_t header_size(Framing framing) { return framing == Framing::serial ? 6 : 5; }
constexpr std::size_t frame_overhead(Framing framing) { return header_size(framing) + 1; }

// Sum modulo 256 of the bytes.
std::uint8_t checksum(std::span<const std::uint8_t> bytes);

bool is_command(std::uint8_t byte);

// A write or store carrying `data` (the length field is data.size()), or a
// read asking for `length` bytes, laid out into `out`. Returns the frame's
// size, 0 when the address is outside 16 bits or the frame does not fit.
std::size_t build_request(Framing framing, Command cmd, int address, std::span<const std::uint8_t> data,
                          std::span<std::uint8_t> out);
std::size_t build_read_request(Framing framing, int address, int length, std::span<std::uint8_t> out);

// The processor's answers: a read reply carries the data, an
// acknowledgement repeats the request's header.
std::vector<std::uint8_t> build_read_reply(Framing framing, int address, std::span<const std::uint8_t> data);
std::vector<std::uint8_t> build_ack(Framing framing, Command cmd, int address, int length);

// How a reply is judged. `reply` is exactly what arrived. A reply is taken
// only when its header echoes the request's command, address and length (and
// the lead byte on the serial line): with bounded waits an answer may come
// late, and a late answer must never pass for the next request's.
// Serial read: also exactly length + 7 bytes with a matching checksum.
// TCP read: the checksum is not examined.
bool read_reply_ok(Framing framing, std::span<const std::uint8_t> reply, int address, int length);
// Serial: exactly 7 bytes. Both: the header echoes the request; the checksum
// is not examined.
bool ack_ok(Framing framing, std::span<const std::uint8_t> reply, Command cmd, int address, int length);
// Where a read reply's data starts.
constexpr std::size_t reply_data_offset(Framing framing) { return header_size(framing); }

enum class FrameError {
    none,
    incomplete,       // fewer bytes than the header announces
    bad_lead,         // serial frame not starting with 0xCA
    unknown_command,
    zero_length,
    out_of_range,     // address + length beyond the device memory
    wrong_size,       // more bytes than the header announces
    bad_checksum,
};

struct Request {
    Command command = Command::read;
    int address = 0;
    int length = 0;
    std::span<const std::uint8_t> data;  // write and store only; points into the frame
};

// Judges one complete request frame as the processor does. On success `out`
// describes it.
FrameError parse_request(Framing framing, std::span<const std::uint8_t> frame, Request& out);

// The number of bytes the request starting at the front of `bytes` takes, as
// far as its header tells: nullopt while the header is incomplete, 0 when
// the header cannot start a request (unknown command, data longer than the
// device memory).
std::optional<std::size_t> request_extent(Framing framing, std::span<const std::uint8_t> bytes);

// "AB 01 ..." as the simulator's and the gateway's traces print frames.
std::string hexBytes(std::span<const std::uint8_t> bytes);

}  // namespace tk770
