#include "cli/Ctl.h"

#include "cli/Backup.h"
#include "cli/CommandSupport.h"
#include "cli/CurveExport.h"
#include "cli/DeviceSession.h"
#include "cli/ImageJson.h"
#include "core/cp936.h"
#include "core/field_table.h"
#include "core/file_output.h"
#include "core/project_file.h"
#include "core/send_unit.h"
#include "tk770_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QTextStream>

#include <algorithm>
#include <cstring>
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

struct Context {
    QCommandLineParser& parser;
    QStringList args;  // after the command name
    QTextStream& out;
    QTextStream& err;
    LinkOptions link;
    QHash<QString, QString> setAside;

    // An option's value as given on the command line.
    QString value(const char* option) const
    {
        const QString v = parser.value(QString::fromLatin1(option));
        return setAside.value(v, v);
    }
};

int usage(QTextStream& err, const QString& text)
{
    err << "tk770ctl: " << text << "\ntry 'tk770ctl --help'\n";
    err.flush();
    return ExitUsage;
}

// `reason` ("PATH: the system's reason") replaces the bare path when known.
int fileError(QTextStream& err, int code, const QString& path, const std::string& reason = {})
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

std::string local8(const QString& text) { return text.toStdString(); }

// The --tcp value into `link`; false with `error` set when it is not HOST[:PORT].
bool parseTcp(const QString& text, LinkOptions& link, QString& error)
{
    switch (parseTcpTarget(text, link)) {
    case TcpTargetError::none:
        return true;
    case TcpTargetError::colons:
        error = QStringLiteral("--tcp takes HOST[:PORT]: '%1'").arg(text);
        return false;
    case TcpTargetError::port:
        error = QStringLiteral("bad port in --tcp '%1'").arg(text);
        return false;
    case TcpTargetError::no_host:
        error = QStringLiteral("--tcp needs a host");
        return false;
    }
    return false;
}

// --timeout-ms N: 1..600000; nothing when it is not that.
std::optional<int> timeoutOption(const QCommandLineParser& parser)
{
    return parseInt(parser.value(QStringLiteral("timeout-ms")), 1, 600000);
}

std::optional<FieldRef> fieldArgument(Context& c, const QString& text, int& status)
{
    const auto parsed = parse_field_ref(local8(text));
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        status = usage(c.err, QString::fromStdString(*error));
        return std::nullopt;
    }
    return std::get<FieldRef>(parsed);
}

// Writes every staged file, or none of them; a failure is reported as a
// file error naming the file and the system's reason.
int commitOutputs(Context& c, OutputFiles& files)
{
    if (files.commit()) return ExitOk;
    return fileError(c.err, project_cannot_write, {}, files.error());
}

// Loads a project onto a zero image; 0 or a project file result code.
int loadProject(const QString& path, ParameterImage& image, DeviceIpText& ip)
{
    image = ParameterImage{};
    ip.fill(0);
    return read_project_file(local8(path), image, ip);
}

// A device text for the terminal: its control characters are shown, not obeyed.
QString printable(const std::string& utf8) { return QString::fromStdString(escape_controls(utf8)); }

QString fieldValueText(const ParameterImage& image, const FieldRef& ref)
{
    return QString::fromStdString(field_display_text(image, ref));
}

// Brings the link up and reads all 19 blocks. False (message shown) on failure.
bool openAndRead(DeviceSession& session)
{
    session.open();
    return session.sequences().read_all() == Outcome::succeeded;
}

// ---- offline commands ----

int cmdNew(Context& c)
{
    ParameterImage image{};
    image.reset_to_defaults();
    DeviceIpText ip{};
    OutputFiles files;
    files.stage(local8(c.parser.value("o")), project_file_bytes(image, ip));
    return commitOutputs(c, files);
}

int cmdDump(Context& c)
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

