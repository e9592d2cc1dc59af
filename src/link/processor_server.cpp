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

bool parseListenAddress(const QString& text, QHostAddress& host, quint16& port)
{
    const auto colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint number = colon > 0 ? text.mid(colon + 1).toUInt(&ok) : 0;
    QString name = colon > 0 ? text.left(colon) : QString();
    if (name == QLatin1String("localhost")) name = QStringLiteral("127.0.0.1");
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']'))) name = name.mid(1, name.size() - 2);
    QHostAddress address;
    if (!ok || number > 65535 || !address.setAddress(name)) return false;
    host = address;
    port = static_cast<quint16>(number);
    return true;
}

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
    if (m_server->isServed(this)) m_server->dropClient(this, false);
}

void ProcessorClient::push(std::span<const std::uint8_t> bytes)
{
    if (m_gone || bytes.empty() || !m_socket) return;
    m_server->send(this, bytes);
}

QHostAddress ProcessorClient::peerAddress() const
{
    if (!m_socket) return {};
    const QHostAddress address = m_socket->peerAddress();
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip) : address;
}

QString ProcessorClient::peerText() const
{
    if (!m_socket) return QStringLiteral("serial");
    const QHostAddress address = peerAddress();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(m_socket->peerPort());
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
    for (ProcessorClient* client : m_served) silence(client->m_socket);
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
    QList<const ProcessorClient*> clients(m_served.cbegin(), m_served.cend());
    clients.append(m_serial);
    for (const ProcessorClient* client : clients) {
        if (!client) continue;
        held += static_cast<qint64>(client->m_reader.buffered());
        if (client->m_lines) held += static_cast<qint64>(client->m_lines->buffered());
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
        if (m_accept && !m_accept(socket->peerAddress())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // A connect flood must not grow the queue: one more than the limit
        // is hung up at once.
        const bool servedAtOnce = m_served.size() < m_limits.servedClients && m_waiting.isEmpty();
        if (!servedAtOnce && m_waiting.size() >= m_limits.waitingClients) {
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
    if (!m_tcp) return;
    while (!m_waiting.isEmpty() && m_served.size() < m_limits.servedClients) {
        QTcpSocket* socket = m_waiting.takeFirst();
        socket->disconnect(this);
        if (socket->state() != QAbstractSocket::ConnectedState) {
            socket->deleteLater();
            continue;
        }
        auto* client = new ProcessorClient(this, Framing::tcp, m_lineLength > 0 ? 0 : m_limits.requestBuffer);
        if (m_lineLength > 0) client->m_lines = std::make_unique<LineReader>(m_lineLength);
        client->m_socket = socket;
        m_served.append(client);
        connect(socket, &QIODevice::readyRead, this, [this, client] { pump(client); });
        // Replies taken by the client make room to read its next requests.
        connect(socket, &QIODevice::bytesWritten, this, [this, client] { pump(client); });
        connect(socket, &QAbstractSocket::disconnected, this, [this, client] {
            if (isServed(client)) onServedDisconnected(client);
        });
        pump(client);
    }
    checkIdle();
}

void ProcessorServer::onServedDisconnected(ProcessorClient* client)
{
    m_served.removeOne(client);
    if (QTcpSocket* socket = client->m_socket) {
        socket->disconnect(this);
        socket->deleteLater();
    }
    client->markGone();
    client->deleteLater();
    serveNext();
}

void ProcessorServer::dropClient(ProcessorClient* client, bool abort)
{
    if (!client || !m_served.removeOne(client)) return;
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
    qint64 nextCheck = -1;
    for (ProcessorClient* client : QList<ProcessorClient*>(m_served)) {
        // A client with a request outstanding is not silent: it waits for us.
        if (client->m_outstanding) continue;
        const qint64 silent = client->m_lastActivity.elapsed();
        qint64 left = -1;
        // The panel may hold its connection idle for hours; only somebody
        // waiting for the line makes the silence a reason to hang up.
        if (!m_waiting.isEmpty()) left = m_limits.idleMs - silent;
        if (m_limits.closeIdleMs > 0) {
            const qint64 closing = m_limits.closeIdleMs - silent;
            left = left < 0 && m_waiting.isEmpty() ? closing : qMin(left, closing);
        }
        if (left < 0 && m_waiting.isEmpty() && m_limits.closeIdleMs <= 0) continue;
        if (left <= 0) {
            dropClient(client, false);
            continue;
        }
        if (nextCheck < 0 || left < nextCheck) nextCheck = left;
    }
    if (nextCheck < 0)
        m_idleTimer->stop();
    else
        m_idleTimer->start(static_cast<int>(nextCheck));
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

        if (client->m_lines) {
            if (auto line = client->m_lines->next()) {
                client->m_outstanding = true;
                try {
                    m_responder.processLine(ClientRef(client), *line);
                } catch (const std::exception&) {
                    client->reply({});
                }
                continue;
            }
            const auto room = static_cast<qint64>(client->m_lines->free_space());
            const QByteArray bytes = client->m_socket ? client->m_socket->read(room) : QByteArray();
            if (bytes.isEmpty()) break;
            client->m_lastActivity.restart();
            client->m_lines->feed(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                            static_cast<std::size_t>(bytes.size())));
            continue;
        }

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
    } else if (overrun) {
        dropClient(client, true);
    }
}

void ProcessorServer::answered(ProcessorClient* client)
{
    if (isServed(client)) checkIdle();
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
    if (socket->bytesToWrite() > m_limits.replyLimit) {
        dropClient(client, true);
        return;
    }
    // Out now rather than at the next turn of the event loop: a client
    // waiting for its reply should not wait for anything else.
    socket->flush();
}

void ProcessorServer::reportDropped(ProcessorClient* client)
{
    const auto dropped = client->m_reader.take_dropped();
    if (!dropped.empty()) m_responder.bytesDropped(ClientRef(client), dropped);
}

}  // namespace tk770
