// One link to the processor for one command of the tool: the transports, the
// link state, an image and the shared device sequences, wired the way the
// window wires them but with no display behind them.
#pragma once

#include "cli/CommandSupport.h"
#include "core/device_link.h"
#include "core/parameter_image.h"
#include "link/sequences.h"
#include "link/target_transports.h"

#include <QString>
#include <QTextStream>

namespace tk770 {

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
    // nothing else). Throws tk770::LinkError when the port cannot be opened
    // or the target is not a serial port.
    void openSerialPort();

    tk770::DeviceSequences& sequences() { return m_sequences; }
    tk770::DeviceLink& link() { return m_link; }
    tk770::ParameterImage& image() { return m_image; }

private:
    LinkOptions m_options;
    StreamStatus m_status;
    tk770::LinkState m_state;
    tk770::TargetTransports m_transports;
    tk770::DeviceLink m_link;
    tk770::ParameterImage m_image{};
    tk770::DeviceSequences m_sequences;
};

enum class ReadResult { written, device_failed, file_failed };

// read's work, which backup runs once per processor: opens the link, reads
// all 19 blocks and writes the project (`projectPath`) and/or the whole
// image as JSON (`jsonPath`), both or neither; an empty path is not
// written. Messages go to the session's stream; on file_failed `fileError`
// holds "PATH: reason". Throws LinkError when the link itself fails.
ReadResult readIntoFiles(DeviceSession& session, const DeviceIpText& ip, const std::string& projectPath,
                         const std::string& jsonPath, std::string& fileError);

}  // namespace tk770
