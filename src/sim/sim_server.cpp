#include "sim/sim_server.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tk770 {

namespace {

// A partial frame older than this is given up: the link's own read time-out
// (200 ms) has long run out, and its next request must not be glued to it.
constexpr int pty_idle_ms = 500;
// A real line hands over each byte as it completes; a coarse tick would hold
// the tail of every reply back by up to a tick, so pace in millisecond steps.
constexpr int pace_tick_ms = 1;
// Replies nobody reads must not grow without bound.
constexpr qsizetype pty_queue_limit = 64 * 1024;

QString errnoText(const char* what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}

}  // namespace

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
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Trace every frame on stderr."));
    parser.addOptions({tcp, pty, state, lineRate, fault, restart, verbose});
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
        const auto colon = value.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        const uint port = colon > 0 ? value.mid(colon + 1).toUInt(&ok) : 0;
        QString host = colon > 0 ? value.left(colon) : QString();
        if (host == QLatin1String("localhost")) host = QStringLiteral("127.0.0.1");
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) host = host.mid(1, host.size() - 2);
        QHostAddress address;
        if (!ok || port > 65535 || !address.setAddress(host)) {
            error = QStringLiteral("--tcp wants HOST:PORT, got %1").arg(value);
            return std::nullopt;
        }
        options.tcp = true;
        options.tcpHost = address;
        options.tcpPort = static_cast<quint16>(port);
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
    if (parser.isSet(restart)) {
        bool ok = false;
        options.restartMs = parser.value(restart).toInt(&ok);
        if (!ok || options.restartMs < 0) {
            error = QStringLiteral("--restart-ms wants a number of milliseconds");
            return std::nullopt;
        }
    }
    for (const QString& spec : parser.values(fault)) {
        const QByteArray latin = spec.toLatin1();
        const auto parsed = parseFault(std::string_view(latin.constData(), static_cast<std::size_t>(latin.size())));
        if (!parsed) {
            error = QStringLiteral("unknown fault %1 (no-reply:N, bad-checksum:N, short:N, surplus:N, delay:MS, close:N)")
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
}

SimServer::~SimServer()
{
    if (m_client) m_client->abort();
    closePty();
}

bool SimServer::start(QString& error)
{
    if (!loadState(error)) return false;

    if (m_options.tcp) {
        m_server = new QTcpServer(this);
        if (!m_server->listen(m_options.tcpHost, m_options.tcpPort)) {
            error = QStringLiteral("cannot listen on %1:%2: %3")
                        .arg(m_options.tcpHost.toString())
                        .arg(m_options.tcpPort)
                        .arg(m_server->errorString());
            return false;
        }
        connect(m_server, &QTcpServer::newConnection, this, &SimServer::acceptNext);
    }
    if (!m_options.ptyPath.isEmpty() && !openPty(error)) return false;
    return true;
}

QStringList SimServer::announcement() const
{
    QStringList lines;
    if (m_server)
        lines << QStringLiteral("tcp %1:%2").arg(m_server->serverAddress().toString()).arg(m_server->serverPort());
    if (m_master >= 0) lines << QStringLiteral("pty %1").arg(m_ptyName);
    lines << QStringLiteral("ready");
    return lines;
}

quint16 SimServer::tcpPort() const
{
    return m_server ? m_server->serverPort() : 0;
}

// ------------------------------------------------------------------ state

bool SimServer::loadState(QString& error)
{
    if (m_options.stateFile.isEmpty() || !QFileInfo::exists(m_options.stateFile)) return true;
    QFile file(m_options.stateFile);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(m_options.stateFile, file.errorString());
        return false;
    }
    // Refuse rather than overwrite a file that is not ours.
    const QByteArray bytes = file.read(sim_memory_size + 1);
    if (bytes.size() != sim_memory_size) {
        error = QStringLiteral("%1 holds %2 bytes, not %3").arg(m_options.stateFile).arg(bytes.size()).arg(sim_memory_size);
        return false;
    }
    SimMemory memory;
    std::memcpy(memory.data(), bytes.constData(), memory.size());
    m_device.loadNonvolatile(memory);
    return true;
}

void SimServer::saveState()
{
    if (m_options.stateFile.isEmpty()) return;
    // QSaveFile writes a temporary file and renames it over the old one, so a
    // crash never leaves half a memory behind.
    QSaveFile file(m_options.stateFile);
    const auto& memory = m_device.nonvolatile();
    if (!file.open(QIODevice::WriteOnly)
        || file.write(reinterpret_cast<const char*>(memory.data()), static_cast<qint64>(memory.size()))
               != static_cast<qint64>(memory.size())
        || !file.commit()) {
        std::fprintf(stderr, "tk770-sim: cannot write %s: %s\n", qPrintable(m_options.stateFile),
                     qPrintable(file.errorString()));
    }
}

