// The processor server shell in process, with a small scripted responder
// and real sockets on a free loopback port: late replies, departed clients,
// and the limits that keep a flooding, greedy or silent client from growing
// memory or holding the line.
#include "link/processor_server.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace tk770 {
namespace {

constexpr int wait_ms = 10000;  // generous: the machine is shared; every wait ends earlier on success

using Bytes = std::vector<std::uint8_t>;

QByteArray readFrame(Framing framing, int address, int length)
{
    QByteArray out(static_cast<qsizetype>(frame_overhead(framing)), '\0');
    out.resize(static_cast<qsizetype>(
        build_read_request(framing, address, length, std::span(reinterpret_cast<std::uint8_t*>(out.data()),
                                                                 static_cast<std::size_t>(out.size())))));
    return out;
}

QByteArray writeFrame(int address, const QByteArray& data)
{
    QByteArray out(static_cast<qsizetype>(frame_overhead(Framing::tcp)) + data.size(), '\0');
    out.resize(static_cast<qsizetype>(build_request(
        Framing::tcp, Command::write, address,
        std::span(reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())),
        std::span(reinterpret_cast<std::uint8_t*>(out.data()), static_cast<std::size_t>(out.size())))));
    return out;
}

// Runs the event loop until `done` holds or the deadline passes.
template <class Pred>
bool waitFor(Pred done, int ms = wait_ms)
{
    QDeadlineTimer deadline(ms);
    QTimer tick;
    tick.start(5);  // wakes the loop to look again
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Echoes each request as its reply, or holds them back for the test to
// answer; `replySize` stretches the echo to that many bytes.
class ScriptedResponder : public ProcessorResponder {
public:
    struct Held {
        ClientRef client;
        QByteArray frame;
    };

    void processRequest(const ClientRef& client, Framing, std::span<const std::uint8_t> frame) override
    {
        const QByteArray bytes(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));
        ++requests;
        if (hold) {
            held.push_back({client, bytes});
            return;
        }
        answer(client, bytes);
    }

    void bytesDropped(const ClientRef&, std::span<const std::uint8_t> bytes) override
    {
        dropped.append(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    }

    void answer(const ClientRef& client, QByteArray reply)
    {
        if (replySize > 0) reply = reply.leftJustified(replySize, '\x55');
        client->reply(std::span(reinterpret_cast<const std::uint8_t*>(reply.constData()),
                                static_cast<std::size_t>(reply.size())));
    }

    bool hold = false;
    qsizetype replySize = 0;
    long requests = 0;
    std::vector<Held> held;
    QByteArray dropped;
};

class ProcessorServerTest : public ::testing::Test {
protected:
    void start(ProcessorServerLimits limits = {})
    {
        server = std::make_unique<ProcessorServer>(responder, limits);
        QString error;
        ASSERT_TRUE(server->listenTcp(QHostAddress::LocalHost, 0, error)) << error.toStdString();
    }

    // A client socket, owned by the fixture, once its connection is made
    // (or refused: then it is unconnected).
    QTcpSocket* connectClient()
    {
        auto* socket = new QTcpSocket;
        sockets.emplace_back(socket);
        socket->connectToHost(QHostAddress::LocalHost, server->tcpPort());
        waitFor([&] {
            const auto state = socket->state();
            return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::UnconnectedState;
        });
        return socket;
    }

    QTcpSocket* connected()
    {
        QTcpSocket* socket = connectClient();
        return socket->state() == QAbstractSocket::ConnectedState ? socket : nullptr;
    }

    static bool closedByServer(QTcpSocket* socket, int ms = wait_ms)
    {
        return waitFor([&] { return socket->state() == QAbstractSocket::UnconnectedState; }, ms);
    }

    // Waits for `size` bytes on the socket and takes them.
    static QByteArray receive(QTcpSocket* socket, qsizetype size)
    {
        waitFor([&] { return socket->bytesAvailable() >= size; });
        return socket->read(size);
    }

    ScriptedResponder responder;
    std::unique_ptr<ProcessorServer> server;  // declared after the responder: it goes first
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
};

TEST_F(ProcessorServerTest, NextRequestWaitsForTheLateReplyAndReplyToADepartedClientIsDropped)
{
    start();
    responder.hold = true;
    QTcpSocket* first = connected();
    ASSERT_TRUE(first);
    const QByteArray a = readFrame(Framing::tcp, 0, 5);
    const QByteArray b = readFrame(Framing::tcp, 0x10, 2);
    first->write(a + b);  // two requests in one segment
    ASSERT_TRUE(waitFor([&] { return responder.held.size() == 1; }));
    EXPECT_FALSE(waitFor([&] { return responder.held.size() > 1; }, 100)) << "one request outstanding at a time";

    responder.answer(responder.held[0].client, responder.held[0].frame);
    EXPECT_EQ(receive(first, a.size()), a);
    ASSERT_TRUE(waitFor([&] { return responder.held.size() == 2; }));
    EXPECT_EQ(responder.held[1].frame, b);

    // The client leaves while its reply is held back: the responder hears
    // of it, and the late reply goes nowhere while the next client is served.
    const ClientRef departed = responder.held[1].client;
    bool goneSignalled = false;
    QObject::connect(departed.data(), &ProcessorClient::gone, [&] { goneSignalled = true; });
    QTcpSocket* second = connected();
    ASSERT_TRUE(second);
    second->write(a);
    first->abort();
    ASSERT_TRUE(waitFor([&] { return goneSignalled; }));
    EXPECT_FALSE(departed && departed->isConnected());
    if (departed) responder.answer(departed, b);  // must not reach anybody
    ASSERT_TRUE(waitFor([&] { return responder.held.size() == 3; }));
    responder.answer(responder.held[2].client, responder.held[2].frame);
    EXPECT_EQ(receive(second, a.size()), a);
    EXPECT_FALSE(waitFor([&] { return second->bytesAvailable() > 0; }, 100)) << "the departed client's reply";
}

TEST_F(ProcessorServerTest, ClientOverrunningABoundIsDisconnectedAndTheNextServed)
{
    struct Case {
        const char* what;
        std::size_t requestBuffer;
        qsizetype replySize;
        QByteArray request;
    };
    const Case cases[] = {
        {"a request larger than the whole request buffer", 64, 0, writeFrame(0, QByteArray(100, '\x01'))},
        {"a reply beyond the reply limit", frame_reader_capacity, 300 * 1024, readFrame(Framing::tcp, 0, 5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProcessorServerLimits limits;
        limits.requestBuffer = c.requestBuffer;
        limits.replyLimit = 256 * 1024;
        start(limits);
        responder.replySize = c.replySize;
        QTcpSocket* greedy = connected();
        QTcpSocket* next = connected();
        ASSERT_TRUE(greedy && next);
        greedy->write(c.request);
        EXPECT_TRUE(closedByServer(greedy));

        responder.replySize = 0;
        const QByteArray request = readFrame(Framing::tcp, 0, 5);
        next->write(request);
        EXPECT_EQ(receive(next, request.size()), request);
        sockets.clear();
    }
}

TEST_F(ProcessorServerTest, FlooderThatReadsNoRepliesIsNoLongerReadAndGivesWayWhenItLeaves)
{
    ProcessorServerLimits limits;
    limits.requestBuffer = 4096;
    limits.replyBacklog = 4096;
    start(limits);
    responder.replySize = 1000;  // replies outgrow the requests, as reads do
    QTcpSocket* flooder = connected();
    ASSERT_TRUE(flooder);
    flooder->setReadBufferSize(1024);  // Qt would otherwise take every reply in for it
    const QByteArray request = readFrame(Framing::tcp, 0, 1);
    const long total = 2 * 1024 * 1024 / request.size();
    flooder->write(request.repeated(total));  // 2 MiB, never reading a reply

    // The server stops taking requests once the replies back up (and the
    // socket buffers between the two are full); what it holds stays bounded
    // meanwhile. An unbounded server reads and answers the whole flood.
    qint64 mostHeld = 0;
    const auto sample = [&] {
        mostHeld = std::max(mostHeld, server->heldBytes());
        return false;
    };
    bool settled = false;
    for (QDeadlineTimer deadline(wait_ms); !settled && !deadline.hasExpired();) {
        const long before = responder.requests;
        waitFor(sample, 200);
        settled = responder.requests > 0 && responder.requests == before;
    }
    EXPECT_TRUE(settled) << "requests were still taken though no reply was";
    EXPECT_LT(responder.requests, total);
    EXPECT_LE(mostHeld, qint64(limits.requestBuffer) * 2 + limits.replyBacklog + 1000);

    QTcpSocket* next = connected();
    ASSERT_TRUE(next);
    next->write(request);
    flooder->abort();
    const QByteArray reply = receive(next, 1000);
    EXPECT_EQ(reply.left(request.size()), request);
}

TEST_F(ProcessorServerTest, SilentClientKeepsTheLineUntilSomebodyWaits)
{
    ProcessorServerLimits limits;
    limits.idleMs = 200;
    start(limits);
    const QByteArray request = readFrame(Framing::tcp, 0, 5);

    QTcpSocket* silent = connected();
    ASSERT_TRUE(silent);
    silent->write(request.left(2));  // two bytes and nothing more
    EXPECT_FALSE(closedByServer(silent, 3 * limits.idleMs)) << "nobody waits: an idle client is not dropped";

    // While its request is outstanding a client is waiting for us, not silent.
    responder.hold = true;
    silent->write(request.mid(2));
    ASSERT_TRUE(waitFor([&] { return responder.held.size() == 1; }));
    QTcpSocket* waiting = connected();
    ASSERT_TRUE(waiting);
    waiting->write(request);
    EXPECT_FALSE(closedByServer(silent, 3 * limits.idleMs));
    responder.hold = false;
    responder.answer(responder.held[0].client, responder.held[0].frame);
    EXPECT_EQ(receive(silent, request.size()), request);

    // Silent again with somebody waiting: it is closed and the other served.
    EXPECT_TRUE(closedByServer(silent));
    EXPECT_EQ(receive(waiting, request.size()), request);
}

TEST_F(ProcessorServerTest, SeventeenthWaitingClientIsClosedAtOnceAndTheOthersServedInTurn)
{
    start();
    ASSERT_EQ(server->limits().waitingClients, 16);
    QTcpSocket* current = connected();
    ASSERT_TRUE(current);
    std::vector<QTcpSocket*> waiting;
    for (int i = 0; i < 16; ++i) {
        waiting.push_back(connected());
        ASSERT_TRUE(waiting.back());
    }
    ASSERT_TRUE(waitFor([&] { return server->waitingCount() == 16; }));
    QTcpSocket* extra = connectClient();
    EXPECT_TRUE(closedByServer(extra));
    EXPECT_EQ(server->waitingCount(), 16);

    // The waiting ones are served in the order they came as each one leaves.
    const QByteArray request = readFrame(Framing::tcp, 0, 5);
    current->abort();
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        SCOPED_TRACE(i);
        waiting[i]->write(request);
        EXPECT_EQ(receive(waiting[i], request.size()), request);
        waiting[i]->abort();
    }
}

TEST(ProcessorServerSerial, FramesTheLineOneRequestAtATimeAndDropsAStalePartialFrame)
{
    ScriptedResponder responder;
    ProcessorServerLimits limits;
    limits.serialIdleMs = 100;
    ProcessorServer server(responder, limits);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("line"));
    QString error;
    ASSERT_TRUE(server.openPty(link, 0, error)) << error.toStdString();
    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    const auto put = [fd](const QByteArray& bytes) {
        return ::write(fd, bytes.constData(), static_cast<std::size_t>(bytes.size())) == bytes.size();
    };
    QByteArray line;
    const auto take = [&](qsizetype size) {
        waitFor([&] {
            char buffer[256];
            const auto n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) line.append(buffer, n);
            return line.size() >= size;
        });
        const QByteArray out = line.left(size);
        line.remove(0, out.size());
        return out;
    };

    responder.hold = true;
    const QByteArray a = readFrame(Framing::serial, 0, 5);
    const QByteArray b = readFrame(Framing::serial, 0x20, 1);
    ASSERT_TRUE(put(QByteArray::fromHex("00FF") + a + b));
    ASSERT_TRUE(waitFor([&] { return responder.held.size() == 1; }));
    EXPECT_EQ(responder.dropped, QByteArray::fromHex("00FF"));
    EXPECT_FALSE(waitFor([&] { return responder.held.size() > 1; }, 100)) << "one request outstanding at a time";
    responder.hold = false;
    responder.answer(responder.held[0].client, responder.held[0].frame);
    EXPECT_EQ(take(a.size() + b.size()), a + b);

    // Half a frame and then silence: given up, and the next frame stands alone.
    responder.dropped.clear();
    ASSERT_TRUE(put(a.left(3)));
    ASSERT_TRUE(waitFor([&] { return responder.dropped == a.left(3); }));
    ASSERT_TRUE(put(a));
    EXPECT_EQ(take(a.size()), a);
    ::close(fd);
}

}  // namespace
}  // namespace tk770
