// The binary listener: clients speak the processor's TCP framing to the
// gateway as to a processor. Each request joins the link owner's queue and
// its reply goes back to the client that sent it, built again by the codec,
// so a serial processor answers TCP clients too. A request the processor
// does not answer gets no reply: the client's own wait runs out.
#pragma once

#include "gateway/link_owner.h"
#include "link/processor_server.h"

#include <QObject>

#include <functional>
#include <memory>

namespace tk770 {

class Passthrough : public QObject, private ProcessorResponder {
    Q_OBJECT
public:
    // `trace` receives the -v lines ("rx ADDR:PORT 03 00 …", "tx …", "drop …").
    Passthrough(LinkOwner& link, std::function<void(const QString&)> trace = {}, QObject* parent = nullptr);
    ~Passthrough() override;

    ProcessorServer& server() { return *m_server; }

private:
    void processRequest(const ClientRef& client, Framing framing, std::span<const std::uint8_t> frame) override;
    void bytesDropped(const ClientRef& client, std::span<const std::uint8_t> bytes) override;
    void traceFrame(const char* tag, const ClientRef& client, std::span<const std::uint8_t> bytes) const;

    LinkOwner& m_link;
    std::function<void(const QString&)> m_trace;
    std::unique_ptr<ProcessorServer> m_server;
};

}  // namespace tk770