// Prints the differences; like diff(1), 1 means "they differ", not a failure.
int printDifferences(Context& c, const QStringList& lines)
{
    for (const auto& line : lines) c.out << line << '\n';
    return lines.isEmpty() ? ExitOk : 1;
}

int cmdDiff(Context& c)
{
    ParameterImage a, b;
    DeviceIpText ipA, ipB;
    int result = loadProject(c.args[0], a, ipA);
    if (result != project_ok) return fileError(c.err, result, c.args[0]);
    if (c.args.size() == 1) {
        // The file against what the processor holds now. device_ip_text is
        // the panel's record of where the processor was, not a setting the
        // processor holds, so it is not compared.
        DeviceSession session(c.link, c.err);
        if (!openAndRead(session)) return ExitDevice;
        return printDifferences(c, fieldDifferences(a, session.image(), false));
    }
    result = loadProject(c.args[1], b, ipB);
    if (result != project_ok) return fileError(c.err, result, c.args[1]);
    return printDifferences(c, projectDifferences(a, ipA, b, ipB));
}

int cmdCurve(Context& c)
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

// ---- device commands ----

int cmdInfo(Context& c)
{
    DeviceSession session(c.link, c.err);
    if (!openAndRead(session)) return ExitDevice;
    const ParameterImage& image = session.image();
    c.out << "model: " << printable(cp936_field_to_utf8(image.device_model)) << '\n'
          << "serial number: " << printable(cp936_field_to_utf8(image.device_serial)) << '\n'
          << "firmware version: " << printable(cp936_field_to_utf8(image.firmware_version)) << '\n'
          << "firmware date: " << printable(cp936_field_to_utf8(image.firmware_date)) << '\n';
    for (int k = 0; k < profile_text_count; ++k)
        c.out << "profile_text[" << k << "]: " << printable(cp936_field_to_utf8(image.profile_text[k])) << '\n';
    return ExitOk;
}

int cmdRead(Context& c)
{
    if (!c.parser.isSet("o") && !c.parser.isSet("json"))
        return usage(c.err, QStringLiteral("read needs -o FILE and/or --json FILE"));
    // The project keeps the host the processor was reached at.
    const auto ip = projectIpFor(c.link);
    if (!ip)
        return usage(c.err, QStringLiteral("host text longer than %1 bytes does not fit a project")
                                .arg(device_ip_text_size - 1));
    // Targets are checked before the processor is asked, so a command that
    // cannot save its result does not read for nothing.
    for (const char* option : {"o", "json"}) {
        if (!c.parser.isSet(option)) continue;
        const std::string path = local8(c.parser.value(option));
        if (const auto problem = output_target_problem(path); !problem.empty())
            return fileError(c.err, project_cannot_write, {}, path + ": " + problem);
    }
    DeviceSession session(c.link, c.err);
    std::string problem;
    switch (readIntoFiles(session, *ip, c.parser.isSet("o") ? local8(c.parser.value("o")) : std::string(),
                          c.parser.isSet("json") ? local8(c.parser.value("json")) : std::string(), problem)) {
    case ReadResult::written:
        return ExitOk;
    case ReadResult::device_failed:
        return ExitDevice;
    case ReadResult::file_failed:
        break;
    }
    return fileError(c.err, project_cannot_write, {}, problem);
}

// The block a download step carries, for a technician: its fields, length
// and device address.
QString downloadStepText(int step)
{
    const DownloadStep& s = download_steps()[static_cast<std::size_t>(step - 1)];
    const QString where = QStringLiteral("%1 %2 at device address 0x%3")
                              .arg(QString::number(s.length), QLatin1String(s.length == 1 ? "byte" : "bytes"),
                                   QString::number(s.device_address, 16).toUpper().rightJustified(3, u'0'));
    QString what = QStringLiteral("the save to memory");
    if (s.image_offset >= 0) {
        // The first and the last field element inside the block.
        std::optional<FieldRef> first, last;
        for_each_field_element([&](const FieldRef& ref) {
            if (ref.offset < s.image_offset || ref.offset >= s.image_offset + s.length) return;
            if (!first || ref.offset < first->offset) first = ref;
            if (!last || ref.offset > last->offset) last = ref;
        });
        what = QString::fromStdString(first->name());
        if (last->offset != first->offset) what += QStringLiteral(" to ") + QString::fromStdString(last->name());
    }
    return QStringLiteral("download step %1 of %2 was not confirmed: %3 (%4)")
        .arg(QString::number(step), QString::number(download_step_count), what, where);
}

