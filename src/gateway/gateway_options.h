// tk770-gateway's command line, and the rules it checks before anything
// listens: which listeners, which addresses, and that a text or web remote
// reachable from the network has a token.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace tk770 {

struct ListenAddress {
    bool on = true;
    QHostAddress host = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 0;
    QString text() const;  // "ADDR:PORT" as given (the port asked for)
};

inline constexpr quint16 default_binary_port = 15288;
inline constexpr quint16 default_text_port = 15289;
inline constexpr quint16 default_http_port = 8770;
inline constexpr int default_text_idle_ms = 10 * 60 * 1000;

struct GatewayOptions {
    QString device;  // tcp:HOST[:PORT] | serial:PATH | serial:COMn
    ListenAddress binary{true, QHostAddress(QHostAddress::LocalHost), default_binary_port};
    ListenAddress text{true, QHostAddress(QHostAddress::LocalHost), default_text_port};
    ListenAddress http{true, QHostAddress(QHostAddress::LocalHost), default_http_port};
    QString tokenFile;
    QByteArray token;  // the file's first line; empty: no token
    QList<QPair<QHostAddress, int>> allow;
    QString auditFile;
    // HTTPS for the web remote: both files or neither. The PEM texts are
    // read, and checked, while the options are parsed.
    QString tlsCertFile;
    QString tlsKeyFile;
    QByteArray tlsCertificate;
    QByteArray tlsKey;
    bool verbose = false;
    // What the program says on stderr before it starts (a token file others
    // may read); nothing here stops it.
    QStringList warnings;
    // Not in --help: the tests shorten them.
    int textIdleMs = default_text_idle_ms;
    int retryMs = 2000;     // first retry after the processor went away
    int timeoutMs = 3000;   // TCP connect and reply waits toward the processor
    int probeMs = 2000;     // an idle link is checked this often
    int httpIdleMs = 60000; // a web request must have come whole by then
};

// Parses the program's arguments (argv[0] included), reads the token file
// and checks the security rules. Nothing, with `error` set, on a refusal;
// --help and --version are left to the caller.
std::optional<GatewayOptions> parseGatewayArguments(const QStringList& arguments, QString& error);

// The usage text of --help.
QString gatewayUsage();

// Compares a presented token with the configured one in time that does not
// depend on where they differ.
bool tokenMatches(const QByteArray& presented, const QByteArray& token);

// Whether a peer may use a binary listener bound to another address than
// loopback: only one inside an --allow range (127.0.0.0/8 is not implied).
bool peerAllowed(const QHostAddress& peer, const QList<QPair<QHostAddress, int>>& allow);

}  // namespace tk770
