#include "link/serial_transport.h"

#include <QDeadlineTimer>
#include <QSerialPort>

#include <algorithm>

namespace tk770 {

struct QtSerialTransport::Port {
    QString boundPath;
    int timeoutMs = normal_read_timeout_ms;
    QSerialPort::SerialPortError openError = QSerialPort::NoError;
    std::unique_ptr<QSerialPort> serial;
};

namespace {
// A write that cannot drain in this time is given up; its result is never
// examined, so only the read that follows can tell.
constexpr int write_wait_ms = 2000;
// The line counts as quiet once nothing arrived for this long: far more than
// the gap between two bytes of one frame at 38,400 baud. A line that never
// falls quiet is given up on after drain_limit_ms.
constexpr int quiet_ms = 100;
constexpr int drain_limit_ms = 2000;
}

QtSerialTransport::QtSerialTransport()
{
    for (int p = 1; p <= device_port; ++p) m_ports[p] = std::make_unique<Port>();
}

QtSerialTransport::~QtSerialTransport() = default;

QtSerialTransport::Port* QtSerialTransport::slot(int port) const
{
    if (port < 1 || port > device_port) return nullptr;
    return m_ports[port].get();
}

QString QtSerialTransport::deviceName(int port) const
{
    const Port* p = slot(port);
    if (!p) return {};
    if (!p->boundPath.isEmpty()) return p->boundPath;
    if (port == device_port) return {};
    const QString fromEnv = qEnvironmentVariable(qPrintable(QStringLiteral("TK770_COM%1").arg(port)));
    if (!fromEnv.isEmpty()) return fromEnv;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

void QtSerialTransport::bindPort(int port, const QString& path)
{
    if (Port* p = slot(port)) p->boundPath = path;
}

bool QtSerialTransport::isOpen(int port) const
{
    const Port* p = slot(port);
    return p && p->serial && p->serial->isOpen();
}

QSerialPort::SerialPortError QtSerialTransport::openError(int port) const
{
    const Port* p = slot(port);
    return p ? p->openError : QSerialPort::NoError;
}

void QtSerialTransport::open(int port)
{
    Port* p = slot(port);
    if (!p) return;  // port 0 or out of range: nothing opens, reads fail
    // Opening an open port starts it afresh rather than failing, so a later
    // connect on the same port behaves like the first.
    p->serial.reset();
    p->openError = QSerialPort::NoError;
    const QString device = deviceName(port);
    if (device.isEmpty()) {
        p->openError = QSerialPort::DeviceNotFoundError;
        return;
    }
    auto serial = std::make_unique<QSerialPort>();
    serial->setPortName(device);
    if (!serial->open(QIODevice::ReadWrite)) {
        p->openError = serial->error();
        return;
    }
    serial->setBaudRate(QSerialPort::Baud38400);
    serial->setDataBits(QSerialPort::Data8);
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setFlowControl(QSerialPort::NoFlowControl);
    // Bytes left over from before the connect must not pass for a reply.
    serial->clear(QSerialPort::AllDirections);
    serial->readAll();
    p->timeoutMs = normal_read_timeout_ms;
    p->serial = std::move(serial);
}

void QtSerialTransport::close(int port)
{
    if (Port* p = slot(port)) p->serial.reset();
}

void QtSerialTransport::set_read_timeout(int port, int milliseconds)
{
    if (Port* p = slot(port)) p->timeoutMs = milliseconds < 0 ? 0 : milliseconds;
}

void QtSerialTransport::write(int port, std::span<const std::uint8_t> bytes)
{
    Port* p = slot(port);
    if (!p || !p->serial || bytes.empty()) return;
    QSerialPort& s = *p->serial;
    // Whatever is still queued belongs to an earlier exchange (bytes to spare
    // after a reply, the rest of a reply given up on); left there, it would
    // be taken for the answer to this request.
    s.readAll();
    s.clear(QSerialPort::Input);
    if (s.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) < 0) return;
    QDeadlineTimer deadline(write_wait_ms);
    while (s.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!s.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) break;
    }
}

int QtSerialTransport::read(int port, std::span<std::uint8_t> bytes)
{
    Port* p = slot(port);
    if (!p || !p->serial) return -1;
    QSerialPort& s = *p->serial;
    const qint64 wanted = static_cast<qint64>(bytes.size());
    qint64 got = 0;
    // One deadline for the whole read: a reply trickling in byte by byte
    // must not stretch the wait past the time-out.
    QDeadlineTimer deadline(p->timeoutMs);
    while (got < wanted) {
        if (s.bytesAvailable() == 0) {
            const qint64 left = deadline.remainingTime();
            if (left <= 0 || !s.waitForReadyRead(static_cast<int>(left))) {
                if (s.bytesAvailable() == 0) break;
            }
        }
        // Only what the caller asked for; the rest stays queued for the next read.
        const qint64 n = s.read(reinterpret_cast<char*>(bytes.data()) + got, wanted - got);
        if (n < 0) return got > 0 ? static_cast<int>(got) : -1;
        got += n;
    }
    return static_cast<int>(got);
}

}  // namespace tk770

namespace tk770 {

void QtSerialTransport::drain(int port)
{
    Port* p = slot(port);
    if (!p || !p->serial) return;
    QSerialPort& s = *p->serial;
    QDeadlineTimer limit(drain_limit_ms);
    do {
        s.readAll();
    } while (!limit.hasExpired() && s.waitForReadyRead(quiet_ms));
    s.readAll();
}

}  // namespace tk770
