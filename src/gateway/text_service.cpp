#include "gateway/text_service.h"

#include <QPointer>
#include <QTimer>

#include <utility>

namespace tk770 {

namespace {

constexpr qsizetype heldLimit = 16 * 1024;

std::span<const std::uint8_t> bytesOf(const QByteArray& bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

QString replyLine(const CommandReply& reply)
{
    if (reply.error) return QStringLiteral("ERR ") + reply.error->reason;
    return reply.text.isEmpty() ? QStringLiteral("OK") : QStringLiteral("OK ") + reply.text;
}

}  // namespace

// What subscribe and quit change: the state of the client they came from.
class TextService::Session : public CommandSession {
public:
    explicit Session(ClientState& state) : m_state(state) {}
    void setSubscribed(bool on) override { m_state.subscribed = on; }
    void endAfterReply() override { m_state.ending = true; }

private:
    ClientState& m_state;
};

TextService::TextService(GatewayCommands& commands, int idleMs, std::function<void(const QString&)> trace,
                         QObject* parent)
    : QObject(parent), m_commands(commands), m_trace(std::move(trace))
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
    connect(&m_commands, &GatewayCommands::notified, this, &TextService::notify);
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
    state.authenticated = !m_commands.tokenGuard().required();
    return *m_clients.insert(key, state);
}

void TextService::answer(const ClientRef& client, const QString& line, const QByteArray& after)
{
    if (!client || !client->isConnected()) return;
    if (m_trace) m_trace(QStringLiteral("text %1 > %2").arg(client->peerText(), line));
    // One write, so nothing the next command says can come in between.
    client->reply(bytesOf((line + QStringLiteral("\r\n")).toUtf8() + after));
}

void TextService::hangUp(const ClientRef& client, const QString& lastLine)
{
    if (!client || !client->isConnected()) return;
    if (m_trace) m_trace(QStringLiteral("text %1 > %2").arg(client->peerText(), lastLine));
    client->push(bytesOf((lastLine + QStringLiteral("\r\n")).toUtf8()));
    client->close();
}

void TextService::authenticate(const ClientRef& client, const QString& command, const QString& argument)
{
    const QString refusal = command_errors::auth_required.reason;
    // The token is not traced.
    if (m_trace) m_trace(QStringLiteral("text %1 < %2").arg(client->peerText(), command));
    if (command != QLatin1String("auth")) return hangUp(client, QStringLiteral("ERR ") + refusal);
    const auto verdict = m_commands.tokenGuard().check(client->peerAddress(), argument.toUtf8());
    if (verdict.accepted) {
        stateOf(client).authenticated = true;
        return answer(client, QStringLiteral("OK"));
    }
    // The refusal waits; the line stays unanswered meanwhile, so the shell
    // hands this client no further line to try.
    QTimer::singleShot(verdict.wait, this, [this, client, refusal] { hangUp(client, QStringLiteral("ERR ") + refusal); });
}

void TextService::processLine(const ClientRef& client, const TextLine& line)
{
    ClientState& state = stateOf(client);
    if (line.too_long) {
        if (m_trace) m_trace(QStringLiteral("text %1 < (line too long)").arg(client->peerText()));
        if (!state.authenticated) return hangUp(client, QStringLiteral("ERR ") + command_errors::auth_required.reason);
        return answer(client, QStringLiteral("ERR line too long"));
    }
    const QString text = QString::fromUtf8(line.text).trimmed();
    // A line of blanks is no command, and gets no reply.
    if (text.isEmpty()) return client->reply({});
    qsizetype space = 0;
    while (space < text.size() && !text[space].isSpace()) ++space;
    const QString command = text.left(space).toLower();
    const QString argument = text.mid(space).trimmed();

    if (!state.authenticated) return authenticate(client, command, argument);
    if (m_trace) m_trace(QStringLiteral("text %1 < %2").arg(client->peerText(), text));

    Session session(state);
    const CommandCaller caller{GatewayPeer{client->peerAddress().toString(), QStringLiteral("text")}, TextRemote,
                               Role::Operator, &session};
    state.running = true;
    m_commands.run(command, argument, caller, [this, client](const CommandReply& reply) {
        const auto it = m_clients.find(client.data());
        if (it == m_clients.end()) return;
        it->running = false;
        const QByteArray held = std::exchange(it->held, {});
        if (it->ending) return hangUp(client, replyLine(reply));
        answer(client, replyLine(reply), held);
    });
}

void TextService::notify(const QString& key, const QString& value)
{
    const QByteArray line = QStringLiteral("! %1 %2\r\n").arg(key, value).toUtf8();
    // Pushing may cut off a subscriber that does not read, which changes
    // the table: push once the walk is over.
    QList<ClientRef> now;
    for (ClientState& state : m_clients) {
        if (!state.subscribed || !state.client || !state.client->isConnected()) continue;
        // Held no more than the shell lets a client leave unread.
        if (state.running && state.held.size() < heldLimit) state.held += line;
        else now << state.client;
    }
    for (const ClientRef& client : std::as_const(now))
        if (client && client->isConnected()) client->push(bytesOf(line));
}

}  // namespace tk770
