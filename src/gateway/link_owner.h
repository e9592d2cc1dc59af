// The gateway's one link to the processor, and the image mirror it keeps.
//
// Every client's request becomes a job in one queue; jobs reach the
// processor one at a time in arrival order. The blocking link (DeviceLink,
// the device sequences, the Qt transports) runs in a worker of its own, so a
// slow or silent processor never stops the listeners. Accepted writes,
// stores and reads update the mirror, and each changed field is reported
// with the client it came from. A write or store whose reply was lost may
// still have been taken, so its block is read back before anything else
// and the mirror shows what the processor really holds.
#pragma once

#include "core/device_link.h"
#include "core/field_table.h"
#include "core/parameter_image.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace tk770 {

// Who asked: the client's address and the listener it came through
// ("binary", "text", "http"); changes found after a reconnect are the
// processor's own ("-", "device").
struct GatewayPeer {
    QString address;
    QString listener;
};

// How the worker reaches the processor. The program uses the Qt transports;
// the tests put the in-process processor behind the same interface.
class DeviceConnector {
public:
    virtual ~DeviceConnector() = default;
    // Opens the transport and sets network_mode/serial_port; false with
    // `why` when it cannot.
    virtual bool open(LinkState& state, QString& why) = 0;
    virtual void close() = 0;
    // Whether the transport is still there after a failed exchange.
    virtual bool isOpen() const = 0;
    virtual SerialTransport* serial() = 0;
    virtual TcpTransport* tcp() = 0;
    // "tcp:HOST:PORT" or "serial:PATH", for messages.
    virtual QString describe() const = 0;
};

// --device tcp:HOST[:PORT] | serial:PATH | serial:COMn, on the Qt transports.
// `replyWaitMs` bounds the TCP connect and reply waits.
std::unique_ptr<DeviceConnector> makeQtConnector(const QString& device, int replyWaitMs, QString& error);

enum class LinkResult {
    accepted,  // the processor accepted it
    no_reply,  // nothing valid came back; the mirror is unchanged
    offline,   // the link is down: nothing was sent
};

// One exchange with the processor: a block transfer, a unit sent from an
// image, the save and restart sequences, or the whole image read again.
struct LinkOp {
    enum Kind { transfer, send_unit, save, restart, read_image };
    Kind kind = transfer;
    Command command = Command::read;  // transfer
    int address = 0;                  // transfer: the block; unit: filled from the unit
    int length = 0;
    QByteArray data;                  // transfer write/store
    ParameterImage image{};           // unit: the image the unit's bytes are sent from
    WriteUnit unit{};
};

class LinkWorker;

class LinkOwner : public QObject {
    Q_OBJECT
public:
    struct Timing {
        int retryFirstMs = 2000;  // first retry after the link was lost
        int retryMaxMs = 30000;   // the retry interval doubles up to this
        bool ownThread = true;    // false: the worker runs in this thread (tests)
        // A link idle this long is checked with a one-byte read, so a
        // processor that went away is noticed without a client asking.
        int probeMs = 2000;
    };

    LinkOwner(std::unique_ptr<DeviceConnector> connector, Timing timing, QObject* parent = nullptr);
    ~LinkOwner() override;

    // Connects and reads everything; retries while it cannot.
    void start();

    bool isOnline() const { return m_online; }
    // True once the first full read has succeeded.
    bool everOnline() const { return m_everOnline; }
    const ParameterImage& mirror() const { return m_mirror; }
    QString deviceText() const { return m_deviceText; }

    using Prepare = std::function<std::optional<LinkOp>(const ParameterImage& mirror)>;
    using Finish = std::function<void(LinkResult result, const QByteArray& readData)>;
    // Queues a job. When its turn comes `prepare` sees the mirror as it then
    // stands and says what to send (nothing: the job ends there, and
    // `finish` is not called). Offline jobs finish with LinkResult::offline.
    void enqueue(const GatewayPeer& peer, Prepare prepare, Finish finish);
    int queued() const { return static_cast<int>(m_queue.size()) + (m_busy ? 1 : 0); }

signals:
    void onlineChanged(bool online);
    // One element of a field changed in the mirror.
    void fieldChanged(const tk770::FieldRef& ref, const tk770::ParameterImage& before,
                      const tk770::ParameterImage& after, const tk770::GatewayPeer& peer);
    // An exchange went out (for the trace).
    void trace(const QString& line);

private:
    friend class LinkWorker;
    struct Job {
        GatewayPeer peer;
        Prepare prepare;
        Finish finish;
    };
    void runNext();
    void opened(bool ok, const QByteArray& image, const QString& why);
    void finished(LinkResult result, const QByteArray& data, bool lost);
    void goOffline();
    void scheduleRetry();
    void applyChanges(const ParameterImage& after, const GatewayPeer& peer);
    bool readBack(const LinkOp& op, Job& job);
    void probe();
    void idleAgain();

    std::unique_ptr<LinkWorker> m_worker;
    QThread m_thread;
    Timing m_timing;
    QString m_deviceText;
    ParameterImage m_mirror{};
    bool m_online = false;
    bool m_everOnline = false;
    bool m_known = false;  // online or offline has been reported once
    bool m_opening = false;
    bool m_busy = false;
    std::optional<Job> m_current;
    std::optional<LinkOp> m_currentOp;
    std::deque<Job> m_queue;
    QTimer m_retry;
    QTimer m_probe;
    int m_retryMs = 0;
};

}  // namespace tk770
