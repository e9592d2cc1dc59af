// Starts the simulated processor for a test and hands back where it listens.
// Waits for its "ready" line rather than for a fixed time, and stops it with
// SIGTERM so it can remove its pty link. The gateway announces itself the
// same way ("binary ADDR:PORT", …, "ready"), so it is started with this too.
#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace tk770::testing {

class SimProcess {
public:
    SimProcess() = default;
    // Another program that announces itself like the simulator.
    explicit SimProcess(QString program) : m_program(std::move(program)) {}
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    static QString programPath()
    {
#ifdef TK770_SIM_PATH
        return QStringLiteral(TK770_SIM_PATH);
#else
        return {};
#endif
    }
    static bool available() { return !programPath().isEmpty() && QFile::exists(programPath()); }
    bool programAvailable() const { return !m_program.isEmpty() && QFile::exists(m_program); }

    // Arguments for a TCP listener on a free loopback port.
    static QStringList tcpArgs() { return {QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0")}; }
    // Arguments for a pty whose link lies in this helper's scratch folder.
    QStringList ptyArgs() { return {QStringLiteral("--pty"), scratchPath(QStringLiteral("tk770-pty"))}; }
    // A path in a folder that lives as long as this object (state files).
    QString scratchPath(const QString& name) { return m_dir.filePath(name); }

    // Without -v the program runs as it does in service, with no trace of
    // the frames: benchmarks measure it so.
    void setTracing(bool on) { m_tracing = on; }

    // Starts the simulator with `args` (plus -v unless tracing is off, so
    // stderrText() shows the frames) and waits for "ready". False with error() set otherwise.
    // `readyLines`: the lines that end the wait ("offline" too for a gateway
    // started without its processor).
    bool start(const QStringList& args, int readyWaitMs = 10000,
               const QStringList& readyLines = {QStringLiteral("ready")})
    {
        stop();
        m_tcpHost.clear();
        m_tcpPort = 0;
        m_ptyPath.clear();
        m_error.clear();
        m_lines.clear();
        if (!programAvailable()) {
            m_error = m_program.isEmpty() ? QStringLiteral("simulator not built")
                                          : QStringLiteral("%1 not built").arg(m_program);
            return false;
        }
        m_process.setProgram(m_program);
        m_process.setArguments(m_tracing ? args + QStringList{QStringLiteral("-v")} : args);
        m_process.setStandardInputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(scratchPath(QStringLiteral("sim-stderr.txt")));
        m_process.setReadChannel(QProcess::StandardOutput);
        m_process.start();
        if (!m_process.waitForStarted(readyWaitMs)) {
            m_error = m_process.errorString();
            return false;
        }
        QDeadlineTimer deadline(readyWaitMs);
        while (!deadline.hasExpired()) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                m_lines << line;
                if (readyLines.contains(line)) return true;
                if (line.startsWith(QLatin1String("tcp "))) {
                    const QString where = line.mid(4);
                    const int colon = where.lastIndexOf(QLatin1Char(':'));
                    m_tcpHost = where.left(colon);
                    m_tcpPort = where.mid(colon + 1).toInt();
                } else if (line.startsWith(QLatin1String("pty "))) {
                    m_ptyPath = line.mid(4);
                }
            }
            if (m_process.state() != QProcess::Running) break;
            m_process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        }
        m_error = QStringLiteral("simulator not ready: ") + stderrText();
        stop();
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }

    // SIGTERM, then the exit status; -1 when it did not end normally.
    int terminate()
    {
        m_process.terminate();
        return finish();
    }
    // The exit status once it has ended (a refused start ends it at once);
    // -1 when it did not end normally or in time.
    int finish()
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(10000)) return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    bool running() const { return m_process.state() == QProcess::Running; }
    QString tcpHost() const { return m_tcpHost; }
    int tcpPort() const { return m_tcpPort; }
    // The pts device the simulator reported; the link given with --pty points to it.
    QString ptyPath() const { return m_ptyPath; }
    QString error() const { return m_error; }
    // Every line it printed on stdout up to the ready line.
    QStringList lines() const { return m_lines; }
    // The port of an announced "NAME ADDR:PORT" line, 0 when there is none.
    int announcedPort(const QString& name) const
    {
        for (const QString& line : m_lines)
            if (line.startsWith(name + QLatin1Char(' '))) return line.mid(line.lastIndexOf(QLatin1Char(':')) + 1).toInt();
        return 0;
    }
    QString stderrText()
    {
        QFile f(scratchPath(QStringLiteral("sim-stderr.txt")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QProcess& process() { return m_process; }

private:
    QString m_program = programPath();
    QStringList m_lines;
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_tcpHost;
    int m_tcpPort = 0;
    QString m_ptyPath;
    QString m_error;
    bool m_tracing = true;
};

}  // namespace tk770::testing
