#include "cli/CommandSupport.h"

#include "core/file_output.h"
#include "core/project_file.h"

#include <QJsonDocument>

#include <algorithm>
#include <cstring>

namespace tk770 {

// Plain loops, not regular expressions: every run of the tool would pay for
// compiling them.
bool allDigits(QStringView text, qsizetype most)
{
    if (text.isEmpty() || text.size() > most) return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

std::optional<int> parseInt(const QString& text, int min, int max)
{
    if (!allDigits(text, 9)) return std::nullopt;
    const int v = text.toInt();
    if (v < min || v > max) return std::nullopt;
    return v;
}

TcpTargetError parseTcpTarget(const QString& text, LinkOptions& link)
{
    QString host = text;
    int port = tcp_port;
    const qsizetype colon = text.lastIndexOf(':');
    if (colon >= 0) {
        if (text.indexOf(':') != colon) return TcpTargetError::colons;
        host = text.left(colon);
        const auto p = parseInt(text.mid(colon + 1), 1, 65535);
        if (!p) return TcpTargetError::port;
        port = *p;
    }
    if (host.isEmpty()) return TcpTargetError::no_host;
    link.tcp = true;
    link.host = host;
    link.port = port;
    return TcpTargetError::none;
}

std::optional<DeviceIpText> projectIpFor(const LinkOptions& link)
{
    DeviceIpText ip{};
    if (!link.tcp) return ip;
    const QByteArray host = link.host.toUtf8();
    // One byte stays for the terminating zero.
    if (host.size() >= static_cast<qsizetype>(ip.size())) return std::nullopt;
    std::memcpy(ip.data(), host.constData(), static_cast<std::size_t>(host.size()));
    return ip;
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
