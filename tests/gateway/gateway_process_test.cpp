// tk770-gateway as a program between the real simulator and real clients:
// tk770ctl and the panel through the binary passthrough on TCP and on a
// pseudo-terminal, every fault mode of the simulator seen through the text
// protocol, a client leaving in the middle of a request, the start without a
// processor, the audit log, refusals at start and SIGTERM.
#include "gateway_fixture.h"
#include "gui/Main.h"
#include "support/program_run.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>

#include <gtest/gtest.h>

using namespace tk770;
using namespace tk770::testing;

namespace {

ProgramRun runCtl(const QStringList& args) { return runProgram(ctlProgram(), args); }

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A loopback port nobody listens on (taken and given back).
quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class ThroughGateway : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SimProcess::available() || !gateway.programAvailable() || ctlProgram().isEmpty())
            GTEST_SKIP() << "simulator, gateway or tk770ctl not built";
    }
    void startSim(const QStringList& extra = {})
    {
        ASSERT_TRUE(sim.start(SimProcess::tcpArgs() + extra)) << sim.error().toStdString();
    }
    QString simDevice() const { return QStringLiteral("tcp:127.0.0.1:%1").arg(sim.tcpPort()); }
    void startGateway(const QString& device, const QStringList& extra = {},
                      const QStringList& readyLines = {QStringLiteral("ready")})
    {
        QStringList args{QStringLiteral("--device"), device,           QStringLiteral("--binary"),
                               QStringLiteral("127.0.0.1:0"), QStringLiteral("--text"), QStringLiteral("127.0.0.1:0"),
                               QStringLiteral("--http"),   QStringLiteral("off"), QStringLiteral("--retry-ms"),
                               QStringLiteral("100"),      QStringLiteral("--timeout-ms"), QStringLiteral("400")};
        // The fault rows count requests: no checks of the idle link in between.
        if (!extra.contains(QStringLiteral("--probe-ms"))) args << QStringLiteral("--probe-ms") << QStringLiteral("600000");
        ASSERT_TRUE(gateway.start(args + extra, 10000, readyLines)) << gateway.error().toStdString();
    }
    QString viaGateway() const { return QStringLiteral("127.0.0.1:%1").arg(gateway.announcedPort(QStringLiteral("binary"))); }
    quint16 textPort() const { return static_cast<quint16>(gateway.announcedPort(QStringLiteral("text"))); }
    QString scratch(const QString& name) { return sim.scratchPath(name); }

    SimProcess sim;
    SimProcess gateway{gatewayProgram()};
};

TEST_F(ThroughGateway, AnnouncesTheListenersItReallyBound)
{
    startSim();
    startGateway(simDevice());
    const QStringList lines = gateway.lines();
    ASSERT_EQ(lines.size(), 3) << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^binary 127\\.0\\.0\\.1:[1-9][0-9]*$")).match(lines[0]).hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^text 127\\.0\\.0\\.1:[1-9][0-9]*$")).match(lines[1]).hasMatch());
    EXPECT_EQ(lines[2], QStringLiteral("ready"));
    EXPECT_EQ(gateway.terminate(), 0) << "SIGTERM ends it cleanly";
}

TEST_F(ThroughGateway, ToolReadsAndWritesAsIfDirect)
{
    startSim();
    startGateway(simDevice());
    const QString direct = scratch(QStringLiteral("direct.qsdat"));
    const QString through = scratch(QStringLiteral("through.qsdat"));
    ASSERT_EQ(runCtl({QStringLiteral("set"), QStringLiteral("eq[2][5]"), QStringLiteral("-42"), QStringLiteral("--tcp"),
                      viaGateway()})
                  .status,
              0);
    ASSERT_EQ(runCtl({QStringLiteral("read"), QStringLiteral("-o"), through, QStringLiteral("--tcp"), viaGateway()}).status, 0);
    EXPECT_EQ(runCtl({QStringLiteral("get"), QStringLiteral("eq[2][5]"), QStringLiteral("--tcp"), viaGateway()}).out,
              QStringLiteral("-42\n"));
    // The mirror followed the passthrough write.
    TextClient text;
    ASSERT_TRUE(text.connectTo(textPort()));
    EXPECT_EQ(text.ask(QStringLiteral("get eq[2][5]")), QStringLiteral("OK -42"));
    // The simulator serves one client at a time: read it directly once the
    // gateway has let go.
    ASSERT_EQ(gateway.terminate(), 0);
    ASSERT_EQ(runCtl({QStringLiteral("read"), QStringLiteral("-o"), direct, QStringLiteral("--tcp"),
                      QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort())})
                  .status,
              0);
    EXPECT_EQ(fileBytes(through), fileBytes(direct));
}

