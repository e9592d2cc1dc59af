#include "cli/CommandSupport.h"

#include "cli/Ctl.h"
#include "core/cp936.h"

#include <QCommandLineParser>
#include <QTextStream>

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

std::optional<DeviceIpText> projectIpFor(const LinkOptions& link)
{
    DeviceIpText ip{};
    if (!link.target.isTcp()) return ip;
    const QByteArray host = link.target.host.toUtf8();
    // One byte stays for the terminating zero.
    if (host.size() >= static_cast<qsizetype>(ip.size())) return std::nullopt;
    std::memcpy(ip.data(), host.constData(), static_cast<std::size_t>(host.size()));
    return ip;
}

QString CommandContext::value(const char* option) const
{
    const QString v = parser.value(QString::fromLatin1(option));
    return setAside.value(v, v);
}

int usage(QTextStream& err, const QString& text)
{
    err << "tk770ctl: " << text << "\ntry 'tk770ctl --help'\n";
    err.flush();
    return ExitUsage;
}

int fileError(QTextStream& err, int code, const QString& path, const std::string& reason)
{
    err << QString::fromUtf8(file_result_message(code).data(), static_cast<qsizetype>(file_result_message(code).size()))
        << " (" << (reason.empty() ? path : QString::fromStdString(reason)) << ")\n";
    err.flush();
    return ExitFile;
}

int deviceError(QTextStream& err, const QString& text)
{
    err << "tk770ctl: " << text << '\n';
    err.flush();
    return ExitDevice;
}

int printDifferences(CommandContext& c, const QStringList& lines)
{
    for (const auto& line : lines) c.out << line << '\n';
    return lines.isEmpty() ? ExitOk : 1;
}

std::string local8(const QString& text) { return text.toStdString(); }

std::optional<int> timeoutOption(const QCommandLineParser& parser)
{
    return parseInt(parser.value(QStringLiteral("timeout-ms")), 1, 600000);
}

std::optional<FieldRef> fieldArgument(CommandContext& c, const QString& text, int& status)
{
    const auto parsed = parse_field_ref(local8(text));
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        status = usage(c.err, QString::fromStdString(*error));
        return std::nullopt;
    }
    return std::get<FieldRef>(parsed);
}

int loadProject(const QString& path, ParameterImage& image, DeviceIpText& ip)
{
    image = ParameterImage{};
    ip.fill(0);
    return read_project_file(local8(path), image, ip);
}

QString printable(const std::string& utf8) { return QString::fromStdString(escape_controls(utf8)); }

QString fieldValueText(const ParameterImage& image, const FieldRef& ref)
{
    return QString::fromStdString(field_display_text(image, ref));
}

}  // namespace tk770
