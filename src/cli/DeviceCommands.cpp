#include "cli/DeviceCommands.h"

#include "cli/Backup.h"
#include "cli/Ctl.h"
#include "cli/DeviceSession.h"
#include "cli/ImageJson.h"
#include "core/cp936.h"
#include "core/field_table.h"
#include "core/file_output.h"
#include "core/project_file.h"
#include "core/send_unit.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cstring>
#include <optional>

namespace tk770 {

namespace {

// Brings the link up and reads all 19 blocks. False (message shown) on failure.
bool openAndRead(DeviceSession& session)
{
    session.open();
    return session.sequences().read_all() == Outcome::succeeded;
}

int cmdDiff(CommandContext& c)
{
    ParameterImage fromFile;
    DeviceIpText ip;
    const int result = loadProject(c.args[0], fromFile, ip);
    if (result != project_ok) return fileError(c.err, result, c.args[0]);
    // The file against what the processor holds now. device_ip_text is the
    // panel's record of where the processor was, not a setting the processor
    // holds, so it is not compared.
    DeviceSession session(c.link, c.err);
    if (!openAndRead(session)) return ExitDevice;
    return printDifferences(c, fieldDifferences(fromFile, session.image(), false));
}

int cmdInfo(CommandContext& c)
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

int cmdRead(CommandContext& c)
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

int cmdDownload(CommandContext& c)
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

int cmdSaveMemory(CommandContext& c)
{
    DeviceSession session(c.link, c.err);
    session.open();
    return session.sequences().save_to_memory() == Outcome::succeeded ? ExitOk : ExitDevice;
}

int cmdBackupIc(CommandContext& c)
{
    DeviceSession session(c.link, c.err);
    session.open();
    return session.sequences().backup_ic() == Outcome::succeeded ? ExitOk : ExitDevice;
}

int cmdRestart(CommandContext& c)
{
    DeviceSession session(c.link, c.err);
    session.open();
    if (session.sequences().restart() != Outcome::succeeded)
        return deviceError(c.err, QStringLiteral("the processor did not acknowledge the restart"));
    return ExitOk;
}

int cmdGet(CommandContext& c)
{
    int status = ExitOk;
    const auto ref = fieldArgument(c, c.args[0], status);
    if (!ref) return status;
    DeviceSession session(c.link, c.err);
    if (!openAndRead(session)) return ExitDevice;
    c.out << fieldValueText(session.image(), *ref) << '\n';
    return ExitOk;
}

int cmdSet(CommandContext& c)
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

int cmdNetconfig(CommandContext& c)
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

int cmdSerialNumber(CommandContext& c)
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

int cmdBackup(CommandContext& c)
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

int dispatch(const QString& name, CommandContext& c)
{
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
    if (name == "diff") return cmdDiff(c);
    if (name == "serial-number") return cmdSerialNumber(c);
    return usage(c.err, QStringLiteral("unknown command '%1'").arg(name));
}

}  // namespace

int runDeviceCommand(const QString& name, CommandContext& c)
{
    // The link's failures end here: the caller sees an exit code only.
    try {
        return dispatch(name, c);
    } catch (const LinkError& e) {
        c.out.flush();
        return deviceError(c.err, QString::fromStdString(e.what()));
    }
}

}  // namespace tk770
