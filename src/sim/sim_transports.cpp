#include "sim/sim_transports.h"

#include <algorithm>

namespace tk770 {

InProcessSim::InProcessSim()
{
    m_readTimeoutMs.fill(normal_read_timeout_ms);
}

bool InProcessSim::addFault(std::string_view spec)
{
    const auto fault = parseFault(spec);
    if (!fault) return false;
    m_faults.add(*fault);
    return true;
}

void InProcessSim::setPeer(std::string host, int port)
{
    m_peer = std::move(host) + ":" + std::to_string(port);
}

void InProcessSim::reconnect()
{
    m_dropped = false;
    m_tcpRx.clear();
}

std::vector<std::uint8_t> InProcessSim::answer(Framing framing, std::span<const std::uint8_t> frame, int waitMs)
{
    std::vector<std::uint8_t> altered;
    auto outcome = m_device.handle(framing, m_faults.alterRequest(framing, frame, altered));
    // An invalid frame is not counted and not answered, as in tk770-sim.
    if (outcome.reply.empty()) return {};
    const auto verdict = m_faults.apply(framing, outcome.reply);
    // The memory is reloaded whether or not the acknowledgement gets through.
    if (outcome.restart) m_device.restart();
    if (verdict.close) {
        m_dropped = true;
        return {};
    }
    const int held = verdict.delayMs + (outcome.restart ? m_restartMs : 0);
    if (held > waitMs) return {};
    return std::move(outcome.reply);
}

int& InProcessSim::readTimeout(int port)
{
    const bool known = port >= 1 && port < static_cast<int>(m_readTimeoutMs.size());
    return m_readTimeoutMs[known ? static_cast<std::size_t>(port) : 0];
}

// ------------------------------------------------------------------ serial

void InProcessSim::open(int port)
{
    readTimeout(port) = normal_read_timeout_ms;
    m_serialRx.clear();
}

void InProcessSim::close(int) {}

void InProcessSim::set_read_timeout(int port, int milliseconds)
{
    readTimeout(port) = milliseconds;
}

void InProcessSim::write(int port, std::span<const std::uint8_t> bytes)
{
    // Bytes left from an earlier exchange are discarded before sending, as
    // QtSerialTransport does. The link writes one whole frame at a time.
    m_serialRx.clear();
    const auto reply = answer(Framing::serial, bytes, readTimeout(port));
    m_serialRx.insert(m_serialRx.end(), reply.begin(), reply.end());
}

int InProcessSim::read(int, std::span<std::uint8_t> bytes)
{
    // What has arrived when the read time-out runs out: all of a whole
    // reply, part of a short one, nothing when the processor kept silent.
    const std::size_t n = std::min(bytes.size(), m_serialRx.size());
    std::copy_n(m_serialRx.begin(), n, bytes.begin());
    m_serialRx.erase(m_serialRx.begin(), m_serialRx.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<int>(n);
}

// --------------------------------------------------------------------- TCP

void InProcessSim::set_reply_wait_ms(int milliseconds)
{
    m_replyWaitMs = milliseconds < 1 ? 1 : milliseconds;
}

void InProcessSim::send(std::span<const std::uint8_t> bytes)
{
    if (m_dropped) throw LinkError(connection_closed_text(m_peer));
    m_tcpRx.clear();
    const auto reply = answer(Framing::tcp, bytes, m_replyWaitMs);
    m_tcpRx.insert(m_tcpRx.end(), reply.begin(), reply.end());
}

void InProcessSim::receive(std::span<std::uint8_t> bytes)
{
    if (m_dropped) throw LinkError(connection_closed_text(m_peer));
    // The real client waits its reply wait for the missing bytes, then gives up.
    if (m_tcpRx.size() < bytes.size()) throw LinkError("Timed out waiting for the processor at " + m_peer);
    std::copy_n(m_tcpRx.begin(), bytes.size(), bytes.begin());
    m_tcpRx.erase(m_tcpRx.begin(), m_tcpRx.begin() + static_cast<std::ptrdiff_t>(bytes.size()));
}

}  // namespace tk770
