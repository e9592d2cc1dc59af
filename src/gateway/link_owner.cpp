#include "gateway/link_owner.h"

#include "core/send_unit.h"
#include "link/sequences.h"
#include "link/target_transports.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace tk770 {

namespace {

// Failed exchanges in a row after which the processor is taken as gone: one
// lost reply is the processor's business, three mean nobody is there.
constexpr int failures_until_lost = 3;

// The processor a --device target names, on the Qt transports.
class QtConnector : public DeviceConnector {
public:
    QtConnector(const DeviceTarget& target, int waitMs) : m_transports(target, waitMs) {}

    bool open(LinkState& state, QString& why) override
    {
        try {
            m_transports.open(state);
        } catch (const LinkError& e) {
            why = QString::fromStdString(e.what());
            return false;
        }
        return true;
    }
    void close() override { m_transports.close(); }
    bool isOpen() const override { return m_transports.isOpen(); }
    SerialTransport* serial() override { return &m_transports.serial(); }
    TcpTransport* tcp() override { return &m_transports.tcp(); }
    QString describe() const override { return m_transports.target().text(); }

private:
    TargetTransports m_transports;
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
    DeviceTarget target;
    if (const TargetError bad = parseDeviceTarget(device, target); bad != TargetError::none) {
        error = QStringLiteral("--device '%1': %2").arg(device, targetErrorText(bad));
        return nullptr;
    }
    return std::make_unique<QtConnector>(target, replyWaitMs);
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
                const int failed = m_sequences.read_image();
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
        case LinkOp::read_image: {
            const int failed = m_sequences.read_image();
            m_state.error_count = 0;
            data = imageBytes(m_image);
            return failed == 0;
        }
        case LinkOp::transfer: break;
        }
        const auto* source = reinterpret_cast<const std::uint8_t*>(op.data.constData());
        switch (op.command) {
        case Command::read: {
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
        case LinkOp::read_image: std::memcpy(after.data(), data.constData(), image_size); break;
        case LinkOp::transfer: applyBytes(after, op.address, op.command == Command::read ? data : op.data); break;
        case LinkOp::save: changes = false; break;
        case LinkOp::restart: {
            // The processor reloads its working settings from memory: read
            // them again before anybody else's request.
            changes = false;
            LinkOp reread;
            reread.kind = LinkOp::read_image;
            m_queue.push_front(Job{job.peer, [reread](const ParameterImage&) { return reread; }, {}});
            break;
        }
        }
        if (changes) applyChanges(after, job.peer);
    }
    // A lost reply to a write or store is told after its block was read
    // back (readBack takes the job's finish along).
    const bool deferred = result == LinkResult::no_reply && !lost && readBack(op, job);
    if (!deferred && job.finish) job.finish(result, data);
    if (lost) {
        goOffline();
        emit trace(QStringLiteral("link %1: lost").arg(m_deviceText));
        m_retryMs = m_timing.retryFirstMs;
        scheduleRetry();
    }
    runNext();
    idleAgain();
}

bool LinkOwner::readBack(const LinkOp& op, Job& job)
{
    const bool sent = op.kind == LinkOp::send_unit || (op.kind == LinkOp::transfer && op.command != Command::read);
    if (!sent) return false;
    // Only what the mirror holds is worth reading back (not the command
    // register, say).
    bool mirrored = false;
    for (int i = 0; i < op.length && !mirrored; ++i) mirrored = image_offset_of(op.address + i).has_value();
    if (!mirrored) return false;
    LinkOp reread;
    reread.command = Command::read;
    reread.address = op.address;
    reread.length = op.length;
    // Ahead of everybody else's request, so no client works from a value the
    // processor may not hold; what it finds is the processor's own. The
    // client hears of its lost reply once the mirror is true again, so what
    // it asks next is answered with what the processor holds.
    Finish told = [finish = std::move(job.finish)](LinkResult, const QByteArray&) {
        if (finish) finish(LinkResult::no_reply, {});
    };
    m_queue.push_front(Job{GatewayPeer{QStringLiteral("-"), QStringLiteral("device")},
                           [reread](const ParameterImage&) { return std::optional<LinkOp>(reread); }, std::move(told)});
    return true;
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
