// The one parser of processor targets (the gateway's --device, the tool's
// --tcp and --serial, the backup hosts file): what it takes, what it
// refuses and the reason it gives.
#include "core/parameter_image.h"
#include "link/device_target.h"
#include "link/target_transports.h"
#include "support/sim_process.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>

using namespace tk770;

namespace {

struct GoodTarget {
    const char* name;
    const char* text;
    DeviceTarget::Kind kind;
    const char* host_or_device;
    int port;
    const char* canonical;  // text()
};

void PrintTo(const GoodTarget& c, std::ostream* os) { *os << c.text; }

class GoodTargets : public ::testing::TestWithParam<GoodTarget> {};

TEST_P(GoodTargets, AreTakenApart)
{
    const auto& c = GetParam();
    DeviceTarget target;
    ASSERT_EQ(parseDeviceTarget(QString::fromUtf8(c.text), target), TargetError::none);
    EXPECT_EQ(target.kind, c.kind);
    if (target.isTcp()) {
        EXPECT_EQ(target.host.toStdString(), c.host_or_device);
        EXPECT_EQ(target.port, c.port);
    } else {
        EXPECT_EQ(target.device.toStdString(), c.host_or_device);
    }
    EXPECT_EQ(target.text().toStdString(), c.canonical);
}

constexpr auto tcp = DeviceTarget::Kind::tcp;
constexpr auto serial = DeviceTarget::Kind::serial;

INSTANTIATE_TEST_SUITE_P(
    Targets, GoodTargets,
    ::testing::Values(GoodTarget{"ipv4_default_port", "tcp:192.0.2.8", tcp, "192.0.2.8", 15288, "tcp:192.0.2.8:15288"},
                      GoodTarget{"name_and_port", "tcp:projection-2.local:15290", tcp, "projection-2.local", 15290,
                                 "tcp:projection-2.local:15290"},
                      GoodTarget{"highest_port", "tcp:h:65535", tcp, "h", 65535, "tcp:h:65535"},
                      GoodTarget{"ipv6_loopback", "tcp:[::1]:21001", tcp, "::1", 21001, "tcp:[::1]:21001"},
                      GoodTarget{"ipv6_default_port", "tcp:[fe80::1:2]", tcp, "fe80::1:2", 15288,
                                 "tcp:[fe80::1:2]:15288"},
                      GoodTarget{"ipv6_full", "tcp:[2001:db8:0:0:0:0:0:1]:1", tcp, "2001:db8:0:0:0:0:0:1", 1,
                                 "tcp:[2001:db8:0:0:0:0:0:1]:1"},
                      GoodTarget{"ipv6_with_ipv4_tail", "tcp:[::ffff:192.0.2.1]:80", tcp, "::ffff:192.0.2.1", 80,
                                 "tcp:[::ffff:192.0.2.1]:80"},
                      GoodTarget{"device_path", "serial:/dev/ttyUSB0", serial, "/dev/ttyUSB0", 0,
                                 "serial:/dev/ttyUSB0"},
                      GoodTarget{"first_com_port", "serial:COM1", serial, "COM1", 0, "serial:COM1"},
                      GoodTarget{"last_com_port", "serial:COM10", serial, "COM10", 0, "serial:COM10"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadTarget {
    const char* name;
    const char* text;
    TargetError error;
    const char* reason;  // part of targetErrorText()
};

void PrintTo(const BadTarget& c, std::ostream* os) { *os << c.text; }

class BadTargets : public ::testing::TestWithParam<BadTarget> {};

TEST_P(BadTargets, AreRefusedWithTheReason)
{
    const auto& c = GetParam();
    DeviceTarget target{DeviceTarget::Kind::serial, {}, 0, QStringLiteral("kept")};
    EXPECT_EQ(parseDeviceTarget(QString::fromUtf8(c.text), target), c.error);
    EXPECT_EQ(target.device, QStringLiteral("kept")) << "a refused target changes nothing";
    const std::string reason = targetErrorText(c.error).toStdString();
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
}

INSTANTIATE_TEST_SUITE_P(
    Targets, BadTargets,
    ::testing::Values(
        BadTarget{"second_port", "tcp:127.0.0.1:21001:5", TargetError::colons, "more than one colon"},
        BadTarget{"bare_ipv6", "tcp:::1", TargetError::colons, "IPv6 address goes in brackets"},
        BadTarget{"com_past_ten", "serial:COM11", TargetError::bad_com, "COM1..COM10"},
        BadTarget{"com_zero", "serial:COM0", TargetError::bad_com, "COM1..COM10"},
        BadTarget{"com_leading_zero", "serial:COM01", TargetError::bad_com, "COM1..COM10"},
        BadTarget{"ipv6_empty_port", "tcp:[::1]:", TargetError::port, "1..65535"},
        BadTarget{"ipv6_unclosed", "tcp:[::1", TargetError::bad_ipv6, "IPv6"},
        BadTarget{"ipv6_text_after", "tcp:[::1]x", TargetError::bad_ipv6, "IPv6"},
        BadTarget{"ipv6_two_gaps", "tcp:[1::2::3]", TargetError::bad_ipv6, "IPv6"},
        BadTarget{"ipv6_long_group", "tcp:[12345::1]", TargetError::bad_ipv6, "IPv6"},
        BadTarget{"ipv6_nine_groups", "tcp:[1:2:3:4:5:6:7:8:9]", TargetError::bad_ipv6, "IPv6"},
        BadTarget{"ipv6_zone", "tcp:[fe80::1%eth0]", TargetError::bad_ipv6, "IPv6"},
        BadTarget{"ipv4_in_brackets", "tcp:[127.0.0.1]", TargetError::bad_ipv6, "IPv6"},
        BadTarget{"empty_brackets", "tcp:[]:80", TargetError::bad_ipv6, "IPv6"},
        BadTarget{"no_host", "tcp:", TargetError::no_host, "no host"},
        BadTarget{"port_only", "tcp::80", TargetError::no_host, "no host"},
        BadTarget{"port_zero", "tcp:h:0", TargetError::port, "1..65535"},
        BadTarget{"port_too_big", "tcp:h:65536", TargetError::port, "1..65535"},
        BadTarget{"port_not_a_number", "tcp:h:80x", TargetError::port, "1..65535"},
        BadTarget{"port_with_sign", "tcp:h:+80", TargetError::port, "1..65535"},
        BadTarget{"port_empty", "tcp:h:", TargetError::port, "1..65535"},
        BadTarget{"space_in_host", "tcp:main hall", TargetError::bad_host, "host name"},
        BadTarget{"ipv4_out_of_range", "tcp:999.1.1.1", TargetError::bad_host, "IPv4"},
        BadTarget{"hyphen_first", "tcp:-h", TargetError::bad_host, "host name"},
        BadTarget{"no_device", "serial:", TargetError::no_device, "no device"},
        BadTarget{"other_kind", "udp:h", TargetError::unknown_kind, "neither tcp: nor serial:"},
        BadTarget{"prefix_case", "TCP:h", TargetError::unknown_kind, "neither tcp: nor serial:"}),
    [](const auto& info) { return std::string(info.param.name); });

// The tool takes --tcp and --serial without their prefix, by the same rules.
TEST(TargetParts, TcpAndSerialAloneFollowTheSameRules)
{
    DeviceTarget target;
    EXPECT_EQ(parseTcpTarget(QStringLiteral("[::1]:21001"), target), TargetError::none);
    EXPECT_EQ(target.text(), QStringLiteral("tcp:[::1]:21001"));
    EXPECT_EQ(parseTcpTarget(QStringLiteral("127.0.0.1:21001:5"), target), TargetError::colons);
    EXPECT_EQ(parseSerialTarget(QStringLiteral("COM11"), target), TargetError::bad_com);
    EXPECT_EQ(parseSerialTarget(QStringLiteral("COM7"), target), TargetError::none);
    EXPECT_EQ(target.text(), QStringLiteral("serial:COM7"));
}

// A target opens its own transport: a bracketed IPv6 address is reached,
// not merely accepted.
TEST(TargetTransportsOpen, ReachesTheProcessorOverIpv6)
{
    if (!tk770::testing::SimProcess::available()) GTEST_SKIP() << "simulator not built";
    tk770::testing::SimProcess sim;
    if (!sim.start({QStringLiteral("--tcp"), QStringLiteral("[::1]:0")}))
        GTEST_SKIP() << "no IPv6 loopback here: " << sim.error().toStdString();
    DeviceTarget target;
    ASSERT_EQ(parseDeviceTarget(QStringLiteral("tcp:[::1]:%1").arg(sim.tcpPort()), target), TargetError::none);
    TargetTransports transports(target, 2000);
    LinkState state;
    transports.open(state);
    EXPECT_TRUE(transports.isOpen());
    EXPECT_EQ(state.network_mode, 1);
    DeviceLink link(state, &transports.serial(), &transports.tcp(), nullptr);
    const int model_address = device_address_of(static_cast<int>(offsetof(ParameterImage, device_model)));
    std::array<std::uint8_t, 5> model{};
    EXPECT_EQ(link.read_block(model_address, 5, model.data()), 0);
    EXPECT_EQ(std::string(model.begin(), model.end()), "TK770");
}

TEST(TargetTransportsOpen, AMissingSerialDeviceIsRefusedWithItsName)
{
    DeviceTarget target;
    ASSERT_EQ(parseDeviceTarget(QStringLiteral("serial:/nonexistent/tty-tk770"), target), TargetError::none);
    TargetTransports transports(target);
    LinkState state;
    try {
        transports.open(state);
        FAIL() << "opened a device that does not exist";
    } catch (const LinkError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open serial port /nonexistent/tty-tk770");
    }
    EXPECT_FALSE(transports.isOpen());
    EXPECT_EQ(state.network_mode, 0);
    EXPECT_EQ(state.serial_port, 1) << "a device path stands in for port 1";
}

}  // namespace
