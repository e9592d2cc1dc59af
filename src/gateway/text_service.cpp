#include "gateway/text_service.h"

#include "gateway/gateway_options.h"

namespace tk770 {

namespace {

std::span<const std::uint8_t> bytesOf(const QByteArray& bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

QString replyLine(const CommandReply& reply)
{
    if (reply.ok) return reply.text.isEmpty() ? QStringLiteral("OK") : QStringLiteral("OK ") + reply.text;
    return QStringLiteral("ERR ") + reply.text;
}

}  // namespace

TextService::TextService(GatewayCommands& commands, QByteArray token, int idleMs,
                         std::function<void(const QString&)> trace, QObject* parent)
    : QObject(parent), m_commands(commands), m_token(std::move(token)), m_trace(std::move(trace))
{
    ProcessorServerLimits limits;
    limits.servedClients = 16;
    limits.waitingClients = 0;
    limits.requestBuffer = 4096;
    // Notifications for a subscriber that does not read pile up here; past
    // the limit it is cut off rather than allowed to grow the gateway.
    limits.replyBacklog = 16 * 1024;
    limits.replyLimit = 64 * 1024;
    limits.closeIdleMs = idleMs;
    ProcessorResponder& responder = *this;
    m_server = std::make_unique<ProcessorServer>(responder, limits);
    m_server->setTextLines(text_line_limit);
    connect(&m_commands, &GatewayCommands::changed, this, &TextService::notify);
}

TextService::~TextService()
{
    // The shell goes first, so no client's departure reaches a half-gone service.
    m_server.reset();
}

int TextService::subscriberCount() const
{
    int n = 0;
    for (const auto& s : m_clients)
        if (s.subscribed && s.client && s.client->isConnected()) ++n;
    return n;
}

TextService::ClientState& TextService::stateOf(const ClientRef& client)
{
    auto it = m_clients.find(client.data());
    if (it != m_clients.end()) return *it;
    ProcessorClient* key = client.data();
    connect(key, &ProcessorClient::gone, this, [this, key] { m_clients.remove(key); });
    ClientState state;
    state.client = client;
    state.authenticated = m_token.isEmpty();
    return *m_clients.insert(key, state);
}

void TextService::answer(const ClientRef& client, const QString& line)
{
    if (!client || !client->isConnected()) return;
    if (m_trace) m_trace(QStringLiteral("text %1 > %2").arg(client->peerText(), line));
    client->reply(bytesOf((line + QStringLiteral("\r\n")).toUtf8()));
}

void TextService::hangUp(const ClientRef& client, const QString& lastLine)
{
    if (!client || !client->isConnected()) return;
    if (m_trace) m_trace(QStringLiteral("text %1 > %2").arg(client->peerText(), lastLine));
    client->push(bytesOf((lastLine + QStringLiteral("\r\n")).toUtf8()));
    client->close();
}

void TextService::processLine(const ClientRef& client, const TextLine& line)
{
    ClientState& state = stateOf(client);
    if (line.too_long) {
        if (m_trace) m_trace(QStringLiteral("text %1 < (line too long)").arg(client->peerText()));
        if (!state.authenticated) return hangUp(client, QStringLiteral("ERR auth required"));
        return answer(client, QStringLiteral("ERR line too long"));
    }
    const QString text = QString::fromUtf8(line.text).trimmed();
    qsizetype space = 0;
    while (space < text.size() && !text[space].isSpace()) ++space;
    const QString command = text.left(space).toLower();
    const QString argument = text.mid(space).trimmed();

    if (!state.authenticated) {
        // The token is not traced.
        if (m_trace) m_trace(QStringLiteral("text %1 < %2").arg(client->peerText(), command));
        if (command == QLatin1String("auth") && tokenMatches(argument.toUtf8(), m_token)) {
            state.authenticated = true;
            return answer(client, QStringLiteral("OK"));
        }
        return hangUp(client, QStringLiteral("ERR auth required"));
    }
    if (m_trace) m_trace(QStringLiteral("text %1 < %2").arg(client->peerText(), text));

    if (command == QLatin1String("subscribe") || command == QLatin1String("unsubscribe")) {
        if (!argument.isEmpty()) return answer(client, QStringLiteral("ERR bad value"));
        state.subscribed = command == QLatin1String("subscribe");
        return answer(client, QStringLiteral("OK"));
    }
    if (command == QLatin1String("help")) {
        QStringList words = GatewayCommands::commandNames();
        words << QStringLiteral("subscribe") << QStringLiteral("unsubscribe") << QStringLiteral("help")
              << QStringLiteral("quit");
        if (!m_token.isEmpty()) words << QStringLiteral("auth");
        return answer(client, QStringLiteral("OK ") + words.join(QLatin1Char(' ')));
    }
    if (command == QLatin1String("quit")) return hangUp(client, QStringLiteral("OK"));
    if (command == QLatin1String("auth")) return answer(client, QStringLiteral("OK"));

    const GatewayPeer peer{client->peerAddress().toString(), QStringLiteral("text")};
    m_commands.run(command, argument, peer, [this, client](const CommandReply& reply) {
        answer(client, replyLine(reply));
    });
}

void TextService::notify(const QString& key, const QString& value)
{
    const QByteArray line = QStringLiteral("! %1 %2\r\n").arg(key, value).toUtf8();
    // Pushing may cut off a subscriber that does not read, which changes
    // the table: walk a copy.
    const auto clients = m_clients.values();
    for (const ClientState& state : clients)
        if (state.subscribed && state.client && state.client->isConnected()) state.client->push(bytesOf(line));
}

}  // namespace tk770
