#include "link/serial_transport.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The far end of a pseudo-terminal: what the transport opens is its slave.
class PtyPair {
public:
    PtyPair()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return;
        m_slave = QString::fromLocal8Bit(::ptsname(m_master));
        // Raw on the master side too, so bytes pass unchanged both ways.
        termios t{};
        ::tcgetattr(m_master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(m_master, TCSANOW, &t);
    }
    ~PtyPair()
    {
        if (m_master >= 0) ::close(m_master);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0 && !m_slave.isEmpty(); }
    QString slavePath() const { return m_slave; }
    void send(const Bytes& b) { ASSERT_EQ(::write(m_master, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
    // Whatever the transport wrote, waiting briefly for it to come through.
    Bytes received(std::size_t expected)
    {
        Bytes out;
        for (int tries = 0; tries < 200 && out.size() < expected; ++tries) {
            std::uint8_t buf[256];
            const int flags = ::fcntl(m_master, F_GETFL);
            ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            ::fcntl(m_master, F_SETFL, flags);
            if (n > 0) out.insert(out.end(), buf, buf + n);
            else ::usleep(5000);
        }
        return out;
    }

private:
    int m_master = -1;
    QString m_slave;
};

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_had) ::setenv(m_name, m_old.c_str(), 1);
        else ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

}  // namespace

TEST(SerialPortNames, NumberEnvironmentAndBoundPath)
{
    ScopedEnv env("TK770_COM4", "/dev/ttyUSB0");
    ScopedEnv none1("TK770_COM1", nullptr);
    ScopedEnv none10("TK770_COM10", nullptr);
    tk770::QtSerialTransport t;
    t.bindPort(7, QStringLiteral("/tmp/sim-link"));
    struct Case {
        int port;
        const char* want;
    };
    const std::vector<Case> cases{
        {1, "/dev/ttyS0"}, {10, "/dev/ttyS9"}, {4, "/dev/ttyUSB0"}, {7, "/tmp/sim-link"}, {0, ""}, {11, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(t.deviceName(c.port).toStdString(), c.want) << c.port;

    t.bindPort(4, QStringLiteral("/dev/ttyACM1"));
    EXPECT_EQ(t.deviceName(4).toStdString(), "/dev/ttyACM1") << "a bound path wins over the environment";
}

TEST(SerialPortOpen, PortThatCannotOpenFailsEveryRead)
{
    tk770::QtSerialTransport t;
    t.bindPort(2, QStringLiteral("/nonexistent/tty-for-test"));
    std::uint8_t buf[7];
    for (const int port : {0, 2, 11}) {
        t.open(port);  // silently
        EXPECT_FALSE(t.isOpen(port)) << port;
        const std::uint8_t frame[] = {0xCA, 0x03, 0x00, 0x00, 0x00, 0x24, 0xF1};
        t.write(port, frame);
        EXPECT_LE(t.read(port, buf), 0) << port;
    }
}

class SerialOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminal available";
        serial.bindPort(1, pty.slavePath());
        serial.open(1);
        ASSERT_TRUE(serial.isOpen(1)) << "could not open " << pty.slavePath().toStdString();
        serial.set_read_timeout(1, 100);
    }
    int read(std::size_t n, Bytes& out)
    {
        out.assign(n, 0);
        const int got = serial.read(1, out);
        out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return got;
    }

    PtyPair pty;
    tk770::QtSerialTransport serial;
};

TEST_F(SerialOnPty, LineIs38400EightNoneOneWithoutFlowControl)
{
    const int fd = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::close(fd);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B38400));
    EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B38400));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_lflag & ICANON, 0u) << "raw: a frame must not wait for a newline";
}

TEST_F(SerialOnPty, WritesReachTheDeviceUnchanged)
{
    // Bytes a cooked line would translate or swallow.
    const Bytes frame{0xCA, 0x06, 0x00, 0x0A, 0x00, 0x01, 0x0D, 0x11, 0x13, 0x03, 0x7F, 0x00};
    serial.write(1, frame);
    EXPECT_EQ(pty.received(frame.size()), frame);
}

TEST_F(SerialOnPty, ReadReturnsWhatArrivedBeforeTheTimeOut)
{
    Bytes got;
    EXPECT_EQ(read(7, got), 0) << "nothing sent";

    pty.send({1, 2, 3});
    EXPECT_EQ(read(7, got), 3);
    EXPECT_EQ(got, (Bytes{1, 2, 3}));
}

TEST_F(SerialOnPty, SurplusBytesStayQueuedForTheNextRead)
{
    pty.send({0xCA, 0x06, 0x01, 0x5E, 0x00, 0x01, 0x2E, 0x00, 0x55, 0xAA});
    Bytes got;
    EXPECT_EQ(read(7, got), 7);
    EXPECT_EQ(got, (Bytes{0xCA, 0x06, 0x01, 0x5E, 0x00, 0x01, 0x2E}));
    EXPECT_EQ(read(7, got), 3);
    EXPECT_EQ(got, (Bytes{0x00, 0x55, 0xAA}));
}

TEST_F(SerialOnPty, OpeningAgainDiscardsWhatWasAlreadyReceived)
{
    pty.send({9, 9, 9, 9});
    pty.received(0);
    serial.open(1);  // a later connect on the same port
    ASSERT_TRUE(serial.isOpen(1));
    serial.set_read_timeout(1, 100);
    pty.send({5, 6});
    Bytes got;
    EXPECT_EQ(read(4, got), 2);
    EXPECT_EQ(got, (Bytes{5, 6}));
}

TEST_F(SerialOnPty, ClosedPortFailsReads)
{
    serial.close(1);
    EXPECT_FALSE(serial.isOpen(1));
    pty.send({1});
    Bytes got;
    EXPECT_LT(read(1, got), 0);
}