int cmdDownload(Context& c)
{
    ParameterImage fromFile;
    DeviceIpText ip;
    const int result = loadProject(c.args[0], fromFile, ip);
    if (result != project_ok) return fileError(c.err, result, c.args[0]);
    // The panel saves only values its controls keep; a file holding others
    // is damaged or foreign, and the processor would take them as they are.
    if (const auto bad = fields_out_of_range(fromFile); !bad.empty() && !c.parser.isSet("force")) {
        QStringList names;
        for (const auto& b : bad) names << QString::fromStdString(b);
        return usage(c.err, QStringLiteral("%1 holds fields out of range: %2; --force sends it anyway")
                                .arg(c.args[0], names.join(QStringLiteral(", "))));
    }

    DeviceSession session(c.link, c.err);
    if (!openAndRead(session)) return ExitDevice;
    // Runs A and B come from the project; the profile texts stay as read.
    const int projectBytes = TK770_OFFSET(profile_text);
    std::memcpy(session.image().data(), fromFile.data(), static_cast<std::size_t>(projectBytes));
    const ParameterImage sent = session.image();
    QList<int> unconfirmed;
    const Outcome outcome = session.sequences().download_all([&](int step, int, int result) {
        if (result != 0) unconfirmed << step;
    });
    if (outcome != Outcome::succeeded) return ExitDevice;
    // The sequence passes a download with one unconfirmed step; the
    // technician should still know which block may not have arrived.
    for (const int step : unconfirmed) c.err << "tk770ctl: " << downloadStepText(step) << '\n';
    c.err.flush();
    if (!c.parser.isSet("verify")) return ExitOk;
    // Everything the download sent, read back: the settings and the profile texts.
    if (session.sequences().read_all() != Outcome::succeeded) return ExitDevice;
    return printDifferences(c, fieldDifferences(sent, session.image(), true));
}

int cmdSaveMemory(Context& c)
{
    DeviceSession session(c.link, c.err);
    session.open();
    return session.sequences().save_to_memory() == Outcome::succeeded ? ExitOk : ExitDevice;
}

int cmdBackupIc(Context& c)
{
    DeviceSession session(c.link, c.err);
    session.open();
    return session.sequences().backup_ic() == Outcome::succeeded ? ExitOk : ExitDevice;
}

int cmdRestart(Context& c)
{
    DeviceSession session(c.link, c.err);
    session.open();
    if (session.sequences().restart() != Outcome::succeeded)
        return deviceError(c.err, QStringLiteral("the processor did not acknowledge the restart"));
    return ExitOk;
}

int cmdGet(Context& c)
{
    int status = ExitOk;
    const auto ref = fieldArgument(c, c.args[0], status);
    if (!ref) return status;
    DeviceSession session(c.link, c.err);
    if (!openAndRead(session)) return ExitDevice;
    c.out << fieldValueText(session.image(), *ref) << '\n';
    return ExitOk;
}

