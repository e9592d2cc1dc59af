#include "gateway/link_owner.h"

#include "core/send_unit.h"
#include "link/sequences.h"
#include "link/serial_transport.h"
#include "link/tcp_transport.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace tk770 {

namespace {

// Failed exchanges in a row after which the processor is taken as gone: one
// lost reply is the processor's business, three mean nobody is there.
constexpr int failures_until_lost = 3;

class QtConnector : public DeviceConnector {
public:
    QtConnector(bool tcp, QString host, int port, QString serialDevice, int waitMs)
        : m_isTcp(tcp), m_host(std::move(host)), m_port(port), m_device(std::move(serialDevice))
    {
        if (waitMs > 0) {
            m_tcp.setConnectWaitMs(waitMs);
            m_tcp.set_reply_wait_ms(waitMs);
        }
    }

    bool open(LinkState& state, QString& why) override
    {
        if (m_isTcp) {
            try {
                m_tcp.connect(m_host, m_port);
            } catch (const LinkError& e) {
                why = QString::fromStdString(e.what());
                return false;
            }
            state.network_mode = 1;
            return true;
        }
        m_portNumber = comPortNumber(m_device);
        if (m_portNumber == 0) {
            m_portNumber = 1;  // a device path stands in for the first port
            m_serial.bindPort(m_portNumber, m_device);
        }
        m_serial.open(m_portNumber);
        m_serial.set_read_timeout(m_portNumber, normal_read_timeout_ms);
        state.network_mode = 0;
        state.serial_port = m_portNumber;
        if (!m_serial.isOpen(m_portNumber)) {
            why = QStringLiteral("cannot open serial port %1").arg(m_serial.deviceName(m_portNumber));
            return false;
        }
        return true;
    }
    void close() override
    {
        if (m_isTcp)
            m_tcp.disconnect();
        else if (m_portNumber > 0)
            m_serial.close(m_portNumber);
    }
    bool isOpen() const override { return m_isTcp ? m_tcp.isOpen() : m_serial.isOpen(m_portNumber); }
    SerialTransport* serial() override { return &m_serial; }
    TcpTransport* tcp() override { return &m_tcp; }
    QString describe() const override
    {
        return m_isTcp ? QStringLiteral("tcp:%1:%2").arg(m_host).arg(m_port) : QStringLiteral("serial:%1").arg(m_device);
    }

private:
    bool m_isTcp;
    QString m_host;
    int m_port;
    QString m_device;
    int m_portNumber = 0;
    QtTcpTransport m_tcp;
    QtSerialTransport m_serial;
};

// Copies `bytes` sent to device `address` into the image wherever the
// image mirrors that memory.
void applyBytes(ParameterImage& image, int address, const QByteArray& bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (const auto offset = image_offset_of(address + static_cast<int>(i)))
            image.data()[*offset] = static_cast<std::uint8_t>(bytes[i]);
}

QByteArray imageBytes(const ParameterImage& image)
{
    return QByteArray(reinterpret_cast<const char*>(image.data()), static_cast<qsizetype>(image_size));
}

}  // namespace

std::unique_ptr<DeviceConnector> makeQtConnector(const QString& device, int replyWaitMs, QString& error)
{
    if (device.startsWith(QLatin1String("tcp:"))) {
        const QString rest = device.mid(4);
        QString host = rest;
        int port = tcp_port;
        const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon >= 0 && rest.indexOf(QLatin1Char(':')) == colon) {
            bool ok = false;
            port = rest.mid(colon + 1).toInt(&ok);
            host = rest.left(colon);
            if (!ok || port < 1 || port > 65535) {
                error = QStringLiteral("bad port in --device %1").arg(device);
                return nullptr;
            }
        }
        if (host.isEmpty()) {
            error = QStringLiteral("--device tcp: needs a host");
            return nullptr;
        }
        return std::make_unique<QtConnector>(true, host, port, QString(), replyWaitMs);
    }
    if (device.startsWith(QLatin1String("serial:")) && device.size() > 7)
        return std::make_unique<QtConnector>(false, QString(), 0, device.mid(7), replyWaitMs);
    error = QStringLiteral("--device wants tcp:HOST[:PORT], serial:PATH or serial:COMn, got '%1'").arg(device);
    return nullptr;
}

// ------------------------------------------------------------- the worker

// Runs the blocking link. Lives in the link thread; everything it learns
// goes back to the owner as a queued call.
class LinkWorker : public QObject {
public:
    LinkWorker(std::unique_ptr<DeviceConnector> connector, LinkOwner* owner)
        : m_connector(std::move(connector)),
          m_owner(owner),
          m_link(m_state, m_connector->serial(), m_connector->tcp(), &m_status),
          m_sequences(m_link, m_image)
    {
    }

