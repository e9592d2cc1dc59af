// The web remote: one page, a JSON API and a WebSocket of changes, on Qt
// HttpServer. Every request goes through the command layer, so the page and
// the API change the processor exactly as the text protocol does.
//
//   GET  /               the page (compiled in, no external assets)
//   GET  /api/captions   the page's texts in both languages, from the caption tables
//   GET  /api/state      every field, the link state and the identity
//   POST /api/set        {"field": NAME, "value": VALUE}
//   POST /api/command    {"command": "volume", "value": "5.5"}
//   POST /login          {"token": TOKEN}: sets the session cookie
//   GET  /ws             WebSocket: the state on open, then every change
//
// With a token every route but the page, its captions and /login needs
// "Authorization: Bearer TOKEN" or the session cookie; the WebSocket upgrade
// likewise. Requests are screened before Qt HttpServer buffers them: bodies
// over 4 KiB and oversized heads are refused unread.
#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

class QHttpServerRequest;
class QTcpSocket;
class QTimer;
class QWebSocket;

namespace tk770 {

class GatewayCommands;
class HttpListener;

class HttpRemote : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr qsizetype maxBodyBytes = 4096;
    static constexpr qsizetype maxHeadBytes = 8192;
    static constexpr int maxWebSockets = 16;
    // Plain HTTP connections besides the WebSockets: a few per browser.
    static constexpr int maxConnections = 64;
    // A page that stops reading its WebSocket is closed past this backlog.
    static constexpr qint64 maxWebSocketBacklog = 256 * 1024;
    static constexpr const char* sessionCookie = "tk770_session";

    // An empty token means no authentication (the listener is then bound
    // to the loopback address only; the program checks that).
    HttpRemote(GatewayCommands& commands, QByteArray token, QObject* parent = nullptr);
    ~HttpRemote() override;

    // Binds the listener; false with the system's reason when it cannot.
    bool listenOn(const QHostAddress& address, quint16 port, QString* error);
    QHostAddress address() const;
    quint16 port() const;

    int webSocketCount() const { return int(m_sockets.size()); }
    // Open TCP connections of the listener, WebSockets included.
    int connectionCount() const;

    // Authorization header or Cookie header of a request: true when no token
    // is set, or either carries the token or a live session.
    bool authorized(const QByteArray& authorization, const QByteArray& cookie) const;
    // The Host header names this listener (only checked on loopback, where
    // a rebound DNS name could otherwise reach an unauthenticated remote).
    bool hostAccepted(const QByteArray& host) const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    void acceptWebSockets();
    void pushChange(const QString& key, const QString& value);
    void sendToAll(const QByteArray& message);
    void send(QWebSocket* socket, const QByteArray& message);
    void login(const QHttpServerRequest& request, QTcpSocket* socket);
    void runCommand(const QHttpServerRequest& request, QTcpSocket* socket, bool isSet);
    QByteArray newSession();

    GatewayCommands& m_commands;
    QByteArray m_token;
    QList<QByteArray> m_sessions;  // oldest first
    QList<QWebSocket*> m_sockets;
    HttpListener* m_listener = nullptr;
    QTimer* m_tick = nullptr;
};

}  // namespace tk770
