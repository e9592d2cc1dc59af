#include "link/tcp_transport.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

namespace tk770 {

QtTcpTransport::QtTcpTransport() = default;
QtTcpTransport::~QtTcpTransport() = default;

void QtTcpTransport::set_reply_wait_ms(int milliseconds)
{
    m_replyWaitMs = milliseconds < 1 ? 1 : milliseconds;
}

void QtTcpTransport::set_connect_wait_ms(int milliseconds)
{
    m_connectWaitMs = milliseconds < 1 ? 1 : milliseconds;
}

QString QtTcpTransport::peerText() const
{
    return QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

void QtTcpTransport::fail(const QString& text) const
{
    // Every failure names the processor, so a technician with several
    // halls knows which one did not answer.
    if (m_host.isEmpty()) throw LinkError(text.toStdString());
    throw LinkError(QStringLiteral("%1 (processor at %2)").arg(text, peerText()).toStdString());
}

void QtTcpTransport::timedOut()
{
    m_outOfStep = true;
    throw LinkError(QStringLiteral("Timed out waiting for the processor at %1").arg(peerText()).toStdString());
}

void QtTcpTransport::connect(const QString& host, int port)
{
    // A socket left open by an earlier failed connect would otherwise block
    // every new attempt until a disconnect; start from a clean one instead.
    if (m_socket) {
        m_socket->abort();
        m_socket.reset();
    }
    m_outOfStep = false;
    m_host = host;
    m_port = port;
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(host, static_cast<quint16>(port));
    if (!socket->waitForConnected(m_connectWaitMs)) {
        const bool timeout = socket->error() == QAbstractSocket::SocketTimeoutError;
        const QString text = socket->errorString();
        socket->abort();
        if (timeout)
            throw LinkError(
                QStringLiteral("Timed out connecting to the processor at %1").arg(peerText()).toStdString());
        fail(text);
    }
    // Requests are small and each waits for its reply: send them at once.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket = std::move(socket);
}

void QtTcpTransport::disconnect()
{
    m_outOfStep = false;
    if (!m_socket) return;
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->disconnectFromHost();
        if (m_socket->state() != QAbstractSocket::UnconnectedState) m_socket->waitForDisconnected(1000);
    }
    m_socket->abort();
    m_socket.reset();
}

bool QtTcpTransport::isOpen() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void QtTcpTransport::send(std::span<const std::uint8_t> bytes)
{
    // The processor answers in order, so an answer given up on would arrive
    // where the next one is expected; only a fresh connection is sure to
    // hold nothing of it.
    if (m_outOfStep && m_socket && !m_host.isEmpty()) connect(m_host, m_port);
    if (!isOpen()) fail(m_socket ? m_socket->errorString() : QStringLiteral("Not connected to the processor"));
    QTcpSocket& s = *m_socket;
    // Bytes still queued belong to an earlier exchange (surplus after an
    // accepted reply); left there, they would be taken for this request's
    // answer.
    do {
        s.readAll();
    } while (s.waitForReadyRead(0));
    if (!isOpen()) fail(s.errorString());
    if (s.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) < 0)
        fail(s.errorString());
    QDeadlineTimer deadline(m_replyWaitMs);
    while (s.bytesToWrite() > 0) {
        if (deadline.hasExpired()) timedOut();
        if (!s.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
            if (s.error() == QAbstractSocket::SocketTimeoutError) timedOut();
            fail(s.errorString());
        }
    }
}

void QtTcpTransport::receive(std::span<std::uint8_t> bytes)
{
    if (!m_socket) fail(QStringLiteral("Not connected to the processor"));
    QTcpSocket& s = *m_socket;
    const qint64 wanted = static_cast<qint64>(bytes.size());
    QDeadlineTimer deadline(m_replyWaitMs);
    // Wait until the whole reply is buffered; a reply split over several
    // segments is normal, a silent processor is not.
    while (s.bytesAvailable() < wanted) {
        if (s.state() != QAbstractSocket::ConnectedState) fail(s.errorString());
        if (deadline.hasExpired()) timedOut();
        if (!s.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            if (s.bytesAvailable() >= wanted) break;
            // Still connected means nothing came in time; otherwise the
            // socket says why it went (closed, reset).
            if (s.state() == QAbstractSocket::ConnectedState) timedOut();
            fail(s.errorString());
        }
    }
    // Exactly what was asked for; surplus stays queued for the next receive.
    s.read(reinterpret_cast<char*>(bytes.data()), wanted);
}

}  // namespace tk770
