// The tool's device commands end to end against the simulated processor,
// checked by what the tool prints and by the frames in the simulator's trace.
#include "cli/ctl_runner.h"
#include "support/sim_process.h"

#include "core/parameter_image.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using tk770::testing::SimProcess;

namespace {

constexpr int file_image_start = 5;
constexpr int project_settings_end = 270;  // magic plus runs A and B

class DeviceTool : public testing::Test {
protected:
    void startSim(QStringList args)
    {
        if (!SimProcess::available()) GTEST_SKIP() << "simulator not built";
        ASSERT_TRUE(m_sim.start(args)) << m_sim.error().toStdString();
    }
    void startTcp(const QStringList& extra = {}) { startSim(SimProcess::tcpArgs() + extra); }
    void startPty(const QStringList& extra = {}) { startSim(m_sim.ptyArgs() + extra); }

    QStringList tcp() const
    {
        return {"--tcp", QStringLiteral("%1:%2").arg(m_sim.tcpHost()).arg(m_sim.tcpPort()), "--timeout-ms", "2000"};
    }
    QStringList serial() const { return {"--serial", m_sim.ptyPath()}; }

    // Requests the simulator received, as "XX XX ..." hex, from line `from` on.
    QStringList requests(int from = 0)
    {
        QStringList out;
        const QStringList lines = m_sim.stderrText().split('\n', Qt::SkipEmptyParts);
        for (int i = from; i < lines.size(); ++i)
            if (lines[i].startsWith("rx ")) out << lines[i].mid(3);
        return out;
    }
    int traceLength() { return static_cast<int>(m_sim.stderrText().split('\n', Qt::SkipEmptyParts).size()); }

    // Requests other than block reads.
    static QStringList writes(const QStringList& requests, bool serialFrames)
    {
        QStringList out;
        const QString read = serialFrames ? QStringLiteral("CA 03 ") : QStringLiteral("03 ");
        for (const auto& r : requests)
            if (!r.startsWith(read)) out << r;
        return out;
    }

    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    SimProcess m_sim;
    QTemporaryDir m_dir;
};

// ---- reading ----

TEST_F(DeviceTool, InfoShowsTheDeviceInformationAndProfileTexts)
{
    startTcp();
    const CtlRun r = runTool(QStringList{"info"} + tcp());
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 12) << r.out.toStdString();
    EXPECT_EQ(lines[0], "model: TK770");
    EXPECT_EQ(lines[1], "serial number: TK7700000001");
    EXPECT_EQ(lines[2], "firmware version: V1.00");
    EXPECT_EQ(lines[3], "firmware date: 2026-01-15");
    EXPECT_EQ(lines[4], "profile_text[0]: ");
    EXPECT_TRUE(r.err.contains("Load Success"));

    // The full read order, serial number before model.
    const QStringList reads = requests();
    ASSERT_EQ(reads.size(), 19);
    EXPECT_EQ(reads[0], "03 00 00 00 24 27");
    EXPECT_TRUE(reads[15].startsWith("03 03 44 00 10"));
    EXPECT_TRUE(reads[16].startsWith("03 03 34 00 10"));
}

TEST_F(DeviceTool, ReadReplacesBothFilesOrNeither)
{
    startTcp();
    const QString project = path("good.qsdat");
    ASSERT_TRUE(writeAll(project, "the calibration of hall 2"));
    const CtlRun r = runTool(QStringList{"read", "-o", project, "--json", path("missing/x.json")} + tcp());
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.err.contains("x.json: No such file or directory")) << r.err.toStdString();
    EXPECT_EQ(readAll(project), "the calibration of hall 2");
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"good.qsdat"})
        << "no temporary file is left behind";
}

