// The serial port of the device link on QSerialPort, used blocking from the
// calling thread the way the link expects: a read waits at most its total
// time-out and reports how many bytes it delivered.
#pragma once

#include "core/device_link.h"

#include <QString>

#include <array>
#include <memory>

class QSerialPort;

namespace tk770 {

// Port number of COM1..COM10, 0 for anything else (a device path).
int comPortNumber(const QString& device);

class QtSerialTransport : public SerialTransport {
public:
    static constexpr int port_count = 10;

    QtSerialTransport();
    ~QtSerialTransport() override;
    QtSerialTransport(const QtSerialTransport&) = delete;
    QtSerialTransport& operator=(const QtSerialTransport&) = delete;

    // Device behind a port number: a bound path, else $TK770_COM<n>, else
    // COM<n> on Windows and /dev/ttyS<n-1> elsewhere. Empty for numbers
    // outside 1..10.
    QString deviceName(int port) const;
    // Makes `port` reach `path` (the tool's --serial DEVICE).
    void bindPort(int port, const QString& path);

    bool isOpen(int port) const;

    void open(int port) override;
    void close(int port) override;
    void set_read_timeout(int port, int milliseconds) override;
    void write(int port, std::span<const std::uint8_t> bytes) override;
    int read(int port, std::span<std::uint8_t> bytes) override;

private:
    struct Port;
    Port* slot(int port) const;

    std::array<std::unique_ptr<Port>, port_count + 1> m_ports;
};

}  // namespace tk770
