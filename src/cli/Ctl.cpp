#include "cli/Ctl.h"

#include "cli/Backup.h"
#include "cli/CommandSupport.h"
#include "cli/CurveExport.h"
#include "cli/DeviceCommands.h"
#include "cli/ImageJson.h"
#include "core/field_table.h"
#include "core/file_output.h"
#include "core/project_file.h"
#include "tk770_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>
#include <QJsonDocument>
#include <QTextStream>

#include <algorithm>
#include <optional>

namespace tk770 {

namespace {

// FileOrDevice: offline with all its arguments, a device command with one
// fewer (diff of a file against the processor).
enum class Scope { Offline, Device, SerialOnly, FileOrDevice };

struct CommandInfo {
    const char* name;
    int minArgs;
    int maxArgs;
    Scope scope;
    QStringList options;  // command options beyond the link options
    const char* synopsis;
};

const QList<CommandInfo>& commands()
{
    static const QList<CommandInfo> list{
        {"info", 0, 0, Scope::Device, {}, "info                      model, serial number, firmware, profile texts"},
        {"read", 0, 0, Scope::Device, {"o", "json"}, "read -o FILE [--json FILE] read everything into a project (and JSON)"},
        {"download", 1, 1, Scope::Device, {"force", "verify"},
         "download FILE [--force] [--verify]  send a project's settings (--verify: read back and compare)"},
        {"save-memory", 0, 0, Scope::Device, {}, "save-memory               commit the working settings to memory"},
        {"backup-ic", 0, 0, Scope::Device, {}, "backup-ic                 back the settings up to the IC card"},
        {"restart", 0, 0, Scope::Device, {}, "restart                   restart the processor"},
        {"get", 1, 1, Scope::Device, {}, "get FIELD                 print one field, e.g. eq[3][14]"},
        {"set", 2, 2, Scope::Device, {}, "set FIELD VALUE           change one field on the processor"},
        {"netconfig", 0, 3, Scope::SerialOnly, {}, "netconfig [IP MASK GW]    read or write the network settings"},
        {"serial-number", 1, 1, Scope::SerialOnly, {}, "serial-number TEXT        store a serial number (16 at most)"},
        {"new", 0, 0, Scope::Offline, {"o"}, "new -o FILE               write a new project"},
        {"dump", 1, 1, Scope::Offline, {}, "dump FILE                 print a project as JSON"},
        {"diff", 1, 2, Scope::FileOrDevice, {},
         "diff A B | diff FILE --tcp HOST|--serial DEVICE  the fields two projects, or FILE and the processor, differ in"},
        {"curve", 1, 1, Scope::Offline, {"channel", "png"},
         "curve FILE --channel C [--png OUT]  response of channel C as CSV (and PNG)"},
        {"backup", 0, 0, Scope::Offline, {"hosts", "dir", "jobs", "timeout-ms"},
         "backup --hosts FILE --dir DIR [--jobs N]  read every processor of FILE into DIR"},
    };
    return list;
}

const QStringList linkOptionNames{"tcp", "serial", "timeout-ms"};

// The --tcp or --serial value into `link`; false with `error` set when it
// names no processor.
bool parseLinkTarget(bool tcp, const QString& text, LinkOptions& link, QString& error)
{
    const TargetError bad = tcp ? parseTcpTarget(text, link.target) : parseSerialTarget(text, link.target);
    switch (bad) {
    case TargetError::none: return true;
    case TargetError::colons: error = QStringLiteral("--tcp takes HOST[:PORT] or [IPv6]:PORT: '%1'").arg(text); break;
    case TargetError::port: error = QStringLiteral("bad port in --tcp '%1'").arg(text); break;
    case TargetError::no_host: error = QStringLiteral("--tcp needs a host"); break;
    case TargetError::no_device: error = QStringLiteral("--serial needs a device"); break;
    default:
        error = QStringLiteral("--%1 '%2': %3").arg(tcp ? "tcp" : "serial", text, targetErrorText(bad));
        break;
    }
    return false;
}

// Writes every staged file, or none of them; a failure is reported as a
// file error naming the file and the system's reason.
int commitOutputs(CommandContext& c, OutputFiles& files)
{
    if (files.commit()) return ExitOk;
    return fileError(c.err, project_cannot_write, {}, files.error());
}

// ---- offline commands ----

int cmdNew(CommandContext& c)
{
    ParameterImage image{};
    image.reset_to_defaults();
    DeviceIpText ip{};
    OutputFiles files;
    files.stage(local8(c.parser.value("o")), project_file_bytes(image, ip));
    return commitOutputs(c, files);
}

int cmdDump(CommandContext& c)
{
    ParameterImage image;
    DeviceIpText ip;
    const int result = loadProject(c.args[0], image, ip);
    if (result != project_ok) return fileError(c.err, result, c.args[0]);
    c.out << QJsonDocument(imageToJson(image, ip, false)).toJson(QJsonDocument::Indented);
    for (const auto& bad : fields_out_of_range(image))
        c.err << "out of range: " << QString::fromStdString(bad) << '\n';
    return ExitOk;
}

int cmdDiff(CommandContext& c)
{
    ParameterImage a, b;
    DeviceIpText ipA, ipB;
    int result = loadProject(c.args[0], a, ipA);
    if (result != project_ok) return fileError(c.err, result, c.args[0]);
    result = loadProject(c.args[1], b, ipB);
    if (result != project_ok) return fileError(c.err, result, c.args[1]);
    return printDifferences(c, projectDifferences(a, ipA, b, ipB));
}

int cmdCurve(CommandContext& c)
{
    if (!c.parser.isSet("channel")) return usage(c.err, QStringLiteral("curve needs --channel C (0..7)"));
    const auto channel = parseInt(c.value("channel"), 0, channel_count - 1);
    if (!channel) return usage(c.err, QStringLiteral("--channel takes 0..7, not '%1'").arg(c.value("channel")));
    ParameterImage image;
    DeviceIpText ip;
    const int result = loadProject(c.args[0], image, ip);
    if (result != project_ok) return fileError(c.err, result, c.args[0]);

    ChannelCurve curve(image, *channel);
    for (const auto& line : curveCsvLines(curve.points())) c.out << line << '\n';
    if (c.parser.isSet("png")) {
        const std::vector<std::uint8_t> png = curve.graphPng();
        if (png.empty()) return fileError(c.err, project_cannot_write, c.parser.value("png"));
        OutputFiles files;
        files.stage(local8(c.parser.value("png")), png);
        return commitOutputs(c, files);
    }
    return ExitOk;
}

// The commands that need no processor; the others come from `runtime`.
int runOffline(const QString& name, CommandContext& c)
{
    if (name == "new") return cmdNew(c);
    if (name == "dump") return cmdDump(c);
    if (name == "diff") return cmdDiff(c);
    return cmdCurve(c);
}

QString commandList()
{
    QString text = QStringLiteral("Commands:\n");
    for (const auto& info : commands()) text += QStringLiteral("  %1\n").arg(QString::fromLatin1(info.synopsis));
    text += QStringLiteral(
        "Device commands need --tcp HOST[:PORT] or --serial DEVICE (a path or COM1..COM10);\n"
        "netconfig and serial-number work on the serial port only.\n"
        "diff FILE with --tcp or --serial compares the processor's settings with FILE's\n"
        "(device_ip_text is not compared); download --verify compares them and the profile\n"
        "texts after the download. Both print \"field: file -> processor\" lines.\n"
        "backup reads the processors of the hosts file, --jobs N at once (default 4), into\n"
        "DIR/NAME-YYYYMMDD-HHMMSS.qsdat and .json (local time the backup started), then\n"
        "prints one line per processor: name, target, ok or the reason, seconds.\n"
        "Hosts file: one processor a line, NAME tcp:HOST[:PORT] or NAME serial:DEVICE;\n"
        "blank lines and '#' comments are skipped. NAME holds no '/', '..' or control\n"
        "characters; names and targets are unique.\n"
        "Exit status: 0 success, 1 the processor did not answer or refused, 2 usage, 3 file error;\n"
        "diff and download --verify: 1 also when something differs; backup: 1 when any\n"
        "processor failed (the others are saved), 2 a bad hosts file (nothing contacted).\n");
    return text;
}

}  // namespace

int runCtl(const QStringList& arguments, QTextStream& out, QTextStream& err, const CtlRuntime& runtime)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Controls a TK770 cinema audio processor and its project files."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, QStringLiteral("Show this help."));
    parser.addOption(help);
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the program's name and version."));
    parser.addOption(version);
    parser.addOption({"tcp", QStringLiteral("Reach the processor over TCP (default port %1).").arg(tcp_port),
                      "HOST[:PORT]"});
    parser.addOption({"serial", QStringLiteral("Reach the processor on a serial port."), "DEVICE"});
    parser.addOption({"timeout-ms", QStringLiteral("Longest wait for a TCP connection or reply."), "N"});
    parser.addOption({{"o", "output"}, QStringLiteral("Project file to write."), "FILE"});
    parser.addOption({"json", QStringLiteral("Also write the whole image as JSON."), "FILE"});
    parser.addOption({"channel", QStringLiteral("Channel of the curve: 0..6 L C R SL SR BSL BSR, 7 SW."), "C"});
    parser.addOption({"png", QStringLiteral("Also write the response graph as PNG."), "FILE"});
    parser.addOption({"force", QStringLiteral("Download a project even when fields lie outside their ranges.")});
    parser.addOption({"verify", QStringLiteral("After a download, read everything back and list what differs.")});
    parser.addOption({"hosts",
                      QStringLiteral("Processors to back up, one a line: NAME tcp:HOST[:PORT] or NAME serial:DEVICE."),
                      "FILE"});
    parser.addOption({"dir", QStringLiteral("Existing folder the backup writes its files into."), "DIR"});
    parser.addOption({"jobs",
                      QStringLiteral("Processors backed up at once, 1..%1 (%2).")
                          .arg(max_backup_jobs)
                          .arg(default_backup_jobs),
                      "N"});
    parser.addPositionalArgument("command", QStringLiteral("One of the commands below."), "COMMAND [ARGS...]");

