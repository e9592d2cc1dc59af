// tk770-gateway: the one owner of the processor link, serving the panel and
// the tool (binary passthrough), show automation (text commands) and the
// web remote at once.
#include "gateway/gateway.h"
#include "link/quit_signals.h"
#include "tk770_version.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    // A server with no desktop to join: Qt's own event dispatcher hands a
    // frame between the listeners and the link's thread sooner than glib's
    // (a quarter less time added to each exchange, measured by make bench).
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tk770-gateway"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(tk770::project_version));

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::puts(qPrintable(tk770::gatewayUsage()));
        return 0;
    }
    // Not in --help: the manual page's build and docs/gateway-protocol.md
    // take the protocol reference from here.
    if (arguments.value(1) == QLatin1String("--protocol-reference")) {
        const QString form = arguments.value(2, QStringLiteral("markdown"));
        if (arguments.size() > 3 || (form != QLatin1String("markdown") && form != QLatin1String("man"))) {
            std::fprintf(stderr, "tk770-gateway: --protocol-reference wants markdown or man\n");
            return 2;
        }
        std::fputs(tk770::GatewayCommands::protocolReference(form).toUtf8().constData(), stdout);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        std::printf("tk770-gateway %s\n", tk770::project_version);
        return 0;
    }

    QString error;
    auto options = tk770::parseGatewayArguments(arguments, error);
    if (!options) {
        std::fprintf(stderr, "tk770-gateway: %s\ntry 'tk770-gateway --help'\n", qPrintable(error));
        return 2;
    }
    for (const QString& warning : options->warnings)
        std::fprintf(stderr, "tk770-gateway: warning: %s\n", qPrintable(warning));
    if (!tk770::quitOnTerminationSignals(&app)) {
        std::perror("tk770-gateway: signal handlers");
        return 1;
    }

    tk770::Gateway gateway(std::move(*options));
    gateway.statusLine = [](const QString& line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    };
    if (!gateway.start(error)) {
        std::fprintf(stderr, "tk770-gateway: %s\n", qPrintable(error));
        return 1;
    }
    for (const QString& line : gateway.announcement()) std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    return app.exec();
}