int cmdSet(Context& c)
{
    // Everything is checked before the link is touched: a refused value sends nothing.
    int status = ExitOk;
    const auto ref = fieldArgument(c, c.args[0], status);
    if (!ref) return status;
    const auto parsed = parse_field_value(*ref, local8(c.args[1]));
    if (const auto* error = std::get_if<std::string>(&parsed)) return usage(c.err, QString::fromStdString(*error));
    const auto unit = send_unit_of(*ref);
    if (!unit) return usage(c.err, QStringLiteral("%1 cannot be set").arg(QString::fromStdString(ref->name())));

    DeviceSession session(c.link, c.err);
    // The unit may carry neighbouring fields, so start from what the processor holds.
    if (!openAndRead(session)) return ExitDevice;
    store_field(session.image(), *ref, std::get<FieldValue>(parsed));
    if (send_unit(session.link(), session.image(), *unit) != SendResult::accepted)
        return deviceError(c.err, QStringLiteral("the processor did not acknowledge the change"));
    return ExitOk;
}

int cmdNetconfig(Context& c)
{
    if (c.args.size() != 0 && c.args.size() != 3)
        return usage(c.err, QStringLiteral("netconfig takes no arguments or IP MASK GATEWAY"));
    for (const auto& a : c.args)
        if (!parse_address(local8(a)))
            return usage(c.err, QStringLiteral("not an address: '%1'").arg(a));

    DeviceSession session(c.link, c.err);
    session.openSerialPort();
    if (c.args.isEmpty()) {
        const auto settings = session.sequences().read_network_settings();
        if (!settings) return deviceError(c.err, QStringLiteral("no valid reply to the network settings read"));
        c.out << "ip: " << QString::fromStdString(settings->ip_text()) << '\n'
              << "mask: " << QString::fromStdString(settings->mask_text()) << '\n'
              << "gateway: " << QString::fromStdString(settings->gateway_text()) << '\n';
        return ExitOk;
    }
    // The processor's acknowledgement carries nothing to judge.
    session.sequences().write_network_settings(local8(c.args[0]), local8(c.args[1]), local8(c.args[2]));
    return ExitOk;
}

int cmdSerialNumber(Context& c)
{
    const std::string text = local8(c.args[0]);
    if (text.empty()) return usage(c.err, QStringLiteral("a serial number is 1 to %1 characters").arg(serial_number_size));
    if (const auto problem = cp936_text_problem(text, serial_number_size); !problem.empty())
        return usage(c.err, QStringLiteral("the serial number %1").arg(QString::fromStdString(problem)));
    const auto converted = utf8_to_cp936_field(text, serial_number_size);
    DeviceSession session(c.link, c.err);
    session.openSerialPort();
    session.sequences().store_serial_number(converted->bytes);
    return ExitOk;
}

int cmdBackup(Context& c)
{
    if (!c.parser.isSet("hosts") || !c.parser.isSet("dir"))
        return usage(c.err, QStringLiteral("backup needs --hosts FILE and --dir DIR"));
    int jobs = default_backup_jobs;
    if (c.parser.isSet("jobs")) {
        const auto n = parseInt(c.parser.value("jobs"), 1, max_backup_jobs);
        if (!n) return usage(c.err, QStringLiteral("--jobs takes 1..%1").arg(max_backup_jobs));
        jobs = *n;
    }
    int timeoutMs = -1;
    if (c.parser.isSet("timeout-ms")) {
        const auto ms = timeoutOption(c.parser);
        if (!ms) return usage(c.err, QStringLiteral("--timeout-ms takes 1..600000"));
        timeoutMs = *ms;
    }

    // Everything is checked before the first processor is contacted.
    const QString hostsPath = c.parser.value("hosts");
    if (const auto problem = input_file_problem(local8(hostsPath)); !problem.empty())
        return fileError(c.err, project_cannot_open, {}, local8(hostsPath) + ": " + problem);
    QFile hostsFile(hostsPath);
    if (!hostsFile.open(QIODevice::ReadOnly))
        return fileError(c.err, project_cannot_open, {}, local8(hostsPath) + ": " + local8(hostsFile.errorString()));
    // A fleet's list is a few lines; anything this large is not one.
    constexpr qint64 most = 1 << 20;
    const QByteArray text = hostsFile.read(most + 1);
    if (text.size() > most) return usage(c.err, QStringLiteral("%1: larger than 1 MiB, not a hosts file").arg(hostsPath));
    const auto parsed = parseHostsFile(text);
    if (const auto* problems = std::get_if<QStringList>(&parsed)) {
        c.err << "tk770ctl: bad hosts file " << hostsPath << ", nothing was contacted:\n";
        for (const auto& p : *problems) c.err << "  " << hostsPath << ": " << p << '\n';
        c.err.flush();
        return ExitUsage;
    }
    const QString dir = c.parser.value("dir");
    if (const auto problem = output_folder_problem(local8(dir)); !problem.empty())
        return fileError(c.err, project_cannot_write, {}, local8(dir) + ": " + problem);

    const auto& hosts = std::get<QList<BackupHost>>(parsed);
    // One time for the whole run, so its files are found together.
    const QList<BackupResult> results = runBackup(hosts, dir, QDateTime::currentDateTime(), jobs, timeoutMs);
    for (const auto& line : backupTable(hosts, results)) c.out << line << '\n';
    const bool all = std::all_of(results.begin(), results.end(), [](const BackupResult& r) { return r.ok; });
    return all ? ExitOk : ExitDevice;
}

