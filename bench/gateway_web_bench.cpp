// The gateway's web side against tk770-gateway in front of tk770-sim:
//
// - BM_ChangeToWebPage: a text client's `volume` change until an open
//   WebSocket has it (median_ms); the same change reaching a subscribed text
//   client, in the same iterations, is the baseline
//   (text_subscriber_median_ms).
// - BM_GatewaySoak: 16 clients at once (8 passthrough clients doing the
//   link's full read, 4 text clients changing the volume, 4 WebSockets
//   counting the changes) for --soak_seconds=N (default 30): every reply
//   counted, none lost or misrouted, and the gateway's peak memory.
// - BM_HostileWebClients: 64 connections that never finish a request, and
//   rounds of hostile requests (bodies claimed over the limit, foreign Host,
//   pipelined heads, LF-only heads) for --soak_seconds=N, while a
//   well-behaved client loads the page and the state every 100 ms: the
//   slowest of those loads (worst_page_ms) and the gateway's peak memory.
#include "bench_main.h"
#include "gateway/http_client.h"
#include "link/sequences.h"
#include "link/tcp_transport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using tk770::testing::GatewayPair;
using tk770::testing::waitUntil;
using tk770::testing::WebSocketClient;

int soakSeconds = 30;

// Lines of a text-protocol connection, collected as they come.
class TextLines {
public:
    bool open(GatewayPair& gateway)
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] {
            while (m_socket.canReadLine())
                m_lines.append(QString::fromUtf8(m_socket.readLine()).trimmed());
        });
        m_socket.connectToHost(GatewayPair::host(), gateway.port("text"));
        return m_socket.waitForConnected(5000);
    }
    void send(const QByteArray& line) { m_socket.write(line + "\r\n"); }
    // Takes the first line equal to `line`, dropping the ones before it.
    bool take(const QString& line)
    {
        const qsizetype at = m_lines.indexOf(line);
        if (at < 0)
            return false;
        m_lines.remove(0, at + 1);
        return true;
    }
    QStringList& lines() { return m_lines; }

private:
    QTcpSocket m_socket;
    QStringList m_lines;
};

