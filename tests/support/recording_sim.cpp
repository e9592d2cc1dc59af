#include "support/recording_sim.h"

#include <algorithm>
#include <stdexcept>

namespace tk770::testing {

RecordingSim::RecordingSim() : m_own(std::make_unique<InProcessSim>()), m_sim(m_own.get()) {}

RecordingSim::RecordingSim(InProcessSim& shared) : m_sim(&shared) {}

void RecordingSim::loadMemory(const SimMemory& memory)
{
    m_sim->device().loadNonvolatile(memory);
}

void RecordingSim::setMemory(int address, const Bytes& bytes)
{
    SimMemory memory = m_sim->device().working();
    std::copy(bytes.begin(), bytes.end(), memory.begin() + address);
    loadMemory(memory);
}

void RecordingSim::fault(std::string_view spec)
{
    if (!m_sim->addFault(spec)) throw std::invalid_argument("tk770-sim refuses the fault " + std::string(spec));
}

void RecordingSim::faultAhead(std::string_view mode, int k)
{
    fault(std::string(mode) + "@" + std::to_string(m_sim->requestCount() + k));
}

void RecordingSim::refuseAhead(int k)
{
    m_refused.insert(m_sim->requestCount() + k);
}

void RecordingSim::clearRecord()
{
    writes.clear();
    portCalls.clear();
    replyWaitAtSend.clear();
    reads = 0;
    sends = 0;
}

std::vector<Bytes> RecordingSim::serialFrames() const
{
    std::vector<Bytes> out;
    for (const auto& w : writes)
        if (w.serial) out.push_back(w.bytes);
    return out;
}

std::vector<Bytes> RecordingSim::tcpFrames() const
{
    std::vector<Bytes> out;
    for (const auto& w : writes)
        if (!w.serial) out.push_back(w.bytes);
    return out;
}

std::vector<DeviceRequest> RecordingSim::requests() const
{
    std::vector<DeviceRequest> out;
    for (const auto& w : writes) {
        const std::size_t h = w.serial ? 1 : 0;  // past the lead byte
        if (w.bytes.size() < h + 5) continue;
        const auto* p = w.bytes.data() + h;
        DeviceRequest r{p[0], p[1] << 8 | p[2], p[3] << 8 | p[4], {}};
        if (r.command != static_cast<int>(Command::read)) {
            const auto end = std::min(w.bytes.size(), h + 5 + static_cast<std::size_t>(r.length));
            r.data.assign(w.bytes.begin() + static_cast<std::ptrdiff_t>(h + 5),
                          w.bytes.begin() + static_cast<std::ptrdiff_t>(end));
        }
        out.push_back(std::move(r));
    }
    return out;
}

int RecordingSim::count(int command) const
{
    const auto all = requests();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const DeviceRequest& r) { return r.command == command; }));
}

namespace {
std::vector<int> portsOf(const std::vector<std::string>& calls, std::string_view verb)
{
    std::vector<int> out;
    for (const auto& c : calls)
        if (c.size() > verb.size() && c.compare(0, verb.size(), verb) == 0 && c[verb.size()] == ' ')
            out.push_back(std::stoi(c.substr(verb.size() + 1)));
    return out;
}
}  // namespace

std::vector<int> RecordingSim::opened() const { return portsOf(portCalls, "open"); }
std::vector<int> RecordingSim::closed() const { return portsOf(portCalls, "close"); }

std::vector<std::pair<int, int>> RecordingSim::timeouts() const
{
    std::vector<std::pair<int, int>> out;
    for (const auto& c : portCalls) {
        if (c.rfind("timeout ", 0) != 0) continue;
        const auto space = c.find(' ', 8);
        out.emplace_back(std::stoi(c.substr(8, space - 8)), std::stoi(c.substr(space + 1)));
    }
    return out;
}

void RecordingSim::arrived(bool serial, int port, std::span<const std::uint8_t> bytes)
{
    writes.push_back({serial, port, Bytes(bytes.begin(), bytes.end())});
    if (onRequest) onRequest();
}

void RecordingSim::answered(long before)
{
    m_lastRequest = m_sim->requestCount() != before ? m_sim->requestCount() : 0;
}

// ------------------------------------------------------------------ serial

void RecordingSim::open(int port)
{
    portCalls.push_back("open " + std::to_string(port));
    m_sim->open(port);
}

void RecordingSim::close(int port)
{
    portCalls.push_back("close " + std::to_string(port));
    m_sim->close(port);
}

void RecordingSim::set_read_timeout(int port, int milliseconds)
{
    portCalls.push_back("timeout " + std::to_string(port) + " " + std::to_string(milliseconds));
    m_sim->set_read_timeout(port, milliseconds);
}

void RecordingSim::write(int port, std::span<const std::uint8_t> bytes)
{
    arrived(true, port, bytes);
    const long before = m_sim->requestCount();
    m_sim->write(port, bytes);
    answered(before);
}

int RecordingSim::read(int port, std::span<std::uint8_t> bytes)
{
    ++reads;
    const int count = m_sim->read(port, bytes);
    if (!alterReply || count < 0) return count;
    Bytes reply(bytes.begin(), bytes.begin() + count);
    alterReply(m_lastRequest, reply);
    const std::size_t n = std::min(reply.size(), bytes.size());
    std::copy_n(reply.begin(), n, bytes.begin());
    return static_cast<int>(n);
}

// --------------------------------------------------------------------- TCP

void RecordingSim::send(std::span<const std::uint8_t> bytes)
{
    ++sends;
    replyWaitAtSend.push_back(m_sim->reply_wait_ms());
    arrived(false, 0, bytes);
    const long before = m_sim->requestCount();
    m_sim->send(bytes);
    answered(before);
}

void RecordingSim::receive(std::span<std::uint8_t> bytes)
{
    ++reads;
    m_sim->receive(bytes);
    if (m_refused.contains(m_lastRequest) && !bytes.empty()) bytes[0] = 0xEE;  // repeats no command
    if (!alterReply) return;
    Bytes reply(bytes.begin(), bytes.end());
    alterReply(m_lastRequest, reply);
    if (reply.size() != bytes.size()) throw std::logic_error("a TCP reply keeps its size");
    std::copy(reply.begin(), reply.end(), bytes.begin());
}

std::uint8_t sumOf(const Bytes& bytes)
{
    return checksum(bytes);
}

Bytes withChecksum(Bytes bytes)
{
    bytes.push_back(sumOf(bytes));
    return bytes;
}

}  // namespace tk770::testing
