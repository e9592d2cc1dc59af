// The simulator's I/O shell: a TCP listener (one client at a time), a
// pseudo-terminal standing in for the serial line, the state file, line-rate
// pacing and the timers that hold replies back. What to answer is decided by
// SimDevice and FaultInjector; this class only moves bytes and keeps time.
#pragma once

#include "sim/sim_device.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class QTimer;

namespace tk770 {

struct SimOptions {
    bool tcp = false;
    QHostAddress tcpHost;
    quint16 tcpPort = 0;
    QString ptyPath;        // empty: no pty; "-": a pty without a symlink
    QString stateFile;
    bool lineRate = false;
    int restartMs = 300;
    std::vector<Fault> faults;
    bool verbose = false;
};

// Parses the program's arguments (argv[0] included). Returns the options, or
// nothing with `error` set; --help and --version are left to the caller.
std::optional<SimOptions> parseSimArguments(const QStringList& arguments, QString& error);

inline constexpr int line_rate_bytes_per_second = 3840;

class SimServer : public QObject {
    Q_OBJECT
public:
    explicit SimServer(SimOptions options, QObject* parent = nullptr);
    ~SimServer() override;

    // Loads the state file and opens the listeners. On failure `error` says why.
    bool start(QString& error);

    // The lines announced on stdout once start() succeeded.
    QStringList announcement() const;

    quint16 tcpPort() const;
    QString ptyName() const { return m_ptyName; }
    const SimDevice& device() const { return m_device; }

private:
    struct Channel {
        explicit Channel(Framing framing) : reader(framing) {}
        FrameReader reader;
        bool busy = false;          // a reply is being held back
        quint64 generation = 0;     // bumped when the peer goes away
    };

    bool loadState(QString& error);
    void saveState();
    bool openPty(QString& error);
    void closePty();

    void acceptNext();
    void onTcpReadyRead();
    void onTcpDisconnected();
    void closeClient();

    void onPtyReadable();
    void onPtyWritable();
    void onPaceTick();
    void writePty(std::size_t limit);

    void pump(Channel& channel);
    void send(Channel& channel, const std::vector<std::uint8_t>& reply);
    void trace(const char* tag, std::span<const std::uint8_t> bytes) const;
    void traceDropped(Channel& channel) const;

    SimOptions m_options;
    SimDevice m_device;
    FaultInjector m_faults;

    QTcpServer* m_server = nullptr;
    QPointer<QTcpSocket> m_client;
    Channel m_tcp{Framing::tcp};

    int m_master = -1;
    int m_slave = -1;   // held open so the master never sees a hang-up between clients
    QString m_ptyName;
    bool m_linkCreated = false;
    QSocketNotifier* m_ptyRead = nullptr;
    QSocketNotifier* m_ptyWrite = nullptr;
    QTimer* m_ptyIdle = nullptr;
    Channel m_pty{Framing::serial};
    QByteArray m_ptyOut;

    QTimer* m_paceTimer = nullptr;
    QElapsedTimer m_paceClock;
    qint64 m_paceSent = 0;
};

}  // namespace tk770
