#include "gateway/http_remote.h"

#include "core/captions.h"
#include "gateway/gateway_commands.h"
#include "gateway/gateway_options.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <memory>

namespace tk770 {

namespace {

using Status = QHttpServerResponder::StatusCode;

constexpr int maxSessions = 64;
constexpr int idleHttpMs = 60'000;
constexpr int tickMs = 10'000;
// What a refused request may still send before its connection is closed,
// read and dropped so the client sees the refusal instead of a reset.
constexpr qint64 maxDrainBytes = 64 * 1024;
constexpr int drainMs = 2'000;

QByteArray errorJson(const QString& reason)
{
    return QJsonDocument(QJsonObject{{"ok", false}, {"error", reason}}).toJson(QJsonDocument::Compact);
}

void writeJson(QHttpServerResponder& responder, Status status, const QJsonObject& body)
{
    responder.write(QJsonDocument(body).toJson(QJsonDocument::Compact),
                    {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}}, status);
}

void writeError(QHttpServerResponder& responder, Status status, const QString& reason)
{
    writeJson(responder, status, QJsonObject{{"ok", false}, {"error", reason}});
}

// Writes a refusal once `wait` has passed (a wrong token's back-off), if the
// client is still there to read it.
template <typename Write>
void writeLater(QObject* context, QTcpSocket* socket, QHttpServerResponder&& responder,
                std::chrono::milliseconds wait, Write write)
{
    auto later = std::make_shared<QHttpServerResponder>(std::move(responder));
    QTimer::singleShot(wait, context, [alive = QPointer<QTcpSocket>(socket), later, write] {
        if (alive && alive->state() == QAbstractSocket::ConnectedState)
            write(*later);
    });
}

QByteArray reasonPhrase(Status status)
{
    switch (status) {
    case Status::BadRequest: return "Bad Request";
    case Status::Unauthorized: return "Unauthorized";
    case Status::Forbidden: return "Forbidden";
    case Status::LengthRequired: return "Length Required";
    case Status::PayloadTooLarge: return "Payload Too Large";
    case Status::MisdirectedRequest: return "Misdirected Request";
    case Status::RequestHeaderFieldsTooLarge: return "Request Header Fields Too Large";
    case Status::ServiceUnavailable: return "Service Unavailable";
    default: return "Refused";
    }
}

QString peerAddress(const QHostAddress& address)
{
    bool mapped = false;
    const QHostAddress v4(address.toIPv4Address(&mapped));
    return mapped ? v4.toString() : address.toString();
}

QByteArray cookieValue(const QByteArray& cookieHeader, const QByteArray& name)
{
    for (const QByteArray& part : cookieHeader.split(';')) {
        const QByteArray item = part.trimmed();
        if (item.startsWith(name + '='))
            return item.mid(name.size() + 1);
    }
    return {};
}

// The page's texts that the caption tables hold, by the names the page uses.
QJsonObject captionsOf(int language)
{
    auto text = [language](int pair) { return QString::fromUtf8(caption(pair, language)).trimmed(); };
    auto run = [&](int first, int count) {
        QJsonArray list;
        for (int i = 0; i < count; ++i)
            list.append(text(first + i));
        return list;
    };
    return QJsonObject{
        {"title", text(pair_window_title)},
        {"volume", text(pair_master_volume)},
        {"mute", text(pair_mute)},
        {"format", text(pair_format_menu)},
        {"formats", run(pair_format_items, 5)},
        {"power_on", text(pair_power_on_menu)},
        {"power_on_items", run(pair_power_on_items, 6)},
        {"fade_times", run(pair_fade_times, 10)},
        {"language", text(pair_language_menu)},
        {"device", text(pair_device_heading)},
        {"model", text(pair_device_model_line)},
        {"serial", text(pair_device_serial_line)},
        {"firmware", text(pair_firmware_version_line)},
    };
}

}  // namespace

