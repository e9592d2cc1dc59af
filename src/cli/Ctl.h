// tk770ctl: the processor and its project files from the command line.
//
// The whole tool lives in this library so tests can run it in-process;
// main.cpp only calls runCtl() and says how to make the application object.
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

// Runs one command. `arguments` starts with the program name, as
// QCoreApplication::arguments() does. Data goes to `out`, messages to `err`.
// Commands need a QCoreApplication: when none exists, `startApplication` is
// called to make one once the arguments are known to name a command. Help,
// the version and usage errors are answered without one, so scripts that
// ask them do not pay for the event loop's start-up.
int runCtl(const QStringList& arguments, QTextStream& out, QTextStream& err,
           const std::function<void()>& startApplication = {});

}  // namespace tk770
