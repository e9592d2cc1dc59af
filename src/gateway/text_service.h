// The text protocol for show automation on the shared server shell: one
// command a line, exactly one reply line each, notifications for
// subscribers, and the token check when the listener faces the network.
// The commands and their replies are the command layer's table.
#pragma once

#include "gateway/gateway_commands.h"
#include "link/processor_server.h"

#include <QHash>
#include <QObject>

#include <functional>
#include <memory>

namespace tk770 {

inline constexpr std::size_t text_line_limit = 256;

class TextService : public QObject, private ProcessorResponder {
    Q_OBJECT
public:
    // The token is the command layer's (its tokenGuard()); `trace` receives
    // the -v lines.
    TextService(GatewayCommands& commands, int idleMs, std::function<void(const QString&)> trace = {},
                QObject* parent = nullptr);
    ~TextService() override;

    ProcessorServer& server() { return *m_server; }
    int subscriberCount() const;

private:
    struct ClientState {
        ClientRef client;
        bool authenticated = false;
        bool subscribed = false;
        bool ending = false;  // quit: the reply is the last line
        // While its command runs, the notifications it causes wait here, so
        // a client reads its reply before them.
        bool running = false;
        QByteArray held;
    };
    class Session;

    void processLine(const ClientRef& client, const TextLine& line) override;
    // A line listener hands over no frames.
    void processRequest(const ClientRef& client, Framing, std::span<const std::uint8_t>) override { client->reply({}); }
    void authenticate(const ClientRef& client, const QString& command, const QString& argument);
    void answer(const ClientRef& client, const QString& line, const QByteArray& after = {});
    void hangUp(const ClientRef& client, const QString& lastLine);
    void notify(const QString& key, const QString& value);
    ClientState& stateOf(const ClientRef& client);

    GatewayCommands& m_commands;
    std::function<void(const QString&)> m_trace;
    QHash<ProcessorClient*, ClientState> m_clients;
    std::unique_ptr<ProcessorServer> m_server;
};

}  // namespace tk770
