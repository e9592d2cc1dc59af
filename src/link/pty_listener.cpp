#include "link/pty_listener.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tk770 {

namespace {

// A real line hands over each byte as it completes; a coarse tick would hold
// the tail of every reply back by up to a tick, so pace in millisecond steps.
constexpr int pace_tick_ms = 1;

QString errnoText(const char* what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}

}  // namespace

PtyListener::PtyListener(QObject* parent) : QObject(parent) {}

PtyListener::~PtyListener()
{
    close();
}

bool PtyListener::open(const QString& linkPath, QString& error)
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
    m_name = QString::fromLocal8Bit(name);
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

    if (linkPath != QLatin1String("-")) {
        const QByteArray path = QFile::encodeName(linkPath);
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = QStringLiteral("%1 exists and is not a symbolic link").arg(linkPath);
                return false;
            }
            ::unlink(path.constData());
        }
        if (::symlink(name, path.constData()) != 0) {
            error = QStringLiteral("cannot make %1 a link to the terminal: %2")
                        .arg(linkPath, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        m_linkPath = linkPath;
        m_linkCreated = true;
    }

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyListener::onReadable);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyListener::onWritable);

    m_arrivalTimer = new QTimer(this);
    m_arrivalTimer->setSingleShot(true);
    m_arrivalTimer->setTimerType(Qt::PreciseTimer);
    connect(m_arrivalTimer, &QTimer::timeout, this, &PtyListener::releaseArrived);
    m_lineClock.start();

    m_paceTimer = new QTimer(this);
    m_paceTimer->setSingleShot(true);
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_paceTimer, &QTimer::timeout, this, &PtyListener::onPaceTick);
    return true;
}

void PtyListener::close()
{
    if (m_linkCreated) {
        // Only remove the link if it is still ours.
        const QByteArray path = QFile::encodeName(m_linkPath);
        char target[256];
        const auto n = ::readlink(path.constData(), target, sizeof target - 1);
        if (n > 0) {
            target[n] = '\0';
            if (QString::fromLocal8Bit(target) == m_name) ::unlink(path.constData());
        }
        m_linkCreated = false;
    }
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_slave >= 0) ::close(m_slave);
    if (m_master >= 0) ::close(m_master);
    m_slave = m_master = -1;
}

void PtyListener::onReadable()
{
    if (m_rate == 0) {
        emit readyRead();
        return;
    }
    // Requests arrive no faster than the line carries them, so a full read
    // is measured against the true line time of both directions.
    const QByteArray bytes = readTerminal(queue_limit - m_in.size());
    const double now = static_cast<double>(m_lineClock.nsecsElapsed()) / 1e6;
    const double byteMs = 1000.0 / m_rate;
    m_lineFreeMs = std::max(m_lineFreeMs, now);
    for (qsizetype i = 0; i < bytes.size(); ++i) m_inArrival.push_back(m_lineFreeMs += byteMs);
    m_in.append(bytes);
    // A full queue waits in the terminal until the server has taken some.
    if (m_in.size() >= queue_limit && m_readNotifier) m_readNotifier->setEnabled(false);
    releaseArrived();
}

void PtyListener::releaseArrived()
{
    const double now = static_cast<double>(m_lineClock.nsecsElapsed()) / 1e6;
    const qsizetype before = m_inArrived;
    while (m_inArrived < m_in.size() && m_inArrival[static_cast<std::size_t>(m_inArrived)] <= now) ++m_inArrived;
    if (m_inArrived < m_in.size()) {
        // Rounded down: a timer that fires early is re-armed for the rest
        // (at worst a short spin), one that fires late would delay every
        // request by up to a millisecond.
        const double next = m_inArrival[static_cast<std::size_t>(m_inArrived)] - now;
        m_arrivalTimer->start(std::max(0, static_cast<int>(next)));
    }
    if (m_inArrived > before && m_readEnabled) emit readyRead();
}