int dispatch(const CommandInfo& info, Context& c)
{
    const QString name = QString::fromLatin1(info.name);
    if (name == "new") return cmdNew(c);
    if (name == "dump") return cmdDump(c);
    if (name == "diff") return cmdDiff(c);
    if (name == "curve") return cmdCurve(c);
    if (name == "info") return cmdInfo(c);
    if (name == "read") return cmdRead(c);
    if (name == "download") return cmdDownload(c);
    if (name == "save-memory") return cmdSaveMemory(c);
    if (name == "backup-ic") return cmdBackupIc(c);
    if (name == "restart") return cmdRestart(c);
    if (name == "get") return cmdGet(c);
    if (name == "set") return cmdSet(c);
    if (name == "netconfig") return cmdNetconfig(c);
    if (name == "backup") return cmdBackup(c);
    return cmdSerialNumber(c);
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

int runCtl(const QStringList& arguments, QTextStream& out, QTextStream& err,
           const std::function<void()>& startApplication)
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

    Context c{parser, positional, out, err, {}, setAside};
    if (scope != Scope::Offline) {
        const bool tcp = parser.isSet("tcp");
        const bool serial = parser.isSet("serial");
        if (scope == Scope::SerialOnly && tcp)
            return usage(err, QStringLiteral("%1 works on the serial port only").arg(name));
        if (!tcp && !serial && info.scope == Scope::FileOrDevice)
            return usage(err,
                         QStringLiteral("%1 needs two files, or one and --tcp HOST[:PORT] or --serial DEVICE").arg(name));
        if (tcp == serial) return usage(err, QStringLiteral("%1 needs one of --tcp HOST[:PORT] or --serial DEVICE").arg(name));
        if (tcp) {
            QString error;
            if (!parseTcp(parser.value("tcp"), c.link, error)) return usage(err, error);
        } else {
            c.link.serialDevice = parser.value("serial");
            if (c.link.serialDevice.isEmpty()) return usage(err, QStringLiteral("--serial needs a device"));
        }
        if (parser.isSet("timeout-ms")) {
            const auto ms = timeoutOption(parser);
            if (!ms) return usage(err, QStringLiteral("--timeout-ms takes 1..600000"));
            c.link.timeoutMs = *ms;
        }
    }

    if (!QCoreApplication::instance() && startApplication) startApplication();
    try {
        const int status = dispatch(info, c);
        out.flush();
        err.flush();
        return status;
    } catch (const LinkError& e) {
        out.flush();
        return deviceError(err, QString::fromStdString(e.what()));
    }
}

}  // namespace tk770