TEST_F(ThroughGateway, SerialProcessorIsReframedForTcpClients)
{
    ASSERT_TRUE(sim.start(SimProcess::tcpArgs() + sim.ptyArgs())) << sim.error().toStdString();
    startGateway(QStringLiteral("serial:") + sim.ptyPath());
    const QString direct = scratch(QStringLiteral("direct.qsdat"));
    const QString through = scratch(QStringLiteral("through.qsdat"));
    ASSERT_EQ(runCtl({QStringLiteral("set"), QStringLiteral("master_volume"), QStringLiteral("33"), QStringLiteral("--tcp"),
                      viaGateway()})
                  .status,
              0);
    ASSERT_EQ(runCtl({QStringLiteral("read"), QStringLiteral("-o"), through, QStringLiteral("--tcp"), viaGateway()}).status, 0);
    ASSERT_EQ(runCtl({QStringLiteral("read"), QStringLiteral("-o"), direct, QStringLiteral("--tcp"),
                      QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort())})
                  .status,
              0);
    EXPECT_EQ(fileBytes(through), fileBytes(direct));
    // The processor saw the serial form of the write: lead byte, checksum over it.
    EXPECT_TRUE(sim.stderrText().contains(QStringLiteral("rx CA 06 01 31 00 01 21 24")))
        << sim.stderrText().right(400).toStdString();
    TextClient text;
    ASSERT_TRUE(text.connectTo(textPort()));
    EXPECT_EQ(text.ask(QStringLiteral("volume ?")), QStringLiteral("OK 3.3"));
}

TEST_F(ThroughGateway, PanelWorksThroughTheGatewayAndOthersSeeItsChanges)
{
    startSim();
    startGateway(simDevice());
    TextClient listener;
    ASSERT_TRUE(listener.connectTo(textPort()));
    ASSERT_EQ(listener.ask(QStringLiteral("subscribe")), QStringLiteral("OK"));

    TForm1 form;
    form.linkState().network_mode = 1;
    form.setTcpHost(QStringLiteral("127.0.0.1"));
    form.setTcpPort(gateway.announcedPort(QStringLiteral("binary")));
    form.N17->trigger();
    ASSERT_EQ(form.linkState().connected, 1);
    EXPECT_EQ(form.image().master_volume, 70);
    EXPECT_EQ(std::string(form.image().device_serial), "TK7700000001");

    form.suiTrackBar14->setValue(55);
    EXPECT_EQ(listener.line(), QStringLiteral("! volume 5.5"));
    ASSERT_EQ(gateway.terminate(), 0);
    EXPECT_EQ(runCtl({QStringLiteral("get"), QStringLiteral("master_volume"), QStringLiteral("--tcp"),
                      QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort())})
                  .out,
              QStringLiteral("55\n"));
}

TEST_F(ThroughGateway, ClientLeavingMidRequestPutsNobodyOutOfStep)
{
    // The first request after the gateway's own 19 reads is answered late.
    startSim({QStringLiteral("--fault"), QStringLiteral("delay:300@20")});
    startGateway(simDevice());
    QTcpSocket leaver, stayer;
    for (QTcpSocket* s : {&leaver, &stayer}) s->connectToHost(QStringLiteral("127.0.0.1"), gateway.announcedPort(QStringLiteral("binary")));
    ASSERT_TRUE(waitUntil([&] {
        return leaver.state() == QAbstractSocket::ConnectedState && stayer.state() == QAbstractSocket::ConnectedState;
    }));
    const auto send = [](QTcpSocket& s, const char* hex) {
        const Bytes frame = framesOf({hex})[0];
        s.write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
        s.flush();
    };
    send(leaver, "03 01 2C 00 0C");  // run B, answered after 300 ms
    // Gone once its request reached the processor (the gateway's own full
    // read asked for run B once before).
    ASSERT_TRUE(waitUntil([&] { return sim.stderrText().count(QStringLiteral("rx 03 01 2C 00 0C")) == 2; }));
    leaver.abort();
    // Three reads in a row: each reply must be the one asked for.
    const std::vector<std::pair<const char*, int>> reads{{"03 00 00 00 24", 36}, {"03 01 F4 00 28", 40}, {"03 01 31 00 01", 1}};
    for (const auto& [hex, length] : reads) {
        send(stayer, hex);
        ASSERT_TRUE(waitUntil([&, length = length] { return stayer.bytesAvailable() >= length + 6; }, 3000)) << hex;
        const QByteArray reply = stayer.read(length + 6);
        const Bytes request = framesOf({hex})[0];
        EXPECT_EQ(static_cast<std::uint8_t>(reply[0]), 0x03);
        EXPECT_EQ(static_cast<std::uint8_t>(reply[1]), request[1]) << hex;
        EXPECT_EQ(static_cast<std::uint8_t>(reply[2]), request[2]) << hex;
    }
    EXPECT_TRUE(stayer.readAll().isEmpty()) << "nothing more";
}