// Watches one connection's bytes before Qt HttpServer reads them. Its slot
// is connected first, so it sees every chunk ahead of the server; the
// server reads inside a transaction, which leaves exactly the new bytes for
// peek(). It frames requests by head and Content-Length only, and refuses
// what the server would otherwise buffer whole: heads over 8 KiB, bodies
// over 4 KiB, chunked bodies, foreign Host or Origin, and WebSocket
// upgrades without authorization or beyond the client limit.
class RequestScreen : public QObject {
public:
    RequestScreen(QTcpSocket* socket, HttpRemote* remote)
        : QObject(socket), m_socket(socket), m_remote(remote)
    {
        connect(socket, &QTcpSocket::readyRead, this, &RequestScreen::screen);
        m_idle.setSingleShot(true);
        connect(&m_idle, &QTimer::timeout, socket, &QTcpSocket::abort);
        m_idle.start(idleHttpMs);
    }

private:
    void screen()
    {
        if (m_refused) {
            drain();
            return;
        }
        if (m_upgraded)
            return;
        m_idle.start(idleHttpMs);
        const QByteArray chunk = m_socket->peek(m_socket->bytesAvailable());
        qsizetype at = 0;
        while (at < chunk.size() && !m_refused && !m_upgraded) {
            if (m_bodyLeft > 0) {
                const qsizetype take = qMin<qsizetype>(m_bodyLeft, chunk.size() - at);
                m_bodyLeft -= take;
                at += take;
                continue;
            }
            const qsizetype before = m_head.size();
            m_head.append(chunk.mid(at, maxHead() + 4 - before));
            const qsizetype end = m_head.indexOf("\r\n\r\n");
            if (end < 0) {
                if (m_head.size() > maxHead())
                    refuse(Status::RequestHeaderFieldsTooLarge, "request head over 8192 bytes");
                return;
            }
            at += end + 4 - before;
            m_head.truncate(end);
            judgeHead();
            m_head.clear();
        }
    }

    static qsizetype maxHead() { return HttpRemote::maxHeadBytes; }

    void judgeHead()
    {
        QByteArray length, encoding, upgrade, authorization, cookie, origin, host;
        const QList<QByteArray> lines = m_head.split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray& line = lines[i];
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-length") {
                // Two lengths that differ make two readings of one stream.
                if (!length.isEmpty() && length != value)
                    return refuse(Status::BadRequest, "bad Content-Length");
                length = value;
            }
            else if (name == "transfer-encoding")
                encoding = value;
            else if (name == "upgrade")
                upgrade = value;
            else if (name == "authorization")
                authorization = value;
            else if (name == "cookie")
                cookie = value;
            else if (name == "origin")
                origin = value;
            else if (name == "host")
                host = value;
        }
        if (!m_remote->hostAccepted(host))
            return refuse(Status::MisdirectedRequest, "unknown host");
        if (!origin.isEmpty() && origin != "http://" + host)
            return refuse(Status::Forbidden, "cross-origin request");
        if (!encoding.isEmpty())
            return refuse(Status::LengthRequired, "a body needs Content-Length");
        if (!length.isEmpty()) {
            bool ok = false;
            const qlonglong n = length.toLongLong(&ok);
            if (!ok || n < 0 || length.front() == '+')
                return refuse(Status::BadRequest, "bad Content-Length");
            if (n > HttpRemote::maxBodyBytes)
                return refuse(Status::PayloadTooLarge, "body over 4096 bytes", n);
            m_bodyLeft = n;
        }
        if (!upgrade.isEmpty()) {
            if (upgrade.compare("websocket", Qt::CaseInsensitive) != 0)
                return refuse(Status::BadRequest, "only WebSocket upgrades");
            if (!m_remote->authorized(authorization, cookie))
                return refuse(Status::Unauthorized, "auth required");
            if (m_remote->webSocketCount() >= HttpRemote::maxWebSockets)
                return refuse(Status::ServiceUnavailable, "too many clients");
            // Qt hands the socket to its WebSocket server: what follows
            // are frames, and an open page may stay quiet for hours.
            m_upgraded = true;
            m_idle.stop();
        }
    }

    void refuse(Status status, const QString& reason, qlonglong bodyLeft = 0)
    {
        m_refused = true;
        m_drainLeft = qBound<qint64>(0, bodyLeft, maxDrainBytes);
        // The server must not see this request: detach its slot, end its
        // transaction (dropping what it held) and keep reading here only.
        disconnect(m_socket, &QTcpSocket::readyRead, nullptr, nullptr);
        connect(m_socket, &QTcpSocket::readyRead, this, &RequestScreen::screen);
        if (m_socket->isTransactionStarted())
            m_socket->commitTransaction();
        const QByteArray body = errorJson(reason);
        QByteArray response = "HTTP/1.1 " + QByteArray::number(int(status)) + ' ' + reasonPhrase(status) + "\r\n";
        if (status == Status::Unauthorized)
            response += "WWW-Authenticate: Bearer\r\n";
        response += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
                    "\r\nConnection: close\r\n\r\n" + body;
        m_socket->write(response);
        m_idle.start(drainMs);
        drain();
    }

    void drain()
    {
        const qint64 n = m_socket->read(nullptr, m_socket->bytesAvailable());  // skip unread
        m_drainLeft -= qMax<qint64>(n, 0);
        if (m_drainLeft <= 0 && !m_closing) {
            m_closing = true;
            m_socket->disconnectFromHost();
        }
    }

    QTcpSocket* m_socket;
    HttpRemote* m_remote;
    QByteArray m_head;
    qint64 m_bodyLeft = 0;
    qint64 m_drainLeft = 0;
    bool m_refused = false;
    bool m_upgraded = false;
    bool m_closing = false;
    QTimer m_idle;
};

