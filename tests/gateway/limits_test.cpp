// Clients that misbehave, and clients that are not allowed: the client cap
// of each listener, connect floods, request floods without reading, idle
// text clients, the token of the text protocol and the binary listener's
// allowed networks.
#include "gateway_fixture.h"

#include <gtest/gtest.h>

using namespace tk770;
using namespace tk770::testing;

namespace {

QByteArray readRequest()
{
    const Bytes frame = framesOf({"03 00 00 00 24"})[0];  // block 1, 36 bytes
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));
}

enum class Listener { binary, text };

class ListenerLimits : public ::testing::TestWithParam<Listener> {
protected:
    void SetUp() override { ASSERT_TRUE(gw.start()); }
    quint16 port() { return GetParam() == Listener::text ? gw.textPort() : gw.binaryPort(); }
    ProcessorServer& server()
    {
        return GetParam() == Listener::text ? gw.gateway->text()->server() : gw.gateway->passthrough()->server();
    }
    // One exchange on the listener: a text command or a block read.
    bool answered(QTcpSocket& socket)
    {
        socket.write(GetParam() == Listener::text ? QByteArray("volume ?\r\n") : readRequest());
        const qint64 wanted = GetParam() == Listener::text ? 8 : 36 + 6;
        return waitUntil([&] { return socket.bytesAvailable() >= wanted; }, 3000) && !socket.readAll().isEmpty();
    }

    InProcessGateway gw;
};

TEST_P(ListenerLimits, SixteenClientsAreServedAtOnceAndTheSeventeenthIsClosed)
{
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 16; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QStringLiteral("127.0.0.1"), port());
    }
    ASSERT_TRUE(waitUntil([&] { return server().servedCount() == 16; }));
    for (auto& c : clients) EXPECT_TRUE(answered(*c));

    QTcpSocket extra;
    extra.connectToHost(QStringLiteral("127.0.0.1"), port());
    EXPECT_TRUE(waitUntil([&] { return extra.state() == QAbstractSocket::UnconnectedState; }, 3000));
    EXPECT_EQ(server().servedCount(), 16);

    // A place that comes free is taken by the next client.
    clients.front()->abort();
    ASSERT_TRUE(waitUntil([&] { return server().servedCount() == 15; }));
    QTcpSocket next;
    next.connectToHost(QStringLiteral("127.0.0.1"), port());
    EXPECT_TRUE(waitUntil([&] { return next.state() == QAbstractSocket::ConnectedState; }));
    EXPECT_TRUE(answered(next));
}

TEST_P(ListenerLimits, AThousandConnectAndCloseLeaveNothingBehind)
{
    for (int i = 0; i < 1000; ++i) {
        QTcpSocket s;
        s.connectToHost(QStringLiteral("127.0.0.1"), port());
        ASSERT_TRUE(waitUntil([&] { return s.state() == QAbstractSocket::ConnectedState; })) << i;
        s.abort();
    }
    EXPECT_TRUE(waitUntil([&] { return server().servedCount() == 0; }));
    QTcpSocket last;
    last.connectToHost(QStringLiteral("127.0.0.1"), port());
    ASSERT_TRUE(waitUntil([&] { return last.state() == QAbstractSocket::ConnectedState; }));
    EXPECT_TRUE(answered(last));
}

TEST_P(ListenerLimits, AFloodWithoutReadingStaysBoundedAndOthersAreServed)
{
    QTcpSocket flooder;
    flooder.connectToHost(QStringLiteral("127.0.0.1"), port());
    ASSERT_TRUE(waitUntil([&] { return flooder.state() == QAbstractSocket::ConnectedState; }));
    const QByteArray one = GetParam() == Listener::text ? QByteArray("volume ?\r\n") : readRequest();
    QByteArray chunk;
    while (chunk.size() < 64 * 1024) chunk += one;
    qint64 peak = 0;
    // 8 MB offered; the flooder never reads a reply.
    for (int i = 0; i < 128 && flooder.state() == QAbstractSocket::ConnectedState; ++i) {
        flooder.write(chunk);
        waitUntil([&] { return flooder.bytesToWrite() < 256 * 1024; }, 50);
        peak = std::max(peak, server().heldBytes());
    }
    EXPECT_LT(peak, 1024 * 1024) << "what the gateway holds for one client stays small";

    QTcpSocket other;
    other.connectToHost(QStringLiteral("127.0.0.1"), port());
    ASSERT_TRUE(waitUntil([&] { return other.state() == QAbstractSocket::ConnectedState; }));
    EXPECT_TRUE(answered(other)) << "another client is still served";
}

INSTANTIATE_TEST_SUITE_P(Both, ListenerLimits, ::testing::Values(Listener::binary, Listener::text),
                         [](const auto& info) { return info.param == Listener::text ? "text" : "binary"; });