TEST_F(DeviceTool, ReadWritesAProjectAndTheWholeImageAsJson)
{
    startTcp();
    ASSERT_EQ(runTool(QStringList{"set", "profile_text[3]", "影厅 3"} + tcp()).status, 0);
    const QString project = path("read.qsdat");
    const QString json = path("read.json");
    const CtlRun r = runTool(QStringList{"read", "-o", project, "--json", json} + tcp());
    ASSERT_EQ(r.status, 0) << r.err.toStdString();

    const CtlRun d = runTool({"dump", project});
    ASSERT_EQ(d.status, 0);
    const QJsonObject dumped = QJsonDocument::fromJson(d.out.toUtf8()).object();
    EXPECT_EQ(dumped["master_volume"].toInt(), 70);
    EXPECT_EQ(dumped["system_spare2"].toInt(), 83);
    EXPECT_EQ(dumped["device_ip_text"].toString(), m_sim.tcpHost());

    const QJsonObject whole = QJsonDocument::fromJson(readAll(json)).object();
    EXPECT_EQ(whole["device_model"].toString(), "TK770");
    EXPECT_EQ(whole["device_serial"].toString(), "TK7700000001");
    EXPECT_EQ(whole["firmware_version"].toString(), "V1.00");
    EXPECT_EQ(whole["firmware_date"].toString(), "2026-01-15");
    const QJsonArray texts = whole["profile_text"].toArray();
    ASSERT_EQ(texts.size(), 8);
    EXPECT_EQ(texts[3].toString(), QStringLiteral("影厅 3"));
    EXPECT_EQ(texts[0].toString(), QString());
    // Run A and B read the same in both.
    for (const char* key : {"eq", "tone", "sw_filter", "output_gain", "input_level"})
        EXPECT_EQ(whole[key], dumped[key]) << key;
}

// ---- set: one case per partial-write unit, checked frame by frame ----

struct SetCase {
    const char* field;
    const char* value;
    QString frame;  // TCP request, hex, against the simulator's start-up memory
    const char* got = nullptr;  // what get prints afterwards, when not the value
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << c.field << "=" << c.value; }

class SetSendsItsUnit : public DeviceTool, public testing::WithParamInterface<SetCase> {};

TEST_P(SetSendsItsUnit, SendsExactlyTheControlsFrame)
{
    startTcp();
    const auto& c = GetParam();
    const CtlRun r = runTool(QStringList{"set", c.field, QString::fromUtf8(c.value)} + tcp());
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList all = requests();
    EXPECT_EQ(all.size(), 20) << all.join('\n').toStdString();
    EXPECT_EQ(writes(all, false), QStringList{c.frame});

    const CtlRun g = runTool(QStringList{"get", c.field} + tcp());
    ASSERT_EQ(g.status, 0) << g.err.toStdString();
    EXPECT_EQ(g.out.trimmed(), QString::fromUtf8(c.got ? c.got : c.value).trimmed());
}