class HttpListener : public QTcpServer {
public:
    HttpListener(HttpRemote* remote) : m_remote(remote) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        // Owned by the listener, so none outlives the remote; Qt deletes it
        // sooner when the client leaves.
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (m_open >= HttpRemote::maxConnections) {
            socket->abort();
            delete socket;
            return;
        }
        ++m_open;
        // The screen lives as long as the socket, also after a WebSocket
        // upgrade, when Qt drops every connection of the socket's signals.
        auto* screen = new RequestScreen(socket, m_remote);  // before the server connects its own slot
        connect(screen, &QObject::destroyed, this, [this] { --m_open; });
        addPendingConnection(socket);
    }

public:
    int openCount() const { return m_open; }

private:
    HttpRemote* m_remote;
    int m_open = 0;
};

HttpRemote::HttpRemote(GatewayCommands& commands, QByteArray token, QObject* parent)
    : QAbstractHttpServer(parent), m_commands(commands), m_token(std::move(token))
{
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &HttpRemote::acceptWebSockets);
    connect(&m_commands, &GatewayCommands::changed, this, &HttpRemote::pushChange);
    // A page learns that a silent connection is dead from the missing ticks.
    m_tick = new QTimer(this);
    connect(m_tick, &QTimer::timeout, this, [this] { sendToAll(R"({"type":"tick"})"); });
    m_tick->start(tickMs);
}

HttpRemote::~HttpRemote()
{
    // The pages go before the listener that holds their connections.
    for (QWebSocket* socket : std::as_const(m_sockets)) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
    m_sockets.clear();
}

bool HttpRemote::listenOn(const QHostAddress& address, quint16 port, QString* error)
{
    auto* listener = new HttpListener(this);
    if (!listener->listen(address, port)) {
        if (error)
            *error = listener->errorString();
        delete listener;
        return false;
    }
    m_listener = listener;
    bind(listener);
    return true;
}

QHostAddress HttpRemote::address() const
{
    return m_listener ? m_listener->serverAddress() : QHostAddress();
}

quint16 HttpRemote::port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

int HttpRemote::connectionCount() const
{
    return m_listener ? m_listener->openCount() : 0;
}

bool HttpRemote::authorized(const QByteArray& authorization, const QByteArray& cookie) const
{
    if (m_token.isEmpty())
        return true;
    if (authorization.startsWith("Bearer ") && tokenMatches(authorization.mid(7).trimmed(), m_token))
        return true;
    const QByteArray session = cookieValue(cookie, sessionCookie);
    if (session.isEmpty())
        return false;
    bool found = false;
    for (const QByteArray& known : m_sessions)
        found |= tokenMatches(session, known);
    return found;
}

bool HttpRemote::hostAccepted(const QByteArray& host) const
{
    if (!m_listener || !m_listener->serverAddress().isLoopback())
        return true;
    const QByteArray port = ':' + QByteArray::number(this->port());
    for (const char* name : {"127.0.0.1", "localhost", "[::1]"}) {
        if (host == name || host == name + port)
            return true;
    }
    return false;
}

QByteArray HttpRemote::newSession()
{
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray id = QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
    if (m_sessions.size() >= maxSessions)
        m_sessions.removeFirst();
    m_sessions.append(id);
    return id;
}

