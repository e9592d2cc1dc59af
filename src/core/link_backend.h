// One backend per transport behind DeviceLink. The link validates a request,
// builds it and judges the reply the same way for every transport; what
// differs lives here, together: the framing, the buffer size, how one
// exchange is made and what a refused acknowledgement costs.
#pragma once

#include "core/device_link.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tk770 {

class LinkBackend {
public:
    virtual ~LinkBackend() = default;
    virtual Framing framing() const = 0;
    // Where the next request is built; big enough for the longest block.
    virtual std::span<std::uint8_t> request_room() = 0;
    // Sends the first request_size bytes of request_room() and waits for a
    // reply of reply_size bytes. Returns what arrived, which may be fewer
    // bytes; a transport whose failures are exceptions throws LinkError.
    virtual std::span<const std::uint8_t> exchange(std::size_t request_size, std::size_t reply_size) = 0;
    // A write or store was judged; the backend keeps its own account.
    virtual void acknowledgement_judged(Command cmd, bool accepted) = 0;
    // A reply was refused: the transport is not to be trusted to be in step
    // with its requests until it has been brought back into step.
    virtual void reply_refused() = 0;
};

// The serial line: the port number comes from LinkState on every exchange, a
// time-out or port error is a short reply, and failed writes and stores are
// counted until the link is taken as down.
class SerialBackend final : public LinkBackend {
public:
    SerialBackend(LinkState& state, SerialTransport* port, StatusSink* status);

    SerialTransport* transport() const { return m_port; }
    void set_transport(SerialTransport* port) { m_port = port; }

    Framing framing() const override { return Framing::serial; }
    std::span<std::uint8_t> request_room() override { return m_request; }
    std::span<const std::uint8_t> exchange(std::size_t request_size, std::size_t reply_size) override;
    void acknowledgement_judged(Command cmd, bool accepted) override;
    void reply_refused() override { m_drain = true; }

private:
    LinkState& m_state;
    SerialTransport* m_port;
    StatusSink* m_status;
    std::array<std::uint8_t, serial_buffer_size> m_request{};
    std::array<std::uint8_t, serial_buffer_size> m_reply{};
    bool m_drain = false;  // drain the line before the next request
};

// TCP: the client delivers the whole reply or throws LinkError, so nothing
// is counted here; the exception ends the running command instead.
class TcpBackend final : public LinkBackend {
public:
    explicit TcpBackend(TcpTransport* client);

    TcpTransport* transport() const { return m_client; }
    void set_transport(TcpTransport* client) { m_client = client; }

    Framing framing() const override { return Framing::tcp; }
    std::span<std::uint8_t> request_room() override { return m_request; }
    std::span<const std::uint8_t> exchange(std::size_t request_size, std::size_t reply_size) override;
    void acknowledgement_judged(Command, bool) override {}
    void reply_refused() override;

private:
    TcpTransport* m_client;
    std::array<std::uint8_t, tcp_buffer_size> m_request{};
    std::array<std::uint8_t, tcp_buffer_size> m_reply{};
};

}  // namespace tk770
