#include "link/processor_server.h"

#include "link/pty_listener.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <exception>

namespace tk770 {

namespace {

// A client that was asked to hang up but does not take its last bytes is
// cut off after this long, so it cannot keep a socket open on our side.
constexpr int close_grace_ms = 1000;

}  // namespace

// ---------------------------------------------------------- ProcessorClient

ProcessorClient::ProcessorClient(ProcessorServer* server, Framing framing, std::size_t readerCapacity)
    : QObject(server), m_server(server), m_reader(framing, readerCapacity)
{
    m_lastActivity.start();
}

void ProcessorClient::reply(std::span<const std::uint8_t> bytes)
{
    if (m_gone) return;
    if (!bytes.empty()) {
        m_server->send(this, bytes);
        if (m_gone) return;  // the reply overran the client's bound
        m_lastActivity.restart();
    }
    if (!m_outstanding) return;
    m_outstanding = false;
    m_server->answered(this);
}

void ProcessorClient::close()
{
    if (m_gone) return;
    if (framing() == Framing::serial) {
        reply({});
        return;
    }
    m_outstanding = false;
    if (m_server->m_current == this) m_server->dropCurrent(false);
}

void ProcessorClient::markGone()
{
    if (m_gone) return;
    m_gone = true;
    m_outstanding = false;
    m_reader.discard_partial();
    m_reader.take_dropped();
    emit gone();
}

// ---------------------------------------------------------- ProcessorServer

ProcessorServer::ProcessorServer(ProcessorResponder& responder, ProcessorServerLimits limits, QObject* parent)
    : QObject(parent), m_responder(responder), m_limits(limits)
{
    m_idleTimer = new QTimer(this);
    m_idleTimer->setSingleShot(true);
    connect(m_idleTimer, &QTimer::timeout, this, &ProcessorServer::checkIdle);
}

ProcessorServer::~ProcessorServer()
{
    // No signal of a socket torn down below may reach a half-destroyed server
    // or its responder.
    auto silence = [this](QTcpSocket* socket) {
        if (!socket) return;
        socket->disconnect(this);
        socket->abort();
    };
    for (QTcpSocket* socket : m_waiting) silence(socket);
    if (m_current) silence(m_current->m_socket);
    if (m_tcp) m_tcp->close();
}

bool ProcessorServer::listenTcp(const QHostAddress& host, quint16 port, QString& error)
{
    m_tcp = new QTcpServer(this);
    if (!m_tcp->listen(host, port)) {
        error = QStringLiteral("cannot listen on %1:%2: %3").arg(host.toString()).arg(port).arg(m_tcp->errorString());
        delete m_tcp;
        m_tcp = nullptr;
        return false;
    }
    connect(m_tcp, &QTcpServer::newConnection, this, &ProcessorServer::onNewConnection);
    return true;
}

bool ProcessorServer::openPty(const QString& linkPath, int bytesPerSecond, QString& error)
{
    m_pty = new PtyListener(this);
    if (!m_pty->open(linkPath, error)) {
        delete m_pty;
        m_pty = nullptr;
        return false;
    }
    m_pty->setBytesPerSecond(bytesPerSecond);
    m_serial = new ProcessorClient(this, Framing::serial, m_limits.requestBuffer);
    connect(m_pty, &PtyListener::readyRead, this, [this] { pump(m_serial); });

    m_serialIdle = new QTimer(this);
    m_serialIdle->setSingleShot(true);
    m_serialIdle->setInterval(m_limits.serialIdleMs);
    connect(m_serialIdle, &QTimer::timeout, this, [this] {
        if (m_serial->m_outstanding || m_serial->m_reader.buffered() == 0) return;
        m_serial->m_reader.discard_partial();
        reportDropped(m_serial);
    });
    return true;
}

QHostAddress ProcessorServer::tcpAddress() const
{
    return m_tcp ? m_tcp->serverAddress() : QHostAddress();
}

quint16 ProcessorServer::tcpPort() const
{
    return m_tcp ? m_tcp->serverPort() : 0;
}

QString ProcessorServer::ptyName() const
{
    return m_pty ? m_pty->name() : QString();
}

qint64 ProcessorServer::heldBytes() const
{
    qint64 held = 0;
    for (const QTcpSocket* socket : m_waiting) held += socket->bytesAvailable() + socket->bytesToWrite();
    for (const ProcessorClient* client : {m_current, m_serial}) {
        if (!client) continue;
        held += static_cast<qint64>(client->m_reader.buffered());
        if (client->m_socket) held += client->m_socket->bytesAvailable() + client->m_socket->bytesToWrite();
    }
    if (m_pty) held += m_pty->queued();
    return held;
}

// ------------------------------------------------------------- TCP clients

void ProcessorServer::onNewConnection()
{
    while (m_tcp->hasPendingConnections()) {
        QTcpSocket* socket = m_tcp->nextPendingConnection();
        if (!socket) break;
        // A connect flood must not grow the queue: one more than the limit
        // is hung up at once.
        if (m_waiting.size() >= m_limits.waitingClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // A waiting client's early requests stay bounded in the socket.
        socket->setReadBufferSize(static_cast<qint64>(m_limits.requestBuffer));
        m_waiting.append(socket);
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
            if (m_waiting.removeOne(socket)) socket->deleteLater();
        });
        serveNext();
    }
    checkIdle();
}

