// Where the processor is: `tcp:HOST[:PORT]`, `serial:PATH` or `serial:COMn`,
// parsed here once for the gateway's --device, the tool's --tcp and --serial
// and the backup hosts file. Parsing touches no transport (the tool's file
// commands link it without the network and serial libraries); the
// transports a target opens are in link/target_transports.h.
#pragma once

#include "core/device_link.h"

#include <QString>

namespace tk770 {

enum class TargetError {
    none,
    unknown_kind,  // neither tcp: nor serial:
    no_host,
    bad_host,      // characters no host name or IPv4 address has
    colons,        // more than one colon outside brackets (an IPv6 address needs them)
    bad_ipv6,      // brackets around something that is no IPv6 address
    port,          // not 1..65535
    no_device,
    bad_com,       // COM0, COM11, COM01 and the like
};

struct DeviceTarget {
    enum class Kind { tcp, serial };
    Kind kind = Kind::tcp;
    QString host;        // a name, an IPv4 address, or an IPv6 address without its brackets
    int port = tcp_port;
    QString device;      // a path, or COM1..COM10

    bool isTcp() const { return kind == Kind::tcp; }
    // "tcp:HOST:PORT" (an IPv6 address in brackets) or "serial:DEVICE".
    QString text() const;
};

// "tcp:HOST[:PORT]" | "serial:PATH" | "serial:COMn" into `out`, which is left
// alone unless the text is good.
TargetError parseDeviceTarget(const QString& text, DeviceTarget& out);
// The tool's --tcp HOST[:PORT] and --serial DEVICE, the same forms without
// their prefix.
TargetError parseTcpTarget(const QString& hostPort, DeviceTarget& out);
TargetError parseSerialTarget(const QString& device, DeviceTarget& out);
// Why, in words ("port not 1..65535"), for messages that quote the target.
QString targetErrorText(TargetError error);

// Port number of COM1..COM10, 0 for anything else (a device path). The
// panel's menu and the serial transport number their ports so.
int comPortNumber(const QString& device);

}  // namespace tk770
