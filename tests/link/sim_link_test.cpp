// The link, its transports and the sequences against the simulated processor
// over loopback TCP and a real pseudo-terminal.
#include "link/sequences.h"
#include "link/serial_transport.h"
#include "support/sim_process.h"
#include "link/tcp_transport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>

using namespace tk770;
using tk770::testing::SimProcess;

namespace {

struct NullStatus : StatusSink {
    std::vector<std::string> messages;
    void set_message_text(std::string_view t) override { messages.emplace_back(t); }
    void set_link_text(std::string_view) override {}
};

enum class Wire { tcp, pty };

void PrintTo(Wire w, std::ostream* os) { *os << (w == Wire::tcp ? "tcp" : "pty"); }

// One simulator and the link that talks to it the way the window does.
class SimLink {
public:
    explicit SimLink(Wire wire) : m_wire(wire) {}

    bool start(QStringList extra = {})
    {
        const QStringList where = m_wire == Wire::tcp ? SimProcess::tcpArgs() : sim.ptyArgs();
        if (!sim.start(where + extra)) return false;
        if (m_wire == Wire::pty) {
            serial.bindPort(1, sim.ptyPath());
            state.serial_port = 1;
        } else {
            state.network_mode = 1;
        }
        hooks.tcp_connect = [this] {
            tcp.connect(sim.tcpHost(), sim.tcpPort());
            return sim.tcpHost().toStdString();
        };
        hooks.tcp_disconnect = [this] { tcp.disconnect(); };
        return true;
    }
    DeviceSequences sequences() { return DeviceSequences(link, image, hooks); }
    // Opens the line without any request, every reply waited for `waitMs`.
    void openLine(int waitMs)
    {
        if (m_wire == Wire::tcp) {
            tcp.set_reply_wait_ms(waitMs);
            tcp.connect(sim.tcpHost(), sim.tcpPort());
        } else {
            serial.open(1);
            serial.set_read_timeout(1, waitMs);
        }
        state.connected = 1;
    }

    SimProcess sim;
    QtSerialTransport serial;
    QtTcpTransport tcp;
    LinkState state;
    NullStatus status;
    ParameterImage image{};
    DeviceLink link{state, &serial, &tcp, &status};
    SequenceHooks hooks;

private:
    Wire m_wire;
};

#define START_SIM(s, ...)                                                                 \
    do {                                                                                  \
        if (!SimProcess::available()) GTEST_SKIP() << "simulator not built";             \
        ASSERT_TRUE((s).start(__VA_ARGS__)) << (s).sim.error().toStdString();             \
    } while (0)

std::string field(const char* f) { return std::string(f, strnlen(f, device_info_size)); }

class OverBothWires : public ::testing::TestWithParam<Wire> {};

}  // namespace

TEST_P(OverBothWires, ConnectReadsTheFactoryImage)
{
    SimLink s(GetParam());
    START_SIM(s);
    auto seq = s.sequences();
    ASSERT_EQ(seq.connect(), Outcome::succeeded) << s.sim.stderrText().toStdString();
    EXPECT_EQ(s.state.connected, 1);
    EXPECT_EQ(s.status.messages.back(), "System Connected");

    ParameterImage want{};
    want.reset_to_defaults();
    EXPECT_EQ(std::memcmp(s.image.data(), want.data(), 265), 0) << "runs A and B hold the new-project values";
    EXPECT_EQ(field(s.image.device_model), "TK770");
    EXPECT_EQ(field(s.image.device_serial), "TK7700000001");
    EXPECT_EQ(field(s.image.firmware_version), "V1.00");
    EXPECT_EQ(field(s.image.firmware_date), "2026-01-15");
    EXPECT_EQ(s.image.profile_text[0][0], 0);
}

TEST_P(OverBothWires, DownloadThenReadBackGivesTheSameImage)
{
    SimLink s(GetParam());
    START_SIM(s);
    auto seq = s.sequences();
    ASSERT_EQ(seq.connect(), Outcome::succeeded);

    s.image.eq[2][11] = -37;
    s.image.output_gain[7] = 12;
    s.image.master_volume = 55;
    s.image.fade_time = 9;
    std::strcpy(s.image.profile_text[0], "Grand Theatre");
    std::memset(s.image.profile_text[7], 'x', profile_text_size);
    const ParameterImage sent = s.image;
    int steps = 0;
    ASSERT_EQ(seq.download_all([&](int, int, int result) { steps += result == 0; }), Outcome::succeeded);
    EXPECT_EQ(steps, 16);

    s.image = ParameterImage{};
    ASSERT_EQ(seq.read_all(), Outcome::succeeded);
    EXPECT_EQ(std::vector<std::uint8_t>(s.image.data(), s.image.data() + image_size),
              std::vector<std::uint8_t>(sent.data(), sent.data() + image_size));
    EXPECT_EQ(s.status.messages.back(), "Load Success");
}

