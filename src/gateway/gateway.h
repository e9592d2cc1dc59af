// tk770-gateway as a whole: the link owner and its mirror, the binary
// passthrough, the text protocol, the web remote, the audit log and the
// lines the program announces.
#pragma once

#include "gateway/gateway_commands.h"
#include "gateway/gateway_options.h"
#include "gateway/http_remote.h"
#include "gateway/link_owner.h"
#include "gateway/passthrough.h"
#include "gateway/text_service.h"

#include <QFile>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

namespace tk770 {

class Gateway : public QObject {
    Q_OBJECT
public:
    // `connector` null: the processor named by options.device, on the Qt
    // transports in a thread of their own. Tests pass the in-process one
    // (and ownLinkThread false).
    explicit Gateway(GatewayOptions options, std::unique_ptr<DeviceConnector> connector = nullptr,
                     bool ownLinkThread = true, QObject* parent = nullptr);
    ~Gateway() override;

    // Opens the audit file and the listeners, then starts the link. On
    // failure `error` says why.
    bool start(QString& error);

    // "binary ADDR:PORT", "text ADDR:PORT", "http ADDR:PORT" (the ports really bound), once
    // start() succeeded; "ready"/"offline" follow from statusLine.
    QStringList announcement() const;
    // Called with "ready" or "offline" whenever the link comes or goes.
    std::function<void(const QString&)> statusLine;

    const GatewayOptions& options() const { return m_options; }
    LinkOwner& link() { return *m_link; }
    GatewayCommands& commands() { return *m_commands; }
    Passthrough* passthrough() { return m_binary.get(); }
    TextService* text() { return m_text.get(); }
    HttpRemote* web() { return m_web.get(); }

private:
    void trace(const QString& line) const;
    bool startWeb(QString& error);
    void audit(const FieldRef& ref, const ParameterImage& before, const ParameterImage& after,
               const GatewayPeer& peer);

    GatewayOptions m_options;
    std::unique_ptr<DeviceConnector> m_connector;
    bool m_ownLinkThread;
    std::unique_ptr<LinkOwner> m_link;
    std::unique_ptr<GatewayCommands> m_commands;
    std::unique_ptr<Passthrough> m_binary;
    std::unique_ptr<TextService> m_text;
    std::unique_ptr<HttpRemote> m_web;
    QFile m_audit;
};

}  // namespace tk770
