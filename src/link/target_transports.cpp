#include "link/target_transports.h"

namespace tk770 {

TargetTransports::TargetTransports(DeviceTarget target, int waitMs) : m_target(std::move(target))
{
    if (waitMs > 0) {
        m_tcp.set_connect_wait_ms(waitMs);
        m_tcp.set_reply_wait_ms(waitMs);
    }
}

void TargetTransports::open(LinkState& state)
{
    if (m_target.isTcp()) {
        m_tcp.connect(m_target.host, m_target.port);
        state.network_mode = 1;
        return;
    }
    m_portNumber = comPortNumber(m_target.device);
    if (m_portNumber == 0) {
        m_portNumber = 1;
        m_serial.bindPort(m_portNumber, m_target.device);
    }
    m_serial.open(m_portNumber);
    m_serial.set_read_timeout(m_portNumber, normal_read_timeout_ms);
    state.network_mode = 0;
    state.serial_port = m_portNumber;
    // The link itself would only notice through 19 failed reads; say why.
    if (!m_serial.isOpen(m_portNumber))
        throw LinkError("Cannot open serial port " + m_serial.deviceName(m_portNumber).toStdString());
}

void TargetTransports::close()
{
    if (m_target.isTcp())
        m_tcp.disconnect();
    else if (m_portNumber > 0)
        m_serial.close(m_portNumber);
}

bool TargetTransports::isOpen() const
{
    return m_target.isTcp() ? m_tcp.isOpen() : m_serial.isOpen(m_portNumber);
}

}  // namespace tk770