TEST_P(OverBothWires, NetworkBlockAndSerialNumberTravelOnTheSerialPortOnly)
{
    SimLink s(GetParam());
    START_SIM(s);
    auto seq = s.sequences();
    const auto settings = seq.read_network_settings();
    if (GetParam() == Wire::tcp) {
        EXPECT_FALSE(settings) << "no serial port was opened";
        return;
    }
    seq.open_serial_port();
    const auto read = seq.read_network_settings();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->ip_text(), "192.168.0.8");
    EXPECT_EQ(read->mask_text(), "255.255.255.0");
    EXPECT_EQ(read->gateway_text(), "192.168.0.1");

    ASSERT_TRUE(seq.write_network_settings("10.0.0.20", "255.0.0.0", "10.0.0.1"));
    seq.store_serial_number("TK77-NEW");
    const auto again = seq.read_network_settings();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->ip_text(), "10.0.0.20");
    EXPECT_EQ(again->gateway_text(), "10.0.0.1");
    ASSERT_EQ(seq.connect(), Outcome::succeeded);
    EXPECT_EQ(field(s.image.device_serial), "TK77-NEW");
}

// The result of one block operation; a TCP exchange that failed counts as
// refused, as it does for the panel and the gateway.
template <typename F>
int outcome(F&& operation)
{
    try {
        return operation();
    } catch (const LinkError&) {
        return -1;
    }
}

// The processor answers in order, so an answer given up on arrives where the
// next one is expected. It must never be taken for that one: a read of
// another block gets its own block or nothing.
TEST_P(OverBothWires, LateReadReplyIsNotTakenForTheNextRead)
{
    SimLink s(GetParam());
    // Request 2, the read of block 0, is answered 800 ms late: after its
    // 500 ms wait, while the next read waits for its own answer.
    START_SIM(s, {"--fault", "delay:800@2"});
    s.openLine(500);
    std::array<std::uint8_t, 16> mine{};
    std::memcpy(mine.data(), "Main hall, left", 16);
    ASSERT_EQ(s.link.write_block(0x1F4, 16, mine.data()), 0);

    std::array<std::uint8_t, 16> block0{};
    EXPECT_EQ(outcome([&] { return s.link.read_block(0, 16, block0.data()); }), -1);
    bool answered = false;
    for (int attempt = 0; attempt < 6 && !answered; ++attempt) {
        std::array<std::uint8_t, 16> got{};
        answered = outcome([&] { return s.link.read_block(0x1F4, 16, got.data()); }) == 0;
        if (answered) {
            EXPECT_EQ(got, mine) << "attempt " << attempt << " took another request's answer";
        }
    }
    EXPECT_TRUE(answered) << "the link never came back into step";
}

// A store whose acknowledgement came late, followed by one the processor
// never acknowledged: the late acknowledgement must not pass for the second.
TEST_P(OverBothWires, LateAcknowledgementIsNotTakenForTheNextStore)
{
    SimLink s(GetParam());
    START_SIM(s, {"--fault", "delay:800@1", "--fault", "no-reply@2"});
    s.openLine(500);
    const std::uint8_t first = 5;
    const std::uint8_t second = 6;
    EXPECT_EQ(outcome([&] { return s.link.store_block(0x1F4, 1, &first); }), -1);
    EXPECT_EQ(outcome([&] { return s.link.store_block(0x1F5, 1, &second); }), -1)
        << "the first store's late acknowledgement was taken for the second's";
    // Both were carried out: the faults only touched the answers.
    std::uint8_t back[2] = {};
    int result = -1;
    for (int attempt = 0; attempt < 4 && result != 0; ++attempt)
        result = outcome([&] { return s.link.read_block(0x1F4, 2, back); });
    ASSERT_EQ(result, 0);
    EXPECT_EQ(back[0], first);
    EXPECT_EQ(back[1], second);
}

INSTANTIATE_TEST_SUITE_P(Simulator, OverBothWires, ::testing::Values(Wire::tcp, Wire::pty),
                         [](const auto& info) { return info.param == Wire::tcp ? "tcp" : "pty"; });

