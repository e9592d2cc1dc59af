#include "sim/sim_server.h"

#include "core/file_output.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace tk770 {

std::optional<SimOptions> parseSimArguments(const QStringList& arguments, QString& error)
{
    QCommandLineParser parser;
    const QCommandLineOption tcp(QStringLiteral("tcp"), QStringLiteral("Listen on HOST:PORT (PORT 0: any free port)."),
                                 QStringLiteral("HOST:PORT"));
    const QCommandLineOption pty(QStringLiteral("pty"), QStringLiteral("Open a pseudo-terminal and link PATH to it."),
                                 QStringLiteral("PATH"));
    const QCommandLineOption state(QStringLiteral("state"), QStringLiteral("Keep the non-volatile memory in FILE."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption lineRate(QStringLiteral("line-rate"), QStringLiteral("Pace serial output at 3840 B/s."));
    const QCommandLineOption fault(QStringLiteral("fault"), QStringLiteral("Inject a fault (repeatable)."),
                                   QStringLiteral("SPEC"));
    const QCommandLineOption restart(QStringLiteral("restart-ms"), QStringLiteral("Restart time in ms (300)."),
                                     QStringLiteral("N"));
    const QCommandLineOption idle(QStringLiteral("idle-ms"),
                                  QStringLiteral("Hand a silent TCP client's line to a waiting one after N ms (10000)."),
                                  QStringLiteral("N"));
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Trace every frame on stderr."));
    parser.addOptions({tcp, pty, state, lineRate, fault, restart, idle, verbose});
    // --help and --version are answered by main(); -v means verbose here.
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

    SimOptions options;
    if (parser.isSet(tcp)) {
        const QString value = parser.value(tcp);
        if (!parseListenAddress(value, options.tcpHost, options.tcpPort)) {
            error = QStringLiteral("--tcp wants HOST:PORT, got %1").arg(value);
            return std::nullopt;
        }
        options.tcp = true;
    }
    if (parser.isSet(pty)) {
        options.ptyPath = parser.value(pty);
        if (options.ptyPath.isEmpty()) {
            error = QStringLiteral("--pty wants a path");
            return std::nullopt;
        }
    }
    if (!options.tcp && options.ptyPath.isEmpty()) {
        error = QStringLiteral("give --tcp HOST:PORT, --pty PATH or both");
        return std::nullopt;
    }
    options.stateFile = parser.value(state);
    options.lineRate = parser.isSet(lineRate);
    options.verbose = parser.isSet(verbose);
    // A non-negative number of milliseconds, or a refusal naming the option.
    const auto milliseconds = [&](const QCommandLineOption& option, int& into) {
        if (!parser.isSet(option)) return true;
        bool ok = false;
        into = parser.value(option).toInt(&ok);
        if (ok && into >= 0) return true;
        error = QStringLiteral("--%1 wants a number of milliseconds").arg(option.names().constFirst());
        return false;
    };
    if (!milliseconds(restart, options.restartMs) || !milliseconds(idle, options.idleMs)) return std::nullopt;
    for (const QString& spec : parser.values(fault)) {
        const QByteArray latin = spec.toLatin1();
        std::string why;
        const auto parsed =
            parseFault(std::string_view(latin.constData(), static_cast<std::size_t>(latin.size())), &why);
        if (!parsed && !why.empty()) {
            error = QStringLiteral("fault %1: %2").arg(spec, QString::fromStdString(why));
            return std::nullopt;
        }
        if (!parsed) {
            error = QStringLiteral("unknown fault %1 (no-reply:N, bad-checksum:N, short:N, surplus:N, delay:MS, "
                                   "close:N, corrupt:N, or NAME@N for request N only)")
                        .arg(spec);
            return std::nullopt;
        }
        options.faults.push_back(*parsed);
    }
    return options;
}

SimServer::SimServer(SimOptions options, QObject* parent) : QObject(parent), m_options(std::move(options))
{
    for (const auto& f : m_options.faults) m_faults.add(f);
    ProcessorServerLimits limits;
    limits.idleMs = m_options.idleMs;
    ProcessorResponder& responder = *this;
    m_server = std::make_unique<ProcessorServer>(responder, limits);
}

SimServer::~SimServer() = default;

bool SimServer::start(QString& error)
{
    if (!loadState(error)) return false;
    if (m_options.tcp && !m_server->listenTcp(m_options.tcpHost, m_options.tcpPort, error)) return false;
    if (!m_options.ptyPath.isEmpty()
        && !m_server->openPty(m_options.ptyPath, m_options.lineRate ? line_rate_bytes_per_second : 0, error))
        return false;
    return true;
}

QStringList SimServer::announcement() const
{
    QStringList lines;
    if (m_server->isListening())
        lines << QStringLiteral("tcp %1:%2").arg(m_server->tcpAddress().toString()).arg(m_server->tcpPort());
    if (!m_server->ptyName().isEmpty()) lines << QStringLiteral("pty %1").arg(m_server->ptyName());
    lines << QStringLiteral("ready");
    return lines;
}

quint16 SimServer::tcpPort() const
{
    return m_server->tcpPort();
}

QString SimServer::ptyName() const
{
    return m_server->ptyName();
}

// ------------------------------------------------------------------ state

bool SimServer::loadState(QString& error)
{
    if (m_options.stateFile.isEmpty()) return true;
    // Found out now, not when a client's save is already acknowledged: the
    // file must be one we may replace (a regular file we can write, or a
    // new name in a folder we can write).
    const std::string path = QFile::encodeName(m_options.stateFile).toStdString();
    if (const auto problem = output_target_problem(path); !problem.empty()) {
        error = QStringLiteral("state file %1: %2").arg(m_options.stateFile, QString::fromStdString(problem));
        return false;
    }
    if (!QFileInfo::exists(m_options.stateFile)) {
        OutputFiles probe;  // staged and never committed: nothing stays behind
        if (!probe.stage(path, m_device.nonvolatile())) {
            error = QStringLiteral("state file %1").arg(QString::fromStdString(probe.error()));
            return false;
        }
        return true;
    }
    QFile file(m_options.stateFile);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(m_options.stateFile, file.errorString());
        return false;
    }
    // Refuse rather than overwrite a file that is not ours.
    if (file.size() != sim_memory_size) {
        error = QStringLiteral("%1 holds %2 bytes, not %3").arg(m_options.stateFile).arg(file.size()).arg(sim_memory_size);
        return false;
    }
    const QByteArray bytes = file.read(sim_memory_size + 1);
    if (bytes.size() != sim_memory_size) {
        error = QStringLiteral("cannot read %1: %2").arg(m_options.stateFile, file.errorString());
        return false;
    }
    SimMemory memory;
    std::memcpy(memory.data(), bytes.constData(), memory.size());
    m_device.loadNonvolatile(memory);
    return true;
}

bool SimServer::saveState()
{
    if (m_options.stateFile.isEmpty()) return true;
    // Written beside the old file and renamed over it, so a crash never
    // leaves half a memory behind.
    std::string error;
    if (write_file_atomically(QFile::encodeName(m_options.stateFile).toStdString(), m_device.nonvolatile(), error))
        return true;
    std::fprintf(stderr, "tk770-sim: cannot write the state file %s\n", error.c_str());
    return false;
}

// ------------------------------------------------------------ the exchange

void SimServer::processRequest(const ClientRef& client, Framing framing, std::span<const std::uint8_t> frame)
{
    trace("rx", frame);
    // Only a state file can fail to keep a store, so only then is the
    // saved copy worth holding on to while the request runs.
    std::optional<SimMemory> kept;
    if (!m_options.stateFile.isEmpty()) kept = m_device.nonvolatile();
    std::vector<std::uint8_t> altered;
    auto outcome = m_device.handle(framing, m_faults.alterRequest(framing, frame, altered));
    if (outcome.nonvolatileChanged && !saveState()) {
        // What could not be kept is not acknowledged: the client sees its
        // store or save fail, and the memory stays what the file holds.
        m_device.setNonvolatile(*kept);
        client->reply({});
        return;
    }
    if (outcome.reply.empty()) {
        client->reply({});
        return;
    }

    auto verdict = m_faults.apply(framing, outcome.reply);
    if (m_options.verbose)
        for (auto name : verdict.fired) std::fprintf(stderr, "fault %.*s\n", static_cast<int>(name.size()), name.data());

    if (verdict.close) {
        if (outcome.restart) QTimer::singleShot(m_options.restartMs, this, [this] { m_device.restart(); });
        client->close();
        return;
    }
    const int wait = verdict.delayMs + (outcome.restart ? m_options.restartMs : 0);
    if (wait == 0 && !outcome.restart) {
        send(client, outcome.reply);
        return;
    }
    // The server hands over this client's next request only once this reply
    // is out, so replies keep the order of their requests.
    QTimer::singleShot(wait, this, [this, client, restart = outcome.restart, reply = std::move(outcome.reply)] {
        if (restart) m_device.restart();
        send(client, reply);
    });
}

void SimServer::bytesDropped(const ClientRef&, std::span<const std::uint8_t> bytes)
{
    trace("drop", bytes);
}

void SimServer::send(const ClientRef& client, const std::vector<std::uint8_t>& reply)
{
    // A reply held back for a client that has left goes nowhere.
    if (!client || !client->isConnected()) return;
    trace("tx", reply);
    client->reply(reply);
}

void SimServer::trace(const char* tag, std::span<const std::uint8_t> bytes) const
{
    if (!m_options.verbose || bytes.empty()) return;
    std::fprintf(stderr, "%s %s\n", tag, hexBytes(bytes).c_str());
}

}  // namespace tk770