// -------------------------------------------------------------------- TCP

void SimServer::acceptNext()
{
    if (m_client) return;  // one client at a time; the others wait in the queue
    while (m_server->hasPendingConnections()) {
        QTcpSocket* socket = m_server->nextPendingConnection();
        if (socket->state() != QAbstractSocket::ConnectedState) {
            socket->deleteLater();
            continue;
        }
        m_client = socket;
        m_tcp.reader.discardPartial();
        m_tcp.reader.takeDropped();
        m_tcp.busy = false;
        ++m_tcp.generation;
        connect(socket, &QTcpSocket::readyRead, this, &SimServer::onTcpReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, &SimServer::onTcpDisconnected);
        if (socket->bytesAvailable() > 0) onTcpReadyRead();
        return;
    }
}

void SimServer::onTcpReadyRead()
{
    if (!m_client) return;
    const QByteArray bytes = m_client->readAll();
    m_tcp.reader.feed(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                static_cast<std::size_t>(bytes.size())));
    pump(m_tcp);
}

void SimServer::onTcpDisconnected()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (socket) socket->deleteLater();
    if (socket != m_client) return;
    m_client = nullptr;
    ++m_tcp.generation;  // replies still held back for it are dropped
    m_tcp.busy = false;
    m_tcp.reader.discardPartial();
    m_tcp.reader.takeDropped();
    acceptNext();
}

void SimServer::closeClient()
{
    if (!m_client) return;
    ++m_tcp.generation;
    m_tcp.busy = true;  // nothing more from this client is answered
    m_tcp.reader.discardPartial();
    m_tcp.reader.takeDropped();
    QTcpSocket* socket = m_client;
    socket->disconnectFromHost();
}

// -------------------------------------------------------------------- pty

bool SimServer::openPty(QString& error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        error = errnoText("posix_openpt");
        return false;
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        error = errnoText("grantpt/unlockpt");
        return false;
    }
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0) {
        error = errnoText("ptsname");
        return false;
    }
    m_ptyName = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        error = errnoText("open pty slave");
        return false;
    }
    // Raw bytes both ways: no echo of requests, no CR/LF games with 0x0A/0x0D.
    termios tio{};
    if (::tcgetattr(m_slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B38400);
        ::cfsetospeed(&tio, B38400);
        ::tcsetattr(m_slave, TCSANOW, &tio);
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);

    if (m_options.ptyPath != QLatin1String("-")) {
        const QByteArray path = QFile::encodeName(m_options.ptyPath);
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = QStringLiteral("%1 exists and is not a symbolic link").arg(m_options.ptyPath);
                return false;
            }
            ::unlink(path.constData());
        }
        if (::symlink(name, path.constData()) != 0) {
            error = errnoText("symlink");
            return false;
        }
        m_linkCreated = true;
    }

    m_ptyRead = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_ptyRead, &QSocketNotifier::activated, this, &SimServer::onPtyReadable);
    m_ptyWrite = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_ptyWrite->setEnabled(false);
    connect(m_ptyWrite, &QSocketNotifier::activated, this, &SimServer::onPtyWritable);

    m_ptyIdle = new QTimer(this);
    m_ptyIdle->setSingleShot(true);
    m_ptyIdle->setInterval(pty_idle_ms);
    connect(m_ptyIdle, &QTimer::timeout, this, [this] {
        if (m_pty.busy || m_pty.reader.buffered() == 0) return;
        m_pty.reader.discardPartial();
        traceDropped(m_pty);
    });

    m_paceTimer = new QTimer(this);
    m_paceTimer->setInterval(pace_tick_ms);
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_paceTimer, &QTimer::timeout, this, &SimServer::onPaceTick);
    return true;
}

void SimServer::closePty()
{
    if (m_linkCreated) {
        // Only remove the link if it is still ours.
        const QByteArray path = QFile::encodeName(m_options.ptyPath);
        char target[256];
        const auto n = ::readlink(path.constData(), target, sizeof target - 1);
        if (n > 0) {
            target[n] = '\0';
            if (QString::fromLocal8Bit(target) == m_ptyName) ::unlink(path.constData());
        }
        m_linkCreated = false;
    }
    delete m_ptyRead;
    m_ptyRead = nullptr;
    delete m_ptyWrite;
    m_ptyWrite = nullptr;
    if (m_slave >= 0) ::close(m_slave);
    if (m_master >= 0) ::close(m_master);
    m_slave = m_master = -1;
}