TEST(SimTcp, SilentProcessorTimesOutWithTheAddressInTheText)
{
    SimLink s(Wire::tcp);
    START_SIM(s, {"--fault", "delay:2000"});
    s.tcp.set_reply_wait_ms(200);
    s.tcp.connect(s.sim.tcpHost(), s.sim.tcpPort());
    std::uint8_t buf[36];
    try {
        s.link.read_block(0, 36, buf);
        FAIL() << "no time-out";
    } catch (const LinkError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Timed out waiting for the processor at 127.0.0.1:" + std::to_string(s.sim.tcpPort()));
    }
}

TEST(SimTcp, ConnectionClosedMidDownloadRaises)
{
    SimLink s(Wire::tcp);
    START_SIM(s, {"--fault", "close:5"});
    s.tcp.connect(s.sim.tcpHost(), s.sim.tcpPort());
    s.state.connected = 1;
    s.image.reset_to_defaults();
    auto seq = s.sequences();
    try {
        seq.download_all();
        FAIL() << "the closed connection went unnoticed";
    } catch (const LinkError& e) {
        EXPECT_FALSE(std::string(e.what()).empty());
    }
    EXPECT_TRUE(s.status.messages.empty()) << "no verdict after the connection failed";
    EXPECT_EQ(s.state.connected, 1);
    EXPECT_FALSE(s.tcp.isOpen());
}

TEST(SimTcp, SurplusStaysQueuedForTheNextReceive)
{
    SimLink s(Wire::tcp);
    START_SIM(s, {"--fault", "surplus:1"});
    s.tcp.connect(s.sim.tcpHost(), s.sim.tcpPort());
    const std::uint8_t request[] = {0x03, 0x00, 0x00, 0x00, 0x01, 0x04};
    s.tcp.send(request);
    std::uint8_t reply[7];
    s.tcp.receive(reply);
    EXPECT_EQ(reply[0], 0x03);
    std::uint8_t rest[3];
    s.tcp.receive(rest);
    EXPECT_EQ(std::vector<std::uint8_t>(rest, rest + 3), (std::vector<std::uint8_t>{0x00, 0x55, 0xAA}));
}

TEST(SimTcp, StrayBytesAfterAReplyDoNotMisalignTheNextOnes)
{
    SimLink s(Wire::tcp);
    // Request 30 (in the read-all) gets three stray bytes. They are dropped
    // before the next request goes out, so every later reply is read whole.
    START_SIM(s, {"--fault", "surplus:30"});
    auto seq = s.sequences();
    ASSERT_EQ(seq.connect(), Outcome::succeeded);
    s.image = ParameterImage{};
    ASSERT_EQ(seq.read_all(), Outcome::succeeded);
    EXPECT_EQ(s.state.connected, 1);
    EXPECT_EQ(field(s.image.device_serial), "TK7700000001");

    // Reconnecting still starts a fresh connection that reads everything.
    s.state.connected = 0;
    s.image = ParameterImage{};
    EXPECT_EQ(seq.connect(), Outcome::succeeded);
    EXPECT_EQ(field(s.image.device_serial), "TK7700000001");
}

TEST(SimTcp, RefusedConnectionRaisesTheSocketsText)
{
    SimLink s(Wire::tcp);
    START_SIM(s);
    const int port = s.sim.tcpPort();
    s.sim.stop();
    try {
        s.tcp.connect(QStringLiteral("127.0.0.1"), port);
        FAIL() << "connected to a stopped simulator";
    } catch (const LinkError& e) {
        EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(s.tcp.isOpen());
    EXPECT_THROW(s.tcp.send(std::vector<std::uint8_t>{1}), LinkError);
}

TEST(SimTcp, RestartWaitsForTheSlowAcknowledgement)
{
    SimLink s(Wire::tcp);
    START_SIM(s, {"--restart-ms", "1500"});
    s.tcp.set_reply_wait_ms(300);
    s.tcp.connect(s.sim.tcpHost(), s.sim.tcpPort());
    s.state.connected = 1;
    auto seq = s.sequences();
    EXPECT_EQ(seq.restart(), Outcome::succeeded);
    EXPECT_EQ(s.tcp.reply_wait_ms(), 300);
    EXPECT_EQ(s.state.error_count, 0);
}

TEST(SimPty, SilentProcessorFailsTheConnectQuietly)
{
    SimLink s(Wire::pty);
    START_SIM(s, {"--fault", "no-reply:1"});
    auto seq = s.sequences();
    EXPECT_EQ(seq.connect(), Outcome::failed);
    EXPECT_EQ(s.state.error_count, 19);
    EXPECT_EQ(s.status.messages.back(), "Connect Fail!");
}
