#include "gateway/gateway_options.h"

#include "core/file_output.h"
#include "gateway/http_server.h"
#include "link/device_target.h"
#include "link/processor_server.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace tk770 {

namespace {

QHostAddress plain(const QHostAddress& address)
{
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip) : address;
}

bool parseListener(const QCommandLineParser& parser, const QString& name, ListenAddress& into, QString& error)
{
    if (!parser.isSet(name)) return true;
    const QString value = parser.value(name);
    if (value == QLatin1String("off")) {
        into.on = false;
        return true;
    }
    if (!parseListenAddress(value, into.host, into.port)) {
        error = QStringLiteral("--%1 wants ADDR:PORT or off, got '%2'").arg(name, value);
        return false;
    }
    into.on = true;
    return true;
}

std::filesystem::path pathOf(const QString& name) { return QFile::encodeName(name).toStdString(); }

bool positiveMs(const QCommandLineParser& parser, const QString& name, int& into, QString& error)
{
    if (!parser.isSet(name)) return true;
    bool ok = false;
    into = parser.value(name).toInt(&ok);
    if (ok && into > 0) return true;
    error = QStringLiteral("--%1 wants a number of milliseconds").arg(name);
    return false;
}

// A certificate or key file: a readable regular file of sensible size.
bool readPemFile(const QString& option, const QString& path, QByteArray& into, QString& error)
{
    const QFileInfo info(path);
    QFile file(path);
    if (!info.isFile()) {
        error = QStringLiteral("--%1 %2 is not a regular file").arg(option, path);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read --%1 %2: %3").arg(option, path, file.errorString());
        return false;
    }
    into = file.read(1024 * 1024);
    return true;
}

bool parseTls(const QCommandLineParser& parser, GatewayOptions& options, QString& error)
{
    const bool cert = parser.isSet(QStringLiteral("tls-cert"));
    const bool key = parser.isSet(QStringLiteral("tls-key"));
    if (!cert && !key) return true;
    if (cert != key) {
        error = QStringLiteral("--tls-cert and --tls-key go together");
        return false;
    }
    options.tlsCertFile = parser.value(QStringLiteral("tls-cert"));
    options.tlsKeyFile = parser.value(QStringLiteral("tls-key"));
    if (!readPemFile(QStringLiteral("tls-cert"), options.tlsCertFile, options.tlsCertificate, error)
        || !readPemFile(QStringLiteral("tls-key"), options.tlsKeyFile, options.tlsKey, error))
        return false;
    const std::string problem = HttpServer::tlsProblem(options.tlsCertificate.toStdString(), options.tlsKey.toStdString());
    if (!problem.empty()) {
        error = QStringLiteral("--tls-cert %1 --tls-key %2: %3")
                    .arg(options.tlsCertFile, options.tlsKeyFile, QString::fromStdString(problem));
        return false;
    }
    return true;
}

}  // namespace

QString ListenAddress::text() const
{
    const QString h = host.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]").arg(host.toString())
                                                                      : host.toString();
    return QStringLiteral("%1:%2").arg(h).arg(port);
}

