// tk770-sim: stands in for the processor on a TCP port and/or a
// pseudo-terminal, for training, preparing a hall and every link test.
#include "link/quit_signals.h"
#include "sim/sim_server.h"
#include "tk770_version.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tk770-sim"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(tk770::project_version));

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::puts("Usage: tk770-sim [--tcp HOST:PORT] [--pty PATH] [--state FILE] [--line-rate]\n"
                  "                 [--restart-ms N] [--idle-ms N] [--fault SPEC]... [-v]\n"
                  "Faults: no-reply:N bad-checksum:N short:N surplus:N delay:MS close:N corrupt:N\n"
                  "        (corrupt: a write or store is kept with its first data byte XOR 1)\n"
                  "        NAME@N fires on request N only (delay:MS@N delays that one reply)");
        return 0;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        std::printf("tk770-sim %s\n", tk770::project_version);
        return 0;
    }

    QString error;
    auto options = tk770::parseSimArguments(arguments, error);
    if (!options) {
        std::fprintf(stderr, "tk770-sim: %s\n", qPrintable(error));
        return 2;
    }
    if (!tk770::quitOnTerminationSignals(&app)) {
        std::perror("tk770-sim: signal handlers");
        return 1;
    }

    tk770::SimServer server(std::move(*options));
    if (!server.start(error)) {
        std::fprintf(stderr, "tk770-sim: %s\n", qPrintable(error));
        return 1;
    }
    for (const QString& line : server.announcement()) std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    return app.exec();
}
