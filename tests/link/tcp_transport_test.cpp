// Failures of the TCP connection name the processor they were meant for.
#include "link/tcp_transport.h"

#include <QHostAddress>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string connectFailure(const QString& host, int port)
{
    tk770::QtTcpTransport tcp;
    tcp.set_connect_wait_ms(3000);
    try {
        tcp.connect(host, port);
    } catch (const tk770::LinkError& e) {
        return e.what();
    }
    return "connected";
}

TEST(TcpTransportFailure, NamesTheProcessor)
{
    // A port that was free a moment ago: nobody listens there.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int refusedPort = probe.serverPort();
    probe.close();

    struct Case {
        const char* what;
        QString host;
        int port;
    };
    const Case cases[] = {
        {"refused", QStringLiteral("127.0.0.1"), refusedPort},
        // Without a name server the look-up may time out instead; either way
        // the message names the host.
        {"host not found", QStringLiteral("no-such-processor.invalid"), 15288},
    };
    for (const auto& c : cases) {
        const std::string message = connectFailure(c.host, c.port);
        const std::string peer = QStringLiteral("%1:%2").arg(c.host).arg(c.port).toStdString();
        EXPECT_NE(message.find(peer), std::string::npos) << c.what << ": " << message;
    }
}

TEST(TcpTransportFailure, SendingWithoutAConnectionIsRefused)
{
    tk770::QtTcpTransport tcp;
    const std::uint8_t byte = 0;
    EXPECT_THROW(tcp.send(std::span(&byte, 1)), tk770::LinkError);
}

}  // namespace
