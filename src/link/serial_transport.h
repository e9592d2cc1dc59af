// The serial port of the device link on QSerialPort, used blocking from the
// calling thread the way the link expects: a read waits at most its total
// time-out and reports how many bytes it delivered.
#pragma once

#include "core/device_link.h"
#include "link/device_target.h"

#include <QSerialPort>
#include <QString>

#include <array>
#include <memory>

namespace tk770 {

class QtSerialTransport : public SerialTransport {
public:
    static constexpr int port_count = 10;
    // One more port number past COM10 for a device chosen by its path (the
    // machine's own serial ports in the panel's menu). It reaches nothing
    // until a path is bound to it.
    static constexpr int device_port = port_count + 1;

    QtSerialTransport();
    ~QtSerialTransport() override;
    QtSerialTransport(const QtSerialTransport&) = delete;
    QtSerialTransport& operator=(const QtSerialTransport&) = delete;

    // Device behind a port number: a bound path, else $TK770_COM<n>, else
    // COM<n> on Windows and /dev/ttyS<n-1> elsewhere. Empty for numbers
    // outside 1..10, and for device_port while nothing is bound to it.
    QString deviceName(int port) const;
    // Makes `port` reach `path` (the tool's --serial DEVICE).
    void bindPort(int port, const QString& path);

    bool isOpen(int port) const;
    // Why the last open of `port` failed; NoError after a good open, and for
    // a port never opened.
    QSerialPort::SerialPortError openError(int port) const;

    void open(int port) override;
    void close(int port) override;
    void set_read_timeout(int port, int milliseconds) override;
    void write(int port, std::span<const std::uint8_t> bytes) override;
    int read(int port, std::span<std::uint8_t> bytes) override;
    void drain(int port) override;

private:
    struct Port;
    Port* slot(int port) const;

    std::array<std::unique_ptr<Port>, device_port + 1> m_ports;
};

}  // namespace tk770
