// Runs the tool in-process and captures what it prints.
#pragma once

#include "cli/Ctl.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <ostream>

struct CtlRun {
    int status;
    QString out;
    QString err;
};

inline CtlRun runTool(const QStringList& args)
{
    QString out, err;
    QTextStream o(&out), e(&err);
    const tk770::CtlRuntime runtime{{}};
    const int status = tk770::runCtl(QStringList{QStringLiteral("tk770ctl")} + args, o, e, runtime);
    o.flush();
    e.flush();
    return {status, out, err};
}

inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Readable failure output for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) { *os << "[\"" << l.join("\", \"").toStdString() << "\"]"; }
