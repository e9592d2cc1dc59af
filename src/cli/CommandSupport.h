// What several commands of the tool share: the strict number and TCP target
// parsers (the command line and the backup hosts file take the same forms)
// and read's path from the processor to its files, which backup runs once
// per processor.
#pragma once

#include "cli/DeviceSession.h"
#include "cli/ImageJson.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <string>

namespace tk770 {

// 1 to `most` ASCII digits and nothing else.
bool allDigits(QStringView text, qsizetype most);
// Strict decimal integer in [min, max].
std::optional<int> parseInt(const QString& text, int min, int max);
enum class TcpTargetError { none, colons, port, no_host };
// HOST[:PORT] into `link` (TCP, the default port when none is given); `link`
// is left alone unless it is that form with a port of 1..65535.
TcpTargetError parseTcpTarget(const QString& text, LinkOptions& link);

// The device_ip_text a read project keeps: the host the processor was
// reached at over TCP, empty on the serial port. Nothing when the host text
// does not fit the field.
std::optional<DeviceIpText> projectIpFor(const LinkOptions& link);

enum class ReadResult { written, device_failed, file_failed };

// read's work: opens the link, reads all 19 blocks and writes the project
// (`projectPath`) and/or the whole image as JSON (`jsonPath`), both or
// neither; an empty path is not written. Messages go to the session's
// stream; on file_failed `fileError` holds "PATH: reason". Throws LinkError
// when the link itself fails.
ReadResult readIntoFiles(DeviceSession& session, const DeviceIpText& ip, const std::string& projectPath,
                         const std::string& jsonPath, std::string& fileError);

}  // namespace tk770