// ------------------------------------------------------ the fault modes

struct FaultRow {
    const char* name;
    bool serial;
    const char* fault;  // fires on the first request after the gateway's 19 reads
    const char* reply;  // to "volume 5.5"
    const char* after;  // to "volume ?" next
};

class GatewayFault : public ThroughGateway, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(GatewayFault, ClientSeesWhatTheProcessorDid)
{
    const FaultRow& row = GetParam();
    QStringList args = SimProcess::tcpArgs() + QStringList{QStringLiteral("--fault"), QString::fromLatin1(row.fault)};
    if (row.serial) args += sim.ptyArgs();
    ASSERT_TRUE(sim.start(args)) << sim.error().toStdString();
    startGateway(row.serial ? QStringLiteral("serial:") + sim.ptyPath() : simDevice());
    TextClient text;
    ASSERT_TRUE(text.connectTo(textPort()));
    EXPECT_EQ(text.ask(QStringLiteral("volume 5.5")), QString::fromLatin1(row.reply)) << row.name;
    EXPECT_EQ(text.ask(QStringLiteral("volume ?")), QString::fromLatin1(row.after)) << row.name;
    EXPECT_EQ(text.ask(QStringLiteral("volume 6.0"), 5000), QStringLiteral("OK 6.0")) << row.name << ": it recovers";
}

