// The real tk770-sim program, started the way the link and tool tests start
// it, talked to with raw frames over TCP and over its pseudo-terminal.
#include "core/frame.h"
#include "support/sim_process.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int wait_ms = 10000;  // generous: the machine is shared; every wait ends earlier on success

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

// Requests, and the replies to expect, built by the codec the simulator is
// tested against; the hand-written hex strings pin the layout itself.
QByteArray frame(bool serial, quint8 cmd, int address, int length, const QByteArray& data = {})
{
    using namespace tk770;
    const Framing framing = serial ? Framing::serial : Framing::tcp;
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                              static_cast<std::size_t>(data.size()));
    std::vector<std::uint8_t> out(frame_overhead(framing) + bytes.size());
    if (cmd == static_cast<quint8>(Command::read) && !data.isEmpty())
        out = build_read_reply(framing, address, bytes);
    else if (cmd == static_cast<quint8>(Command::read))
        out.resize(build_read_request(framing, address, length, out));
    else
        out.resize(build_request(framing, static_cast<Command>(cmd), address, bytes, out));
    return QByteArray(reinterpret_cast<const char*>(out.data()), static_cast<qsizetype>(out.size()));
}

using tk770::testing::SimProcess;

// Sends a request and collects `expected` bytes of reply, or what came in time.
QByteArray exchange(QTcpSocket& socket, const QByteArray& request, int expected)
{
    socket.write(request);
    socket.waitForBytesWritten(wait_ms);
    QDeadlineTimer deadline(wait_ms);
    while (socket.bytesAvailable() < expected && !deadline.hasExpired())
        if (!socket.waitForReadyRead(int(deadline.remainingTime()))) break;
    return socket.read(expected);
}

QByteArray ptyExchange(int fd, const QList<QByteArray>& pieces, int expected)
{
    for (const auto& piece : pieces)
        if (::write(fd, piece.constData(), size_t(piece.size())) != piece.size()) return {};
    QByteArray reply;
    QDeadlineTimer deadline(wait_ms);
    while (reply.size() < expected && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(deadline.remainingTime())) <= 0) break;
        char buffer[256];
        const auto n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) reply.append(buffer, n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    return reply;
}

bool connectTo(QTcpSocket& socket, quint16 port)
{
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(wait_ms);
}

TEST(SimProcess, AnswersOverTcpAndPtyAndExitsCleanly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("tk770-line"));
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--tcp", "127.0.0.1:0", "--pty", link, "--restart-ms", "50", "-v"}));
    ASSERT_NE(sim.tcpPort(), 0);
    ASSERT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.ptyPath());

    QTcpSocket first;
    ASSERT_TRUE(connectTo(first, sim.tcpPort()));
    EXPECT_EQ(exchange(first, hex("03 00 00 00 05 08"), 11), hex("03 00 00 00 05 50 50 50 50 50 98"));

    // The serial line: garbage first, and the request in two pieces.
    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ptyExchange(fd, {hex("00 FF"), hex("CA 03 00"), hex("00 00 05 D2")}, 12),
              hex("CA 03 00 00 00 05 50 50 50 50 50 62"));
    // Both lines reach one memory: a write on the pty is read back over TCP.
    EXPECT_EQ(ptyExchange(fd, {frame(true, 0x06, 0x131, 1, hex("21"))}, 7), hex("CA 06 01 31 00 01 03"));
    EXPECT_EQ(exchange(first, frame(false, 0x03, 0x131, 1), 7), frame(false, 0x03, 0x131, 1, hex("21")));

    // A restart is acknowledged once the working memory is back from the
    // non-volatile copy, where the volume is still the factory 70.
    EXPECT_EQ(exchange(first, frame(false, 0x06, 0x15F, 1, hex("02")), 6), hex("06 01 5F 00 01 67"));
    EXPECT_EQ(exchange(first, frame(false, 0x03, 0x131, 1), 7), frame(false, 0x03, 0x131, 1, hex("46")));
    ::close(fd);

    // One client at a time: the second is answered once the first has gone.
    QTcpSocket second;
    ASSERT_TRUE(connectTo(second, sim.tcpPort()));
    second.write(hex("03 00 00 00 05 08"));
    second.flush();
    first.disconnectFromHost();
    QByteArray late;
    QDeadlineTimer deadline(wait_ms);
    while (late.size() < 11 && !deadline.hasExpired())
        if (second.waitForReadyRead(int(deadline.remainingTime()))) late += second.readAll();
    EXPECT_EQ(late, hex("03 00 00 00 05 50 50 50 50 50 98"));
    second.disconnectFromHost();

    EXPECT_EQ(sim.terminate(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink()) << "the link is removed on exit";
    const QByteArray trace = sim.stderrText().toUtf8();
    EXPECT_TRUE(trace.contains("rx 03 00 00 00 05 08\n")) << trace.constData();
    EXPECT_TRUE(trace.contains("tx CA 03 00 00 00 05 50 50 50 50 50 62\n")) << trace.constData();
}

