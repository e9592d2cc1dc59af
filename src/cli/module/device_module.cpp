// The entry of the module tk770ctl loads for the commands that reach
// processors; see main.cpp.
#include "cli/Ctl.h"
#include "cli/DeviceCommands.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT tk770::DeviceCommandRunner tk770ctl_device_commands()
{
    return &tk770::runDeviceCommand;
}
