// Processors behind fake transports for the window's device commands: a
// memory that answers reads and takes writes, a record of every request in
// order, and scripted failures (a rejected reply, or on TCP a thrown
// connection error) by request number.
#pragma once

#include "core/device_link.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

struct DeviceRequest {
    int command;
    int address;
    int length;
    std::vector<std::uint8_t> data;
};

// The part both fakes share: the memory, the record and the script.
class FakeProcessor {
public:
    std::array<std::uint8_t, 1024> memory{};
    std::vector<DeviceRequest> requests;
    std::set<int> rejected;      // 1-based request numbers answered badly
    int throwAt = 0;             // TCP: this request number throws instead
    std::function<void()> onRequest;  // runs as each request arrives

    int count(int command) const
    {
        return static_cast<int>(std::count_if(requests.begin(), requests.end(),
                                              [&](const DeviceRequest& r) { return r.command == command; }));
    }

protected:
    // Takes a request (command, address and length high byte first, data)
    // and returns whether its reply is a good one.
    bool take(const std::uint8_t* header, const std::uint8_t* data)
    {
        DeviceRequest r{header[0], header[1] << 8 | header[2], header[3] << 8 | header[4], {}};
        if (r.command != 0x03) r.data.assign(data, data + r.length);
        requests.push_back(r);
        if (onRequest) onRequest();
        const bool good = !rejected.contains(static_cast<int>(requests.size()));
        if (good && r.command != 0x03)
            std::copy(r.data.begin(), r.data.end(), memory.begin() + r.address);
        return good;
    }
};

class FakeSerialProcessor : public tk770::SerialTransport, public FakeProcessor {
public:
    std::vector<int> opened, closed;
    std::vector<std::pair<int, int>> timeouts;  // port, milliseconds
    std::vector<std::vector<std::uint8_t>> frames;

    void open(int port) override { opened.push_back(port); }
    void close(int port) override { closed.push_back(port); }
    void set_read_timeout(int port, int ms) override { timeouts.emplace_back(port, ms); }
    void write(int, std::span<const std::uint8_t> bytes) override
    {
        frames.emplace_back(bytes.begin(), bytes.end());
        m_good = take(bytes.data() + 1, bytes.data() + 6);
        m_reply.clear();
        const DeviceRequest& r = requests.back();
        if (!m_good) return;  // nothing comes back: the read times out
        m_reply.assign(bytes.begin(), bytes.begin() + 6);
        if (r.command == 0x03)
            m_reply.insert(m_reply.end(), memory.begin() + r.address, memory.begin() + r.address + r.length);
        unsigned sum = 0;
        for (auto b : m_reply) sum += b;
        m_reply.push_back(static_cast<std::uint8_t>(sum));
    }
    int read(int, std::span<std::uint8_t> bytes) override
    {
        const std::size_t n = std::min(bytes.size(), m_reply.size());
        std::copy_n(m_reply.begin(), n, bytes.begin());
        m_reply.clear();
        return static_cast<int>(n);
    }

private:
    bool m_good = false;
    std::vector<std::uint8_t> m_reply;
};

class FakeTcpProcessor : public tk770::TcpTransport, public FakeProcessor {
public:
    int sends = 0;

    void send(std::span<const std::uint8_t> bytes) override
    {
        ++sends;
        if (throwAt != 0 && sends >= throwAt) throw tk770::LinkError("Connection reset by the processor");
        const bool good = take(bytes.data(), bytes.data() + 5);
        const DeviceRequest& r = requests.back();
        m_reply.assign(bytes.begin(), bytes.begin() + 5);
        if (r.command == 0x03)
            m_reply.insert(m_reply.end(), memory.begin() + r.address, memory.begin() + r.address + r.length);
        m_reply.push_back(0);
        if (!good) m_reply[0] = 0xEE;  // a reply that does not repeat the command
    }
    void receive(std::span<std::uint8_t> bytes) override
    {
        std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
        std::copy_n(m_reply.begin(), std::min(bytes.size(), m_reply.size()), bytes.begin());
    }

private:
    std::vector<std::uint8_t> m_reply;
};
