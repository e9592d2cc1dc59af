#include "cli/Ctl.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <optional>

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("tk770ctl"));
    // The arguments as QCoreApplication::arguments() would give them; the
    // application object itself waits until a command is going to run.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    std::optional<QCoreApplication> app;
    QTextStream out(stdout);
    QTextStream err(stderr);
    return tk770::runCtl(arguments, out, err, {[&] { app.emplace(argc, argv); }});
}
