// The simulator on top of the link's processor server: the options, the
// state file, the simulated device and its faults, and the -v trace. The
// server listens, frames requests and keeps the limits; this class decides
// what is answered and when, through SimDevice and FaultInjector.
#pragma once

#include "link/processor_server.h"
#include "sim/sim_device.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace tk770 {

struct SimOptions {
    bool tcp = false;
    QHostAddress tcpHost;
    quint16 tcpPort = 0;
    QString ptyPath;        // empty: no pty; "-": a pty without a symlink
    QString stateFile;
    bool lineRate = false;
    int restartMs = 300;
    int idleMs = 10000;     // a silent TCP client gives way to a waiting one
    std::vector<Fault> faults;
    bool verbose = false;
};

// Parses the program's arguments (argv[0] included). Returns the options, or
// nothing with `error` set; --help and --version are left to the caller.
std::optional<SimOptions> parseSimArguments(const QStringList& arguments, QString& error);

inline constexpr int line_rate_bytes_per_second = 3840;

class SimServer : public QObject, private ProcessorResponder {
    Q_OBJECT
public:
    explicit SimServer(SimOptions options, QObject* parent = nullptr);
    ~SimServer() override;

    // Loads the state file and opens the listeners. On failure `error` says why.
    bool start(QString& error);

    // The lines announced on stdout once start() succeeded.
    QStringList announcement() const;

    quint16 tcpPort() const;
    QString ptyName() const;
    const SimDevice& device() const { return m_device; }

private:
    void processRequest(const ClientRef& client, Framing framing, std::span<const std::uint8_t> frame) override;
    void bytesDropped(const ClientRef& client, std::span<const std::uint8_t> bytes) override;

    bool loadState(QString& error);
    bool saveState();
    void send(const ClientRef& client, const std::vector<std::uint8_t>& reply);
    void trace(const char* tag, std::span<const std::uint8_t> bytes) const;

    SimOptions m_options;
    SimDevice m_device;
    FaultInjector m_faults;
    // Declared last: it goes first, before the device it answers from.
    std::unique_ptr<ProcessorServer> m_server;
};

}  // namespace tk770