// Spins the event loop until `done`; false after 5 s.
template <typename F>
bool spin(F done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

bool webHasVolume(WebSocketClient& web, const QString& value)
{
    auto& messages = web.messages();
    for (qsizetype i = 0; i < messages.size(); ++i) {
        if (messages[i]["type"].toString() == "change" && messages[i]["key"].toString() == "volume" &&
            messages[i]["value"].toString() == value) {
            messages.remove(0, i + 1);
            return true;
        }
    }
    return false;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_ChangeToWebPage(benchmark::State& state)
{
    GatewayPair gateway;
    if (!gateway.start()) {
        state.SkipWithError(qPrintable(gateway.error()));
        return;
    }
    TextLines writer, subscriber;
    WebSocketClient web;
    if (!writer.open(gateway) || !subscriber.open(gateway) ||
        !web.open("ws://" + gateway.listener("http") + "/ws")) {
        state.SkipWithError("a client could not connect");
        return;
    }
    subscriber.send("subscribe");
    if (!spin([&] { return subscriber.take("OK"); }) || web.waitFor("state").isEmpty()) {
        state.SkipWithError("no subscription");
        return;
    }
    std::vector<double> webMs, textMs;
    int n = 0;
    for (auto _ : state) {
        const QString value = (n % 2) ? QStringLiteral("2.0") : QStringLiteral("8.0");
        const QString notice = "! volume " + value;
        QElapsedTimer clock;
        clock.start();
        writer.send("volume " + value.toLatin1());
        qint64 textNs = -1, webNs = -1;
        const bool both = spin([&] {
            if (textNs < 0 && subscriber.take(notice))
                textNs = clock.nsecsElapsed();
            if (webNs < 0 && webHasVolume(web, value))
                webNs = clock.nsecsElapsed();
            return textNs >= 0 && webNs >= 0;
        });
        if (!both || !spin([&] { return writer.take("OK " + value); })) {
            state.SkipWithError("a change did not arrive");
            break;
        }
        state.SetIterationTime(double(webNs) / 1e9);
        webMs.push_back(double(webNs) / 1e6);
        textMs.push_back(double(textNs) / 1e6);
        ++n;
    }
    if (n > 0) {
        state.counters["median_ms"] = median(webMs);
        state.counters["text_subscriber_median_ms"] = median(textMs);
    }
}
BENCHMARK(BM_ChangeToWebPage)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

long vmHwmKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

void BM_GatewaySoak(benchmark::State& state)
{
    GatewayPair gateway;
    if (!gateway.start()) {
        state.SkipWithError(qPrintable(gateway.error()));
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(soakSeconds);

    // Passthrough: each thread its own link, as eight tk770ctl reads would be.
    std::atomic<long> reads{0}, badReads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 8; ++i) {
        readers.emplace_back([&, host = GatewayPair::host().toString(), port = gateway.port("binary")] {
            tk770::QtTcpTransport tcp;
            tk770::LinkState linkState;
            tk770::SilentStatus quiet;
            tk770::ParameterImage image{}, first{};
            tk770::DeviceLink link{linkState, nullptr, &tcp, &quiet};
            tk770::DeviceSequences sequences{link, image};
            try {
                tcp.connect(host, port);
            } catch (...) {
                ++badReads;
                return;
            }
            linkState.network_mode = 1;
            linkState.connected = 1;
            bool haveFirst = false;
            while (std::chrono::steady_clock::now() < deadline) {
                image.reset_to_defaults();
                if (sequences.read_image() != 0) {
                    ++badReads;
                    continue;
                }
                // Only the master volume moves during the soak; any other
                // difference is a block that came back to the wrong client.
                image.master_volume = first.master_volume;
                if (haveFirst && !(image == first))
                    ++badReads;
                if (!haveFirst) {
                    first = image;
                    haveFirst = true;
                }
                ++reads;
            }
        });
    }

    // Text: each client its own values, so a reply with another's value is misrouted.
    struct Text {
        TextLines lines;
        int step = 0;
        QString expected;
        long replies = 0;
        long misrouted = 0;
    };
    std::vector<std::unique_ptr<Text>> texts;
    std::vector<std::unique_ptr<WebSocketClient>> webs;
    for (int i = 0; i < 4; ++i) {
        texts.push_back(std::make_unique<Text>());
        webs.push_back(std::make_unique<WebSocketClient>());
        if (!texts.back()->lines.open(gateway) || !webs.back()->open("ws://" + gateway.listener("http") + "/ws")) {
            state.SkipWithError("a client could not connect");
            for (auto& t : readers)
                t.join();
            return;
        }
    }
    auto sendNext = [](Text& t, int index) {
        // Client i uses 2.5 * i .. 2.5 * i + 2.4, never the same value twice in a row.
        const int tenths = index * 25 + (t.step++ % 25);
        t.expected = "OK " + QString::number(tenths / 10.0, 'f', 1);
        t.lines.send("volume " + QByteArray::number(tenths / 10.0, 'f', 1));
    };
    for (int i = 0; i < 4; ++i)
        sendNext(*texts[i], i);

    for (auto _ : state) {
        while (std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            for (int i = 0; i < 4; ++i) {
                Text& t = *texts[i];
                while (!t.lines.lines().isEmpty()) {
                    const QString line = t.lines.lines().takeFirst();
                    ++t.replies;
                    if (line != t.expected)
                        ++t.misrouted;
                    sendNext(t, i);
                }
            }
        }
        // Let the last replies and pushes arrive.
        waitUntil([&] {
            for (auto& t : texts)
                if (t->lines.lines().isEmpty())
                    return false;
            return true;
        }, 3000);
    }
    for (auto& t : readers)
        t.join();

    long textReplies = 0, misrouted = 0, lost = 0;
    for (auto& t : texts) {
        if (!t->lines.lines().isEmpty()) {
            ++t->replies;
            if (t->lines.lines().first() != t->expected)
                ++t->misrouted;
        } else {
            ++lost;  // the last command had no reply
        }
        textReplies += t->replies;
        misrouted += t->misrouted;
    }
    long pushes = 0;
    waitUntil([&] {
        for (auto& w : webs) {
            long n = 0;
            for (const auto& m : w->messages())
                n += m["type"].toString() == "change" && m["key"].toString() == "volume";
            if (n < textReplies - misrouted)
                return false;
        }
        return true;
    }, 3000);
    for (auto& w : webs) {
        long n = 0;
        for (const auto& m : w->messages())
            n += m["type"].toString() == "change" && m["key"].toString() == "volume";
        pushes += n;
        lost += qMax(0L, (textReplies - misrouted) - n);
    }
    state.counters["passthrough_reads"] = double(reads);
    state.counters["text_replies"] = double(textReplies);
    state.counters["web_pushes"] = double(pushes);
    state.counters["lost_or_misrouted"] = double(lost + misrouted + badReads);
    state.counters["peak_rss_mb"] = double(vmHwmKb(gateway.gateway().process().processId())) / 1024.0;
    state.counters["seconds"] = soakSeconds;
}
BENCHMARK(BM_GatewaySoak)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_HostileWebClients(benchmark::State& state)
{
    GatewayPair gateway;
    if (!gateway.start({"--http-idle-ms", "5000"})) {
        state.SkipWithError(qPrintable(gateway.error()));
        return;
    }
    const QByteArray host = "Host: " + gateway.listener("http").toLatin1() + "\r\n";
    const QByteArray body = R"({"command":"volume","value":"1.1"})";
    const QByteArray hostile[] = {
        "POST /api/command HTTP/1.1\r\n" + host + "Content-Type: application/json\r\nContent-Length: 200000000\r\n\r\n" +
            QByteArray(60000, ' '),
        "POST /api/command HTTP/1.1\r\nHost: evil.example\r\nContent-Type: application/json\r\nContent-Length: " +
            QByteArray::number(body.size()) + "\r\n\r\n" + body,
        "GET /api/state HTTP/1.1\r\n" + host + "Upgrade: websocket\r\n\r\nGET /api/state HTTP/1.1\r\n" + host +
            "\r\nPOST /api/command HTTP/1.1\r\nHost: evil.example\r\nContent-Length: 5000\r\n\r\n" +
            QByteArray(5000, 'x'),
        "POST /api/command HTTP/1.1\n" + host.left(host.size() - 2) + "\nContent-Length: 7000\n\n" + QByteArray(7000, 'x'),
        "GET /api/state HTTP/1.1\r\n" + host + "X-Pad: " + QByteArray(9000, 'a') + "\r\n\r\n",
    };
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    auto topUp = [&] {
        std::erase_if(silent, [](const auto& s) { return s->state() == QAbstractSocket::UnconnectedState; });
        while (silent.size() < 64) {
            silent.push_back(std::make_unique<QTcpSocket>());
            silent.back()->connectToHost(GatewayPair::host(), gateway.port("http"));
            silent.back()->write("GET /api/state HTTP/1.1\r\n");
        }
    };
    double worstMs = 0;
    long loads = 0, failed = 0;
    for (auto _ : state) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(soakSeconds);
        tk770::testing::HttpClient page("http://" + gateway.listener("http"));
        while (std::chrono::steady_clock::now() < deadline) {
            topUp();
            std::vector<std::unique_ptr<QTcpSocket>> attackers;
            for (const QByteArray& bytes : hostile) {
                attackers.push_back(std::make_unique<QTcpSocket>());
                attackers.back()->connectToHost(GatewayPair::host(), gateway.port("http"));
                attackers.back()->write(bytes);
            }
            QElapsedTimer clock;
            clock.start();
            const bool ok = page.get("/").status == 200 && page.get("/api/state").status == 200;
            worstMs = std::max(worstMs, double(clock.nsecsElapsed()) / 1e6);
            ++loads;
            failed += !ok;
            waitUntil([] { return false; }, 100);
        }
    }
    state.counters["worst_page_ms"] = worstMs;
    state.counters["page_loads"] = double(loads);
    state.counters["failed_loads"] = double(failed);
    state.counters["peak_rss_mb"] = double(vmHwmKb(gateway.gateway().process().processId())) / 1024.0;
    state.counters["seconds"] = soakSeconds;
}
BENCHMARK(BM_HostileWebClients)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    // --soak_seconds=N is ours; the rest belongs to Google Benchmark.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--soak_seconds=", 15) == 0)
            soakSeconds = std::max(1, std::atoi(argv[i] + 15));
        else
            argv[kept++] = argv[i];
    }
    return run_benchmarks<QCoreApplication>(kept, argv);
}
