#include "core/device_link.h"

#include <algorithm>

namespace tk770 {

namespace {

constexpr int max_address = 0xFFFF;
// More failed serial writes or stores than this and the link is taken as down.
constexpr int error_limit = 20;

bool address_ok(int address) { return address >= 0 && address <= max_address; }
bool length_ok(int length) { return length >= 1 && length <= max_block_length; }

}  // namespace

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
        const std::size_t size = build_read_request(Framing::tcp, address, length, m_tcp_tx);
        m_tcp->send(std::span<const std::uint8_t>(m_tcp_tx).first(size));
        const auto reply = std::span<std::uint8_t>(m_tcp_rx).first(n + tcp_overhead);
        m_tcp->receive(reply);
        if (!read_reply_ok(Framing::tcp, reply, length)) return -1;
        std::copy_n(reply.begin() + reply_data_offset(Framing::tcp), n, destination);
        return 0;
    }

    // Without a port nothing can arrive; the read fails like a time-out.
    if (m_serial == nullptr) return -1;
    const std::size_t size = build_read_request(Framing::serial, address, length, m_serial_tx);
    m_serial->write(m_state.serial_port, std::span<const std::uint8_t>(m_serial_tx).first(size));
    const auto room = std::span<std::uint8_t>(m_serial_rx).first(n + serial_overhead);
    const int count = m_serial->read(m_state.serial_port, room);
    if (count < 0 || static_cast<std::size_t>(count) != room.size()) return -1;
    if (!read_reply_ok(Framing::serial, room, length)) return -1;
    std::copy_n(room.begin() + reply_data_offset(Framing::serial), n, destination);
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
        const std::size_t size = build_request(Framing::tcp, cmd, address, data, m_tcp_tx);
        m_tcp->send(std::span<const std::uint8_t>(m_tcp_tx).first(size));
        const auto reply = std::span<std::uint8_t>(m_tcp_rx).first(tcp_overhead);
        m_tcp->receive(reply);
        return ack_ok(Framing::tcp, reply, cmd) ? 0 : -1;
    }

    // Without a port the acknowledgement never comes: a counted failure.
    int count = -1;
    if (m_serial != nullptr) {
        const std::size_t size = build_request(Framing::serial, cmd, address, data, m_serial_tx);
        m_serial->write(m_state.serial_port, std::span<const std::uint8_t>(m_serial_tx).first(size));
        count = m_serial->read(m_state.serial_port, std::span<std::uint8_t>(m_serial_rx).first(serial_overhead));
    }
    const auto ack = std::span<const std::uint8_t>(m_serial_rx).first(static_cast<std::size_t>(std::clamp(count, 0, serial_overhead)));
    if (ack_ok(Framing::serial, ack, cmd)) {
        if (cmd == Command::store) m_state.error_count = 0;
        return 0;
    }
    ++m_state.error_count;
    if (m_state.error_count > error_limit) m_state.connected = 0;
    if (m_status != nullptr) m_status->set_link_text(text_not_connected);
    return -1;
}

}  // namespace tk770
