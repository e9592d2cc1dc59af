// The tool's safety nets against the simulated processor: download --verify,
// the unconfirmed download step, diff of a project against the processor,
// and backup of several processors from a hosts file.
#include "cli/Backup.h"
#include "cli/ctl_runner.h"
#include "support/sim_process.h"

#include "core/parameter_image.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using tk770::testing::SimProcess;

namespace {

constexpr int file_image_start = 5;
// Every device command starts with the 19 block reads of a full read, so
// download step k is the simulator's request 19 + k.
constexpr int image_read_requests = 19;

QString tcpTarget(const SimProcess& sim) { return QStringLiteral("%1:%2").arg(sim.tcpHost()).arg(sim.tcpPort()); }

// A local port nobody listens on.
quint16 refusedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) return 1;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

class SafetyNets : public testing::Test {
protected:
    // Starts a simulator on TCP or on a pty with extra arguments.
    SimProcess& start(bool serial, const QStringList& extra = {})
    {
        auto sim = std::make_unique<SimProcess>();
        if (!SimProcess::available()) return *m_sims.emplace_back(std::move(sim));
        const QStringList where = serial ? sim->ptyArgs() : SimProcess::tcpArgs();
        EXPECT_TRUE(sim->start(where + extra)) << sim->error().toStdString();
        return *m_sims.emplace_back(std::move(sim));
    }
    static QStringList link(const SimProcess& sim, bool serial)
    {
        if (serial) return {"--serial", sim.ptyPath()};
        return {"--tcp", tcpTarget(sim), "--timeout-ms", "2000"};
    }
    // Requests the simulator received.
    static int requestCount(SimProcess& sim)
    {
        const QStringList trace = sim.stderrText().split('\n', Qt::SkipEmptyParts);
        return static_cast<int>(trace.filter(QRegularExpression("^rx ")).size());
    }

