// The simulated processor as the tests use it: tk770-sim's device and fault
// modes in process (tk770::InProcessSim), with a record of what the link
// sent it. Tests assert the exact frames, the serial port calls and the TCP
// reply wait at each request, and pick the requests that fail.
#pragma once

#include "core/device_link.h"
#include "sim/sim_transports.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tk770::testing {

using Bytes = std::vector<std::uint8_t>;

struct WrittenFrame {
    bool serial;
    int port;  // serial only; 0 for TCP
    Bytes bytes;
};

// A request frame taken apart: command, address and length, and the data
// of a write or store.
struct DeviceRequest {
    int command;
    int address;
    int length;
    Bytes data;
};

// Records both panels of the link's status output.
struct RecordingStatus : StatusSink {
    std::vector<std::string> messages;
    std::vector<std::string> links;
    void set_message_text(std::string_view t) override { messages.emplace_back(t); }
    void set_link_text(std::string_view t) override { links.emplace_back(t); }
};

class RecordingSim : public SerialTransport, public TcpTransport {
public:
    // A processor of its own, with the factory memory.
    RecordingSim();
    // Records the requests that reach `shared` through this object only, so
    // the serial side and the TCP side of one processor keep separate records.
    explicit RecordingSim(InProcessSim& shared);
    RecordingSim(const RecordingSim&) = delete;
    RecordingSim& operator=(const RecordingSim&) = delete;

    InProcessSim& sim() { return *m_sim; }
    const SimMemory& memory() const { return m_sim->device().working(); }
    // The processor boots from `memory` (working and saved copy alike).
    void loadMemory(const SimMemory& memory);
    // Puts bytes into the processor's memory as if they had been stored.
    void setMemory(int address, const Bytes& bytes);

    // A named fault mode as tk770-sim --fault takes it; throws
    // std::invalid_argument for a spec the simulator refuses.
    void fault(std::string_view spec);
    // `mode` ("no-reply", "short", "close", ...) on the k-th request the
    // processor answers from now on (k = 1: the next one).
    void faultAhead(std::string_view mode, int k);
    // The k-th request from now gets a TCP reply whose first byte does not
    // repeat the command: the processor refusing it. No fault mode of the
    // simulator produces that, so the link's judging is reached this way.
    void refuseAhead(int k);
    // Changes the bytes of a reply on their way to the link (the request's
    // number as the processor counts it, the bytes that arrived). A TCP
    // reply must keep its size.
    std::function<void(long request, Bytes& reply)> alterReply;
    // Runs as each request arrives, before it is answered.
    std::function<void()> onRequest;

    std::vector<WrittenFrame> writes;     // every request frame, in order
    std::vector<std::string> portCalls;   // "open 3", "close 3", "timeout 3 12000"
    std::vector<int> replyWaitAtSend;     // the TCP reply wait as each frame left
    int reads = 0;                        // serial reads and TCP receives
    int sends = 0;                        // TCP sends, a failing one included

    void clearRecord();
    std::vector<Bytes> serialFrames() const;
    std::vector<Bytes> tcpFrames() const;
    std::vector<DeviceRequest> requests() const;
    int count(int command) const;
    std::vector<int> opened() const;
    std::vector<int> closed() const;
    std::vector<std::pair<int, int>> timeouts() const;  // port, milliseconds

    // ---- SerialTransport
    void open(int port) override;
    void close(int port) override;
    void set_read_timeout(int port, int milliseconds) override;
    void write(int port, std::span<const std::uint8_t> bytes) override;
    int read(int port, std::span<std::uint8_t> bytes) override;

    // ---- TcpTransport
    void send(std::span<const std::uint8_t> bytes) override;
    void receive(std::span<std::uint8_t> bytes) override;
    int reply_wait_ms() const override { return m_sim->reply_wait_ms(); }
    void set_reply_wait_ms(int milliseconds) override { m_sim->set_reply_wait_ms(milliseconds); }

private:
    void arrived(bool serial, int port, std::span<const std::uint8_t> bytes);
    void answered(long before);

    std::unique_ptr<InProcessSim> m_own;
    InProcessSim* m_sim;
    std::set<long> m_refused;
    long m_lastRequest = 0;  // the processor's number of the request just answered, 0 for none
};

// The checksum byte the processor's frames end with.
std::uint8_t sumOf(const Bytes& bytes);
// Appends the checksum byte.
Bytes withChecksum(Bytes bytes);

}  // namespace tk770::testing