INSTANTIATE_TEST_SUITE_P(
    Units, SetSendsItsUnit,
    testing::Values(SetCase{"input_level[2]", "100", "06 00 00 00 05 50 50 64 50 50 AF"},
                    SetCase{"preset_flags", "31", "06 00 08 00 01 1F 2E"},
                    // Bit 2 (held as 4 at start) belongs to no MIC item and stays.
                    SetCase{"mic_routing", "3", "06 00 09 00 01 07 17", "7"},
                    SetCase{"sw_lpf_mode", "4", "06 00 0A 00 02 00 04 16"},
                    SetCase{"output_gain[7]", "60", "06 00 13 00 01 3C 56"},
                    SetCase{"output_delay[0]", "200", "06 00 14 00 01 C8 E3"},
                    SetCase{"polarity_flags", "255", "06 00 1C 00 01 FF 22"},
                    SetCase{"mute_flags", "128", "06 00 1D 00 01 80 A4"},
                    SetCase{"sw_filter[1].q", "38", "06 00 21 00 03 50 00 26 A0"},
                    SetCase{"tone[0].bass_freq", "10", "06 00 24 00 02 01 0A 37"},
                    SetCase{"tone[1].treble_gain", "-60", "06 00 2A 00 02 C4 03 F9"},
                    SetCase{"eq[2][11]", "-5", "06 00 81 00 01 FB 83"},
                    SetCase{"aux_source", "2", "06 01 2C 00 05 01 00 00 02 00 3B"},
                    SetCase{"master_volume", "100", "06 01 31 00 01 64 9D"},
                    SetCase{"test_signal_flags", "255", "06 01 32 00 02 FF 00 3A"},
                    SetCase{"test_signal", "5", "06 01 32 00 02 00 05 40"},
                    SetCase{"fade_time", "9", "10 01 34 00 01 09 4F"},
                    SetCase{"power_on_format", "2", "10 01 35 00 01 02 49"},
                    SetCase{"master_mute", "1", "06 01 36 00 01 01 3F"},
                    // The whole 40-byte row: "AB" and 38 zero bytes.
                    SetCase{"profile_text[1]", "AB",
                            "06 02 1C 00 28 41 42" + QString(" 00").repeated(38) + " CF"}),
    [](const auto& info) {
        std::string name = info.param.field;
        for (auto& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

// ---- set on a flag byte whose other bits belong to no control of the field ----

struct BitsCase {
    const char* field;
    int offset;           // image offset of the byte
    int held;             // what the processor holds there before the set
    const char* value;
    QString frame;        // the one write the set sends
};

void PrintTo(const BitsCase& c, std::ostream* os) { *os << c.field << "=" << c.value << " over " << c.held; }

class SetKeepsForeignBits : public DeviceTool, public testing::WithParamInterface<BitsCase> {};

TEST_P(SetKeepsForeignBits, SendsTheHeldByteWithOnlyTheFieldsBitsChanged)
{
    startTcp();
    const auto& c = GetParam();
    // Put the byte on the processor the way an operator would: download a project holding it.
    const QString project = path("held.qsdat");
    ASSERT_EQ(runTool({"new", "-o", project}).status, 0);
    QByteArray bytes = readAll(project);
    bytes[file_image_start + c.offset] = static_cast<char>(c.held);
    ASSERT_TRUE(writeAll(project, bytes));
    ASSERT_EQ(runTool(QStringList{"download", project} + tcp()).status, 0);

    const int mark = traceLength();
    const CtlRun r = runTool(QStringList{"set", c.field, QString::fromUtf8(c.value)} + tcp());
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(writes(requests(mark), false), QStringList{c.frame});
}

INSTANTIATE_TEST_SUITE_P(
    FlagBytes, SetKeepsForeignBits,
    testing::Values(BitsCase{"master_mute", TK770_OFFSET(master_mute), 0x82, "1", "06 01 36 00 01 83 C1"},
                    BitsCase{"preset_flags", TK770_OFFSET(preset_flags), 0xE0, "5", "06 00 08 00 01 E5 F4"},
                    BitsCase{"mic_routing", TK770_OFFSET(mic_routing), 0x04, "2", "06 00 09 00 01 06 16"},
                    // Every bit of the polarity byte is some channel's button: sent as given.
                    BitsCase{"polarity_flags", TK770_OFFSET(polarity_flags), 0x5A, "1", "06 00 1C 00 01 01 24"}),
    [](const auto& info) { return std::string(info.param.field); });

TEST_F(DeviceTool, RefusedSetSendsNothingAtAll)
{
    startTcp();
    const QList<QStringList> refused{{"set", "master_volume", "101"},
                                     {"set", "eq[0][0]", "-61"},
                                     {"set", "sw_filter[0].fc", "19"},
                                     {"set", "device_model", "X"},
                                     {"set", "eq[0][27]", "0"},
                                     {"set", "master_mute", "2"},
                                     {"set", "system_spare1", "1"}};
    for (const auto& args : refused) {
        const CtlRun r = runTool(args + tcp());
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
    }
    EXPECT_TRUE(requests().isEmpty()) << requests().join('\n').toStdString();
}

// ---- whole-image commands ----

TEST_F(DeviceTool, DownloadThenReadBackGivesTheProjectAndKeepsTheProfileTexts)
{
    startTcp();
    ASSERT_EQ(runTool(QStringList{"set", "profile_text[0]", "Hall"} + tcp()).status, 0);
    const QString project = path("mine.qsdat");
    ASSERT_EQ(runTool({"new", "-o", project}).status, 0);
    QByteArray bytes = readAll(project);
    const std::pair<int, int> patches[] = {{TK770_OFFSET(eq[6][26]), 0xC4}, {TK770_OFFSET(output_delay[3]), 150},
                                           {TK770_OFFSET(sw_filter[0].cut), 0x88}, {TK770_OFFSET(master_volume), 35},
                                           {TK770_OFFSET(system_spare2), 7}, {TK770_OFFSET(level_spare[1]), 9}};
    for (const auto& [offset, value] : patches) bytes[file_image_start + offset] = static_cast<char>(value);
    ASSERT_TRUE(writeAll(project, bytes));

    const int mark = traceLength();
    const CtlRun r = runTool(QStringList{"download", project} + tcp());
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("DownLoad Success"));
    const QStringList sent = writes(requests(mark), false);
    ASSERT_EQ(sent.size(), 16);
    EXPECT_EQ(sent[7], "06 01 5E 00 01 02 68");
    for (int i = 0; i < 16; ++i)
        if (i != 7) {
            EXPECT_TRUE(sent[i].startsWith("10 ")) << i << ": " << sent[i].toStdString();
        }

    const QString back = path("back.qsdat");
    ASSERT_EQ(runTool(QStringList{"read", "-o", back} + tcp()).status, 0);
    EXPECT_EQ(readAll(back).left(project_settings_end), bytes.left(project_settings_end));
    const CtlRun text = runTool(QStringList{"get", "profile_text[0]"} + tcp());
    EXPECT_EQ(text.out.trimmed(), "Hall");
}

struct CommandCase {
    const char* command;
    const char* frame;
    const char* message;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.command; }

class RegisterCommands : public DeviceTool, public testing::WithParamInterface<CommandCase> {};

TEST_P(RegisterCommands, WriteTheirCommandByte)
{
    startTcp();
    const auto& c = GetParam();
    const CtlRun r = runTool(QStringList{QString::fromLatin1(c.command)} + tcp());
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(requests(), QStringList{QString::fromLatin1(c.frame)});
    if (*c.message) {
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.message))) << r.err.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, RegisterCommands,
                         testing::Values(CommandCase{"save-memory", "06 01 5E 00 01 02 68", "Save To Memory Success"},
                                         CommandCase{"backup-ic", "06 01 5E 00 01 01 67", "Save To IC Card Success"},
                                         CommandCase{"restart", "06 01 5F 00 01 02 69", ""}),
                         [](const auto& info) {
                             std::string name = info.param.command;
                             for (auto& ch : name)
                                 if (ch == '-') ch = '_';
                             return name;
                         });