    void open()
    {
        QString why;
        bool ok = false;
        try {
            m_connector->close();
            m_state = LinkState{};
            if (m_connector->open(m_state, why)) {
                m_state.connected = 1;
                const int failed = m_sequences.full_read();
                m_state.error_count = 0;
                ok = failed == 0;
                if (!ok) why = QStringLiteral("%1 of %2 blocks unanswered").arg(failed).arg(block_count);
            }
        } catch (const std::exception& e) {
            // LinkError, or anything else the transports raise: nothing may
            // escape into the event loop.
            why = QString::fromStdString(e.what());
        }
        if (!ok) {
            m_connector->close();
            m_state.connected = 0;
        }
        m_failures = 0;
        post([owner = m_owner, ok, image = imageBytes(m_image), why] { owner->opened(ok, image, why); });
    }

    void run(const LinkOp& op)
    {
        QByteArray data;
        bool accepted = false;
        bool lost = false;
        try {
            accepted = exchange(op, data);
        } catch (const LinkError&) {
            lost = !m_connector->isOpen();
        } catch (const std::exception&) {
            // Not the connection's fault: the request counts as unanswered.
        }
        if (accepted) {
            m_failures = 0;
            m_state.error_count = 0;
        } else if (!lost && ++m_failures >= failures_until_lost) {
            lost = true;
        }
        if (lost) {
            m_connector->close();
            m_state.connected = 0;
        }
        const LinkResult result = accepted ? LinkResult::accepted : LinkResult::no_reply;
        post([owner = m_owner, result, data, lost] { owner->finished(result, data, lost); });
    }

    // The transports are closed in the thread that made them.
    void shutdown()
    {
        m_connector->close();
        m_state.connected = 0;
    }

private:
    template <typename F>
    void post(F&& f)
    {
        QMetaObject::invokeMethod(m_owner, std::forward<F>(f), Qt::QueuedConnection);
    }

    bool exchange(const LinkOp& op, QByteArray& data)
    {
        switch (op.kind) {
        case LinkOp::send_unit: return send_unit(m_link, op.image, op.unit) == SendResult::accepted;
        case LinkOp::save: return m_sequences.save_to_memory() == Outcome::succeeded;
        case LinkOp::restart: return m_sequences.restart() == Outcome::succeeded;
        case LinkOp::transfer: break;
        }
        const auto* source = reinterpret_cast<const std::uint8_t*>(op.data.constData());
        switch (op.command) {
        case Command::read: {
            if (op.address < 0 && op.length == static_cast<int>(image_size)) {
                // The whole image again (after a restart).
                const int failed = m_sequences.full_read();
                m_state.error_count = 0;
                data = imageBytes(m_image);
                return failed == 0;
            }
            QByteArray buffer(op.length, '\0');
            if (m_link.read_block(op.address, op.length, reinterpret_cast<std::uint8_t*>(buffer.data())) != 0)
                return false;
            data = buffer;
            return true;
        }
        case Command::write: return m_link.write_block(op.address, op.length, source) == 0;
        case Command::store: return m_link.store_block(op.address, op.length, source) == 0;
        }
        return false;
    }

    std::unique_ptr<DeviceConnector> m_connector;
    LinkOwner* m_owner;
    LinkState m_state;
    SilentStatus m_status;
    DeviceLink m_link;
    ParameterImage m_image{};
    DeviceSequences m_sequences;
    int m_failures = 0;
};

// -------------------------------------------------------------- the owner

LinkOwner::LinkOwner(std::unique_ptr<DeviceConnector> connector, Timing timing, QObject* parent)
    : QObject(parent), m_timing(timing)
{
    m_deviceText = connector->describe();
    m_worker = std::make_unique<LinkWorker>(std::move(connector), this);
    if (m_timing.ownThread) {
        m_worker->moveToThread(&m_thread);
        m_thread.start();
    }
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &LinkOwner::start);
    m_retryMs = m_timing.retryFirstMs;
    m_probe.setSingleShot(true);
    connect(&m_probe, &QTimer::timeout, this, &LinkOwner::probe);
}

