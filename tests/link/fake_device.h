// A scripted processor behind both transport interfaces: it answers each
// request from a 1 KiB memory the way the real one does, records every frame
// and every port call, and fails the requests a test picks.
#pragma once

#include "core/device_link.h"
#include "link/sequences.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tk770::testing {

using Bytes = std::vector<std::uint8_t>;

enum class Fault { none, drop, corrupt };

struct RecordingStatus : StatusSink {
    std::vector<std::string> messages;
    std::vector<std::string> links;
    void set_message_text(std::string_view t) override { messages.emplace_back(t); }
    void set_link_text(std::string_view t) override { links.emplace_back(t); }
};

class FakeDevice : public SerialTransport, public TcpTransport {
public:
    std::array<std::uint8_t, 1024> memory{};
    // Decides the fate of request n (1-based, counted over both transports).
    std::function<Fault(int n)> fault = [](int) { return Fault::none; };

    struct Sent {
        bool serial;
        int port;  // serial only
        Bytes frame;
    };
    std::vector<Sent> sent;
    std::vector<std::string> port_calls;  // "open 3", "timeout 3 12000", ...
    int reply_wait = 3000;
    std::vector<int> reply_wait_at_send;  // the TCP reply wait as each frame left

    FakeDevice()
    {
        for (int a = 0; a < 1024; ++a) memory[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(a * 7 + 3);
    }

    // ---- serial ----
    void open(int port) override { port_calls.push_back("open " + std::to_string(port)); m_serial_rx.clear(); }
    void close(int port) override { port_calls.push_back("close " + std::to_string(port)); }
    void set_read_timeout(int port, int ms) override
    {
        port_calls.push_back("timeout " + std::to_string(port) + " " + std::to_string(ms));
    }
    void write(int port, std::span<const std::uint8_t> bytes) override
    {
        sent.push_back({true, port, Bytes(bytes.begin(), bytes.end())});
        answer(Bytes(bytes.begin() + 1, bytes.end()), true);
    }
    int read(int, std::span<std::uint8_t> bytes) override
    {
        std::size_t n = 0;
        while (n < bytes.size() && !m_serial_rx.empty()) {
            bytes[n++] = m_serial_rx.front();
            m_serial_rx.pop_front();
        }
        return static_cast<int>(n);
    }
    // Queue raw bytes as if the device had sent them (a canned reply).
    void queue_serial(const Bytes& b) { m_serial_rx.insert(m_serial_rx.end(), b.begin(), b.end()); }
    bool answer_serial = true;  // false: serial frames are recorded but never answered

    // ---- TCP ----
    void send(std::span<const std::uint8_t> bytes) override
    {
        sent.push_back({false, 0, Bytes(bytes.begin(), bytes.end())});
        reply_wait_at_send.push_back(reply_wait);
        answer(Bytes(bytes.begin(), bytes.end()), false);
    }
    void receive(std::span<std::uint8_t> bytes) override
    {
        // A real client would wait and then give up: same outcome.
        if (m_tcp_rx.size() < bytes.size()) throw LinkError("Timed out waiting for the processor");
        for (auto& b : bytes) {
            b = m_tcp_rx.front();
            m_tcp_rx.pop_front();
        }
    }
    int reply_wait_ms() const override { return reply_wait; }
    void set_reply_wait_ms(int ms) override { reply_wait = ms; }

    int requests() const { return m_requests; }

    std::vector<Bytes> serial_frames() const
    {
        std::vector<Bytes> out;
        for (const auto& s : sent)
            if (s.serial) out.push_back(s.frame);
        return out;
    }

private:
    // `body` is the frame without its lead byte.
    void answer(const Bytes& body, bool serial)
    {
        const int n = ++m_requests;
        if (serial && !answer_serial) return;
        const Fault f = fault(n);
        if (f == Fault::drop) return;
        const std::uint8_t cmd = body[0];
        const int address = body[1] << 8 | body[2];
        const int length = body[3] << 8 | body[4];
        Bytes reply;
        if (serial) reply.push_back(serial_lead_byte);
        reply.insert(reply.end(), body.begin(), body.begin() + 5);
        if (cmd == 0x03) {
            for (int i = 0; i < length; ++i) reply.push_back(memory[static_cast<std::size_t>((address + i) & 0x3FF)]);
        } else {
            for (int i = 0; i < length; ++i)
                memory[static_cast<std::size_t>((address + i) & 0x3FF)] = body[5 + static_cast<std::size_t>(i)];
        }
        reply.push_back(checksum(reply));
        if (f == Fault::corrupt) {
            // Serial judges the checksum, TCP the first byte.
            if (serial) reply.back() ^= 0xFF;
            else reply[0] = 0x00;
            if (serial && cmd != 0x03) reply.pop_back();  // any 7 bytes acknowledge: lose one
        }
        auto& rx = serial ? m_serial_rx : m_tcp_rx;
        rx.insert(rx.end(), reply.begin(), reply.end());
    }

    int m_requests = 0;
    std::deque<std::uint8_t> m_serial_rx;
    std::deque<std::uint8_t> m_tcp_rx;
};

// A link over the fake with its state; `tcp` picks network_mode.
struct Bench {
    LinkState state;
    FakeDevice device;
    RecordingStatus status;
    ParameterImage image{};
    DeviceLink link{state, &device, &device, &status};
    SequenceHooks hooks;
    std::vector<std::string> events;  // hook calls in order
    int refreshing = 0;

    explicit Bench(bool tcp = false, int port = 3)
    {
        state.network_mode = tcp ? 1 : 0;
        state.serial_port = port;
        hooks.decode_device_info = [this] { events.push_back("decode"); };
        hooks.refresh_display = [this] { events.push_back(refreshing ? "refresh(refreshing)" : "refresh"); };
        hooks.reset_test_signals = [this] { events.push_back("reset signals"); };
        hooks.tcp_connect = [this] { events.push_back("tcp connect"); return std::string("10.1.2.3"); };
        hooks.tcp_disconnect = [this] { events.push_back("tcp disconnect"); };
        hooks.refreshing = &refreshing;
    }
    DeviceSequences sequences() { return DeviceSequences(link, image, hooks); }
};

}  // namespace tk770::testing