void ProcessorServer::serveNext()
{
    if (m_current || !m_tcp) return;
    while (!m_waiting.isEmpty()) {
        QTcpSocket* socket = m_waiting.takeFirst();
        socket->disconnect(this);
        if (socket->state() != QAbstractSocket::ConnectedState) {
            socket->deleteLater();
            continue;
        }
        auto* client = new ProcessorClient(this, Framing::tcp, m_limits.requestBuffer);
        client->m_socket = socket;
        m_current = client;
        connect(socket, &QIODevice::readyRead, this, [this, client] { pump(client); });
        // Replies taken by the client make room to read its next requests.
        connect(socket, &QIODevice::bytesWritten, this, [this, client] { pump(client); });
        connect(socket, &QAbstractSocket::disconnected, this, [this, client] {
            if (client == m_current) onCurrentDisconnected();
        });
        pump(client);
        break;
    }
    checkIdle();
}

void ProcessorServer::onCurrentDisconnected()
{
    ProcessorClient* client = m_current;
    m_current = nullptr;
    if (QTcpSocket* socket = client->m_socket) {
        socket->disconnect(this);
        socket->deleteLater();
    }
    client->markGone();
    client->deleteLater();
    serveNext();
}

void ProcessorServer::dropCurrent(bool abort)
{
    ProcessorClient* client = m_current;
    if (!client) return;
    m_current = nullptr;
    if (QTcpSocket* socket = client->m_socket) {
        socket->disconnect(this);
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        if (abort) {
            socket->abort();
            socket->deleteLater();
        } else {
            socket->disconnectFromHost();
            if (socket->state() == QAbstractSocket::UnconnectedState) {
                socket->deleteLater();
            } else {
                QTimer::singleShot(close_grace_ms, socket, [socket] {
                    socket->abort();
                    socket->deleteLater();
                });
            }
        }
    }
    client->markGone();
    client->deleteLater();
    // This may run inside the departing client's exchange; the next client
    // starts from the event loop, not from in here.
    QMetaObject::invokeMethod(this, &ProcessorServer::serveNext, Qt::QueuedConnection);
}

void ProcessorServer::checkIdle()
{
    // A client with a request outstanding is not silent: it waits for us.
    if (!m_current || m_waiting.isEmpty() || m_current->m_outstanding) {
        m_idleTimer->stop();
        return;
    }
    const qint64 left = m_limits.idleMs - m_current->m_lastActivity.elapsed();
    if (left > 0) {
        m_idleTimer->start(static_cast<int>(left));
        return;
    }
    // The panel may hold its connection idle for hours; only somebody
    // waiting for the line makes the silence a reason to hang up.
    dropCurrent(false);
}

// ---------------------------------------------------------- the exchanges

void ProcessorServer::pump(ProcessorClient* client)
{
    if (!client || client->m_pumping) return;
    client->m_pumping = true;
    const bool serial = client == m_serial;
    bool overrun = false;
    for (;;) {
        if (client->m_gone || client->m_outstanding) break;
        // Stop reading while the client does not take its replies; it is
        // then bounded by its own socket buffers, not by our memory.
        if (client->m_socket && client->m_socket->bytesToWrite() >= m_limits.replyBacklog) break;

        auto frame = client->m_reader.next();
        reportDropped(client);
        if (client->m_gone) break;
        if (frame) {
            client->m_outstanding = true;
            try {
                m_responder.processRequest(ClientRef(client), client->framing(), *frame);
            } catch (const std::exception&) {
                // Nothing may escape into the event loop; the request goes
                // unanswered, as the processor leaves a frame it cannot take.
                client->reply({});
            }
            continue;
        }

        const auto room = static_cast<qint64>(client->m_reader.free_space());
        if (room == 0) {
            overrun = true;  // a frame larger than the whole buffer
            break;
        }
        QByteArray bytes;
        if (serial)
            bytes = m_pty->read(room);
        else if (client->m_socket)
            bytes = client->m_socket->read(room);
        if (bytes.isEmpty()) break;
        client->m_lastActivity.restart();
        client->m_reader.feed(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                        static_cast<std::size_t>(bytes.size())));
    }
    client->m_pumping = false;

    if (serial) {
        if (overrun) {
            m_serial->m_reader.discard_partial();
            reportDropped(m_serial);
        }
        // The line's own buffer holds what comes while a reply is held back.
        m_pty->setReadEnabled(!m_serial->m_outstanding);
        if (!m_serial->m_outstanding && m_serial->m_reader.buffered() > 0) m_serialIdle->start();
    } else if (overrun && client == m_current) {
        dropCurrent(true);
    }
}

void ProcessorServer::answered(ProcessorClient* client)
{
    if (client == m_current) checkIdle();
    pump(client);
}

void ProcessorServer::send(ProcessorClient* client, std::span<const std::uint8_t> bytes)
{
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    const auto size = static_cast<qint64>(bytes.size());
    if (client == m_serial) {
        m_pty->write(QByteArray(data, static_cast<qsizetype>(size)));
        return;
    }
    QTcpSocket* socket = client->m_socket;
    if (!socket) return;
    socket->write(data, size);
    if (socket->bytesToWrite() > m_limits.replyLimit && client == m_current) dropCurrent(true);
}

void ProcessorServer::reportDropped(ProcessorClient* client)
{
    const auto dropped = client->m_reader.take_dropped();
    if (!dropped.empty()) m_responder.bytesDropped(ClientRef(client), dropped);
}

}  // namespace tk770
