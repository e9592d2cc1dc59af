// Any byte string as the processor's answer to one request, over either
// transport. The first bytes choose the request:
//
//   0     bits 0-1 operation (read, write, store, read), bit 2 TCP,
//         bit 3 address beyond 16 bits, bit 4 the serial read reports an
//         error, bit 5 start near the error limit
//   1-2   device address, big-endian
//   3-4   length, big-endian (anything, so refused lengths are tried too)
//   5...  what the processor sends back
//
// A reply is taken only when it echoes the request's header. A rejected read leaves the destination untouched, an accepted one copies
// exactly the reply's data bytes; the source of a write never changes;
// serial failures are counted and only those.
#include "core/device_link.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace tk770;

namespace {

// The reply bytes in arrival order; a read takes what is there and no more.
class ReplyStream {
public:
    ReplyStream(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::size_t take(std::span<std::uint8_t> out)
    {
        const std::size_t n = std::min(out.size(), m_size - m_pos);
        std::copy_n(m_data + m_pos, n, out.begin());
        m_pos += n;
        return n;
    }
    std::size_t remaining() const { return m_size - m_pos; }
    std::span<const std::uint8_t> ahead() const { return {m_data + m_pos, m_size - m_pos}; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

class FakeSerial : public SerialTransport {
public:
    FakeSerial(ReplyStream& replies, bool fail_reads) : m_replies(replies), m_fail(fail_reads) {}
    void open(int) override {}
    void close(int) override {}
    void set_read_timeout(int, int) override {}
    void write(int, std::span<const std::uint8_t> bytes) override { sent.assign(bytes.begin(), bytes.end()); ++writes; }
    int read(int, std::span<std::uint8_t> bytes) override
    {
        if (m_fail) return -1;
        return static_cast<int>(m_replies.take(bytes));
    }
    std::vector<std::uint8_t> sent;
    int writes = 0;

private:
    ReplyStream& m_replies;
    bool m_fail;
};

class FakeTcp : public TcpTransport {
public:
    explicit FakeTcp(ReplyStream& replies) : m_replies(replies) {}
    void send(std::span<const std::uint8_t> bytes) override { sent.assign(bytes.begin(), bytes.end()); ++sends; }
    // A receive that cannot be satisfied is a connection that went away.
    void receive(std::span<std::uint8_t> bytes) override
    {
        if (m_replies.remaining() < bytes.size()) throw LinkError("Connection closed by peer");
        m_replies.take(bytes);
    }
    std::vector<std::uint8_t> sent;
    int sends = 0;

private:
    ReplyStream& m_replies;
};

// Whether the reply's header (after the lead byte on the serial line)
// repeats the request's command, address and length.
bool echoes(const std::vector<std::uint8_t>& reply, bool tcp, Command cmd, int address, int length)
{
    const std::size_t head = tcp ? 0 : 1;
    if (reply.size() < head + 5) return false;
    if (!tcp && reply[0] != serial_lead_byte) return false;
    return reply[head] == static_cast<std::uint8_t>(cmd) && ((reply[head + 1] << 8) | reply[head + 2]) == address &&
           ((reply[head + 3] << 8) | reply[head + 4]) == length;
}

std::uint8_t sum(std::span<const std::uint8_t> bytes)
{
    unsigned s = 0;
    for (auto b : bytes) s += b;
    return static_cast<std::uint8_t>(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5) return 0;
    const std::uint8_t mode = data[0];
    const int op = mode & 3;
    const bool tcp = (mode & 4) != 0;
    const int address = ((data[1] << 8) | data[2]) + ((mode & 8) ? 0x10000 : 0);
    const int length = (data[3] << 8) | data[4];
    const Command cmd = op == 1 ? Command::write : op == 2 ? Command::store : Command::read;

    ReplyStream replies(data + 5, size - 5);
    // Kept before the call: the reply as it will arrive, for the checks below.
    const std::vector<std::uint8_t> reply(replies.ahead().begin(), replies.ahead().end());
    FakeSerial serial(replies, (mode & 16) != 0);
    FakeTcp net(replies);
    LinkState state;
    state.connected = 1;
    state.network_mode = tcp ? 1 : 0;
    state.serial_port = 3;
    state.error_count = (mode & 32) ? 20 : 0;
    const LinkState before = state;
    DeviceLink link(state, &serial, &net, nullptr);

    const bool valid = address >= 0 && address <= 0xFFFF && length >= 1 && length <= max_block_length;
    // Exactly `length` bytes, so any access past them is an overflow; a
    // refused request gets one byte, which it must not touch either.
    const std::size_t n = valid ? static_cast<std::size_t>(length) : 1;
    std::vector<std::uint8_t> buffer(n);
    for (std::size_t i = 0; i < n; ++i) buffer[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const std::vector<std::uint8_t> original = buffer;

    int result = 0;
    bool link_error = false;
    try {
        result = cmd == Command::read    ? link.read_block(address, length, buffer.data())
                 : cmd == Command::write ? link.write_block(address, length, buffer.data())
                                         : link.store_block(address, length, buffer.data());
    } catch (const LinkError&) {
        link_error = true;
    }

    if (!valid) {
        FUZZ_CHECK(!link_error && result == -1);
        FUZZ_CHECK(serial.writes == 0 && net.sends == 0);
        FUZZ_CHECK(buffer == original);
        FUZZ_CHECK(state.error_count == before.error_count && state.connected == before.connected);
        return 0;
    }

    // What went out is one well-formed request.
    const auto& sent = tcp ? net.sent : serial.sent;
    const std::size_t header = tcp ? 5 : 6;
    const std::size_t data_bytes = cmd == Command::read ? 0 : n;
    FUZZ_CHECK(sent.size() == header + data_bytes + 1);
    FUZZ_CHECK(tcp || sent[0] == serial_lead_byte);
    FUZZ_CHECK(sent[header - 5] == static_cast<std::uint8_t>(cmd));
    FUZZ_CHECK(((sent[header - 4] << 8) | sent[header - 3]) == address);
    FUZZ_CHECK(((sent[header - 2] << 8) | sent[header - 1]) == length);
    FUZZ_CHECK(std::equal(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(data_bytes),
                          sent.begin() + static_cast<std::ptrdiff_t>(header)));
    FUZZ_CHECK(sent.back() == sum(std::span(sent).first(sent.size() - 1)));

    if (tcp) {
        const std::size_t wanted = cmd == Command::read ? n + tcp_overhead : tcp_overhead;
        FUZZ_CHECK(link_error == (reply.size() < wanted));
        if (link_error) {
            FUZZ_CHECK(buffer == original);
            return 0;
        }
        const bool accepted = echoes(reply, true, cmd, address, length);
        FUZZ_CHECK(result == (accepted ? 0 : -1));
        if (cmd == Command::read && accepted)
            FUZZ_CHECK(std::equal(buffer.begin(), buffer.end(), reply.begin() + 5));
        else
            FUZZ_CHECK(buffer == original);
        // Over TCP nothing is counted: failures are raised, not tallied.
        FUZZ_CHECK(state.error_count == before.error_count && state.connected == before.connected);
        return 0;
    }

    FUZZ_CHECK(!link_error);
    const bool read_fails = (mode & 16) != 0;
    if (cmd == Command::read) {
        const std::size_t wanted = n + serial_overhead;
        const bool accepted = !read_fails && reply.size() >= wanted && echoes(reply, false, cmd, address, length) &&
                              sum(std::span(reply).first(wanted - 1)) == reply[wanted - 1];
        FUZZ_CHECK(result == (accepted ? 0 : -1));
        if (accepted)
            FUZZ_CHECK(std::equal(buffer.begin(), buffer.end(), reply.begin() + 6));
        else
            FUZZ_CHECK(buffer == original);
        FUZZ_CHECK(state.error_count == before.error_count && state.connected == before.connected);
        return 0;
    }

    // Serial writes and stores: seven bytes echoing the request's header acknowledge.
    FUZZ_CHECK(buffer == original);
    const bool acknowledged = !read_fails && reply.size() >= static_cast<std::size_t>(serial_overhead) &&
                              echoes(reply, false, cmd, address, length);
    FUZZ_CHECK(result == (acknowledged ? 0 : -1));
    if (acknowledged) {
        FUZZ_CHECK(state.error_count == (cmd == Command::store ? 0 : before.error_count));
        FUZZ_CHECK(state.connected == before.connected);
    } else {
        FUZZ_CHECK(state.error_count == before.error_count + 1);
        FUZZ_CHECK(state.connected == (state.error_count > 20 ? 0 : before.connected));
    }
    return 0;
}
