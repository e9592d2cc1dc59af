// The web remote: one page, a JSON API and a WebSocket of changes. Every
// request goes through the command layer, so the page and the API change the
// processor exactly as the text protocol does.
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
// likewise. The transport (HttpServer, its own thread) screens and limits
// every request before it comes here; the routes run on this object's
// thread, and their answers go back to the transport.
#pragma once

#include "gateway/http_server.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QTimer;

namespace tk770 {

class GatewayCommands;
struct CommandReply;

struct HttpRemoteSettings {
    int idleMs = 60'000;        // a request must have come whole by then
    QByteArray tlsCertificate;  // PEM; both empty: plain HTTP
    QByteArray tlsKey;
};

class HttpRemote : public QObject {
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
    // Sessions of one token; past this the least recently used goes.
    static constexpr int maxSessionsPerToken = 1024;
    // A session unused this long is forgotten.
    static constexpr qint64 sessionIdleMs = 12LL * 60 * 60 * 1000;

    using Settings = HttpRemoteSettings;

    // An empty token means no authentication (the listener is then bound
    // to the loopback address only; the program checks that).
    HttpRemote(GatewayCommands& commands, QByteArray token, Settings settings = {}, QObject* parent = nullptr);
    ~HttpRemote() override;

    // Binds the listener; false with the reason when it cannot (a bad
    // certificate or key included).
    bool listenOn(const QHostAddress& address, quint16 port, QString* error);
    QHostAddress address() const;
    quint16 port() const;
    bool secure() const;

    int webSocketCount() const;
    // Open plain HTTP connections of the listener.
    int connectionCount() const;

private:
    void handle(const WebRequest& request, const WebReply& reply);
    void login(const WebRequest& request, const WebReply& reply);
    void runCommand(const WebRequest& request, const WebReply& reply, bool isSet);
    void pushChange(const QString& key, const QString& value);

    // Who may use the API and the WebSocket: one check each.
    bool authorized(const WebRequest& request);
    // Answers 401, late when a wrong bearer token was presented.
    void refuseUnauthorized(const WebRequest& request, const WebReply& reply);
    bool bearerAccepted(const std::string& authorization) const;
    bool sessionAccepted(const std::vector<std::string>& cookieHeaders);
    QByteArray newSession();

    struct Session {
        QByteArray id;
        qint64 lastUsedMs = 0;
    };

    GatewayCommands& m_commands;
    QByteArray m_token;
    Settings m_settings;
    QHash<QByteArray, QList<Session>> m_sessions;  // by the token they were opened with
    std::unique_ptr<HttpServer> m_server;
    QTimer* m_tick = nullptr;
};

}  // namespace tk770