TEST(TextIdle, SilentClientIsClosedAndATalkingOneStays)
{
    GatewayOptions options = loopbackOptions();
    options.textIdleMs = 300;
    InProcessGateway gw(options);
    ASSERT_TRUE(gw.start());
    TextClient silent, talking, halfLine;
    ASSERT_TRUE(silent.connectTo(gw.textPort()));
    ASSERT_TRUE(talking.connectTo(gw.textPort()));
    ASSERT_TRUE(halfLine.connectTo(gw.textPort()));
    halfLine.send("volu");  // half a line is not a command, and no activity after it

    QDeadlineTimer until(700);
    while (!until.hasExpired()) {
        EXPECT_EQ(talking.ask("volume ?"), "OK 7.0");
        waitUntil([] { return false; }, 100);
    }
    EXPECT_TRUE(silent.closedWithin(2000));
    EXPECT_TRUE(halfLine.closedWithin(2000));
    EXPECT_EQ(talking.socket().state(), QAbstractSocket::ConnectedState);
}

// ------------------------------------------------------------------ token

struct AuthRow {
    const char* first;   // the client's first line
    const char* reply;
    bool closed;
};

class TextToken : public ::testing::TestWithParam<AuthRow> {};

TEST_P(TextToken, FirstLineMustPresentTheToken)
{
    GatewayOptions options = loopbackOptions();
    options.token = "s3cret-Token";
    InProcessGateway gw(options);
    ASSERT_TRUE(gw.start());
    TextClient client;
    ASSERT_TRUE(client.connectTo(gw.textPort()));
    gw.sim.clearRecord();
    client.send(QByteArray(GetParam().first) + "\r\nvolume 5.5\r\n");
    EXPECT_EQ(client.line(), GetParam().reply);
    if (GetParam().closed) {
        EXPECT_TRUE(client.closedWithin(3000));
        EXPECT_TRUE(gw.sim.tcpFrames().empty()) << "nothing reaches the processor";
    } else {
        EXPECT_EQ(client.line(), "OK 5.5");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, TextToken,
                         ::testing::Values(AuthRow{"auth s3cret-Token", "OK", false},
                                           AuthRow{"AUTH s3cret-Token", "OK", false},
                                           AuthRow{"auth s3cret-token", "ERR auth required", true},
                                           AuthRow{"auth s3cret-Token2", "ERR auth required", true},
                                           AuthRow{"auth", "ERR auth required", true},
                                           AuthRow{"volume ?", "ERR auth required", true},
                                           AuthRow{"status", "ERR auth required", true}),
                         [](const auto& info) { return "row" + std::to_string(info.index); });

TEST(TokenMatches, ComparesWholeTokens)
{
    EXPECT_TRUE(tokenMatches("abc", "abc"));
    EXPECT_FALSE(tokenMatches("abd", "abc"));
    EXPECT_FALSE(tokenMatches("ab", "abc"));
    EXPECT_FALSE(tokenMatches("abcd", "abc"));
    EXPECT_FALSE(tokenMatches("", "abc"));
    EXPECT_FALSE(tokenMatches("", "")) << "no token configured matches nothing";
}

// ------------------------------------------------------------------ allow

TEST(BinaryAllow, PeersOutsideTheAllowedNetworksAreClosedAtOnce)
{
    for (const bool allowLoopback : {false, true}) {
        GatewayOptions options = loopbackOptions();
        options.binary.host = QHostAddress(QHostAddress::AnyIPv4);
        if (allowLoopback) options.allow = {QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8"))};
        InProcessGateway gw(options);
        ASSERT_TRUE(gw.start());
        QTcpSocket client;
        client.connectToHost(QStringLiteral("127.0.0.1"), gw.binaryPort());
        ASSERT_TRUE(waitUntil([&] { return client.state() != QAbstractSocket::ConnectingState
                                            && client.state() != QAbstractSocket::HostLookupState; }));
        client.write(readRequest());
        if (allowLoopback) {
            EXPECT_TRUE(waitUntil([&] { return client.bytesAvailable() >= 42; }));
        } else {
            EXPECT_TRUE(waitUntil([&] { return client.state() == QAbstractSocket::UnconnectedState; }));
            EXPECT_EQ(client.bytesAvailable(), 0);
        }
    }
}

TEST(BinaryAllow, NetworksMatchByPrefix)
{
    const QList<QPair<QHostAddress, int>> allow{QHostAddress::parseSubnet(QStringLiteral("192.0.2.0/24")),
                                                QHostAddress::parseSubnet(QStringLiteral("2001:db8::/32"))};
    EXPECT_TRUE(peerAllowed(QHostAddress(QStringLiteral("192.0.2.77")), allow));
    EXPECT_TRUE(peerAllowed(QHostAddress(QStringLiteral("::ffff:192.0.2.9")), allow)) << "IPv4 seen through IPv6";
    EXPECT_TRUE(peerAllowed(QHostAddress(QStringLiteral("2001:db8::5")), allow));
    EXPECT_FALSE(peerAllowed(QHostAddress(QStringLiteral("192.0.3.1")), allow));
    EXPECT_FALSE(peerAllowed(QHostAddress(QStringLiteral("127.0.0.1")), allow));
    EXPECT_FALSE(peerAllowed(QHostAddress(QStringLiteral("192.0.2.1")), {}));
}

}  // namespace
