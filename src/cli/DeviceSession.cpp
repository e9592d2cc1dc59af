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
    : m_options(options),
      m_status(err),
      m_transports(options.target, options.timeoutMs),
      m_link(m_state, &m_transports.serial(), &m_transports.tcp(), &m_status),
      m_sequences(m_link, m_image)
{
}

void DeviceSession::openSerialPort()
{
    if (m_options.target.isTcp()) throw LinkError("This works on the serial port only");
    m_transports.open(m_state);
}

void DeviceSession::open()
{
    m_transports.open(m_state);
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