LinkOwner::~LinkOwner()
{
    if (m_timing.ownThread) {
        QMetaObject::invokeMethod(
            m_worker.get(), [w = m_worker.get()] { w->shutdown(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    } else {
        m_worker->shutdown();
    }
}

void LinkOwner::start()
{
    if (m_opening) return;
    if (m_busy) {
        m_retry.start(m_timing.retryFirstMs);
        return;
    }
    m_opening = true;
    QMetaObject::invokeMethod(m_worker.get(), [w = m_worker.get()] { w->open(); }, Qt::QueuedConnection);
}

void LinkOwner::opened(bool ok, const QByteArray& image, const QString& why)
{
    m_opening = false;
    if (!ok) {
        emit trace(QStringLiteral("link %1: %2").arg(m_deviceText, why));
        goOffline();
        scheduleRetry();
        runNext();
        return;
    }
    m_retryMs = m_timing.retryFirstMs;
    ParameterImage after{};
    std::memcpy(after.data(), image.constData(), image_size);
    const bool first = !m_everOnline;
    m_online = true;
    m_everOnline = true;
    m_known = true;
    emit onlineChanged(true);
    // The first read is what the processor holds, not a change anybody made.
    if (first)
        m_mirror = after;
    else
        applyChanges(after, GatewayPeer{QStringLiteral("-"), QStringLiteral("device")});
    runNext();
    idleAgain();
}

void LinkOwner::idleAgain()
{
    if (m_online && !m_busy && m_queue.empty() && m_timing.probeMs > 0) m_probe.start(m_timing.probeMs);
}

void LinkOwner::probe()
{
    if (!m_online || m_busy || !m_queue.empty()) return;
    LinkOp op;
    op.command = Command::read;
    op.address = write_unit(UnitKind::master_volume).device_address;
    op.length = 1;
    // What it reads goes into the mirror like any read: a change made at
    // the processor itself shows up too.
    enqueue(GatewayPeer{QStringLiteral("-"), QStringLiteral("device")},
            [op](const ParameterImage&) { return std::optional<LinkOp>(op); }, {});
}

void LinkOwner::goOffline()
{
    if (!m_online && m_known) return;
    m_online = false;
    m_known = true;
    emit onlineChanged(false);
}

void LinkOwner::scheduleRetry()
{
    m_retry.start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, m_timing.retryMaxMs);
}

void LinkOwner::enqueue(const GatewayPeer& peer, Prepare prepare, Finish finish)
{
    m_queue.push_back(Job{peer, std::move(prepare), std::move(finish)});
    runNext();
}

void LinkOwner::runNext()
{
    while (!m_busy && !m_queue.empty()) {
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        if (!m_online) {
            if (job.finish) job.finish(LinkResult::offline, {});
            continue;
        }
        std::optional<LinkOp> op = job.prepare ? job.prepare(m_mirror) : std::nullopt;
        if (!op) continue;
        if (op->kind == LinkOp::send_unit) {
            op->address = op->unit.device_address;
            op->length = op->unit.length;
        }
        m_busy = true;
        m_probe.stop();
        m_current = std::move(job);
        m_currentOp = *op;
        QMetaObject::invokeMethod(
            m_worker.get(), [w = m_worker.get(), o = std::move(*op)] { w->run(o); }, Qt::QueuedConnection);
    }
}

void LinkOwner::finished(LinkResult result, const QByteArray& data, bool lost)
{
    m_busy = false;
    Job job = std::move(*m_current);
    const LinkOp op = std::move(*m_currentOp);
    m_current.reset();
    m_currentOp.reset();

    if (result == LinkResult::accepted) {
        ParameterImage after = m_mirror;
        bool changes = true;
        switch (op.kind) {
        case LinkOp::send_unit:
            std::memcpy(after.data() + op.unit.image_offset(), op.image.data() + op.unit.image_offset(),
                        static_cast<std::size_t>(op.unit.length));
            break;
        case LinkOp::transfer:
            if (op.command == Command::read && op.address < 0)
                std::memcpy(after.data(), data.constData(), image_size);
            else
                applyBytes(after, op.address, op.command == Command::read ? data : op.data);
            break;
        case LinkOp::save: changes = false; break;
        case LinkOp::restart: {
            // The processor reloads its working settings from memory: read
            // them again before anybody else's request.
            changes = false;
            LinkOp reread;
            reread.command = Command::read;
            reread.address = -1;
            reread.length = static_cast<int>(image_size);
            m_queue.push_front(Job{job.peer, [reread](const ParameterImage&) { return reread; }, {}});
            break;
        }
        }
        if (changes) applyChanges(after, job.peer);
    }
    if (job.finish) job.finish(result, data);
    if (lost) {
        goOffline();
        emit trace(QStringLiteral("link %1: lost").arg(m_deviceText));
        m_retryMs = m_timing.retryFirstMs;
        scheduleRetry();
    }
    runNext();
    idleAgain();
}

void LinkOwner::applyChanges(const ParameterImage& after, const GatewayPeer& peer)
{
    const ParameterImage before = m_mirror;
    m_mirror = after;
    for_each_field_element([&](const FieldRef& ref) {
        const auto size = static_cast<std::size_t>(ref.field->size);
        if (std::memcmp(before.data() + ref.offset, after.data() + ref.offset, size) != 0)
            emit fieldChanged(ref, before, after, peer);
    });
}

}  // namespace tk770
