// The listening side of the processor's protocol, shared by the simulator
// and the gateway: a TCP listener serving one client at a time (the
// processor's own rule) or several at once (the gateway), a
// pseudo-terminal standing in for the serial line, the framers that cut
// requests out of both streams, and the limits that keep a misbehaving
// client from growing memory or holding the line for ever. What answers a
// request is a ProcessorResponder: the simulator answers from its memory,
// the gateway passes the request on to a real processor.
#pragma once

#include "core/frame.h"
#include "core/frame_reader.h"
#include "core/line_reader.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace tk770 {

class ProcessorServer;
class PtyListener;

// One source of requests: the TCP client being served, or the serial line.
// A client has at most one request outstanding; its next request is handed
// over only after reply() (or close()), so replies keep the order of their
// requests however late they come.
class ProcessorClient : public QObject {
    Q_OBJECT
public:
    Framing framing() const { return m_reader.framing(); }
    // False once the client went away or was closed; replies are then dropped.
    bool isConnected() const { return !m_gone; }

    // Answers the outstanding request; an empty reply answers with silence.
    void reply(std::span<const std::uint8_t> bytes);
    // TCP: hang up without a reply and serve the next waiting client.
    // The serial line cannot be hung up: the request goes unanswered.
    void close();
    // Bytes that answer no request (a text client's notifications); bounded
    // like replies. TCP only.
    void push(std::span<const std::uint8_t> bytes);

    // The peer's address (IPv4 as such) and "ADDR:PORT", or "serial".
    QHostAddress peerAddress() const;
    QString peerText() const;

signals:
    // The client went away; anything still held back for it is dropped.
    void gone();

private:
    friend class ProcessorServer;
    ProcessorClient(ProcessorServer* server, Framing framing, std::size_t readerCapacity);
    void markGone();

    ProcessorServer* m_server;
    FrameReader m_reader;
    std::unique_ptr<LineReader> m_lines;  // a text listener's client
    QPointer<QTcpSocket> m_socket;  // TCP only
    bool m_outstanding = false;
    bool m_gone = false;
    bool m_pumping = false;
    QElapsedTimer m_lastActivity;   // bytes received or a reply sent
};

// Held by the responder for as long as it may answer; null once the client
// object is gone, and isConnected() is false as soon as the peer left.
using ClientRef = QPointer<ProcessorClient>;

class ProcessorResponder {
public:
    virtual ~ProcessorResponder() = default;
    // One valid request frame. Answer with client->reply() now or later, or
    // client->close(); until then the client's next request waits.
    virtual void processRequest(const ClientRef& client, Framing framing, std::span<const std::uint8_t> frame) = 0;
    // Bytes the framer threw away (noise, bad frames, an unfinished frame).
    virtual void bytesDropped(const ClientRef& client, std::span<const std::uint8_t> bytes)
    {
        (void)client;
        (void)bytes;
    }
    // A text listener's request (see ProcessorServer::setTextLines): one
    // line, or the report that a line was too long. Answered like a frame.
    virtual void processLine(const ClientRef& client, const TextLine& line)
    {
        (void)line;
        client->reply({});
    }
};

// "HOST:PORT" for a listener: an IP address ("localhost" is 127.0.0.1, an
// IPv6 address may be bracketed) and a port 0..65535 (0: any free port).
bool parseListenAddress(const QString& text, QHostAddress& host, quint16& port);

struct ProcessorServerLimits {
    std::size_t requestBuffer = frame_reader_capacity;  // per client, unread requests
    // TCP replies not yet taken by the client: above the backlog no further
    // request is read; above the limit the client is disconnected.
    qint64 replyBacklog = 64 * 1024;
    qint64 replyLimit = 1024 * 1024;
    int waitingClients = 16;  // per listener; one more is closed at once
    // Clients served at the same time; the processor serves one.
    int servedClients = 1;
    // A silent client gives the line up to a waiting one after this long.
    int idleMs = 10000;
    // A client silent this long with nothing outstanding is closed whether
    // or not anybody waits; 0: never.
    int closeIdleMs = 0;
    // A partial frame on the serial line older than this is given up: the
    // link's own read time-out (200 ms) has long run out, and its next
    // request must not be glued to it.
    int serialIdleMs = 500;
};

class ProcessorServer : public QObject {
    Q_OBJECT
public:
    explicit ProcessorServer(ProcessorResponder& responder, ProcessorServerLimits limits = {},
                             QObject* parent = nullptr);
    ~ProcessorServer() override;

    // Each may be called once; on failure `error` says why.
    bool listenTcp(const QHostAddress& host, quint16 port, QString& error);
    // linkPath "-": a pseudo-terminal without a symbolic link. bytesPerSecond
    // 0: replies go out as fast as the terminal takes them.
    bool openPty(const QString& linkPath, int bytesPerSecond, QString& error);

    // Before listenTcp: clients send text lines of at most maxLine bytes
    // instead of frames, answered through processLine().
    void setTextLines(std::size_t maxLine) { m_lineLength = maxLine; }
    // Before listenTcp: a peer the filter refuses is closed at once.
    void setPeerFilter(std::function<bool(const QHostAddress&)> accept) { m_accept = std::move(accept); }

    bool isListening() const { return m_tcp != nullptr; }
    QHostAddress tcpAddress() const;
    quint16 tcpPort() const;
    QString ptyName() const;  // empty without a pseudo-terminal

    const ProcessorServerLimits& limits() const { return m_limits; }
    // For tests and diagnostics: TCP clients waiting to be served, and every
    // byte the server holds for its clients (framers and socket buffers).
    int waitingCount() const { return static_cast<int>(m_waiting.size()); }
    int servedCount() const { return static_cast<int>(m_served.size()); }
    qint64 heldBytes() const;

private:
    friend class ProcessorClient;

    void onNewConnection();
    void serveNext();
    void dropClient(ProcessorClient* client, bool abort);
    void onServedDisconnected(ProcessorClient* client);
    bool isServed(const ProcessorClient* client) const { return m_served.contains(client); }
    void readTcp();
    void readPty();
    void pump(ProcessorClient* client);
    void answered(ProcessorClient* client);
    void send(ProcessorClient* client, std::span<const std::uint8_t> bytes);
    void checkIdle();
    void reportDropped(ProcessorClient* client);

    ProcessorResponder& m_responder;
    ProcessorServerLimits m_limits;

    QTcpServer* m_tcp = nullptr;
    QList<QTcpSocket*> m_waiting;
    QList<ProcessorClient*> m_served;
    QTimer* m_idleTimer = nullptr;
    std::size_t m_lineLength = 0;  // 0: frames
    std::function<bool(const QHostAddress&)> m_accept;

    PtyListener* m_pty = nullptr;
    ProcessorClient* m_serial = nullptr;
    QTimer* m_serialIdle = nullptr;
};

}  // namespace tk770
