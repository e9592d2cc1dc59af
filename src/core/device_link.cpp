#include "core/device_link.h"

#include <algorithm>

namespace tk770 {

namespace {

constexpr int max_address = 0xFFFF;
// More failed serial writes or stores than this and the link is taken as down.
constexpr int error_limit = 20;

bool address_ok(int address) { return address >= 0 && address <= max_address; }
bool length_ok(int length) { return length >= 1 && length <= max_block_length; }

std::uint8_t high_byte(int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }
std::uint8_t low_byte(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

// Lays out [lead] command address length [data] checksum. A read passes no
// data but sends `length`; writes send data.size() as the length.
std::size_t build_frame(bool with_lead, Command cmd, int address, int length,
                        std::span<const std::uint8_t> data, std::span<std::uint8_t> out)
{
    if (!address_ok(address) || length < 0 || length > 0xFFFF) return 0;
    const std::size_t header = with_lead ? 6 : 5;
    const std::size_t total = header + data.size() + 1;
    if (total > out.size()) return 0;

    std::size_t i = 0;
    if (with_lead) out[i++] = serial_lead_byte;
    out[i++] = static_cast<std::uint8_t>(cmd);
    out[i++] = high_byte(address);
    out[i++] = low_byte(address);
    out[i++] = high_byte(length);
    out[i++] = low_byte(length);
    std::copy(data.begin(), data.end(), out.begin() + static_cast<std::ptrdiff_t>(i));
    i += data.size();
    out[i] = checksum(out.first(i));
    return total;
}

}  // namespace

std::uint8_t checksum(std::span<const std::uint8_t> bytes)
{
    unsigned sum = 0;
    for (auto b : bytes) sum += b;
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::size_t build_serial_request(Command cmd, int address, std::span<const std::uint8_t> data,
                                 std::span<std::uint8_t> out)
{
    return build_frame(true, cmd, address, static_cast<int>(data.size()), data, out);
}

std::size_t build_tcp_request(Command cmd, int address, std::span<const std::uint8_t> data,
                              std::span<std::uint8_t> out)
{
    return build_frame(false, cmd, address, static_cast<int>(data.size()), data, out);
}

std::size_t build_serial_read(int address, int length, std::span<std::uint8_t> out)
{
    return build_frame(true, Command::read, address, length, {}, out);
}

std::size_t build_tcp_read(int address, int length, std::span<std::uint8_t> out)
{
    return build_frame(false, Command::read, address, length, {}, out);
}

bool serial_read_reply_ok(std::span<const std::uint8_t> reply, int length)
{
    if (length < 0 || reply.size() != static_cast<std::size_t>(length) + serial_overhead) return false;
    return checksum(reply.first(reply.size() - 1)) == reply.back();
}

bool tcp_read_reply_ok(std::span<const std::uint8_t> reply)
{
    return !reply.empty() && reply[0] == static_cast<std::uint8_t>(Command::read);
}

bool serial_ack_ok(int count) { return count == serial_overhead; }

bool tcp_ack_ok(std::span<const std::uint8_t> reply, Command cmd)
{
    return !reply.empty() && reply[0] == static_cast<std::uint8_t>(cmd);
}

DeviceLink::DeviceLink(LinkState& state, SerialTransport* serial, TcpTransport* tcp, StatusSink* status)
    : m_state(state), m_serial(serial), m_tcp(tcp), m_status(status)
{
}

int DeviceLink::read_block(int address, int length, std::uint8_t* destination)
{
    if (!address_ok(address) || !length_ok(length) || destination == nullptr) return -1;
    const auto n = static_cast<std::size_t>(length);

    if (m_state.network_mode == 1) {
        // No transport is the same as a client that is not connected.
        if (m_tcp == nullptr) throw LinkError("Socket is not connected");
        const std::size_t size = build_tcp_read(address, length, m_tcp_tx);
        m_tcp->send(std::span<const std::uint8_t>(m_tcp_tx).first(size));
        const auto reply = std::span<std::uint8_t>(m_tcp_rx).first(n + tcp_overhead);
        m_tcp->receive(reply);
        if (!tcp_read_reply_ok(reply)) return -1;
        std::copy_n(reply.begin() + 5, n, destination);
        return 0;
    }

    // Without a port nothing can arrive; the read fails like a time-out.
    if (m_serial == nullptr) return -1;
    const std::size_t size = build_serial_read(address, length, m_serial_tx);
    m_serial->write(m_state.serial_port, std::span<const std::uint8_t>(m_serial_tx).first(size));
    const auto room = std::span<std::uint8_t>(m_serial_rx).first(n + serial_overhead);
    const int count = m_serial->read(m_state.serial_port, room);
    if (count < 0 || static_cast<std::size_t>(count) != room.size()) return -1;
    if (!serial_read_reply_ok(room, length)) return -1;
    std::copy_n(room.begin() + 6, n, destination);
    return 0;
}

int DeviceLink::write_block(int address, int length, const std::uint8_t* source)
{
    return send_block(Command::write, address, length, source);
}

int DeviceLink::store_block(int address, int length, const std::uint8_t* source)
{
    return send_block(Command::store, address, length, source);
}

int DeviceLink::send_block(Command cmd, int address, int length, const std::uint8_t* source)
{
    // A bad request is refused before anything reaches the wire or the
    // counters: it says nothing about the state of the link.
    if (!address_ok(address) || !length_ok(length) || source == nullptr) return -1;
    const std::span<const std::uint8_t> data(source, static_cast<std::size_t>(length));

    if (m_state.network_mode == 1) {
        if (m_tcp == nullptr) throw LinkError("Socket is not connected");
        const std::size_t size = build_tcp_request(cmd, address, data, m_tcp_tx);
        m_tcp->send(std::span<const std::uint8_t>(m_tcp_tx).first(size));
        const auto reply = std::span<std::uint8_t>(m_tcp_rx).first(tcp_overhead);
        m_tcp->receive(reply);
        return tcp_ack_ok(reply, cmd) ? 0 : -1;
    }

    // Without a port the acknowledgement never comes: a counted failure.
    int count = -1;
    if (m_serial != nullptr) {
        const std::size_t size = build_serial_request(cmd, address, data, m_serial_tx);
        m_serial->write(m_state.serial_port, std::span<const std::uint8_t>(m_serial_tx).first(size));
        count = m_serial->read(m_state.serial_port, std::span<std::uint8_t>(m_serial_rx).first(serial_overhead));
    }
    if (serial_ack_ok(count)) {
        if (cmd == Command::store) m_state.error_count = 0;
        return 0;
    }
    ++m_state.error_count;
    if (m_state.error_count > error_limit) m_state.connected = 0;
    if (m_status != nullptr) m_status->set_link_text(text_not_connected);
    return -1;
}

}  // namespace tk770