TEST(SimProcess, StateFileKeepsStoresAcrossRunsAndCloseFaultDropsTheClient)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString state = dir.filePath(QStringLiteral("nv.bin"));
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--tcp", "127.0.0.1:0", "--state", state, "--fault", "close:3"}));
        QTcpSocket socket;
        ASSERT_TRUE(connectTo(socket, sim.tcpPort()));
        EXPECT_EQ(exchange(socket, frame(false, 0x10, 0x134, 1, hex("07")), 6), hex("10 01 34 00 01 46"));
        EXPECT_EQ(exchange(socket, frame(false, 0x06, 0x131, 1, hex("21")), 6), hex("06 01 31 00 01 39"));

        QFile file(state);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray nv = file.readAll();
        ASSERT_EQ(nv.size(), 1024);
        EXPECT_EQ(quint8(nv[0x134]), 7) << "a store reaches the state file";
        EXPECT_EQ(quint8(nv[0x131]), 70) << "a plain write does not";

        // The third request is met by a closed connection instead of a reply.
        socket.write(frame(false, 0x03, 0, 5));
        EXPECT_TRUE(socket.state() == QAbstractSocket::UnconnectedState || socket.waitForDisconnected(wait_ms));
        EXPECT_EQ(socket.readAll(), QByteArray());
        EXPECT_EQ(sim.terminate(), 0);
    }
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--tcp", "127.0.0.1:0", "--state", state}));
        QTcpSocket socket;
        ASSERT_TRUE(connectTo(socket, sim.tcpPort()));
        EXPECT_EQ(exchange(socket, frame(false, 0x03, 0x131, 4), 10), frame(false, 0x03, 0x131, 4, hex("46 00 00 07")));
        EXPECT_EQ(sim.terminate(), 0);
    }
    {
        QFile file(state);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("short");
    }
    SimProcess refused;
    EXPECT_FALSE(refused.start({"--tcp", "127.0.0.1:0", "--state", state}));
    EXPECT_NE(refused.finish(), 0) << "a state file of the wrong size is not overwritten";
    QFile file(state);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("short"));
}

TEST(SimProcess, RefusesToStartWithAStateFileItCouldNotKeep)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString loop = dir.filePath(QStringLiteral("loop"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("loop2")), loop));
    ASSERT_TRUE(QFile::link(loop, dir.filePath(QStringLiteral("loop2"))));
    const QString big = dir.filePath(QStringLiteral("big.nv"));
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1001024, '\0'));
    }
    struct Case {
        const char* what;
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {"state in a missing folder", {"--state", dir.filePath(QStringLiteral("missing/nv.bin"))},
         "No such file or directory"},
        {"state through a link loop", {"--state", loop}, "Too many levels of symbolic links"},
        {"state that is a folder", {"--state", dir.path()}, "not a regular file"},
        {"state of the wrong size", {"--state", big}, "holds 1001024 bytes, not 1024"},
        {"pty in a missing folder", {"--pty", dir.filePath(QStringLiteral("missing/p"))},
         "missing/p a link to the terminal: No such file or directory"},
    };
    for (const auto& c : cases) {
        SimProcess sim;
        EXPECT_FALSE(sim.start(QStringList{"--tcp", "127.0.0.1:0"} + c.args)) << c.what;
        EXPECT_EQ(sim.finish(), 1) << c.what;
        const QByteArray err = sim.stderrText().toUtf8();
        EXPECT_TRUE(err.contains(c.message)) << c.what << ": " << err.constData();
    }
    EXPECT_TRUE(QFileInfo(loop).isSymLink()) << "the loop is refused, not replaced";
    EXPECT_EQ(QFileInfo(big).size(), 1001024);
}

TEST(SimProcess, SaveThatCouldNotBeKeptIsNotAcknowledged)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString state = dir.filePath(QStringLiteral("nv.bin"));
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--tcp", "127.0.0.1:0", "--state", state}));
    QTcpSocket socket;
    ASSERT_TRUE(connectTo(socket, sim.tcpPort()));
    EXPECT_EQ(exchange(socket, frame(false, 0x10, 0x134, 1, hex("07")), 6), hex("10 01 34 00 01 46"));

    // The state file becomes something the simulator cannot replace.
    ASSERT_TRUE(QFile::remove(state));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("nv.bin")));
    socket.write(frame(false, 0x06, 0x15E, 1, hex("02")));  // save to memory
    socket.waitForBytesWritten(wait_ms);
    EXPECT_FALSE(socket.waitForReadyRead(1000)) << "no acknowledgement for a save that was not kept";
    EXPECT_EQ(socket.readAll(), QByteArray());
    EXPECT_EQ(sim.terminate(), 0);
    EXPECT_TRUE(sim.stderrText().toUtf8().contains("cannot write the state file"));
}

}  // namespace