    // A negative number ("set eq[0][0] -30") would read as an unknown option;
    // no option is named by digits, so such words are set aside as values.
    const auto negativeNumber = [](const QString& w) {
        return w.startsWith(u'-') && allDigits(QStringView(w).mid(1), w.size());
    };
    QStringList words = arguments;
    QHash<QString, QString> setAside;
    for (qsizetype i = 1; i < words.size(); ++i) {
        if (!negativeNumber(words[i])) continue;
        const QString marker = QStringLiteral("\x01value%1").arg(i);
        setAside.insert(marker, words[i]);
        words[i] = marker;
    }
    if (!parser.parse(words)) return usage(err, parser.errorText());
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // Without an application object the parser cannot know the name the
        // tool was started by; it is the first argument all the same.
        if (!QCoreApplication::instance())
            text.replace(QStringLiteral("<executable_name>"), arguments.value(0, QStringLiteral("tk770ctl")));
        out << text << '\n' << commandList();
        return ExitOk;
    }
    if (parser.isSet(version)) {
        out << "tk770ctl " << project_version << '\n';
        return ExitOk;
    }
    QStringList positional = parser.positionalArguments();
    for (auto& word : positional) word = setAside.value(word, word);
    if (positional.isEmpty()) return usage(err, QStringLiteral("no command given"));
    const QString name = positional.takeFirst();
    const auto& list = commands();
    const auto it = std::find_if(list.begin(), list.end(), [&](const CommandInfo& i) { return name == i.name; });
    if (it == list.end()) return usage(err, QStringLiteral("unknown command '%1'").arg(name));
    const CommandInfo& info = *it;
    if (positional.size() < info.minArgs || positional.size() > info.maxArgs)
        return usage(err, QStringLiteral("wrong number of arguments for %1").arg(name));

    Scope scope = info.scope;
    if (scope == Scope::FileOrDevice) scope = positional.size() < info.maxArgs ? Scope::Device : Scope::Offline;
    // Every option given must mean something to this command.
    for (const QString& option : parser.optionNames()) {
        const QString canonical = option == "output" ? QStringLiteral("o") : option;
        const bool isLink = linkOptionNames.contains(canonical);
        if (!info.options.contains(canonical) && (!isLink || scope == Scope::Offline))
            return usage(err, QStringLiteral("option %1 does not apply to %2")
                                  .arg(canonical == "o" ? QStringLiteral("-o/--output") : "--" + option, name));
    }
    for (const QString& option : info.options)
        if (option == "o" && name != "read" && !parser.isSet("o"))
            return usage(err, QStringLiteral("%1 needs -o FILE").arg(name));

    CommandContext c{parser, positional, out, err, {}, setAside};
    if (scope != Scope::Offline) {
        const bool tcp = parser.isSet("tcp");
        const bool serial = parser.isSet("serial");
        if (scope == Scope::SerialOnly && tcp)
            return usage(err, QStringLiteral("%1 works on the serial port only").arg(name));
        if (!tcp && !serial && info.scope == Scope::FileOrDevice)
            return usage(err,
                         QStringLiteral("%1 needs two files, or one and --tcp HOST[:PORT] or --serial DEVICE").arg(name));
        if (tcp == serial) return usage(err, QStringLiteral("%1 needs one of --tcp HOST[:PORT] or --serial DEVICE").arg(name));
        QString error;
        if (!parseLinkTarget(tcp, parser.value(tcp ? "tcp" : "serial"), c.link, error)) return usage(err, error);
        if (parser.isSet("timeout-ms")) {
            const auto ms = timeoutOption(parser);
            if (!ms) return usage(err, QStringLiteral("--timeout-ms takes 1..600000"));
            c.link.timeoutMs = *ms;
        }
    }

    if (!QCoreApplication::instance() && runtime.startApplication) runtime.startApplication();
    // backup reaches processors through its hosts file, not the link options.
    const bool reachesProcessors = scope != Scope::Offline || name == QLatin1String("backup");
    int status = ExitOk;
    if (!reachesProcessors) {
        status = runOffline(name, c);
    } else {
        status = runDeviceCommand(name, c);
    }
    out.flush();
    err.flush();
    return status;
}

}  // namespace tk770