TEST_F(DeviceTool, RestartWaitsForASlowAcknowledgementBeyondTheNormalWait)
{
    // The acknowledgement comes after 1.5 s; the normal reply wait is 0.5 s.
    startTcp({"--restart-ms", "1500"});
    QStringList args = tcp();
    args.last() = "500";
    const CtlRun r = runTool(QStringList{"restart"} + args);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
}

// ---- failures ----

TEST(DeviceToolFailures, NothingListeningIsExitOneWithTheReason)
{
    // Take a free port and release it so nobody listens there.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const quint16 port = server.serverPort();
    server.close();
    for (const char* command : {"info", "save-memory", "restart"}) {
        const CtlRun r = runTool({QString::fromLatin1(command), "--tcp", QStringLiteral("127.0.0.1:%1").arg(port)});
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_TRUE(r.err.contains("refused", Qt::CaseInsensitive)) << r.err.toStdString();
    }
}

TEST(DeviceToolFailures, MissingSerialDeviceIsExitOne)
{
    const CtlRun r = runTool({"info", "--serial", "/nonexistent/tty"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("/nonexistent/tty")) << r.err.toStdString();
}

struct SilentCase {
    const char* what;
    QStringList simArgs;
    QStringList command;
    const char* message;
};

void PrintTo(const SilentCase& c, std::ostream* os) { *os << c.what; }

class SilentProcessor : public DeviceTool, public testing::WithParamInterface<SilentCase> {};

TEST_P(SilentProcessor, EndsWithExitOneInBoundedTime)
{
    const auto& c = GetParam();
    const bool overSerial = c.simArgs.contains("--pty-marker");
    QStringList simArgs = c.simArgs;
    simArgs.removeAll("--pty-marker");
    if (overSerial)
        startPty(simArgs);
    else
        startTcp(simArgs);
    QStringList link = overSerial ? serial() : tcp();
    if (!overSerial) link.last() = "300";
    const CtlRun r = runTool(c.command + link);
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.message), Qt::CaseInsensitive)) << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SilentProcessor,
    testing::Values(SilentCase{"tcp_no_reply", {"--fault", "no-reply:1"}, {"info"}, "Timed out"},
                    SilentCase{"tcp_closed", {"--fault", "close:1"}, {"get", "master_volume"}, ""},
                    SilentCase{"serial_no_reply", {"--pty-marker", "--fault", "no-reply:1"}, {"info"}, "Connect Fail!"},
                    SilentCase{"serial_bad_checksum", {"--pty-marker", "--fault", "bad-checksum:5"},
                               {"get", "eq[0][0]"}, "Connect Fail!"},
                    SilentCase{"serial_save_unanswered", {"--pty-marker", "--fault", "no-reply:1"}, {"save-memory"},
                               "Save Memory Fail!"},
                    SilentCase{"serial_network_read_unanswered", {"--pty-marker", "--fault", "no-reply:1"},
                               {"netconfig"}, "no valid reply"}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- serial port ----

TEST_F(DeviceTool, SerialInfoAndSetUseTheSerialFrames)
{
    startPty();
    const CtlRun info = runTool(QStringList{"info"} + serial());
    ASSERT_EQ(info.status, 0) << info.err.toStdString();
    EXPECT_TRUE(info.out.contains("model: TK770"));
    EXPECT_EQ(requests().first(), "CA 03 00 00 00 24 F1");

    const int mark = traceLength();
    ASSERT_EQ(runTool(QStringList{"set", "eq[2][11]", "-5"} + serial()).status, 0);
    EXPECT_EQ(writes(requests(mark), true), QStringList{"CA 06 00 81 00 01 FB 4D"});
}

TEST_F(DeviceTool, ComPortNamesMapThroughTheEnvironment)
{
    startPty();
    qputenv("TK770_COM3", m_sim.ptyPath().toLocal8Bit());
    const CtlRun r = runTool({"info", "--serial", "COM3"});
    qunsetenv("TK770_COM3");
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("serial number: TK7700000001"));
}

