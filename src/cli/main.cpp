#include "cli/Ctl.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QTextStream>

#include <cstdio>
#include <optional>

namespace {

// The processor commands live in a module installed beside the program, at
// the same place relative to it in the build tree, so runs that never reach
// a processor do not load the network and serial libraries.
tk770::DeviceCommandRunner loadDeviceCommands(QString& error)
{
    QLibrary module(QCoreApplication::applicationDirPath() + QStringLiteral("/" TK770CTL_DEVICE_MODULE));
    using Entry = tk770::DeviceCommandRunner (*)();
    const auto entry = reinterpret_cast<Entry>(module.resolve("tk770ctl_device_commands"));
    if (!entry) {
        error = QStringLiteral("the processor commands cannot be loaded: %1").arg(module.errorString());
        return nullptr;
    }
    return entry();
}

}  // namespace

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
    return tk770::runCtl(arguments, out, err, {[&] { app.emplace(argc, argv); }, loadDeviceCommands});
}