bool HttpRemote::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    using Method = QHttpServerRequest::Method;
    const QString path = request.url().path();
    const Method method = request.method();
    const bool upgrade = request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
    if (upgrade) {
        // Qt asks here before it hands the socket to its WebSocket server;
        // false makes it answer 404. The screen has refused these already
        // with a proper status; this keeps the rule where the routes are.
        return path == QLatin1String("/ws") && authorized(request.value("authorization"), request.value("cookie")) &&
               m_sockets.size() < maxWebSockets;
    }
    auto responder = makeResponder(request, socket);
    // A known path with the wrong method: handled, with the method to use.
    auto wrongMethod = [&responder](Method wanted) {
        writeError(responder, Status::MethodNotAllowed, wanted == Method::Get ? "use GET" : "use POST");
        return true;
    };

    if (path == QLatin1String("/") || path == QLatin1String("/index.html")) {
        if (method != Method::Get)
            return wrongMethod(Method::Get);
        QFile page(":/tk770/remote.html");
        page.open(QIODevice::ReadOnly);
        responder.write(page.readAll(),
                        {{"Content-Type", "text/html; charset=utf-8"},
                         {"Cache-Control", "no-store"},
                         {"X-Frame-Options", "DENY"},
                         {"Content-Security-Policy",
                          "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
                          "connect-src 'self'; img-src data:; frame-ancestors 'none'"}});
        return true;
    }
    if (path == QLatin1String("/api/captions")) {
        if (method != Method::Get)
            return wrongMethod(Method::Get);
        writeJson(responder, Status::Ok,
                  QJsonObject{{"zh", captionsOf(language_chinese)}, {"en", captionsOf(language_english)}});
        return true;
    }
    if (path == QLatin1String("/login")) {
        if (method != Method::Post)
            return wrongMethod(Method::Post);
        login(request, socket);
        return true;
    }
    const bool isState = path == QLatin1String("/api/state");
    const bool isSet = path == QLatin1String("/api/set");
    const bool isCommand = path == QLatin1String("/api/command");
    if (!isState && !isSet && !isCommand)
        return false;
    const QByteArray authorization = request.value("authorization");
    const bool bearer = authorization.startsWith("Bearer ");
    if (!authorized(authorization, request.value("cookie"))) {
        // A wrong bearer token waits, as a wrong token does on every remote.
        const auto wait = bearer ? m_commands.tokenGuard().record(request.remoteAddress(), false).wait
                                 : std::chrono::milliseconds(0);
        writeLater(this, socket, std::move(responder), wait, [](QHttpServerResponder& r) {
            r.write(errorJson("auth required"), {{"Content-Type", "application/json"}, {"WWW-Authenticate", "Bearer"}},
                    Status::Unauthorized);
        });
        return true;
    }
    if (bearer)
        m_commands.tokenGuard().record(request.remoteAddress(), true);
    if (isState) {
        if (method != Method::Get)
            return wrongMethod(Method::Get);
        writeJson(responder, Status::Ok, m_commands.state());
        return true;
    }
    if (method != Method::Post)
        return wrongMethod(Method::Post);
    runCommand(request, socket, isSet);
    return true;
}

void HttpRemote::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    auto responder = makeResponder(request, socket);
    writeError(responder, Status::NotFound, "not found");
}

namespace {

// The JSON object of a POST body, or a reason to refuse it.
QJsonObject parseBody(const QHttpServerRequest& request, QString* error)
{
    if (!request.value("content-type").startsWith("application/json")) {
        // A page elsewhere can post plain text without asking; JSON it cannot.
        *error = "Content-Type must be application/json";
        return {};
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body(), &parse);
    if (parse.error != QJsonParseError::NoError) {
        *error = QString("bad JSON at byte %1: %2").arg(parse.offset).arg(parse.errorString());
        return {};
    }
    if (!doc.isObject()) {
        *error = "a JSON object expected";
        return {};
    }
    return doc.object();
}

// A member that must be a text, or a number written as the text protocol would.
bool textOf(const QJsonValue& value, QString* text)
{
    if (value.isString()) {
        *text = value.toString();
        return true;
    }
    if (value.isDouble()) {
        const double v = value.toDouble();
        *text = QString::number(v, 'g', 15);
        return true;
    }
    return false;
}

}  // namespace

