// The gateway against its baselines, each pair in one run against the
// same simulator: a full read through the gateway and directly (by the
// whole tk770ctl read and by the link's own full read), a text `volume`
// command's round trip beside the same write sent directly, and how soon a
// change reaches a subscribed text client.
#include "bench_main.h"
#include "link/sequences.h"
#include "link/tcp_transport.h"
#include "support/sim_process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#ifndef TK770_GATEWAY_PATH
#define TK770_GATEWAY_PATH ""
#endif

namespace {

using tk770::testing::SimProcess;

// Two identical simulators, one reached directly and one behind a gateway
// (a simulator serves one client at a time, and the gateway holds its
// line), shared by every benchmark.
struct Rig {
    SimProcess direct;
    SimProcess sim;
    SimProcess gateway{QStringLiteral(TK770_GATEWAY_PATH)};
    QString error;

    bool up()
    {
        if (gateway.running() && sim.running() && direct.running()) return true;
        // As in service: no frame traces to write.
        for (SimProcess* p : {&direct, &sim, &gateway}) p->setTracing(false);
        if (!direct.start(SimProcess::tcpArgs()) || !sim.start(SimProcess::tcpArgs())) {
            error = direct.error() + sim.error();
            return false;
        }
        const QStringList args{QStringLiteral("--device"), QStringLiteral("tcp:127.0.0.1:%1").arg(sim.tcpPort()),
                               QStringLiteral("--binary"), QStringLiteral("127.0.0.1:0"),
                               QStringLiteral("--text"),   QStringLiteral("127.0.0.1:0"),
                               QStringLiteral("--http"),   QStringLiteral("off")};
        if (!gateway.start(args)) {
            error = gateway.error();
            return false;
        }
        return true;
    }
    int port(bool throughGateway) const
    {
        return throughGateway ? gateway.announcedPort(QStringLiteral("binary")) : direct.tcpPort();
    }
    int textPort() const { return gateway.announcedPort(QStringLiteral("text")); }
};

Rig& rig()
{
    static Rig r;
    return r;
}

// Each iteration reads once directly and once through the gateway, one
// after the other, so a machine that gets busier during the run weighs on
// both alike. The iteration time is the read through the gateway; the
// direct read is the baseline_ms counter beside it.
template <typename Read>
void alternate(benchmark::State& state, Read read)
{
    if (!rig().up()) return state.SkipWithError(qPrintable(rig().error));
    double direct = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        if (!read(false)) return state.SkipWithError("the direct read failed");
        direct += static_cast<double>(t.nsecsElapsed()) / 1e9;
        t.restart();
        if (!read(true)) return state.SkipWithError("the read through the gateway failed");
        state.SetIterationTime(static_cast<double>(t.nsecsElapsed()) / 1e9);
    }
    state.counters["baseline_ms"] = direct * 1e3 / static_cast<double>(state.iterations());
}

void BM_CtlFullReadThroughGateway(benchmark::State& state)
{
    QTemporaryDir dir;
    alternate(state, [&](bool throughGateway) {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(QStringLiteral(TK770CTL_PATH),
                {QStringLiteral("read"), QStringLiteral("-o"), dir.filePath(QStringLiteral("r.qsdat")),
                 QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(rig().port(throughGateway))});
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    });
}
BENCHMARK(BM_CtlFullReadThroughGateway)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

// The link's 19 reads alone, without the tool's start-up around them.
struct LinkReader {
    tk770::QtTcpTransport tcp;
    tk770::LinkState link_state;
    tk770::SilentStatus quiet;
    tk770::ParameterImage image{};
    tk770::DeviceLink link{link_state, nullptr, &tcp, &quiet};
    tk770::DeviceSequences sequences{link, image};

    bool open(int port)
    {
        try {
            tcp.connect(QStringLiteral("127.0.0.1"), port);
        } catch (const tk770::LinkError&) {
            return false;
        }
        link_state.network_mode = 1;
        link_state.connected = 1;
        return true;
    }
    bool read()
    {
        try {
            return sequences.read_image() == 0;
        } catch (const tk770::LinkError&) {
            return false;
        }
    }
};

