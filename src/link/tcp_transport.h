// The TCP client of the device link on QTcpSocket, used blocking from the
// calling thread. Every wait is bounded, and every failure of the connection
// is thrown as tk770::LinkError carrying a readable text.
#pragma once

#include "core/device_link.h"

#include <QString>

#include <memory>

class QTcpSocket;

namespace tk770 {

class QtTcpTransport : public TcpTransport {
public:
    static constexpr int default_connect_wait_ms = 5000;
    static constexpr int default_reply_wait_ms = 3000;

    QtTcpTransport();
    ~QtTcpTransport() override;
    QtTcpTransport(const QtTcpTransport&) = delete;
    QtTcpTransport& operator=(const QtTcpTransport&) = delete;

    // Connects afresh, dropping any socket still open from an earlier attempt.
    // Throws LinkError when the connection cannot be made in time.
    void connect(const QString& host, int port = tcp_port);
    void disconnect();
    bool isOpen() const;

    int port() const { return m_port; }

    int reply_wait_ms() const override { return m_replyWaitMs; }
    void set_reply_wait_ms(int milliseconds) override;
    int connect_wait_ms() const { return m_connectWaitMs; }
    void set_connect_wait_ms(int milliseconds);

    // A reply that timed out or was refused may still be on its way: the
    // next send() connects afresh, and closing the socket discards it.
    void out_of_step() override { m_outOfStep = true; }

    void send(std::span<const std::uint8_t> bytes) override;
    void receive(std::span<std::uint8_t> bytes) override;

private:
    [[noreturn]] void fail(const QString& text) const;
    [[noreturn]] void timedOut();
    QString peerText() const;

    std::unique_ptr<QTcpSocket> m_socket;
    QString m_host;
    int m_port = tcp_port;
    int m_connectWaitMs = default_connect_wait_ms;
    int m_replyWaitMs = default_reply_wait_ms;
    bool m_outOfStep = false;
};

}  // namespace tk770
