#include "core/device_link.h"

#include "core/link_backend.h"

#include <algorithm>

namespace tk770 {

namespace {

constexpr int max_address = 0xFFFF;

bool address_ok(int address) { return address >= 0 && address <= max_address; }
bool length_ok(int length) { return length >= 1 && length <= max_block_length; }

}  // namespace

DeviceLink::DeviceLink(LinkState& state, SerialTransport* serial, TcpTransport* tcp, StatusSink* status)
    : m_state(state),
      m_status(status),
      m_serial(std::make_unique<SerialBackend>(state, serial, status)),
      m_tcp(std::make_unique<TcpBackend>(tcp))
{
}

DeviceLink::~DeviceLink() = default;

SerialTransport* DeviceLink::serial() { return m_serial->transport(); }
TcpTransport* DeviceLink::tcp() { return m_tcp->transport(); }
void DeviceLink::set_tcp(TcpTransport* tcp) { m_tcp->set_transport(tcp); }
void DeviceLink::set_serial(SerialTransport* serial) { m_serial->set_transport(serial); }

LinkBackend& DeviceLink::backend()
{
    if (m_state.network_mode == 1) return *m_tcp;
    return *m_serial;
}

int DeviceLink::read_block(int address, int length, std::uint8_t* destination)
{
    if (!address_ok(address) || !length_ok(length) || destination == nullptr) return -1;
    LinkBackend& via = backend();
    const Framing framing = via.framing();
    const auto n = static_cast<std::size_t>(length);
    const std::size_t size = build_read_request(framing, address, length, via.request_room());
    const auto reply = via.exchange(size, n + frame_overhead(framing));
    // A rejected read is not counted here: the sequences judge whole reads.
    if (!read_reply_ok(framing, reply, address, length)) {
        via.reply_refused();
        return -1;
    }
    std::copy_n(reply.begin() + static_cast<std::ptrdiff_t>(reply_data_offset(framing)), n, destination);
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
    LinkBackend& via = backend();
    const Framing framing = via.framing();
    const std::size_t size = build_request(framing, cmd, address, data, via.request_room());
    const bool accepted = ack_ok(framing, via.exchange(size, frame_overhead(framing)), cmd, address, length);
    if (!accepted) via.reply_refused();
    via.acknowledgement_judged(cmd, accepted);
    return accepted ? 0 : -1;
}

}  // namespace tk770
