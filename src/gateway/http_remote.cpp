#include "gateway/http_remote.h"

#include "core/captions.h"
#include "gateway/gateway_commands.h"
#include "gateway/gateway_options.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QTimer>

#include <chrono>

namespace tk770 {

namespace {

constexpr int tickMs = 10'000;

// The client's address, for the wrong-token back-off.
QHostAddress peerOf(const WebRequest& request)
{
    return QHostAddress(QString::fromStdString(request.peer));
}

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string compact(const QJsonObject& body)
{
    return QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
}

WebResponse json(int status, const QJsonObject& body)
{
    return WebResponse{status, "application/json", {{"Cache-Control", "no-store"}}, compact(body), false};
}

WebResponse error(int status, const QString& reason)
{
    return json(status, QJsonObject{{"ok", false}, {"error", reason}});
}

WebResponse authRequired()
{
    WebResponse response = error(401, "auth required");
    response.headers.emplace_back("WWW-Authenticate", "Bearer");
    return response;
}

// The command layer's answer as the API's. The one place a refusal becomes
// an HTTP status.
WebResponse responseOf(const CommandReply& reply)
{
    if (reply.error)
        return error(reply.error->httpStatus, reply.error->reason);
    QJsonObject body{{"ok", true}};
    if (!reply.text.isEmpty())
        body.insert("value", reply.text);
    return json(200, body);
}

WebResponse page()
{
    QFile file(":/tk770/remote.html");
    file.open(QIODevice::ReadOnly);
    return WebResponse{200,
                       "text/html; charset=utf-8",
                       {{"Cache-Control", "no-store"},
                        {"X-Frame-Options", "DENY"},
                        {"Content-Security-Policy",
                         "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
                         "connect-src 'self'; img-src data:; frame-ancestors 'none'"}},
                       file.readAll().toStdString(),
                       false};
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

// The JSON object of a POST body, or a reason to refuse it.
QJsonObject parseBody(const WebRequest& request, QString* error)
{
    if (request.contentType.rfind("application/json", 0) != 0) {
        // A page elsewhere can post plain text without asking; JSON it cannot.
        *error = "Content-Type must be application/json";
        return {};
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &parse);
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

HttpRemote::HttpRemote(GatewayCommands& commands, QByteArray token, Settings settings, QObject* parent)
    : QObject(parent), m_commands(commands), m_token(std::move(token)), m_settings(std::move(settings))
{
    HttpLimits limits;
    limits.maxHeadBytes = maxHeadBytes;
    limits.maxBodyBytes = maxBodyBytes;
    limits.maxConnections = maxConnections;
    limits.maxWebSockets = maxWebSockets;
    limits.maxWebSocketBacklog = maxWebSocketBacklog;
    limits.idleMs = m_settings.idleMs;
    // Runs on the transport's thread: the request crosses to this one, and
    // nothing thrown on the way reaches the event loop.
    m_server = std::make_unique<HttpServer>(limits, [this](WebRequest request, WebReply reply) {
        QMetaObject::invokeMethod(
            this,
            [this, request = std::move(request), reply = std::move(reply)] {
                try {
                    handle(request, reply);
                } catch (const std::exception& e) {
                    reply.send(error(500, QString::fromUtf8(e.what())));
                }
            },
            Qt::QueuedConnection);
    });
    connect(&m_commands, &GatewayCommands::changed, this, &HttpRemote::pushChange);
    // A page learns that a silent connection is dead from the missing ticks.
    m_tick = new QTimer(this);
    connect(m_tick, &QTimer::timeout, this, [this] { m_server->broadcast(R"({"type":"tick"})"); });
    m_tick->start(tickMs);
}

HttpRemote::~HttpRemote()
{
    // The transport's thread ends before anything it could call goes.
    m_server.reset();
}

bool HttpRemote::listenOn(const QHostAddress& address, quint16 port, QString* error)
{
    std::string reason;
    if (!m_settings.tlsCertificate.isEmpty() &&
        !m_server->useTls(m_settings.tlsCertificate.toStdString(), m_settings.tlsKey.toStdString(), &reason)) {
        *error = QString::fromStdString(reason);
        return false;
    }
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    const QString text = v4 ? QHostAddress(ip).toString() : address.toString();
    if (!m_server->listen(text.toStdString(), port, &reason)) {
        if (error)
            *error = QString::fromStdString(reason);
        return false;
    }
    return true;
}

QHostAddress HttpRemote::address() const
{
    return QHostAddress(QString::fromStdString(m_server->address()));
}

quint16 HttpRemote::port() const
{
    return m_server->port();
}

bool HttpRemote::secure() const
{
    return m_server->secure();
}

int HttpRemote::webSocketCount() const
{
    return m_server->webSocketCount();
}

int HttpRemote::connectionCount() const
{
    return m_server->connectionCount();
}

bool HttpRemote::bearerAccepted(const std::string& authorization) const
{
    const QByteArray header = QByteArray::fromStdString(authorization);
    return header.startsWith("Bearer ") && tokenMatches(header.mid(7).trimmed(), m_token);
}

bool HttpRemote::sessionAccepted(const std::vector<std::string>& cookieHeaders)
{
    // Every session cookie is looked at: a forged one sent first (another
    // page on the same host can set one) must not hide the valid one.
    const QByteArray prefix = QByteArray(sessionCookie) + '=';
    const qint64 now = nowMs();
    for (const std::string& header : cookieHeaders) {
        for (const QByteArray& part : QByteArray::fromStdString(header).split(';')) {
            const QByteArray item = part.trimmed();
            if (!item.startsWith(prefix) || item.size() == prefix.size())
                continue;
            const QByteArray presented = item.mid(prefix.size());
            for (auto& sessions : m_sessions) {
                for (Session& session : sessions) {
                    if (now - session.lastUsedMs < sessionIdleMs && tokenMatches(presented, session.id)) {
                        session.lastUsedMs = now;
                        return true;
                    }
                }
            }
        }
    }
    return false;
}

bool HttpRemote::authorized(const WebRequest& request)
{
    if (m_token.isEmpty())
        return true;
    const bool bearer = QByteArray::fromStdString(request.authorization).startsWith("Bearer ");
    if (bearer && bearerAccepted(request.authorization)) {
        m_commands.tokenGuard().record(peerOf(request), true);
        return true;
    }
    return sessionAccepted(request.cookies);
}

void HttpRemote::refuseUnauthorized(const WebRequest& request, const WebReply& reply)
{
    // A wrong bearer token waits, as a wrong token does on every remote; a
    // request that presents none is not a guess.
    const bool bearer = QByteArray::fromStdString(request.authorization).startsWith("Bearer ");
    if (!bearer)
        return reply.send(authRequired());
    const auto wait = m_commands.tokenGuard().record(peerOf(request), false).wait;
    QTimer::singleShot(wait, this, [reply] { reply.send(authRequired()); });
}

QByteArray HttpRemote::newSession()
{
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray id = QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
    const qint64 now = nowMs();
    QList<Session>& sessions = m_sessions[m_token];
    sessions.removeIf([now](const Session& s) { return now - s.lastUsedMs >= sessionIdleMs; });
    if (sessions.size() >= maxSessionsPerToken) {
        const auto oldest = std::min_element(sessions.begin(), sessions.end(), [](const Session& a, const Session& b) {
            return a.lastUsedMs < b.lastUsedMs;
        });
        sessions.erase(oldest);
    }
    sessions.append(Session{id, now});
    return id;
}

void HttpRemote::handle(const WebRequest& request, const WebReply& reply)
{
    const QString path = QString::fromStdString(request.path);
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    if (request.upgrade) {
        if (path != QLatin1String("/ws"))
            return reply.send(error(404, "not found"));
        if (!authorized(request))
            return refuseUnauthorized(request, reply);
        // The transport opens the socket, counts it and sends this first.
        WebResponse open;
        open.upgrade = true;
        open.body = compact(QJsonObject{{"type", "state"}, {"state", m_commands.state()}});
        return reply.send(std::move(open));
    }
    // A known path with the wrong method: answered with the method to use.
    const auto only = [&](bool right, const char* method) {
        if (!right)
            reply.send(error(405, QStringLiteral("use %1").arg(QLatin1String(method))));
        return right;
    };
    if (path == QLatin1String("/") || path == QLatin1String("/index.html")) {
        if (only(get, "GET"))
            reply.send(page());
        return;
    }
    if (path == QLatin1String("/api/captions")) {
        if (only(get, "GET"))
            reply.send(json(200, QJsonObject{{"zh", captionsOf(language_chinese)}, {"en", captionsOf(language_english)}}));
        return;
    }
    if (path == QLatin1String("/login")) {
        if (only(post, "POST"))
            login(request, reply);
        return;
    }
    if (path == QLatin1String("/ws")) {
        WebResponse response = error(426, "a WebSocket upgrade expected");
        response.headers.emplace_back("Upgrade", "websocket");
        return reply.send(std::move(response));
    }
    const bool isState = path == QLatin1String("/api/state");
    const bool isSet = path == QLatin1String("/api/set");
    const bool isCommand = path == QLatin1String("/api/command");
    if (!isState && !isSet && !isCommand)
        return reply.send(error(404, "not found"));
    if (!authorized(request))
        return refuseUnauthorized(request, reply);
    if (isState) {
        if (only(get, "GET"))
            reply.send(json(200, m_commands.state()));
        return;
    }
    if (only(post, "POST"))
        runCommand(request, reply, isSet);
}

void HttpRemote::login(const WebRequest& request, const WebReply& reply)
{
    QString reason;
    const QJsonObject body = parseBody(request, &reason);
    if (!reason.isEmpty())
        return reply.send(error(400, reason));
    if (!body.value("token").isString())
        return reply.send(error(400, "token missing"));
    if (m_token.isEmpty())
        return reply.send(json(200, QJsonObject{{"ok", true}}));
    const auto verdict = m_commands.tokenGuard().record(peerOf(request),
                                                        tokenMatches(body.value("token").toString().toUtf8(), m_token));
    if (!verdict.accepted) {
        // A wrong token is answered late, which makes guessing slow.
        QTimer::singleShot(verdict.wait, this, [reply] { reply.send(error(401, "wrong token")); });
        return;
    }
    // The cookie carries a random session id, never the token itself.
    WebResponse response = json(200, QJsonObject{{"ok", true}});
    response.headers.emplace_back("Set-Cookie", std::string(sessionCookie) + '=' + newSession().toStdString() +
                                                    "; Path=/; HttpOnly; SameSite=Strict" +
                                                    (secure() ? "; Secure" : ""));
    reply.send(std::move(response));
}

void HttpRemote::runCommand(const WebRequest& request, const WebReply& reply, bool isSet)
{
    QString reason;
    const QJsonObject body = parseBody(request, &reason);
    if (!reason.isEmpty())
        return reply.send(error(400, reason));

    QString command, argument;
    if (isSet) {
        QString field, value;
        if (!body.value("field").isString() || body.value("field").toString().isEmpty())
            return reply.send(error(400, "field missing"));
        field = body.value("field").toString();
        for (const QChar c : field) {
            if (c.isSpace())
                return reply.send(error(400, "unknown field"));
        }
        if (!textOf(body.value("value"), &value))
            return reply.send(error(400, "value must be a text or a number"));
        command = "set";
        argument = field + ' ' + value;
    } else {
        if (!body.value("command").isString())
            return reply.send(error(400, "command missing"));
        command = body.value("command").toString().toLower();
        if (body.contains("value") && !textOf(body.value("value"), &argument))
            return reply.send(error(400, "value must be a text or a number"));
    }
    // One line per command on the text side; the same rule here.
    for (const QChar c : argument) {
        if (c == '\r' || c == '\n' || c == QChar(0))
            return reply.send(error(400, "bad value"));
    }
    // A client that has left by the time the processor answers is not
    // answered; the transport drops the reply.
    const CommandCaller caller{GatewayPeer{QString::fromStdString(request.peer), "http"}, WebRemote};
    m_commands.run(command, argument, caller, [reply](const CommandReply& answer) { reply.send(responseOf(answer)); });
}

void HttpRemote::pushChange(const QString& key, const QString& value)
{
    m_server->broadcast(compact(QJsonObject{{"type", "change"}, {"key", key}, {"value", value}}));
}

}  // namespace tk770
