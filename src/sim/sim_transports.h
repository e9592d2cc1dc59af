// The simulated processor behind both transport interfaces, in process: one
// SimDevice and one FaultInjector answering the link's requests exactly as
// tk770-sim answers them on its pseudo-terminal and its TCP port, without
// sockets, timers or a child process. Serial requests get serial framing,
// TCP requests TCP framing; the named fault modes mangle the replies as they
// do in tk770-sim.
//
// Time does not pass here. A reply held back longer than the reader waits
// (a delay fault, the restart acknowledgement) is treated as lost, which is
// what the reader sees of it; the late bytes would be discarded before the
// next request anyway.
#pragma once

#include "core/device_link.h"
#include "sim/sim_device.h"

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>

namespace tk770 {

// What QtTcpTransport reports when the processor at `peer` ("HOST:PORT")
// drops the connection.
inline std::string connection_closed_text(std::string_view peer)
{
    return "The remote host closed the connection (processor at " + std::string(peer) + ")";
}

class InProcessSim : public SerialTransport, public TcpTransport {
public:
    InProcessSim();

    // Adds a named fault mode ("no-reply:3", "close@5"); false for a spec
    // tk770-sim would refuse.
    bool addFault(std::string_view spec);
    void addFault(const Fault& fault) { m_faults.add(fault); }

    SimDevice& device() { return m_device; }
    const SimDevice& device() const { return m_device; }
    const FaultInjector& faults() const { return m_faults; }
    // Requests answered so far: the numbers the fault modes count.
    long requestCount() const { return m_faults.requestCount(); }

    // How long the restart acknowledgement is held back (--restart-ms).
    void setRestartMs(int milliseconds) { m_restartMs = milliseconds; }
    // The peer named in the TCP time-out text.
    void setPeer(std::string host, int port);

    // TCP: whether the connection is up; a close fault takes it down until
    // the client connects again.
    bool tcpConnected() const { return !m_dropped; }
    void reconnect();

    // ---- SerialTransport
    void open(int port) override;
    void close(int port) override;
    void set_read_timeout(int port, int milliseconds) override;
    void write(int port, std::span<const std::uint8_t> bytes) override;
    int read(int port, std::span<std::uint8_t> bytes) override;

    // ---- TcpTransport
    void send(std::span<const std::uint8_t> bytes) override;
    void receive(std::span<std::uint8_t> bytes) override;
    int reply_wait_ms() const override { return m_replyWaitMs; }
    void set_reply_wait_ms(int milliseconds) override;

private:
    // Answers one request frame; the reply is empty when none arrives within
    // `waitMs`. Sets m_dropped on a close fault.
    std::vector<std::uint8_t> answer(Framing framing, std::span<const std::uint8_t> frame, int waitMs);
    int& readTimeout(int port);

    SimDevice m_device;
    FaultInjector m_faults;
    int m_restartMs = 300;
    std::string m_peer = "127.0.0.1:15288";

    std::array<int, 11> m_readTimeoutMs{};  // ports 1..10; index 0 for anything else
    std::deque<std::uint8_t> m_serialRx;

    int m_replyWaitMs = 3000;
    bool m_dropped = false;
    std::deque<std::uint8_t> m_tcpRx;
};

}  // namespace tk770
