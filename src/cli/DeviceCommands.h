// The tool's commands that reach processors; runCtl hands them every run that
// needs a processor, after checking its arguments and options.
#pragma once

#include "cli/CommandSupport.h"

#include <QString>

namespace tk770 {

// Runs device command `name` (diff of a file against a processor and backup
// included) once runCtl has checked its arguments and options; returns the
// exit code. The link's failures are reported here, not thrown.
int runDeviceCommand(const QString& name, CommandContext& c);

}  // namespace tk770