void SimServer::onPtyReadable()
{
    std::uint8_t buffer[512];
    for (;;) {
        const auto n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            m_pty.reader.feed(std::span(buffer, static_cast<std::size_t>(n)));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // With our own slave descriptor open this should not happen; back
            // off instead of spinning on a notifier that keeps firing.
            m_ptyRead->setEnabled(false);
            QTimer::singleShot(100, this, [this] {
                if (m_ptyRead) m_ptyRead->setEnabled(true);
            });
        }
        break;
    }
    pump(m_pty);
    if (m_pty.reader.buffered() > 0) m_ptyIdle->start();
}

void SimServer::writePty(std::size_t limit)
{
    std::size_t written = 0;
    while (written < limit && !m_ptyOut.isEmpty()) {
        const std::size_t chunk = std::min<std::size_t>(limit - written, static_cast<std::size_t>(m_ptyOut.size()));
        const auto n = ::write(m_master, m_ptyOut.constData(), chunk);
        if (n > 0) {
            m_ptyOut.remove(0, n);
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // EAGAIN: the line is full; wait until it drains
    }
    m_paceSent += static_cast<qint64>(written);
    m_ptyWrite->setEnabled(!m_options.lineRate && !m_ptyOut.isEmpty());
    if (m_ptyOut.isEmpty()) m_paceTimer->stop();
}

void SimServer::onPtyWritable()
{
    writePty(static_cast<std::size_t>(m_ptyOut.size()));
}

void SimServer::onPaceTick()
{
    const qint64 allowed = m_paceClock.elapsed() * line_rate_bytes_per_second / 1000 - m_paceSent;
    if (allowed > 0) writePty(static_cast<std::size_t>(allowed));
}

// ------------------------------------------------------------ the exchange

void SimServer::pump(Channel& channel)
{
    while (!channel.busy) {
        auto frame = channel.reader.next();
        traceDropped(channel);
        if (!frame) return;
        trace("rx", *frame);

        const Framing framing = channel.reader.framing();
        auto outcome = m_device.handle(framing, *frame);
        if (outcome.nonvolatileChanged) saveState();
        if (outcome.reply.empty()) continue;

        auto verdict = m_faults.apply(framing, outcome.reply);
        if (m_options.verbose)
            for (auto name : verdict.fired)
                std::fprintf(stderr, "fault %.*s\n", static_cast<int>(name.size()), name.data());

        if (verdict.close) {
            if (outcome.restart)
                QTimer::singleShot(m_options.restartMs, this, [this] { m_device.restart(); });
            closeClient();
            return;
        }
        const int wait = verdict.delayMs + (outcome.restart ? m_options.restartMs : 0);
        if (wait == 0 && !outcome.restart) {
            send(channel, outcome.reply);
            continue;
        }
        // Hold this channel until the reply is out, so replies keep the
        // order of their requests.
        channel.busy = true;
        const quint64 generation = channel.generation;
        QTimer::singleShot(wait, this, [this, &channel, generation, restart = outcome.restart,
                                        reply = std::move(outcome.reply)] {
            if (restart) m_device.restart();
            if (channel.generation != generation) return;
            channel.busy = false;
            send(channel, reply);
            pump(channel);
            if (&channel == &m_pty && m_pty.reader.buffered() > 0) m_ptyIdle->start();
        });
        return;
    }
}

void SimServer::send(Channel& channel, const std::vector<std::uint8_t>& reply)
{
    if (reply.empty()) return;
    trace("tx", reply);
    if (&channel == &m_tcp) {
        if (m_client) m_client->write(reinterpret_cast<const char*>(reply.data()), static_cast<qint64>(reply.size()));
        return;
    }
    if (m_ptyOut.isEmpty() && m_options.lineRate) {
        // An idle line starts a fresh budget.
        m_paceClock.start();
        m_paceSent = 0;
    }
    m_ptyOut.append(reinterpret_cast<const char*>(reply.data()), static_cast<qsizetype>(reply.size()));
    if (m_ptyOut.size() > pty_queue_limit) m_ptyOut.remove(0, m_ptyOut.size() - pty_queue_limit);
    if (m_options.lineRate) {
        if (!m_paceTimer->isActive()) m_paceTimer->start();
    } else {
        writePty(static_cast<std::size_t>(m_ptyOut.size()));
    }
}

void SimServer::trace(const char* tag, std::span<const std::uint8_t> bytes) const
{
    if (!m_options.verbose || bytes.empty()) return;
    std::fprintf(stderr, "%s %s\n", tag, hexBytes(bytes).c_str());
}

void SimServer::traceDropped(Channel& channel) const
{
    const auto dropped = channel.reader.takeDropped();
    trace("drop", dropped);
}

}  // namespace tk770
