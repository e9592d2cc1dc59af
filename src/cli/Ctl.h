// tk770ctl: the processor and its project files from the command line.
//
// The whole tool lives in this library so tests can run it in-process;
// main.cpp only creates the application object and calls runCtl().
#pragma once

#include <QStringList>

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
// Needs a QCoreApplication.
int runCtl(const QStringList& arguments, QTextStream& out, QTextStream& err);

}  // namespace tk770
