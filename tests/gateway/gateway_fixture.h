// What the gateway's tests share: waiting on a condition with a deadline
// while the event loop runs, a text-protocol client that never blocks the
// loop, the in-process processor behind the gateway's link, and the
// gateway and simulator programs started on free ports.
#pragma once

#include "gateway/gateway.h"
#include "support/recording_sim.h"
#include "support/sim_process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpSocket>

#include <functional>
#include <ostream>
#include <memory>

// Readable failure output for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace tk770::testing {

// Runs the event loop until `done` holds or `ms` ran out; the result of `done`.
inline bool waitUntil(const std::function<bool()>& done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

inline QString gatewayProgram()
{
#ifdef TK770_GATEWAY_PATH
    return QStringLiteral(TK770_GATEWAY_PATH);
#else
    return {};
#endif
}

inline QString ctlProgram()
{
#ifdef TK770CTL_PATH
    return QStringLiteral(TK770CTL_PATH);
#else
    return {};
#endif
}

// A client of the text protocol. Every wait runs the event loop, so a
// gateway in the same process keeps working meanwhile.
class TextClient {
public:
    bool connectTo(quint16 port, int ms = 3000)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        return waitUntil([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, ms);
    }
    void send(const QByteArray& bytes) { m_socket.write(bytes); }
    // The next line without its ending, or "<none>" when none came in time.
    QString line(int ms = 3000)
    {
        if (!waitUntil([this] { return m_socket.canReadLine(); }, ms)) return QStringLiteral("<none>");
        return QString::fromUtf8(m_socket.readLine()).trimmed();
    }
    // Sends one command and returns the next line.
    QString ask(const QString& command, int ms = 3000)
    {
        send(command.toUtf8() + "\r\n");
        return line(ms);
    }
    bool closedWithin(int ms)
    {
        return waitUntil([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }
    bool hasLine() { return m_socket.canReadLine(); }
    QTcpSocket& socket() { return m_socket; }

private:
    QTcpSocket m_socket;
};

// The in-process processor behind the gateway's link: TCP framing, or the
// serial line on port 1.
class InProcessConnector : public DeviceConnector {
public:
    InProcessConnector(RecordingSim& sim, bool tcp) : m_sim(sim), m_tcp(tcp) {}
    bool open(LinkState& state, QString&) override
    {
        if (m_tcp) {
            m_sim.sim().reconnect();
            state.network_mode = 1;
        } else {
            m_sim.open(1);
            state.network_mode = 0;
            state.serial_port = 1;
        }
        return true;
    }
    void close() override {}
    bool isOpen() const override { return !m_tcp || m_sim.sim().tcpConnected(); }
    SerialTransport* serial() override { return &m_sim; }
    TcpTransport* tcp() override { return &m_sim; }
    QString describe() const override { return QStringLiteral("in-process"); }

private:
    RecordingSim& m_sim;
    bool m_tcp;
};

// Options for a gateway on free loopback ports, without the web remote.
inline GatewayOptions loopbackOptions()
{
    GatewayOptions options;
    options.device = QStringLiteral("in-process");
    options.binary.port = 0;
    options.text.port = 0;
    options.http.on = false;
    // No check of an idle link between a test's steps: each row counts frames.
    options.probeMs = 600000;
    return options;
}

// A gateway in this process in front of the in-process processor.
struct InProcessGateway {
    explicit InProcessGateway(GatewayOptions options = loopbackOptions(), bool tcp = true)
    {
        gateway = std::make_unique<Gateway>(std::move(options), std::make_unique<InProcessConnector>(sim, tcp), false);
    }
    // Starts it and waits for its first full read.
    bool start()
    {
        QString error;
        if (!gateway->start(error)) return false;
        return waitUntil([this] { return gateway->link().isOnline(); });
    }
    quint16 textPort() { return gateway->text()->server().tcpPort(); }
    quint16 binaryPort() { return gateway->passthrough()->server().tcpPort(); }

    RecordingSim sim;
    std::unique_ptr<Gateway> gateway;
};

// The hex text of frames ("06 01 31 00 01 37"), each completed with its checksum.
inline std::vector<Bytes> framesOf(std::initializer_list<const char*> hexFrames)
{
    std::vector<Bytes> out;
    for (const char* text : hexFrames) {
        Bytes bytes;
        for (const QString& b : QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            bytes.push_back(static_cast<std::uint8_t>(b.toUInt(nullptr, 16)));
        out.push_back(withChecksum(bytes));
    }
    return out;
}

}  // namespace tk770::testing
