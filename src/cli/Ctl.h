// tk770ctl: the processor and its project files from the command line.
//
// The whole tool lives in this library so tests can run it in-process;
// main.cpp only calls runCtl() and says where the application object and the
// processor commands come from.
#pragma once

#include <QStringList>

#include <functional>

class QTextStream;

namespace tk770 {

enum ExitCode : int {
    ExitOk = 0,
    ExitDevice = 1,  // the processor did not answer or refused, or the link failed
    ExitUsage = 2,
    ExitFile = 3,
};

struct CommandContext;
// Runs a command that reaches processors: the device commands, backup, and
// diff of a file against a processor.
using DeviceCommandRunner = int (*)(const QString& name, CommandContext& c);

// What a run makes or loads only once it needs it. Help, the version, usage
// errors and the file commands need neither the event loop nor the network
// and serial libraries, and scripts run the tool hundreds of times.
struct CtlRuntime {
    // Makes the QCoreApplication, when none exists, before a command runs.
    std::function<void()> startApplication;
    // The processor commands; null, with `error` saying why, when they
    // cannot be had.
    std::function<DeviceCommandRunner(QString& error)> deviceCommands;
};

// Runs one command. `arguments` starts with the program name, as
// QCoreApplication::arguments() does. Data goes to `out`, messages to `err`.
int runCtl(const QStringList& arguments, QTextStream& out, QTextStream& err, const CtlRuntime& runtime);

}  // namespace tk770
