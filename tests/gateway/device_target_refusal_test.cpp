// The gateway refuses a --device it could never reach at start, with exit
// status 2 and the reason, rather than starting and reporting "offline".
#include "gateway_fixture.h"
#include "support/program_run.h"

#include <gtest/gtest.h>

using namespace tk770::testing;

namespace {

struct Refusal {
    const char* name;
    const char* device;
    const char* reason;
};

class GatewayDeviceRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(GatewayDeviceRefusal, ExitsTwoWithTheReason)
{
    if (gatewayProgram().isEmpty()) GTEST_SKIP() << "gateway not built";
    const auto& c = GetParam();
    const ProgramRun run = runProgram(gatewayProgram(), {QStringLiteral("--device"), QString::fromUtf8(c.device),
                                                         QStringLiteral("--binary"), QStringLiteral("127.0.0.1:0"),
                                                         QStringLiteral("--text"), QStringLiteral("off"),
                                                         QStringLiteral("--http"), QStringLiteral("off")});
    EXPECT_EQ(run.status, 2) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.device))) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.reason))) << run.err.toStdString();
    EXPECT_FALSE(run.out.contains(QStringLiteral("ready"))) << run.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Targets, GatewayDeviceRefusal,
    ::testing::Values(Refusal{"second_port", "tcp:127.0.0.1:21001:5", "more than one colon"},
                      Refusal{"com_past_ten", "serial:COM11", "COM1..COM10"},
                      Refusal{"com_zero", "serial:COM0", "COM1..COM10"},
                      Refusal{"ipv6_unclosed", "tcp:[::1", "IPv6"},
                      Refusal{"no_host", "tcp:", "no host"},
                      Refusal{"unknown_kind", "udp:127.0.0.1", "tcp:HOST[:PORT]"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