QString gatewayUsage()
{
    return QStringLiteral(
        "Usage: tk770-gateway --device tcp:HOST[:PORT] | serial:PATH | serial:COMn\n"
        "                     [--binary ADDR:PORT|off] [--text ADDR:PORT|off] [--http ADDR:PORT|off]\n"
        "                     [--token-file FILE] [--allow CIDR]... [--audit FILE] [-v]\n"
        "                     [--tls-cert FILE --tls-key FILE]\n"
        "Owns the one link to a TK770 processor and serves it to several clients at once:\n"
        "  --device SPEC       the processor: tcp:HOST[:PORT] (port 15288; IPv6 in brackets, tcp:[::1]:PORT),\n"
        "                      serial:PATH or serial:COM1..COM10\n"
        "  --binary ADDR:PORT  the processor's own protocol, for tk770-panel --host and tk770ctl --tcp\n"
        "                      (default 127.0.0.1:15288)\n"
        "  --text ADDR:PORT    text commands for show automation (default 127.0.0.1:15289)\n"
        "  --http ADDR:PORT    the web remote (default 127.0.0.1:8770); for all three, PORT 0 means\n"
        "                      any free port and off switches the listener off\n"
        "  --token-file FILE   the token text and web clients must present; required when the text or\n"
        "                      web listener is bound to another address than loopback\n"
        "  --allow CIDR        a network whose hosts may use a binary listener bound to another address\n"
        "                      than loopback (repeatable; none by default)\n"
        "  --tls-cert FILE     serve the web remote over HTTPS (and its WebSocket over WSS) with this\n"
        "  --tls-key FILE      PEM certificate chain and key; both or neither. Without them a web\n"
        "                      listener on another address than loopback warns at start\n"
        "  --audit FILE        append one line per change: time, client, listener, FIELD old -> new\n"
        "  -v                  trace every frame on stderr with the client it came from\n"
        "  --version           show the program's name and version\n"
        "It prints one line per listener (binary ADDR:PORT, text ADDR:PORT, http ADDR:PORT), then\n"
        "ready once it has read the processor, or offline while it cannot reach it (it keeps trying).\n"
        "SIGTERM and SIGINT end it cleanly. Exit status: 0 ended by a signal, 1 a listener or file\n"
        "could not be opened, 2 usage error.");
}

