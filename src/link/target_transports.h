// The Qt transports behind a DeviceLink, opened the one way a DeviceTarget
// says: the TCP connection to HOST:PORT, or the serial port (a device path
// stands in for port 1, COMn is port n). The gateway and the tool open their
// processor through this.
#pragma once

#include "link/device_target.h"
#include "link/serial_transport.h"
#include "link/tcp_transport.h"

namespace tk770 {

class TargetTransports {
public:
    // `waitMs` > 0 bounds the TCP connect and each reply; otherwise the
    // transport's defaults hold.
    explicit TargetTransports(DeviceTarget target, int waitMs = -1);
    TargetTransports(const TargetTransports&) = delete;
    TargetTransports& operator=(const TargetTransports&) = delete;

    // Opens the target's transport afresh and sets network_mode and
    // serial_port. Throws LinkError saying why when it cannot.
    void open(LinkState& state);
    void close();
    bool isOpen() const;

    const DeviceTarget& target() const { return m_target; }
    QtSerialTransport& serial() { return m_serial; }
    QtTcpTransport& tcp() { return m_tcp; }

private:
    DeviceTarget m_target;
    int m_portNumber = 0;  // the serial port in use, 0 before the first open
    QtTcpTransport m_tcp;
    QtSerialTransport m_serial;
};

}  // namespace tk770