void BM_LinkFullReadThroughGateway(benchmark::State& state)
{
    if (!rig().up()) return state.SkipWithError(qPrintable(rig().error));
    LinkReader direct, through;
    if (!direct.open(rig().port(false)) || !through.open(rig().port(true)))
        return state.SkipWithError("cannot connect");
    alternate(state, [&](bool throughGateway) { return throughGateway ? through.read() : direct.read(); });
}
BENCHMARK(BM_LinkFullReadThroughGateway)->UseManualTime()->Iterations(500)->Unit(benchmark::kMillisecond);

// A text client in this process; the gateway is another process, so
// blocking waits are fine here.
struct Text {
    QTcpSocket socket;
    bool open(int port)
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return socket.waitForConnected(3000);
    }
    QByteArray line()
    {
        while (!socket.canReadLine())
            if (!socket.waitForReadyRead(3000)) return {};
        return socket.readLine();
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_TextVolumeRoundTrip(benchmark::State& state)
{
    if (!rig().up()) return state.SkipWithError(qPrintable(rig().error));
    Text text;
    if (!text.open(rig().textPort())) return state.SkipWithError("no text connection");
    std::vector<double> samples;
    bool high = false;
    for (auto _ : state) {
        high = !high;
        QElapsedTimer t;
        t.start();
        text.socket.write(high ? "volume 5.5\r\n" : "volume 6.0\r\n");
        const QByteArray reply = text.line();
        const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
        if (!reply.startsWith("OK")) return state.SkipWithError("the command was refused");
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1e3);
    }
    state.counters["median_ms"] = median(samples);
}
BENCHMARK(BM_TextVolumeRoundTrip)->UseManualTime()->Iterations(500)->Unit(benchmark::kMillisecond);

// The baseline: the same one-byte write sent straight to the simulator.
void BM_DirectVolumeWrite(benchmark::State& state)
{
    if (!rig().up()) return state.SkipWithError(qPrintable(rig().error));
    tk770::QtTcpTransport tcp;
    tk770::LinkState link_state;
    tk770::SilentStatus quiet;
    tk770::DeviceLink link{link_state, nullptr, &tcp, &quiet};
    std::vector<double> samples;
    try {
        tcp.connect(QStringLiteral("127.0.0.1"), rig().port(false));
        link_state.network_mode = 1;
        std::uint8_t value = 55;
        for (auto _ : state) {
            value = value == 55 ? 60 : 55;
            QElapsedTimer t;
            t.start();
            if (link.write_block(tk770::write_unit(tk770::UnitKind::master_volume).device_address, 1, &value) != 0)
                return state.SkipWithError("the write was refused");
            const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
            state.SetIterationTime(seconds);
            samples.push_back(seconds * 1e3);
        }
    } catch (const tk770::LinkError& e) {
        return state.SkipWithError(e.what());
    }
    state.counters["median_ms"] = median(samples);
}
BENCHMARK(BM_DirectVolumeWrite)->UseManualTime()->Iterations(500)->Unit(benchmark::kMillisecond);

// From the command leaving one client to the notification reaching another.
void BM_ChangeReachesSubscriber(benchmark::State& state)
{
    if (!rig().up()) return state.SkipWithError(qPrintable(rig().error));
    Text sender, listener;
    if (!sender.open(rig().textPort()) || !listener.open(rig().textPort()))
        return state.SkipWithError("no text connection");
    listener.socket.write("subscribe\r\n");
    if (!listener.line().startsWith("OK")) return state.SkipWithError("subscribe refused");
    std::vector<double> samples;
    bool high = false;
    for (auto _ : state) {
        high = !high;
        QElapsedTimer t;
        t.start();
        sender.socket.write(high ? "volume 4.5\r\n" : "volume 5.0\r\n");
        sender.socket.flush();
        const QByteArray note = listener.line();
        const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
        if (!note.startsWith("! volume")) return state.SkipWithError("no notification");
        if (!sender.line().startsWith("OK")) return state.SkipWithError("the command was refused");
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1e3);
    }
    state.counters["median_ms"] = median(samples);
}
BENCHMARK(BM_ChangeReachesSubscriber)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return run_benchmarks<QCoreApplication>(argc, argv); }
