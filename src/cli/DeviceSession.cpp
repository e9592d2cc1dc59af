#include "cli/DeviceSession.h"

#include "cli/ImageJson.h"
#include "core/file_output.h"
#include "core/project_file.h"

#include <QJsonDocument>

namespace tk770 {

void StreamStatus::set_message_text(std::string_view text)
{
    m_err << QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())) << '\n';
    m_err.flush();
}

DeviceSession::DeviceSession(const LinkOptions& options, QTextStream& err)
    : m_options(options), m_status(err), m_link(m_state, &m_serial, &m_tcp, &m_status), m_sequences(m_link, m_image)
{
    if (m_options.timeoutMs > 0) {
        m_tcp.setConnectWaitMs(m_options.timeoutMs);
        m_tcp.set_reply_wait_ms(m_options.timeoutMs);
    }
}

void DeviceSession::openSerialPort()
{
    int port = comPortNumber(m_options.serialDevice);
    if (port == 0) {
        // A device path stands in for the first port.
        port = 1;
        m_serial.bindPort(port, m_options.serialDevice);
    }
    m_state.serial_port = port;
    m_state.network_mode = 0;
    m_sequences.open_serial_port();
    // The link itself would only notice through 19 failed reads; say why.
    if (!m_serial.isOpen(port))
        throw LinkError("Cannot open serial port " + m_serial.deviceName(port).toStdString());
}

void DeviceSession::open()
{
    if (m_options.tcp) {
        m_tcp.connect(m_options.host, m_options.port);
        m_state.network_mode = 1;
    } else {
        openSerialPort();
    }
    m_state.connected = 1;
    m_state.error_count = 0;
}

ReadResult readIntoFiles(DeviceSession& session, const DeviceIpText& ip, const std::string& projectPath,
                         const std::string& jsonPath, std::string& fileError)
{
    session.open();
    if (session.sequences().read_all() != Outcome::succeeded) return ReadResult::device_failed;
    OutputFiles files;
    if (!projectPath.empty()) files.stage(projectPath, project_file_bytes(session.image(), ip));
    if (!jsonPath.empty()) {
        const QByteArray json = QJsonDocument(imageToJson(session.image(), ip, true)).toJson(QJsonDocument::Indented);
        files.stage(jsonPath, std::span(reinterpret_cast<const std::uint8_t*>(json.constData()),
                                        static_cast<std::size_t>(json.size())));
    }
    if (files.commit()) return ReadResult::written;
    fileError = files.error();
    return ReadResult::file_failed;
}

}  // namespace tk770
