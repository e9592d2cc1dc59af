// tk770-sim: stands in for the processor on a TCP port and/or a
// pseudo-terminal, for training, preparing a hall and every link test.
#include "sim/sim_server.h"
#include "tk770_version.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop normally, so the destructors run and
// the pty link is removed. The handler only writes to a pipe; the event loop
// does the rest.
bool installSignalHandlers()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

}  // namespace

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
    if (!installSignalHandlers()) {
        std::perror("tk770-sim: signal handlers");
        return 1;
    }
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        while (::read(g_signalPipe[0], &byte, 1) > 0) {
        }
        QCoreApplication::quit();
    });

    tk770::SimServer server(std::move(*options));
    if (!server.start(error)) {
        std::fprintf(stderr, "tk770-sim: %s\n", qPrintable(error));
        return 1;
    }
    for (const QString& line : server.announcement()) std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    return app.exec();
}