TEST_F(DeviceTool, NetconfigReadsAndWritesTheNetworkBlock)
{
    startPty();
    const CtlRun before = runTool(QStringList{"netconfig"} + serial());
    ASSERT_EQ(before.status, 0) << before.err.toStdString();
    EXPECT_EQ(before.out, "ip: 192.168.0.8\nmask: 255.255.255.0\ngateway: 192.168.0.1\n");
    EXPECT_EQ(requests(), QStringList{"CA 03 01 90 00 0C 6A"});

    const int mark = traceLength();
    const CtlRun write = runTool(QStringList{"netconfig", "10.0.0.5", "255.0.0.0", "10.0.0.1"} + serial());
    ASSERT_EQ(write.status, 0) << write.err.toStdString();
    EXPECT_EQ(requests(mark), QStringList{"CA 10 01 90 00 0C 0A 00 00 05 FF 00 00 00 0A 00 00 01 90"});

    const CtlRun after = runTool(QStringList{"netconfig"} + serial());
    EXPECT_EQ(after.out, "ip: 10.0.0.5\nmask: 255.0.0.0\ngateway: 10.0.0.1\n");
}

TEST_F(DeviceTool, SerialNumberIsStoredAndReadBack)
{
    startPty();
    const CtlRun r = runTool(QStringList{"serial-number", "SN123"} + serial());
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(requests(), QStringList{"CA 10 03 44 00 10 53 4E 31 32 33 00 00 00 00 00 00 00 00 00 00 00 68"});

    const CtlRun full = runTool(QStringList{"serial-number", "ABCDEFGHIJKLMNOP"} + serial());
    ASSERT_EQ(full.status, 0);
    const CtlRun info = runTool(QStringList{"info"} + serial());
    EXPECT_TRUE(info.out.contains("serial number: ABCDEFGHIJKLMNOP\n")) << info.out.toStdString();
}

}  // namespace
