#include "link/device_target.h"

#include <QStringList>

#include <algorithm>

namespace tk770 {

namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool isHexDigit(QChar c) { return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

bool allOf(QStringView text, bool (*pred)(QChar))
{
    return std::all_of(text.begin(), text.end(), pred);
}

// A dotted IPv4 address: four numbers 0..255 without leading zeros.
bool isIpv4(QStringView text)
{
    const auto parts = text.split(u'.');
    if (parts.size() != 4) return false;
    for (const QStringView part : parts) {
        if (part.isEmpty() || part.size() > 3 || !allOf(part, isDigit)) return false;
        if (part.size() > 1 && part.front() == u'0') return false;
        if (part.toInt() > 255) return false;
    }
    return true;
}

// An IPv6 address in its text forms: eight groups of 1..4 hex digits, one
// "::" standing for the groups left out, an IPv4 address for the last two.
// Zone suffixes (%eth0) are not taken: a processor is not reached by one.
bool isIpv6(QStringView text)
{
    if (text.isEmpty()) return false;
    const qsizetype gap = text.indexOf(QLatin1String("::"));
    if (gap >= 0 && text.indexOf(QLatin1String("::"), gap + 1) >= 0) return false;
    int groups = 0;
    const auto countGroups = [&groups](QStringView half, bool last) {
        if (half.isEmpty()) return true;
        const auto parts = half.split(u':');
        for (qsizetype i = 0; i < parts.size(); ++i) {
            const QStringView part = parts[i];
            if (last && i == parts.size() - 1 && part.contains(u'.')) {
                if (!isIpv4(part)) return false;
                groups += 2;
                continue;
            }
            if (part.isEmpty() || part.size() > 4 || !allOf(part, isHexDigit)) return false;
            ++groups;
        }
        return true;
    };
    if (gap < 0) return countGroups(text, true) && groups == 8;
    return countGroups(text.left(gap), false) && countGroups(text.mid(gap + 2), true) && groups < 8;
}

// A host name's labels: letters, digits and hyphens, not starting or ending
// with a hyphen. An all-numeric dotted name must be a real IPv4 address.
bool isHostName(QStringView text)
{
    if (text.isEmpty() || text.size() > 253) return false;
    bool numeric = true;
    for (const QStringView label : text.split(u'.')) {
        if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-') return false;
        for (const QChar c : label) {
            const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
            if (!letter && !isDigit(c) && c != u'-') return false;
            if (!isDigit(c)) numeric = false;
        }
    }
    return !numeric || isIpv4(text);
}

}  // namespace

QString DeviceTarget::text() const
{
    if (!isTcp()) return QStringLiteral("serial:%1").arg(device);
    if (host.contains(u':')) return QStringLiteral("tcp:[%1]:%2").arg(host).arg(port);
    return QStringLiteral("tcp:%1:%2").arg(host).arg(port);
}

int comPortNumber(const QString& device)
{
    // COM1 to COM10, exactly.
    if (!device.startsWith(QLatin1String("COM"))) return 0;
    const QStringView number = QStringView(device).mid(3);
    if (number.isEmpty() || number.size() > 2 || number.front() == u'0') return 0;
    if (!allOf(number, isDigit)) return 0;
    const int n = number.toInt();
    return n <= 10 ? n : 0;
}

TargetError parseTcpTarget(const QString& hostPort, DeviceTarget& out)
{
    QStringView host = hostPort;
    QStringView port;
    bool bracketed = false;
    if (hostPort.startsWith(u'[')) {
        const qsizetype close = hostPort.indexOf(u']');
        if (close < 0) return TargetError::bad_ipv6;
        host = QStringView(hostPort).mid(1, close - 1);
        const QStringView rest = QStringView(hostPort).mid(close + 1);
        if (!rest.isEmpty()) {
            if (rest.front() != u':') return TargetError::bad_ipv6;
            port = rest.mid(1);
            if (port.isEmpty()) return TargetError::port;
        }
        bracketed = true;
    } else if (const qsizetype colon = hostPort.indexOf(u':'); colon >= 0) {
        if (hostPort.indexOf(u':', colon + 1) >= 0) return TargetError::colons;
        host = QStringView(hostPort).left(colon);
        port = QStringView(hostPort).mid(colon + 1);
        if (port.isEmpty()) return TargetError::port;
    }
    if (host.isEmpty()) return bracketed ? TargetError::bad_ipv6 : TargetError::no_host;
    if (bracketed ? !isIpv6(host) : !isHostName(host)) return bracketed ? TargetError::bad_ipv6 : TargetError::bad_host;
    int number = tcp_port;
    if (!port.isNull()) {
        if (port.size() > 5 || !allOf(port, isDigit)) return TargetError::port;
        number = port.toInt();
        if (number < 1 || number > 65535) return TargetError::port;
    }
    out = DeviceTarget{DeviceTarget::Kind::tcp, host.toString(), number, {}};
    return TargetError::none;
}

TargetError parseSerialTarget(const QString& device, DeviceTarget& out)
{
    if (device.isEmpty()) return TargetError::no_device;
    // COM followed by digits is a port number, and only COM1..COM10 exist.
    if (device.size() > 3 && device.startsWith(QLatin1String("COM")) && allOf(QStringView(device).mid(3), isDigit)
        && comPortNumber(device) == 0)
        return TargetError::bad_com;
    out = DeviceTarget{DeviceTarget::Kind::serial, {}, 0, device};
    return TargetError::none;
}

TargetError parseDeviceTarget(const QString& text, DeviceTarget& out)
{
    if (text.startsWith(QLatin1String("tcp:"))) return parseTcpTarget(text.mid(4), out);
    if (text.startsWith(QLatin1String("serial:"))) return parseSerialTarget(text.mid(7), out);
    return TargetError::unknown_kind;
}

QString targetErrorText(TargetError error)
{
    switch (error) {
    case TargetError::none: return {};
    case TargetError::unknown_kind: return QStringLiteral("neither tcp: nor serial:");
    case TargetError::no_host: return QStringLiteral("no host");
    case TargetError::bad_host: return QStringLiteral("not a host name or IPv4 address");
    case TargetError::colons:
        return QStringLiteral("more than one colon (one port at most; an IPv6 address goes in brackets: [::1]:PORT)");
    case TargetError::bad_ipv6: return QStringLiteral("not an IPv6 address in brackets ([::1] or [::1]:PORT)");
    case TargetError::port: return QStringLiteral("port not 1..65535");
    case TargetError::no_device: return QStringLiteral("no device");
    case TargetError::bad_com: return QStringLiteral("serial ports are COM1..COM10");
    }
    return {};
}

}  // namespace tk770
