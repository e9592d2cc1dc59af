#include "core/link_backend.h"

#include <algorithm>

namespace tk770 {

namespace {
// More failed serial writes or stores than this and the link is taken as down.
constexpr int error_limit = 20;
}  // namespace

SerialBackend::SerialBackend(LinkState& state, SerialTransport* port, StatusSink* status)
    : m_state(state), m_port(port), m_status(status)
{
}

std::span<const std::uint8_t> SerialBackend::exchange(std::size_t request_size, std::size_t reply_size)
{
    // Without a port nothing can arrive: judged like a time-out.
    if (m_port == nullptr) return {};
    const int port = m_state.serial_port;
    if (m_drain) {
        m_drain = false;
        m_port->drain(port);
    }
    m_port->write(port, std::span<const std::uint8_t>(m_request).first(request_size));
    const auto room = std::span<std::uint8_t>(m_reply).first(reply_size);
    const int count = m_port->read(port, room);
    // A port error delivered nothing.
    const auto arrived = static_cast<std::size_t>(std::max(count, 0));
    return room.first(std::min(arrived, room.size()));
}

void SerialBackend::acknowledgement_judged(Command cmd, bool accepted)
{
    if (accepted) {
        if (cmd == Command::store) m_state.error_count = 0;
        return;
    }
    ++m_state.error_count;
    if (m_state.error_count > error_limit) m_state.connected = 0;
    if (m_status != nullptr) m_status->set_link_text(text_not_connected);
}

TcpBackend::TcpBackend(TcpTransport* client) : m_client(client) {}

void TcpBackend::reply_refused()
{
    if (m_client != nullptr) m_client->out_of_step();
}

std::span<const std::uint8_t> TcpBackend::exchange(std::size_t request_size, std::size_t reply_size)
{
    // No client is the same as a client that is not connected.
    if (m_client == nullptr) throw LinkError("Socket is not connected");
    m_client->send(std::span<const std::uint8_t>(m_request).first(request_size));
    const auto reply = std::span<std::uint8_t>(m_reply).first(reply_size);
    m_client->receive(reply);
    return reply;
}

}  // namespace tk770
