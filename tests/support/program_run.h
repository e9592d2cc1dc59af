// Runs one of the project's programs to its end, as a script would, and
// keeps what it printed.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace tk770::testing {

struct ProgramRun {
    int status = -1;  // -1: it did not finish in time, or crashed
    QString out;
    QString err;
};

inline ProgramRun runProgram(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(program, args);
    ProgramRun run;
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit) return run;
    run.status = p.exitCode();
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    return run;
}

}  // namespace tk770::testing
