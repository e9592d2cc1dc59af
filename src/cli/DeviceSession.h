// One link to the processor for one command of the tool: the transports, the
// link state, an image and the shared device sequences, wired the way the
// window wires them but with no display behind them.
#pragma once

#include "core/device_link.h"
#include "core/parameter_image.h"
#include "link/sequences.h"
#include "link/serial_transport.h"
#include "link/tcp_transport.h"

#include <QString>
#include <QTextStream>

namespace tk770 {

struct LinkOptions {
    bool tcp = false;
    QString host;
    int port = tk770::tcp_port;
    QString serialDevice;  // a path, or COM1..COM10
    int timeoutMs = -1;    // TCP connect and reply wait; -1: the link's defaults
};

// Message-panel texts go to the error stream as they are shown; the link
// panel's state texts are not repeated.
class StreamStatus : public tk770::StatusSink {
public:
    explicit StreamStatus(QTextStream& err) : m_err(err) {}
    void set_message_text(std::string_view text) override;
    void set_link_text(std::string_view) override {}

private:
    QTextStream& m_err;
};

class DeviceSession {
public:
    DeviceSession(const LinkOptions& options, QTextStream& err);
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Brings the link up without reading: the TCP connection, or the serial
    // port opened. Throws tk770::LinkError when that fails.
    void open();
    // Opens only the serial port (the network and serial-number frames use
    // nothing else). Throws tk770::LinkError when the port cannot be opened.
    void openSerialPort();

    tk770::DeviceSequences& sequences() { return m_sequences; }
    tk770::DeviceLink& link() { return m_link; }
    tk770::ParameterImage& image() { return m_image; }

private:
    LinkOptions m_options;
    StreamStatus m_status;
    tk770::LinkState m_state;
    tk770::QtSerialTransport m_serial;
    tk770::QtTcpTransport m_tcp;
    tk770::DeviceLink m_link;
    tk770::ParameterImage m_image{};
    tk770::DeviceSequences m_sequences;
};

}  // namespace tk770
