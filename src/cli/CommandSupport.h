// What several commands of the tool share: the strict number parsers,
// the context a command runs in and its ways of reporting. Nothing here
// touches a transport, so runs that never reach a processor stay clear of
// the network and serial libraries.
#pragma once

#include "cli/ImageJson.h"
#include "core/device_link.h"
#include "core/field_table.h"
#include "core/parameter_image.h"
#include "core/project_file.h"
#include "link/device_target.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <string>

class QCommandLineParser;
class QTextStream;

namespace tk770 {

struct LinkOptions {
    DeviceTarget target;  // where the processor is (--tcp, --serial, a hosts file line)
    int timeoutMs = -1;   // TCP connect and reply wait; -1: the link's defaults
};

// 1 to `most` ASCII digits and nothing else.
bool allDigits(QStringView text, qsizetype most);
// Strict decimal integer in [min, max].
std::optional<int> parseInt(const QString& text, int min, int max);

// The device_ip_text a read project keeps: the host the processor was
// reached at over TCP, empty on the serial port. Nothing when the host text
// does not fit the field.
std::optional<DeviceIpText> projectIpFor(const LinkOptions& link);

// One command's run: its options, its arguments after the command name,
// where its output and messages go, and the link the options chose.
struct CommandContext {
    QCommandLineParser& parser;
    QStringList args;
    QTextStream& out;
    QTextStream& err;
    LinkOptions link;
    QHash<QString, QString> setAside;  // negative numbers kept from the option parser

    // An option's value as given on the command line.
    QString value(const char* option) const;
};

// Reports and exit codes; each returns the code the tool exits with.
int usage(QTextStream& err, const QString& text);
// `reason` ("PATH: the system's reason") replaces the bare path when known.
int fileError(QTextStream& err, int code, const QString& path, const std::string& reason = {});
int deviceError(QTextStream& err, const QString& text);
// Like diff(1): prints the lines; 1 means "they differ", not a failure.
int printDifferences(CommandContext& c, const QStringList& lines);

std::string local8(const QString& text);
// --timeout-ms N: 1..600000; nothing when it is not that.
std::optional<int> timeoutOption(const QCommandLineParser& parser);
// A field named on the command line; nothing, with the usage error shown
// and `status` set, when it names none.
std::optional<FieldRef> fieldArgument(CommandContext& c, const QString& text, int& status);
// Loads a project onto a zero image; 0 or a project file result code.
int loadProject(const QString& path, ParameterImage& image, DeviceIpText& ip);
// A device text for the terminal: its control characters are shown, not obeyed.
QString printable(const std::string& utf8);
QString fieldValueText(const ParameterImage& image, const FieldRef& ref);

}  // namespace tk770
