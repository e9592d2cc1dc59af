// tk770ctl: the processor and its project files from the command line.
//
// The whole tool lives in this library so tests can run it in-process;
// main.cpp only calls runCtl() and says how the application object is made.
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

// What a run makes only once it needs it. Help, the version and usage errors
// need no event loop, and scripts run the tool hundreds of times.
struct CtlRuntime {
    // Makes the QCoreApplication, when none exists, before a command runs.
    std::function<void()> startApplication;
};

// Runs one command. `arguments` starts with the program name, as
// QCoreApplication::arguments() does. Data goes to `out`, messages to `err`.
int runCtl(const QStringList& arguments, QTextStream& out, QTextStream& err, const CtlRuntime& runtime);

}  // namespace tk770
