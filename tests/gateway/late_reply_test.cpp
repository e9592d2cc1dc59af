// Answers that come late, through the gateway with several clients: the
// simulated processor holds back one reply past the gateway's wait, and the
// next client's request must get its own answer or none, never the late one.
// A write or store whose reply was lost is read back, so every client sees
// what the processor really holds.
#include "gateway/gateway.h"
#include "gateway_fixture.h"

#include <gtest/gtest.h>

#include <QTcpSocket>

#include <cstring>

using namespace tk770;
using namespace tk770::testing;

namespace {

// The processor's wait in the gateway, and how late the held-back reply
// comes: after the wait, well inside the next request's.
constexpr int reply_wait_ms = 500;
constexpr const char* late_by = "800";
// The gateway's first full read takes requests 1 to 19.
constexpr int first_request = 20;

// A passthrough client speaking the processor's TCP frames.
class FrameClient {
public:
    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        return waitUntil([this] { return m_socket.state() == QAbstractSocket::ConnectedState; });
    }
    void send(const Bytes& frame)
    {
        m_socket.write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
    }
    // The next `size` bytes, or what came before `ms` ran out.
    Bytes take(std::size_t size, int ms = 3000)
    {
        waitUntil([&] { return m_socket.bytesAvailable() >= static_cast<qint64>(size); }, ms);
        const QByteArray got = m_socket.read(static_cast<qint64>(size));
        return Bytes(got.begin(), got.end());
    }

private:
    QTcpSocket m_socket;
};

Bytes readRequest(int address, int length)
{
    Bytes frame(tcp_overhead);
    build_read_request(Framing::tcp, address, length, frame);
    return frame;
}

Bytes writeRequest(int address, const Bytes& data)
{
    Bytes frame(tcp_overhead + data.size());
    build_request(Framing::tcp, Command::write, address, data, frame);
    return frame;
}

// tk770-sim on a free port with the given faults, and a gateway in this
// process reaching it over the Qt transports as the program does.
class LateReplyTest : public ::testing::Test {
protected:
    void startWith(const QStringList& faults)
    {
        if (!SimProcess::available()) GTEST_SKIP() << "simulator not built";
        QStringList args = SimProcess::tcpArgs();
        for (const QString& f : faults) args << QStringLiteral("--fault") << f;
        ASSERT_TRUE(sim.start(args)) << sim.error().toStdString();
        GatewayOptions options = loopbackOptions();
        options.device = QStringLiteral("tcp:%1:%2").arg(sim.tcpHost()).arg(sim.tcpPort());
        options.timeoutMs = reply_wait_ms;
        gateway = std::make_unique<Gateway>(options);
        QString error;
        ASSERT_TRUE(gateway->start(error)) << error.toStdString();
        ASSERT_TRUE(waitUntil([this] { return gateway->link().isOnline(); }));
    }
    quint16 binaryPort() { return gateway->passthrough()->server().tcpPort(); }
    quint16 textPort() { return gateway->text()->server().tcpPort(); }
    // Whether the client's request is in the gateway's queue.
    bool queued(int jobs) { return waitUntil([&] { return gateway->link().queued() >= jobs; }); }

    SimProcess sim;
    std::unique_ptr<Gateway> gateway;
};

TEST_F(LateReplyTest, ReadGetsItsOwnBlockAfterAnotherClientsReadTimedOut)
{
    // Request 21, client A's read of block 0, is answered late.
    startWith({QStringLiteral("delay:%1@%2").arg(late_by).arg(first_request + 1)});
    FrameClient a;
    FrameClient b;
    ASSERT_TRUE(a.connectTo(binaryPort()));
    ASSERT_TRUE(b.connectTo(binaryPort()));

    Bytes text(16, 0);
    std::memcpy(text.data(), "Main hall, left", 15);
    b.send(writeRequest(0x1F4, text));
    ASSERT_EQ(b.take(tcp_overhead), build_ack(Framing::tcp, Command::write, 0x1F4, 16));

    a.send(readRequest(0, 16));
    ASSERT_TRUE(queued(1));
    b.send(readRequest(0x1F4, 16));
    EXPECT_EQ(b.take(16 + tcp_overhead), build_read_reply(Framing::tcp, 0x1F4, text))
        << "client B did not get its own block";
    EXPECT_EQ(std::memcmp(gateway->link().mirror().profile_text[0], text.data(), text.size()), 0)
        << "the gateway's copy took another block's bytes";
    EXPECT_TRUE(a.take(1, 200).empty()) << "client A's read timed out and gets no answer";
}

TEST_F(LateReplyTest, LateStoreAcknowledgementDoesNotAcknowledgeTheNextStore)
{
    // Request 20, client A's store, is acknowledged late; request 21 is the
    // gateway reading that block back; request 22, client B's store, is
    // never acknowledged. The processor carries out both stores.
    startWith({QStringLiteral("delay:%1@%2").arg(late_by).arg(first_request),
               QStringLiteral("no-reply@%1").arg(first_request + 2)});
    TextClient a;
    TextClient b;
    TextClient watcher;
    ASSERT_TRUE(a.connectTo(textPort()));
    ASSERT_TRUE(b.connectTo(textPort()));
    ASSERT_TRUE(watcher.connectTo(textPort()));
    ASSERT_EQ(watcher.ask(QStringLiteral("subscribe")).left(2), QStringLiteral("OK"));

    a.send("poweron mic\r\n");
    ASSERT_TRUE(queued(1));
    b.send("poweron digital\r\n");
    EXPECT_EQ(a.line(), QStringLiteral("ERR no reply"));
    EXPECT_EQ(b.line(), QStringLiteral("ERR no reply")) << "another store's late acknowledgement was taken";

    // Each store's block was read back: the copy, and every subscriber, hold
    // what the processor holds, which is client B's store.
    QStringList pushed;
    EXPECT_TRUE(waitUntil([&] {
        while (watcher.hasLine()) pushed << watcher.line();
        return !pushed.isEmpty() && pushed.last() == QStringLiteral("! poweron digital");
    })) << pushed.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(gateway->link().mirror().power_on_format, 0);
    EXPECT_EQ(b.ask(QStringLiteral("poweron ?")), QStringLiteral("OK digital"));
}

}  // namespace