QByteArray PtyListener::read(qsizetype max)
{
    if (m_rate == 0) return readTerminal(max);
    const qsizetype n = std::min(max, m_inArrived);
    QByteArray bytes = m_in.left(n);
    m_in.remove(0, n);
    m_inArrival.erase(m_inArrival.begin(), m_inArrival.begin() + n);
    m_inArrived -= n;
    if (m_readNotifier && !m_readBackingOff && m_in.size() < queue_limit) m_readNotifier->setEnabled(true);
    return bytes;
}

QByteArray PtyListener::readTerminal(qsizetype max)
{
    QByteArray bytes;
    if (m_master < 0 || max <= 0) return bytes;
    bytes.resize(max);
    qsizetype got = 0;
    while (got < max) {
        const auto n = ::read(m_master, bytes.data() + got, static_cast<std::size_t>(max - got));
        if (n > 0) {
            got += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && m_readNotifier && !m_readBackingOff) {
            // With our own slave descriptor open this should not happen; back
            // off instead of spinning on a notifier that keeps firing.
            m_readBackingOff = true;
            m_readNotifier->setEnabled(false);
            QTimer::singleShot(100, this, [this] {
                m_readBackingOff = false;
                if (m_readNotifier) m_readNotifier->setEnabled(m_rate > 0 ? m_in.size() < queue_limit : m_readEnabled);
            });
        }
        break;
    }
    bytes.truncate(got);
    return bytes;
}

void PtyListener::setReadEnabled(bool enabled)
{
    m_readEnabled = enabled;
    if (m_rate > 0) {
        // Paced bytes keep arriving on the line's own clock; the server is
        // told of them once it takes requests again.
        if (enabled && m_inArrived > 0) QTimer::singleShot(0, this, [this] {
                if (m_readEnabled && m_inArrived > 0) emit readyRead();
            });
        return;
    }
    if (m_readNotifier && !m_readBackingOff) m_readNotifier->setEnabled(enabled);
}

void PtyListener::write(const QByteArray& bytes)
{
    if (m_master < 0 || bytes.isEmpty()) return;
    if (m_out.isEmpty() && m_rate > 0) {
        // An idle line starts a fresh budget.
        m_paceClock.start();
        m_paceSent = 0;
    }
    m_out.append(bytes);
    if (m_out.size() > queue_limit) m_out.remove(0, m_out.size() - queue_limit);
    if (m_rate > 0) {
        if (!m_paceTimer->isActive()) m_paceTimer->start(0);
    } else {
        flush(m_out.size());
    }
}

void PtyListener::flush(qint64 limit)
{
    qint64 written = 0;
    while (written < limit && !m_out.isEmpty()) {
        const auto chunk = static_cast<std::size_t>(std::min<qint64>(limit - written, m_out.size()));
        const auto n = ::write(m_master, m_out.constData(), chunk);
        if (n > 0) {
            m_out.remove(0, n);
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // EAGAIN: the line is full; wait until it drains
    }
    m_paceSent += written;
    m_writeNotifier->setEnabled(m_rate == 0 && !m_out.isEmpty());
    if (m_out.isEmpty()) m_paceTimer->stop();
}

void PtyListener::onWritable()
{
    flush(m_out.size());
}

void PtyListener::onPaceTick()
{
    const double elapsedMs = static_cast<double>(m_paceClock.nsecsElapsed()) / 1e6;
    const auto allowed = static_cast<qint64>(elapsedMs * m_rate / 1000) - m_paceSent;
    if (allowed > 0) flush(allowed);
    if (m_out.isEmpty()) return;
    // Ticks of a millisecond, but the last byte goes out when it is due
    // rather than on the tick after: the reader waits for exactly that byte.
    const double lastDueMs = static_cast<double>(m_paceSent + m_out.size()) * 1000 / m_rate - elapsedMs;
    m_paceTimer->start(std::clamp(static_cast<int>(lastDueMs), 0, pace_tick_ms));
}

}  // namespace tk770