    // A new project with a few settings changed, so a download changes the processor.
    QString project(const char* name, const QByteArray& ip = {})
    {
        const QString p = path(name);
        EXPECT_EQ(runTool({"new", "-o", p}).status, 0);
        QByteArray bytes = readAll(p);
        bytes[file_image_start + TK770_OFFSET(master_volume)] = 35;
        bytes[file_image_start + TK770_OFFSET(eq[6][26])] = static_cast<char>(0xC4);
        bytes.replace(270, ip.size(), ip);
        EXPECT_TRUE(writeAll(p, bytes));
        return p;
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString path(const char* name) const { return path(QString::fromLatin1(name)); }

    void SetUp() override
    {
        if (!SimProcess::available()) GTEST_SKIP() << "simulator not built";
    }

    std::vector<std::unique_ptr<SimProcess>> m_sims;
    QTemporaryDir m_dir;
};

// ---- download --verify and the unconfirmed step ----

struct DownloadCase {
    const char* what;
    bool serial;
    QStringList simArgs;
    bool verify;
    int status;
    QString out;         // what --verify lists
    QString errLine;     // a line stderr must hold; empty: no step is named
};

void PrintTo(const DownloadCase& c, std::ostream* os) { *os << c.what; }

class Download : public SafetyNets, public testing::WithParamInterface<DownloadCase> {};

TEST_P(Download, VerifiesByReadingBackAndNamesAnUnconfirmedStep)
{
    const auto& c = GetParam();
    SimProcess& sim = start(c.serial, c.simArgs);
    QStringList args = QStringList{"download", project("p.qsdat")} + link(sim, c.serial);
    if (c.verify) args << "--verify";
    const CtlRun r = runTool(args);
    EXPECT_EQ(r.status, c.status) << r.err.toStdString();
    EXPECT_EQ(r.out, c.out);
    if (c.errLine.isEmpty()) {
        EXPECT_FALSE(r.err.contains("was not confirmed")) << r.err.toStdString();
    } else {
        EXPECT_TRUE(r.err.split('\n').contains(c.errLine)) << r.err.toStdString();
    }
    // --verify reads all 19 blocks again after the 16 steps.
    if (c.status == 0 || !c.out.isEmpty()) {
        EXPECT_EQ(requestCount(sim), image_read_requests + 16 + (c.verify ? image_read_requests : 0));
    }
}

QString request(int step) { return QStringLiteral("@%1").arg(image_read_requests + step); }

INSTANTIATE_TEST_SUITE_P(
    Cases, Download,
    testing::Values(
        DownloadCase{"tcp_verified", false, {}, true, 0, "", ""},
        DownloadCase{"serial_verified", true, {}, true, 0, "", ""},
        // Step 2 carries the tone block: bass gain 1 arrives as 0.
        DownloadCase{"tcp_corrupted_block", false, {"--fault", "corrupt" + request(2)}, true, 1,
                     "tone[0].bass_gain: 1 -> 0\n", ""},
        // Steps 5 and 9 start with eq[4][0] and the first profile text; an
        // empty text arrives as the control character 0x01, shown escaped.
        DownloadCase{"serial_corrupted_settings_and_text", true,
                     {"--fault", "corrupt" + request(5), "--fault", "corrupt" + request(9)}, true, 1,
                     "eq[4][0]: 0 -> 1\nprofile_text[0]: \"\" -> \"\\u0001\"\n", ""},
        // Without --verify the same damage goes unnoticed.
        DownloadCase{"tcp_corrupted_unverified", false, {"--fault", "corrupt" + request(6)}, false, 0, "", ""},
        // The store went through, only its acknowledgement was lost.
        DownloadCase{"serial_unconfirmed_text_row_verified", true, {"--fault", "no-reply" + request(9)}, true, 0, "",
                     "tk770ctl: download step 9 of 16 was not confirmed: profile_text[0] (40 bytes at device address "
                     "0x1F4)"},
        DownloadCase{"serial_unconfirmed_first_block", true, {"--fault", "no-reply" + request(1)}, false, 0, "",
                     "tk770ctl: download step 1 of 16 was not confirmed: input_level[0] to sw_filter[1].q (36 bytes at "
                     "device address 0x000)"},
        DownloadCase{"serial_unconfirmed_save", true, {"--fault", "no-reply" + request(8)}, false, 0, "",
                     "tk770ctl: download step 8 of 16 was not confirmed: the save to memory (1 byte at device address "
                     "0x15E)"},
        DownloadCase{"serial_unconfirmed_system_block", true, {"--fault", "no-reply" + request(7)}, false, 0, "",
                     "tk770ctl: download step 7 of 16 was not confirmed: input_format to system_spare2 (12 bytes at "
                     "device address 0x12C)"},
        // Two failed steps fail the download as before; nothing is verified.
        DownloadCase{"serial_two_unconfirmed_fail", true,
                     {"--fault", "no-reply" + request(3), "--fault", "no-reply" + request(4)}, true, 1, "", ""}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- diff against the processor ----

struct DriftCase {
    const char* what;
    bool serial;
    QStringList change;  // a set run first, or nothing
    QString out;
};

void PrintTo(const DriftCase& c, std::ostream* os) { *os << c.what; }

class Drift : public SafetyNets, public testing::WithParamInterface<DriftCase> {};

TEST_P(Drift, ListsWhatTheProcessorNoLongerHoldsAsInTheFile)
{
    const auto& c = GetParam();
    SimProcess& sim = start(c.serial);
    // Whatever host the file remembers, only the settings are compared.
    const QString file = project("calibrated.qsdat", "192.168.0.8");
    ASSERT_EQ(runTool(QStringList{"download", file} + link(sim, c.serial)).status, 0);
    if (!c.change.isEmpty()) {
        ASSERT_EQ(runTool(c.change + link(sim, c.serial)).status, 0);
    }
    const CtlRun r = runTool(QStringList{"diff", file} + link(sim, c.serial));
    EXPECT_EQ(r.status, c.out.isEmpty() ? 0 : 1) << r.err.toStdString();
    EXPECT_EQ(r.out, c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Drift,
    testing::Values(DriftCase{"tcp_unchanged", false, {}, ""}, DriftCase{"serial_unchanged", true, {}, ""},
                    DriftCase{"tcp_volume_changed", false, {"set", "master_volume", "50"}, "master_volume: 35 -> 50\n"},
                    DriftCase{"serial_band_changed", true, {"set", "eq[2][11]", "-5"}, "eq[2][11]: 0 -> -5\n"},
                    // Profile texts are not in a project file: no drift.
                    DriftCase{"tcp_profile_text_changed", false, {"set", "profile_text[2]", "Hall 2"}, ""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(SafetyNets, DriftDiffFailsLikeReadAndRefusesABadFileFirst)
{
    const QString file = project("calibrated.qsdat");
    const CtlRun refused =
        runTool({"diff", file, "--tcp", QStringLiteral("127.0.0.1:%1").arg(refusedPort())});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.out.isEmpty());
    EXPECT_TRUE(refused.err.contains("refused", Qt::CaseInsensitive)) << refused.err.toStdString();

    SimProcess& sim = start(false);
    const CtlRun missing = runTool(QStringList{"diff", path("missing.qsdat")} + link(sim, false));
    EXPECT_EQ(missing.status, 3) << missing.err.toStdString();
    EXPECT_EQ(requestCount(sim), 0) << "the processor is not asked for a file that cannot be read";

    const CtlRun silent = runTool(QStringList{"diff", file, "--serial", "/nonexistent/tty"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_TRUE(silent.err.contains("/nonexistent/tty")) << silent.err.toStdString();
}

// ---- backup ----

// One table line: name, target, result, seconds, columns two blanks apart.
struct TableLine {
    QString name, target, result, seconds;
};

TableLine tableLine(const QString& line)
{
    const QStringList columns = line.split(QRegularExpression("  +"));
    if (columns.size() != 4) return {line, {}, {}, {}};
    return {columns[0], columns[1], columns[2], columns[3]};
}

TEST_F(SafetyNets, BackupSavesEveryAnsweringProcessorAsReadWouldAndReportsTheOthers)
{
    SimProcess& hallA = start(false);
    SimProcess& silent = start(false, {"--fault", "no-reply:1"});
    SimProcess& hallC = start(true);
    ASSERT_EQ(runTool(QStringList{"set", "master_volume", "12"} + link(hallA, false)).status, 0);
    ASSERT_EQ(runTool(QStringList{"set", "profile_text[1]", "影厅 C"} + link(hallC, true)).status, 0);
    const QString dead = QStringLiteral("127.0.0.1:%1").arg(refusedPort());

    const QString hosts = path("hosts");
    ASSERT_TRUE(writeAll(hosts, "# the fleet\n"
                                "hall-A tcp:" + tcpTarget(hallA).toUtf8() + "\n"
                                "\n"
                                "silent\ttcp:" + tcpTarget(silent).toUtf8() + "   # answers nothing\n"
                                "影厅C serial:" + hallC.ptyPath().toUtf8() + "\r\n"
                                "  dead tcp:" + dead.toUtf8() + "\n"));
    const QString dir = path("backups");
    ASSERT_TRUE(QDir().mkpath(dir));

    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const CtlRun r = runTool({"backup", "--hosts", hosts, "--dir", dir, "--jobs", "3", "--timeout-ms", "300"});
    const QDateTime after = QDateTime::currentDateTime();
    EXPECT_EQ(r.status, 1) << r.err.toStdString();

    // The table, in hosts-file order.
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << r.out.toStdString();
    const struct {
        QString name, target, result;
    } expected[] = {
        {"hall-A", "tcp:" + tcpTarget(hallA), "ok"},
        {"silent", "tcp:" + tcpTarget(silent), "Timed out waiting for the processor at " + tcpTarget(silent)},
        {QStringLiteral("影厅C"), "serial:" + hallC.ptyPath(), "ok"},
        {"dead", "tcp:" + dead, "Connection refused (processor at " + dead + ")"},
    };
    for (int i = 0; i < 4; ++i) {
        const TableLine got = tableLine(lines[i]);
        EXPECT_EQ(got.name, expected[i].name) << lines[i].toStdString();
        EXPECT_EQ(got.target, expected[i].target) << lines[i].toStdString();
        EXPECT_EQ(got.result, expected[i].result) << lines[i].toStdString();
        EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d$").match(got.seconds).hasMatch()) << lines[i].toStdString();
    }

    // Two files for each processor that answered, named with one start time.
    const QStringList files = QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    ASSERT_EQ(files.size(), 4) << files.join(' ').toStdString();
    const QRegularExpression named("^(hall-A|影厅C)-(\\d{8}-\\d{6})\\.(json|qsdat)$");
    QString stamp;
    for (const QString& f : files) {
        const auto m = named.match(f);
        ASSERT_TRUE(m.hasMatch()) << f.toStdString();
        if (stamp.isEmpty()) stamp = m.captured(2);
        EXPECT_EQ(m.captured(2), stamp) << f.toStdString();
    }
    const QDateTime when = QDateTime::fromString(stamp, "yyyyMMdd-HHmmss");
    EXPECT_TRUE(when >= before && when <= after) << stamp.toStdString();

    // Byte for byte what read -o … --json … writes from the same processor.
    const struct {
        QString name;
        QStringList link;
    } saved[] = {{"hall-A", link(hallA, false)}, {QStringLiteral("影厅C"), link(hallC, true)}};
    for (const auto& s : saved) {
        const QString o = path("read.qsdat"), j = path("read.json");
        ASSERT_EQ(runTool(QStringList{"read", "-o", o, "--json", j} + s.link).status, 0);
        const QString base = dir + "/" + s.name + "-" + stamp;
        EXPECT_EQ(readAll(base + ".qsdat"), readAll(o)) << s.name.toStdString();
        EXPECT_EQ(readAll(base + ".json"), readAll(j)) << s.name.toStdString();
    }
    EXPECT_EQ(static_cast<unsigned char>(readAll(dir + "/hall-A-" + stamp + ".qsdat")[file_image_start +
                                                                                   TK770_OFFSET(master_volume)]),
              12);
    EXPECT_TRUE(readAll(dir + QStringLiteral("/影厅C-") + stamp + ".json").contains("影厅 C"));

    // Only answering processors: exit 0.
    ASSERT_TRUE(writeAll(hosts, "a tcp:" + tcpTarget(hallA).toUtf8() + "\nc serial:" + hallC.ptyPath().toUtf8() + "\n"));
    const CtlRun all = runTool({"backup", "--hosts", hosts, "--dir", dir});
    EXPECT_EQ(all.status, 0) << all.out.toStdString() << all.err.toStdString();
    EXPECT_EQ(all.out.split('\n', Qt::SkipEmptyParts).size(), 2);
}

TEST_F(SafetyNets, BackupRefusesABadHostsFileOrFolderAndContactsNothing)
{
    SimProcess& sim = start(false);
    const QString dir = path("backups");
    ASSERT_TRUE(QDir().mkpath(dir));
    const QByteArray good = "hall1 tcp:" + tcpTarget(sim).toUtf8() + "\n";
    const QString hosts = path("hosts");

    ASSERT_TRUE(writeAll(hosts, good + "hall/2 tcp:127.0.0.1\n" + "hall1 serial:/dev/ttyUSB0\n"));
    const CtlRun bad = runTool({"backup", "--hosts", hosts, "--dir", dir});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.out.isEmpty());
    EXPECT_TRUE(bad.err.contains(hosts + ": line 2: name 'hall/2' holds '/'")) << bad.err.toStdString();
    EXPECT_TRUE(bad.err.contains(hosts + ": line 3: name 'hall1' already on line 1")) << bad.err.toStdString();

    // The hosts file is good; the folder or the hosts file itself is not there.
    ASSERT_TRUE(writeAll(hosts, good));
    ASSERT_TRUE(writeAll(path("plain"), "x"));
    const struct {
        QString hosts, dir, message;
    } files[] = {{hosts, path("missing"), "missing: No such file or directory"},
                 {hosts, path("plain"), "plain: not a folder"},
                 {path("no-hosts"), dir, "no-hosts: No such file or directory"},
                 {m_dir.path(), dir, ": not a regular file"}};
    for (const auto& f : files) {
        const CtlRun r = runTool({"backup", "--hosts", f.hosts, "--dir", f.dir});
        EXPECT_EQ(r.status, 3) << f.message.toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(f.message)) << r.err.toStdString();
    }
    EXPECT_EQ(requestCount(sim), 0);
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// ---- the hosts file on its own ----

struct HostsCase {
    const char* what;
    QByteArray text;
    QStringList problems;  // empty: accepted
    QStringList accepted = {};  // "LINE NAME tcp HOST PORT" or "LINE NAME serial DEVICE"
};

void PrintTo(const HostsCase& c, std::ostream* os) { *os << c.what; }

class HostsFile : public testing::TestWithParam<HostsCase> {};

TEST_P(HostsFile, RefusesEachBadLineWithItsNumberAndReason)
{
    const auto& c = GetParam();
    const auto parsed = tk770::parseHostsFile(c.text);
    if (c.problems.isEmpty()) {
        ASSERT_TRUE(std::holds_alternative<QList<tk770::BackupHost>>(parsed))
            << std::get<QStringList>(parsed).join('\n').toStdString();
        QStringList got;
        for (const auto& h : std::get<QList<tk770::BackupHost>>(parsed))
            got << (h.link.target.isTcp()
                        ? QStringLiteral("%1 %2 tcp %3 %4").arg(h.line).arg(h.name, h.link.target.host).arg(h.link.target.port)
                        : QStringLiteral("%1 %2 serial %3").arg(h.line).arg(h.name, h.link.target.device));
        EXPECT_EQ(got, c.accepted);
    } else {
        ASSERT_TRUE(std::holds_alternative<QStringList>(parsed));
        EXPECT_EQ(std::get<QStringList>(parsed), c.problems);
    }
}

const QByteArray longName(tk770::max_backup_name_bytes + 1, 'n');

INSTANTIATE_TEST_SUITE_P(
    Lines, HostsFile,
    testing::Values(
        HostsCase{"comments_blanks_and_both_links",
                  "# halls\n\n  \t\nh1 tcp:10.0.0.5 # main hall\nh2 tcp:projection-2.local:15288\r\nh3 serial:COM3\n"
                  "h4 serial:/dev/ttyUSB0\n影厅5 tcp:10.0.0.6:1\n" + QByteArray(tk770::max_backup_name_bytes, 'n') +
                      " tcp:10.0.0.7\n",
                  {},
                  {"4 h1 tcp 10.0.0.5 15288", "5 h2 tcp projection-2.local 15288", "6 h3 serial COM3",
                   "7 h4 serial /dev/ttyUSB0", QStringLiteral("8 影厅5 tcp 10.0.0.6 1"),
                   "9 " + QString(tk770::max_backup_name_bytes, 'n') + " tcp 10.0.0.7 15288"}},
        HostsCase{"empty", "# nothing yet\n\n", {"no processor listed"}},
        HostsCase{"one_word", "hall1\n", {"line 1: expected NAME tcp:HOST[:PORT] or NAME serial:DEVICE"}},
        HostsCase{"three_words", "hall 1 tcp:h\n", {"line 1: expected NAME tcp:HOST[:PORT] or NAME serial:DEVICE"}},
        HostsCase{"slash", "a/b tcp:h\n", {"line 1: name 'a/b' holds '/'"}},
        HostsCase{"dot_dot", "\n..x tcp:h\n", {"line 2: name '..x' holds '..'"}},
        HostsCase{"control_character", "a\x1b[2Jb tcp:h\n", {"line 1: name 'a\\u001b[2Jb' holds a control character"}},
        HostsCase{"too_long_a_name", longName + " tcp:h\n",
                  {QStringLiteral("line 1: name longer than %1 bytes").arg(tk770::max_backup_name_bytes)}},
        HostsCase{"not_utf8", "h\xff tcp:h\n", {"line 1: not UTF-8"}},
        HostsCase{"unknown_link", "h udp:h\n", {"line 1: bad target 'udp:h' (tcp:HOST[:PORT] or serial:DEVICE)"}},
        HostsCase{"no_host", "h tcp:\n", {"line 1: bad target 'tcp:' (tcp:HOST[:PORT] or serial:DEVICE)"}},
        HostsCase{"two_colons", "h tcp:fe80::1\n",
                  {"line 1: bad target 'tcp:fe80::1' (tcp:HOST[:PORT] or serial:DEVICE)"}},
        HostsCase{"port_zero", "h tcp:h:0\n", {"line 1: bad port in 'tcp:h:0' (1..65535)"}},
        HostsCase{"port_too_big", "h tcp:h:65536\n", {"line 1: bad port in 'tcp:h:65536' (1..65535)"}},
        HostsCase{"port_not_a_number", "h tcp:h:80x\n", {"line 1: bad port in 'tcp:h:80x' (1..65535)"}},
        HostsCase{"host_too_long_for_a_project", "h tcp:a-very-long-host-name.example\n",
                  {"line 1: host in 'tcp:a-very-long-host-name.example' longer than 19 bytes does not fit a project"}},
        HostsCase{"no_device", "h serial:\n", {"line 1: target 'serial:' names no device"}},
        HostsCase{"control_in_target", "h serial:/dev/tty\x01\n",
                  {"line 1: target 'serial:/dev/tty\\u0001' holds a control character"}},
        HostsCase{"duplicate_name", "h tcp:a\nh tcp:b\n", {"line 2: name 'h' already on line 1"}},
        // The same processor twice: the default port and the host's case do not hide it.
        HostsCase{"duplicate_processor", "a tcp:Hall\nb tcp:hall:15288\n", {"line 2: 'tcp:hall:15288' already on line 1"}},
        HostsCase{"duplicate_port", "a serial:COM1\nb serial:COM1\n", {"line 2: 'serial:COM1' already on line 1"}},
        HostsCase{"every_bad_line_listed", "a/b tcp:h\nok tcp:h\nc tcp:h:0\n",
                  {"line 1: name 'a/b' holds '/'", "line 3: bad port in 'tcp:h:0' (1..65535)"}}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
