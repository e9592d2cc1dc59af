// SIGTERM and SIGINT end a program's event loop normally, so its destructors
// run (the simulator removes its pty link, the gateway closes its link and
// its listeners). The handler only writes to a pipe; the event loop does the
// rest. Shared by tk770-sim and tk770-gateway.
#pragma once

#include <QObject>

namespace tk770 {

// Installs the handlers and a notifier owned by `parent` that quits the
// application. False when the pipe or a handler could not be set up.
bool quitOnTerminationSignals(QObject* parent);

}  // namespace tk770
