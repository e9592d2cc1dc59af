#include "gateway/passthrough.h"

namespace tk770 {

Passthrough::Passthrough(LinkOwner& link, std::function<void(const QString&)> trace, QObject* parent)
    : QObject(parent), m_link(link), m_trace(std::move(trace))
{
    ProcessorServerLimits limits;
    limits.servedClients = 16;
    limits.waitingClients = 0;
    // A client that sends requests without reading its replies is no longer
    // read from past the backlog and cut off past the limit.
    limits.replyBacklog = 16 * 1024;
    limits.replyLimit = 64 * 1024;
    ProcessorResponder& responder = *this;
    m_server = std::make_unique<ProcessorServer>(responder, limits);
}

Passthrough::~Passthrough()
{
    m_server.reset();
}

void Passthrough::traceFrame(const char* tag, const ClientRef& client, std::span<const std::uint8_t> bytes) const
{
    if (!m_trace || bytes.empty()) return;
    m_trace(QStringLiteral("%1 %2 %3")
                .arg(QLatin1String(tag), client ? client->peerText() : QStringLiteral("-"),
                     QString::fromStdString(hexBytes(bytes))));
}

void Passthrough::bytesDropped(const ClientRef& client, std::span<const std::uint8_t> bytes)
{
    traceFrame("drop", client, bytes);
}

void Passthrough::processRequest(const ClientRef& client, Framing framing, std::span<const std::uint8_t> frame)
{
    traceFrame("rx", client, frame);
    Request request;
    if (parse_request(framing, frame, request) != FrameError::none) {
        client->reply({});
        return;
    }
    LinkOp op;
    op.command = request.command;
    op.address = request.address;
    op.length = request.length;
    op.data = QByteArray(reinterpret_cast<const char*>(request.data.data()), static_cast<qsizetype>(request.data.size()));
    // The restart command needs the long waits of the restart sequence, and
    // the processor comes back with its saved settings, which are read again.
    if (request.command == Command::write && request.address == restart_register && request.length == 1
        && request.data[0] == command_restart)
        op.kind = LinkOp::restart;

    const GatewayPeer peer{client->peerAddress().toString(), QStringLiteral("binary")};
    m_link.enqueue(
        peer, [op](const ParameterImage&) { return std::optional<LinkOp>(op); },
        [this, client, framing, request = op](LinkResult result, const QByteArray& data) {
            // A client that left meanwhile gets nothing; the others stay in step.
            if (!client || !client->isConnected()) return;
            if (result != LinkResult::accepted) {
                client->reply({});
                return;
            }
            std::vector<std::uint8_t> reply;
            if (request.command == Command::read)
                reply = build_read_reply(framing, request.address,
                                         std::span(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                                   static_cast<std::size_t>(data.size())));
            else
                reply = build_ack(framing, request.command, request.address, request.length);
            traceFrame("tx", client, reply);
            client->reply(reply);
        });
}

}  // namespace tk770