std::optional<GatewayOptions> parseGatewayArguments(const QStringList& arguments, QString& error)
{
    QCommandLineParser parser;
    const QStringList valued{QStringLiteral("device"), QStringLiteral("binary"),     QStringLiteral("text"),
                             QStringLiteral("http"),   QStringLiteral("token-file"), QStringLiteral("allow"),
                             QStringLiteral("audit"),  QStringLiteral("text-idle-ms"), QStringLiteral("retry-ms"),
                             QStringLiteral("timeout-ms"), QStringLiteral("probe-ms"),
                             QStringLiteral("tls-cert"), QStringLiteral("tls-key"), QStringLiteral("http-idle-ms")};
    for (const QString& name : valued) parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("VALUE")));
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("v"), QStringLiteral("verbose")}));
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    parser.addOption(QCommandLineOption(QStringLiteral("version")));
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
        return std::nullopt;
    }
    for (const QString& single : valued)
        if (single != QLatin1String("allow") && parser.values(single).size() > 1) {
            error = QStringLiteral("--%1 given more than once").arg(single);
            return std::nullopt;
        }

    GatewayOptions options;
    if (!parser.isSet(QStringLiteral("device"))) {
        error = QStringLiteral("give the processor with --device tcp:HOST[:PORT], serial:PATH or serial:COMn");
        return std::nullopt;
    }
    options.device = parser.value(QStringLiteral("device"));
    DeviceTarget target;
    if (const TargetError bad = parseDeviceTarget(options.device, target); bad != TargetError::none) {
        error = QStringLiteral("--device wants tcp:HOST[:PORT], tcp:[IPv6]:PORT, serial:PATH or serial:COM1..COM10, "
                               "got '%1': %2")
                    .arg(options.device, targetErrorText(bad));
        return std::nullopt;
    }
    if (!parseListener(parser, QStringLiteral("binary"), options.binary, error)
        || !parseListener(parser, QStringLiteral("text"), options.text, error)
        || !parseListener(parser, QStringLiteral("http"), options.http, error))
        return std::nullopt;
    if (!positiveMs(parser, QStringLiteral("text-idle-ms"), options.textIdleMs, error)
        || !positiveMs(parser, QStringLiteral("retry-ms"), options.retryMs, error)
        || !positiveMs(parser, QStringLiteral("timeout-ms"), options.timeoutMs, error)
        || !positiveMs(parser, QStringLiteral("probe-ms"), options.probeMs, error)
        || !positiveMs(parser, QStringLiteral("http-idle-ms"), options.httpIdleMs, error))
        return std::nullopt;
    if (!parseTls(parser, options, error)) return std::nullopt;
    options.verbose = parser.isSet(QStringLiteral("v"));
    options.auditFile = parser.value(QStringLiteral("audit"));
    if (parser.isSet(QStringLiteral("audit")) && options.auditFile.isEmpty()) {
        error = QStringLiteral("--audit wants a file");
        return std::nullopt;
    }
    // Looked at before anything opens it: opening a FIFO would block the
    // gateway before it says a word.
    if (!options.auditFile.isEmpty()) {
        if (const auto problem = output_target_problem(pathOf(options.auditFile)); !problem.empty()) {
            error = QStringLiteral("cannot use the audit file %1: %2").arg(options.auditFile, QString::fromStdString(problem));
            return std::nullopt;
        }
    }

    for (const QString& cidr : parser.values(QStringLiteral("allow"))) {
        const auto subnet = QHostAddress::parseSubnet(cidr);
        if (subnet.first.isNull() || !cidr.contains(QLatin1Char('/'))) {
            error = QStringLiteral("--allow wants a network as ADDR/BITS, got '%1'").arg(cidr);
            return std::nullopt;
        }
        options.allow.append(subnet);
    }

    if (parser.isSet(QStringLiteral("token-file"))) {
        options.tokenFile = parser.value(QStringLiteral("token-file"));
        const std::filesystem::path path = pathOf(options.tokenFile);
        if (const auto problem = input_file_problem(path); !problem.empty()) {
            error = QStringLiteral("cannot read the token file %1: %2").arg(options.tokenFile, QString::fromStdString(problem));
            return std::nullopt;
        }
        std::error_code ec;
        const auto perms = std::filesystem::status(path, ec).permissions();
        if (!ec && (perms & (std::filesystem::perms::group_read | std::filesystem::perms::others_read))
                       != std::filesystem::perms::none)
            options.warnings << QStringLiteral("the token file %1 can be read by other users; make it private "
                                               "(chmod 600)")
                                    .arg(options.tokenFile);
        QFile file(options.tokenFile);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read the token file %1: %2").arg(options.tokenFile, file.errorString());
            return std::nullopt;
        }
        // The first line; a token longer than a line of the text protocol
        // could never be presented.
        options.token = file.read(4096).split('\n').value(0).trimmed();
        if (options.token.isEmpty() || options.token.size() > 200 || options.token.contains(' ')
            || options.token.contains('\t')) {
            error = QStringLiteral("the token file %1 must hold one word of 1 to 200 characters on its first line")
                        .arg(options.tokenFile);
            return std::nullopt;
        }
    }
    // A remote that can change the sound must not be open to a whole network
    // without a secret.
    for (const auto& [name, listener] : {std::pair{QStringLiteral("text"), options.text},
                                         std::pair{QStringLiteral("http"), options.http}})
        if (listener.on && !listener.host.isLoopback() && options.token.isEmpty()) {
            error = QStringLiteral("--%1 %2 is reachable from the network: give --token-file FILE")
                        .arg(name, listener.text());
            return std::nullopt;
        }
    return options;
}

bool tokenMatches(const QByteArray& presented, const QByteArray& token)
{
    // Every byte is looked at whatever the first difference: the time taken
    // tells nothing about the token.
    unsigned difference = static_cast<unsigned>(presented.size() ^ token.size());
    const qsizetype n = token.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char p = i < presented.size() ? presented[i] : '\0';
        difference |= static_cast<unsigned>(static_cast<unsigned char>(p) ^ static_cast<unsigned char>(token[i]));
    }
    return difference == 0 && !token.isEmpty();
}

bool peerAllowed(const QHostAddress& peer, const QList<QPair<QHostAddress, int>>& allow)
{
    const QHostAddress address = plain(peer);
    for (const auto& subnet : allow)
        if (address.isInSubnet(subnet)) return true;
    return false;
}

}  // namespace tk770
