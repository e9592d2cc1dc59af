// Starts tk770-gateway in front of a simulator the helper also starts, both
// on free loopback ports, and hands back where each listener is. Waits for
// the gateway's "ready" line (it has read the whole processor by then).
#pragma once

#include "support/sim_process.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QHostAddress>
#include <QProcess>
#include <QStringList>

namespace tk770::testing {

class GatewayProcess {
public:
    GatewayProcess() = default;
    ~GatewayProcess() { stop(); }
    GatewayProcess(const GatewayProcess&) = delete;
    GatewayProcess& operator=(const GatewayProcess&) = delete;

    static QString programPath()
    {
#ifdef TK770_GATEWAY_PATH
        return QStringLiteral(TK770_GATEWAY_PATH);
#else
        return {};
#endif
    }
    static bool available() { return SimProcess::available() && QFile::exists(programPath()); }

    // Every listener on a free loopback port; `extra` adds or overrides options.
    static QStringList defaultArgs()
    {
        return {QStringLiteral("--http"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--text"),
                QStringLiteral("127.0.0.1:0"), QStringLiteral("--binary"), QStringLiteral("127.0.0.1:0")};
    }

    // Starts the simulator, then the gateway on it with defaultArgs() + extra.
    bool start(const QStringList& extra = {}, int readyWaitMs = 10000)
    {
        if (!available()) {
            m_error = QStringLiteral("gateway or simulator not built");
            return false;
        }
        if (!m_sim.start(SimProcess::tcpArgs(), readyWaitMs)) {
            m_error = m_sim.error();
            return false;
        }
        m_listeners.clear();
        const QString device = QStringLiteral("tcp:%1:%2").arg(m_sim.tcpHost()).arg(m_sim.tcpPort());
        m_process.setProgram(programPath());
        m_process.setArguments(QStringList{QStringLiteral("--device"), device} + defaultArgs() + extra);
        m_process.setStandardInputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(m_sim.scratchPath(QStringLiteral("gateway-stderr.txt")));
        m_process.setReadChannel(QProcess::StandardOutput);
        m_process.start();
        QDeadlineTimer deadline(readyWaitMs);
        while (!deadline.hasExpired() && m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                if (line == QLatin1String("ready"))
                    return true;
                const int space = line.indexOf(QLatin1Char(' '));
                if (space > 0)
                    m_listeners.insert(line.left(space), line.mid(space + 1));
            }
        }
        m_error = QStringLiteral("gateway not ready: ") + stderrText();
        stop();
        return false;
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(2000);
            }
        }
        m_sim.stop();
    }

    // "ADDR:PORT" of a listener as announced ("http", "text", "binary").
    QString listener(const QString& name) const { return m_listeners.value(name); }
    QHostAddress host(const QString& name) const
    {
        const QString where = listener(name);
        return QHostAddress(where.left(where.lastIndexOf(QLatin1Char(':'))));
    }
    quint16 port(const QString& name) const
    {
        const QString where = listener(name);
        return quint16(where.mid(where.lastIndexOf(QLatin1Char(':')) + 1).toUInt());
    }

    SimProcess& sim() { return m_sim; }
    QProcess& process() { return m_process; }
    QString error() const { return m_error; }
    QString stderrText()
    {
        QFile f(m_sim.scratchPath(QStringLiteral("gateway-stderr.txt")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    // A file in the helper's scratch folder (token files, audit logs).
    QString scratchPath(const QString& name) { return m_sim.scratchPath(name); }

private:
    SimProcess m_sim;
    QProcess m_process;
    QHash<QString, QString> m_listeners;
    QString m_error;
};

}  // namespace tk770::testing