INSTANTIATE_TEST_SUITE_P(
    Table, GatewayFault,
    ::testing::Values(
        // The faults touch only the answer: the processor took the write, and
        // the gateway reads the block back before it reports the lost reply.
        FaultRow{"tcp_no_reply", false, "no-reply@20", "ERR no reply", "OK 5.5"},
        // The checksum of a TCP acknowledgement is not examined.
        FaultRow{"tcp_bad_checksum", false, "bad-checksum@20", "OK 5.5", "OK 5.5"},
        FaultRow{"tcp_short", false, "short@20", "ERR no reply", "OK 5.5"},
        FaultRow{"tcp_surplus", false, "surplus@20", "OK 5.5", "OK 5.5"},
        // Answered after the gateway's 400 ms wait: lost for that command.
        FaultRow{"tcp_delay", false, "delay:600@20", "ERR no reply", "OK 5.5"},
        FaultRow{"serial_no_reply", true, "no-reply@20", "ERR no reply", "OK 5.5"},
        // Nor that of a serial acknowledgement that echoes the write's header.
        FaultRow{"serial_bad_checksum", true, "bad-checksum@20", "OK 5.5", "OK 5.5"},
        FaultRow{"serial_short", true, "short@20", "ERR no reply", "OK 5.5"},
        FaultRow{"serial_surplus", true, "surplus@20", "OK 5.5", "OK 5.5"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ThroughGateway, ProcessorClosingIsToldAndTheLinkComesBack)
{
    startSim({QStringLiteral("--fault"), QStringLiteral("close@20")});
    startGateway(simDevice());
    TextClient listener, text;
    ASSERT_TRUE(listener.connectTo(textPort()));
    ASSERT_TRUE(text.connectTo(textPort()));
    ASSERT_EQ(listener.ask(QStringLiteral("subscribe")), QStringLiteral("OK"));
    EXPECT_EQ(text.ask(QStringLiteral("volume 5.5")), QStringLiteral("ERR no reply"));
    EXPECT_EQ(listener.line(), QStringLiteral("! link offline"));
    EXPECT_EQ(listener.line(), QStringLiteral("! link online"));
    // The write went in before the processor hung up: the new read shows it.
    EXPECT_EQ(listener.line(), QStringLiteral("! volume 5.5"));
    EXPECT_EQ(text.ask(QStringLiteral("volume ?")), QStringLiteral("OK 5.5"));
}

TEST_F(ThroughGateway, StartsOfflineAndBecomesReadyWhenTheProcessorComes)
{
    const quint16 port = unusedPort();
    startGateway(QStringLiteral("tcp:127.0.0.1:%1").arg(port), {}, {QStringLiteral("offline")});
    TextClient text;
    ASSERT_TRUE(text.connectTo(textPort()));
    EXPECT_EQ(text.ask(QStringLiteral("status")), QStringLiteral("OK offline"));
    EXPECT_EQ(text.ask(QStringLiteral("volume ?")), QStringLiteral("ERR offline"));
    ASSERT_TRUE(sim.start({QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(port)})) << sim.error().toStdString();
    QProcess& p = gateway.process();
    ASSERT_TRUE(waitUntil([&] { return p.canReadLine(); }, 10000));
    EXPECT_EQ(QString::fromUtf8(p.readLine()).trimmed(), QStringLiteral("ready"));
    EXPECT_EQ(text.ask(QStringLiteral("status")), QStringLiteral("OK online TK770 TK7700000001 V1.00"));
}

TEST_F(ThroughGateway, SerialReadReplyWithABadChecksumIsNotPassedOn)
{
    // The serial link's rule: a read reply whose checksum does not match is
    // not accepted, so the TCP client gets no reply and its own wait runs out.
    ASSERT_TRUE(sim.start(SimProcess::tcpArgs() + sim.ptyArgs()
                          + QStringList{QStringLiteral("--fault"), QStringLiteral("bad-checksum@20")}))
        << sim.error().toStdString();
    startGateway(QStringLiteral("serial:") + sim.ptyPath());
    const ProgramRun first = runCtl({QStringLiteral("get"), QStringLiteral("master_volume"), QStringLiteral("--tcp"),
                                  viaGateway(), QStringLiteral("--timeout-ms"), QStringLiteral("1000")});
    EXPECT_EQ(first.status, 1) << first.err.toStdString();
    EXPECT_TRUE(first.err.contains(QStringLiteral("Timed out"))) << first.err.toStdString();
    const ProgramRun second = runCtl({QStringLiteral("get"), QStringLiteral("master_volume"), QStringLiteral("--tcp"),
                                   viaGateway(), QStringLiteral("--timeout-ms"), QStringLiteral("1000")});
    EXPECT_EQ(second.status, 0) << second.err.toStdString();
    EXPECT_EQ(second.out, QStringLiteral("70\n"));
}

TEST_F(ThroughGateway, RestartThroughThePassthroughReadsTheSavedSettingsAgain)
{
    startSim({QStringLiteral("--restart-ms"), QStringLiteral("300")});
    startGateway(simDevice());
    TextClient listener, text;
    ASSERT_TRUE(listener.connectTo(textPort()));
    ASSERT_TRUE(text.connectTo(textPort()));
    ASSERT_EQ(listener.ask(QStringLiteral("subscribe")), QStringLiteral("OK"));
    // Changed, not saved: the restart brings the saved 7.0 back.
    EXPECT_EQ(text.ask(QStringLiteral("volume 2.0")), QStringLiteral("OK 2.0"));
    EXPECT_EQ(listener.line(), QStringLiteral("! volume 2.0"));
    const ProgramRun run = runCtl({QStringLiteral("restart"), QStringLiteral("--tcp"), viaGateway()});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(listener.line(5000), QStringLiteral("! volume 7.0"));
    EXPECT_EQ(text.ask(QStringLiteral("volume ?")), QStringLiteral("OK 7.0"));
}

TEST_F(ThroughGateway, ProcessorGoingAwayIsNoticedWithoutAnyClient)
{
    startSim();
    const int port = sim.tcpPort();
    startGateway(simDevice(), {QStringLiteral("--probe-ms"), QStringLiteral("100")});
    QProcess& p = gateway.process();
    sim.stop();
    ASSERT_TRUE(waitUntil([&] { return p.canReadLine(); }, 10000));
    EXPECT_EQ(QString::fromUtf8(p.readLine()).trimmed(), QStringLiteral("offline"));
    ASSERT_TRUE(sim.start({QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(port)})) << sim.error().toStdString();
    ASSERT_TRUE(waitUntil([&] { return p.canReadLine(); }, 10000));
    EXPECT_EQ(QString::fromUtf8(p.readLine()).trimmed(), QStringLiteral("ready"));
    EXPECT_TRUE(gateway.running());
}

TEST_F(ThroughGateway, AuditLogNamesTimeClientListenerAndChange)
{
    startSim();
    const QString audit = scratch(QStringLiteral("audit.log"));
    startGateway(simDevice(), {QStringLiteral("--audit"), audit});
    TextClient text;
    ASSERT_TRUE(text.connectTo(textPort()));
    EXPECT_EQ(text.ask(QStringLiteral("volume 5.5")), QStringLiteral("OK 5.5"));
    EXPECT_EQ(text.ask(QStringLiteral("format aux")), QStringLiteral("OK aux"));
    ASSERT_EQ(runCtl({QStringLiteral("set"), QStringLiteral("fade_time"), QStringLiteral("2"), QStringLiteral("--tcp"),
                      viaGateway()})
                  .status,
              0);
    ASSERT_TRUE(waitUntil([&] { return fileBytes(audit).count('\n') >= 3; }));
    const QStringList lines = QString::fromUtf8(fileBytes(audit)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << fileBytes(audit).toStdString();
    const QString time = QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z ");
    EXPECT_TRUE(QRegularExpression(time + QStringLiteral("127\\.0\\.0\\.1 text master_volume 70 -> 55$")).match(lines[0]).hasMatch())
        << lines[0].toStdString();
    EXPECT_TRUE(QRegularExpression(time + QStringLiteral("127\\.0\\.0\\.1 text input_format 1 -> 2$")).match(lines[1]).hasMatch())
        << lines[1].toStdString();
    EXPECT_TRUE(QRegularExpression(time + QStringLiteral("127\\.0\\.0\\.1 binary fade_time 4 -> 2$")).match(lines[2]).hasMatch())
        << lines[2].toStdString();
}

struct RefusalRow {
    QStringList args;
    int status;
    const char* says;
};

class GatewayRefusesToStart : public ThroughGateway, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(GatewayRefusesToStart, WithAReasonAndAStatus)
{
    QProcess p;
    p.start(gatewayProgram(), GetParam().args);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), GetParam().status);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(err.contains(QString::fromLatin1(GetParam().says))) << err.toStdString();
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty()) << "nothing announced";
}