void HttpRemote::login(const QHttpServerRequest& request, QTcpSocket* socket)
{
    auto responder = makeResponder(request, socket);
    QString error;
    const QJsonObject body = parseBody(request, &error);
    if (!error.isEmpty())
        return writeError(responder, Status::BadRequest, error);
    if (!body.value("token").isString())
        return writeError(responder, Status::BadRequest, "token missing");
    if (m_token.isEmpty())
        return writeJson(responder, Status::Ok, QJsonObject{{"ok", true}});
    const auto verdict =
        m_commands.tokenGuard().record(request.remoteAddress(), tokenMatches(body.value("token").toString().toUtf8(), m_token));
    if (!verdict.accepted) {
        // A wrong token is answered late, which makes guessing slow.
        return writeLater(this, socket, std::move(responder), verdict.wait,
                          [](QHttpServerResponder& r) { writeError(r, Status::Unauthorized, "wrong token"); });
    }
    // The cookie carries a random session id, never the token itself.
    const QByteArray cookie =
        QByteArray(sessionCookie) + '=' + newSession() + "; Path=/; HttpOnly; SameSite=Strict";
    responder.write(QJsonDocument(QJsonObject{{"ok", true}}).toJson(QJsonDocument::Compact),
                    {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}, {"Set-Cookie", cookie}},
                    Status::Ok);
}

void HttpRemote::runCommand(const QHttpServerRequest& request, QTcpSocket* socket, bool isSet)
{
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    QString error;
    const QJsonObject body = parseBody(request, &error);
    if (!error.isEmpty())
        return writeError(*responder, Status::BadRequest, error);

    QString command, argument;
    if (isSet) {
        QString field, value;
        if (!body.value("field").isString() || body.value("field").toString().isEmpty())
            return writeError(*responder, Status::BadRequest, "field missing");
        field = body.value("field").toString();
        for (const QChar c : field) {
            if (c.isSpace())
                return writeError(*responder, Status::BadRequest, "unknown field");
        }
        if (!textOf(body.value("value"), &value))
            return writeError(*responder, Status::BadRequest, "value must be a text or a number");
        command = "set";
        argument = field + ' ' + value;
    } else {
        if (!body.value("command").isString())
            return writeError(*responder, Status::BadRequest, "command missing");
        command = body.value("command").toString().toLower();
        if (body.contains("value") && !textOf(body.value("value"), &argument))
            return writeError(*responder, Status::BadRequest, "value must be a text or a number");
    }
    // One line per command on the text side; the same rule here.
    for (const QChar c : argument) {
        if (c == '\r' || c == '\n' || c == QChar(0))
            return writeError(*responder, Status::BadRequest, "bad value");
    }
    // The client may leave before the processor answers; its reply is dropped.
    QPointer<QTcpSocket> alive(socket);
    const CommandCaller caller{GatewayPeer{peerAddress(request.remoteAddress()), "http"}, WebRemote};
    m_commands.run(command, argument, caller, [alive, responder](const CommandReply& reply) {
        if (!alive || alive->state() != QAbstractSocket::ConnectedState)
            return;
        if (reply.error)
            return writeError(*responder, Status(reply.error->httpStatus), reply.error->reason);
        QJsonObject body{{"ok", true}};
        if (!reply.text.isEmpty())
            body.insert("value", reply.text);
        writeJson(*responder, Status::Ok, body);
    });
}

void HttpRemote::acceptWebSockets()
{
    while (hasPendingWebSocketConnections()) {
        QWebSocket* socket = nextPendingWebSocketConnection().release();
        if (!socket)
            break;
        socket->setParent(this);
        // The upgrade was screened already; the count may have grown since.
        if (m_sockets.size() >= maxWebSockets) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, "too many clients");
            socket->deleteLater();
            continue;
        }
        socket->setMaxAllowedIncomingFrameSize(maxBodyBytes);
        socket->setMaxAllowedIncomingMessageSize(maxBodyBytes);
        connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString&) {
            send(socket, R"({"type":"error","error":"this socket only tells; send commands with POST /api/command"})");
        });
        m_sockets.append(socket);
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            m_sockets.removeOne(socket);
            socket->deleteLater();
        });
        send(socket, QJsonDocument(QJsonObject{{"type", "state"}, {"state", m_commands.state()}})
                         .toJson(QJsonDocument::Compact));
    }
}

void HttpRemote::pushChange(const QString& key, const QString& value)
{
    sendToAll(QJsonDocument(QJsonObject{{"type", "change"}, {"key", key}, {"value", value}})
                  .toJson(QJsonDocument::Compact));
}

void HttpRemote::sendToAll(const QByteArray& message)
{
    const QList<QWebSocket*> sockets = m_sockets;  // send() may drop one
    for (QWebSocket* socket : sockets)
        send(socket, message);
}

void HttpRemote::send(QWebSocket* socket, const QByteArray& message)
{
    if (socket->bytesToWrite() > maxWebSocketBacklog) {
        m_sockets.removeOne(socket);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->sendTextMessage(QString::fromUtf8(message));
}

}  // namespace tk770
