// The processor protocol: request frames, reply judging, and the three block
// operations every other part of the system talks to the processor through.
//
// The link owns no transport. It is handed two small interfaces, one per
// transport, so the window, the command-line tool and the tests can put a
// real port, a socket or a scripted fake behind it. Each is wrapped in a
// backend (core/link_backend.h) holding that transport's rules; LinkState
// selects the backend at every call, and the caller may switch it between
// calls.
#pragma once

#include "core/frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tk770 {

struct LinkState {
    int connected = 0;     // 1 while the link is up
    int network_mode = 0;  // 1: TCP, 0: serial port
    int serial_port = 0;   // 1..10, 0 before any choice
    int error_count = 0;   // failed transfers since the last reset
};

// A failure of the TCP connection itself (refused, closed, reset, timed out).
// Raised by the TCP transport and deliberately not caught by the link: it
// ends the command that was running.
class LinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr int tcp_port = 15288;
inline constexpr int serial_buffer_size = 1024;
inline constexpr int tcp_buffer_size = 1600;
inline constexpr int serial_overhead = static_cast<int>(frame_overhead(Framing::serial));
inline constexpr int tcp_overhead = static_cast<int>(frame_overhead(Framing::tcp));
inline constexpr int max_block_length = serial_buffer_size - serial_overhead;
inline constexpr int normal_read_timeout_ms = 200;
inline constexpr int restart_read_timeout_ms = 12000;

// Serial port as the link uses it: ports are numbered 1..10.
class SerialTransport {
public:
    virtual ~SerialTransport() = default;
    // Open the port at 38,400 baud 8N1 with the normal read time-out and
    // discard whatever was already received. Failures are not reported here:
    // the reads that follow fail instead.
    virtual void open(int port) = 0;
    virtual void close(int port) = 0;
    // Total time a read may wait for its bytes.
    virtual void set_read_timeout(int port, int milliseconds) = 0;
    virtual void write(int port, std::span<const std::uint8_t> bytes) = 0;
    // Reads up to bytes.size() bytes; returns how many arrived before the
    // read time-out ran out (or a negative number on an error).
    virtual int read(int port, std::span<std::uint8_t> bytes) = 0;
    // Reads and discards until the line has been quiet for a moment. Called
    // before the next request after a reply that was short or not this
    // request's own: the rest of a late answer may still be on its way.
    virtual void drain(int) {}
};

// TCP client as the link uses it. Every failure throws LinkError carrying the
// client's error text; every wait is bounded.
class TcpTransport {
public:
    virtual ~TcpTransport() = default;
    virtual void send(std::span<const std::uint8_t> bytes) = 0;
    // Returns only when bytes.size() bytes arrived; surplus stays queued.
    virtual void receive(std::span<std::uint8_t> bytes) = 0;
    // How long receive() waits. The restart acknowledgement is slow, so the
    // wait is raised for that one reply and put back afterwards; a transport
    // without a wait of its own reports 0 and ignores the change.
    virtual int reply_wait_ms() const { return 0; }
    virtual void set_reply_wait_ms(int) {}
    // The last reply was not this request's own answer (or never came): what
    // is still under way on the connection cannot be trusted. A transport
    // that can starts afresh before its next request, so nothing late is
    // taken for a later request's answer.
    virtual void out_of_step() {}
};

// Where the link writes its one status text (the link panel of the window).
class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void set_message_text(std::string_view text) = 0;  // message panel
    virtual void set_link_text(std::string_view text) = 0;     // link panel
};

// For a link whose status texts nobody reads (the gateway, benchmarks).
class SilentStatus : public StatusSink {
public:
    void set_message_text(std::string_view) override {}
    void set_link_text(std::string_view) override {}
};

inline constexpr std::string_view text_not_connected = "未连接";
inline constexpr std::string_view text_connected = "已连接";

class LinkBackend;
class SerialBackend;
class TcpBackend;

class DeviceLink {
public:
    DeviceLink(LinkState& state, SerialTransport* serial, TcpTransport* tcp, StatusSink* status);
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // 0 when the reply was accepted, -1 otherwise. A rejected read leaves
    // `destination` untouched; the source of a write is never modified.
    int read_block(int address, int length, std::uint8_t* destination);
    int write_block(int address, int length, const std::uint8_t* source);
    int store_block(int address, int length, const std::uint8_t* source);

    LinkState& state() { return m_state; }
    SerialTransport* serial();
    TcpTransport* tcp();
    StatusSink* status() { return m_status; }
    void set_tcp(TcpTransport* tcp);
    void set_serial(SerialTransport* serial);

private:
    // The one place network_mode is looked at.
    LinkBackend& backend();
    int send_block(Command cmd, int address, int length, const std::uint8_t* source);

    LinkState& m_state;
    StatusSink* m_status;
    std::unique_ptr<SerialBackend> m_serial;
    std::unique_ptr<TcpBackend> m_tcp;
};

}  // namespace tk770