INSTANTIATE_TEST_SUITE_P(
    Table, GatewayRefusesToStart,
    ::testing::Values(
        RefusalRow{{QStringLiteral("--device"), QStringLiteral("tcp:127.0.0.1"), QStringLiteral("--text"),
                    QStringLiteral("0.0.0.0:0"), QStringLiteral("--http"), QStringLiteral("off")},
                   2, "--token-file"},
        RefusalRow{{QStringLiteral("--device"), QStringLiteral("tcp:127.0.0.1"), QStringLiteral("--http"),
                    QStringLiteral("0.0.0.0:0"), QStringLiteral("--text"), QStringLiteral("off")},
                   2, "--token-file"},
        RefusalRow{{QStringLiteral("--device"), QStringLiteral("usb:1")}, 2, "--device wants"},
        RefusalRow{{QStringLiteral("--device"), QStringLiteral("tcp:127.0.0.1"), QStringLiteral("--binary"),
                    QStringLiteral("192.0.2.254:0"), QStringLiteral("--text"), QStringLiteral("off"),
                    QStringLiteral("--http"), QStringLiteral("off")},
                   1, "cannot listen on 192.0.2.254"},
        RefusalRow{{QStringLiteral("--device"), QStringLiteral("tcp:127.0.0.1"), QStringLiteral("--audit"),
                    QStringLiteral("/nonexistent-folder/audit.log"), QStringLiteral("--http"), QStringLiteral("off")},
                   1, "cannot open the audit file"}),
    [](const auto& info) { return "row" + std::to_string(info.index); });

}  // namespace
