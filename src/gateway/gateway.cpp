#include "gateway/gateway.h"

#include "core/file_output.h"

#include <QDateTime>

#include <cstdio>

namespace tk770 {

Gateway::Gateway(GatewayOptions options, std::unique_ptr<DeviceConnector> connector, bool ownLinkThread,
                 QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_connector(std::move(connector)), m_ownLinkThread(ownLinkThread)
{
}

Gateway::~Gateway()
{
    // Listeners first, so no client reaches a link that is going away.
    m_web.reset();
    m_text.reset();
    m_binary.reset();
    m_commands.reset();
    m_link.reset();
}

void Gateway::trace(const QString& line) const
{
    if (!m_options.verbose) return;
    std::fprintf(stderr, "%s\n", qPrintable(line));
}

bool Gateway::start(QString& error)
{
    if (!m_connector) {
        m_connector = makeQtConnector(m_options.device, m_options.timeoutMs, error);
        if (!m_connector) return false;
    }
    if (!m_options.auditFile.isEmpty()) {
        // The options were checked already; this is for a gateway made
        // without them, which must not block in open() either.
        const std::string problem = output_target_problem(QFile::encodeName(m_options.auditFile).toStdString());
        if (!problem.empty()) {
            error = QStringLiteral("cannot use the audit file %1: %2").arg(m_options.auditFile, QString::fromStdString(problem));
            return false;
        }
        m_audit.setFileName(m_options.auditFile);
        if (!m_audit.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            error = QStringLiteral("cannot open the audit file %1: %2").arg(m_options.auditFile, m_audit.errorString());
            return false;
        }
    }

    LinkOwner::Timing timing;
    timing.retryFirstMs = m_options.retryMs;
    timing.retryMaxMs = std::max(m_options.retryMs, 30000);
    timing.ownThread = m_ownLinkThread;
    timing.probeMs = m_options.probeMs;
    m_link = std::make_unique<LinkOwner>(std::move(m_connector), timing);
    m_commands = std::make_unique<GatewayCommands>(*m_link, m_options.token);
    connect(m_link.get(), &LinkOwner::trace, this, &Gateway::trace);
    connect(m_link.get(), &LinkOwner::fieldChanged, this, &Gateway::audit);
    connect(m_link.get(), &LinkOwner::onlineChanged, this, [this](bool online) {
        if (statusLine) statusLine(online ? QStringLiteral("ready") : QStringLiteral("offline"));
    });

    // Without -v no trace line is even formatted: every frame would pay for it.
    std::function<void(const QString&)> tracer;
    if (m_options.verbose) tracer = [this](const QString& line) { trace(line); };
    if (m_options.binary.on) {
        m_binary = std::make_unique<Passthrough>(*m_link, tracer);
        if (!m_options.binary.host.isLoopback()) {
            const auto allow = m_options.allow;
            m_binary->server().setPeerFilter([allow](const QHostAddress& peer) { return peerAllowed(peer, allow); });
        }
        if (!m_binary->server().listenTcp(m_options.binary.host, m_options.binary.port, error)) return false;
    }
    if (m_options.text.on) {
        m_text = std::make_unique<TextService>(*m_commands, m_options.textIdleMs, tracer);
        if (!m_text->server().listenTcp(m_options.text.host, m_options.text.port, error)) return false;
    }
    if (m_options.http.on && !startWeb(error)) return false;
    m_link->start();
    return true;
}

bool Gateway::startWeb(QString& error)
{
    // The web remote works through the same commands as the text protocol.
    HttpRemote::Settings settings;
    settings.idleMs = m_options.httpIdleMs;
    settings.tlsCertificate = m_options.tlsCertificate;
    settings.tlsKey = m_options.tlsKey;
    m_web = std::make_unique<HttpRemote>(*m_commands, m_options.token, settings);
    QString reason;
    if (!m_web->listenOn(m_options.http.host, m_options.http.port, &reason)) {
        error = QStringLiteral("cannot listen on %1: %2").arg(m_options.http.text(), reason);
        return false;
    }
    // The token and the session cookie would cross the network readable.
    if (!m_options.http.host.isLoopback() && !m_web->secure())
        std::fprintf(stderr,
                     "tk770-gateway: warning: the web remote on %s is plain HTTP, readable by anyone on the "
                     "network; give --tls-cert FILE --tls-key FILE\n",
                     qPrintable(m_options.http.text()));
    return true;
}

QStringList Gateway::announcement() const
{
    QStringList lines;
    const auto line = [](const char* name, const ProcessorServer& server) {
        ListenAddress bound{true, server.tcpAddress(), server.tcpPort()};
        return QStringLiteral("%1 %2").arg(QLatin1String(name), bound.text());
    };
    if (m_binary) lines << line("binary", m_binary->server());
    if (m_text) lines << line("text", m_text->server());
    if (m_web) lines << QStringLiteral("http ") + ListenAddress{true, m_web->address(), m_web->port()}.text();
    return lines;
}

void Gateway::audit(const FieldRef& ref, const ParameterImage& before, const ParameterImage& after,
                    const GatewayPeer& peer)
{
    if (!m_audit.isOpen()) return;
    const QString line = QStringLiteral("%1 %2 %3 %4 %5 -> %6\n")
                             .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), peer.address,
                                  peer.listener, QString::fromStdString(ref.name()),
                                  QString::fromStdString(field_display_text(before, ref)),
                                  QString::fromStdString(field_display_text(after, ref)));
    m_audit.write(line.toUtf8());
    m_audit.flush();
}

}  // namespace tk770
