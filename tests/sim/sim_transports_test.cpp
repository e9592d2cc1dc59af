// The simulated processor in process, as the link sees it: every fault mode
// on both transports, judged by DeviceLink exactly as a reply from tk770-sim
// would be judged.
#include "sim/sim_transports.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

namespace tk770 {
namespace {

enum class Got { accepted, rejected, raises };

struct FaultCase {
    const char* name;
    Framing framing;
    const char* fault;  // nullptr: a well-behaved processor
    Got read, write;
    int error_count;    // after the read and the write
    int carried_out;    // requests the processor received and carried out
    std::string_view raised = {};  // the LinkError text where one is raised
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

constexpr std::string_view timed_out = "Timed out waiting for the processor at 127.0.0.1:15288";

// The network block: read in one request, written back changed in the next.
constexpr int block = network_block_address;
constexpr int block_length = 12;

class SimTransportFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SimTransportFaults, LinkJudgesTheRepliesAsFromTheSimulator)
{
    const auto& c = GetParam();
    InProcessSim sim;
    if (c.fault) {
        ASSERT_TRUE(sim.addFault(c.fault));
    }
    LinkState state;
    state.network_mode = c.framing == Framing::tcp ? 1 : 0;
    state.serial_port = 3;
    state.connected = 1;
    DeviceLink link(state, &sim, &sim, nullptr);

    std::optional<std::string> raised;
    const auto run = [&](auto&& op) {
        try {
            return op() == 0 ? Got::accepted : Got::rejected;
        } catch (const LinkError& e) {
            raised = e.what();
            return Got::raises;
        }
    };
    std::array<std::uint8_t, block_length> read{};
    EXPECT_EQ(run([&] { return link.read_block(block, block_length, read.data()); }), c.read);
    const auto& memory = sim.device().working();
    const bool read_ok = c.read == Got::accepted;
    EXPECT_EQ(std::equal(read.begin(), read.end(), memory.begin() + block), read_ok)
        << "a read fills the destination only when its reply is accepted";

    const std::array<std::uint8_t, block_length> written{10, 0, 0, 9, 255, 255, 0, 0, 10, 0, 0, 1};
    EXPECT_EQ(run([&] { return link.write_block(block, block_length, written.data()); }), c.write);
    EXPECT_EQ(state.error_count, c.error_count);
    EXPECT_EQ(raised.value_or(""), std::string(c.raised));
    // Faults hit the answer on its way back; a request that reached the
    // processor is carried out.
    EXPECT_EQ(sim.requestCount(), c.carried_out);
    EXPECT_EQ(std::equal(written.begin(), written.end(), memory.begin() + block), c.carried_out == 2);
}

constexpr auto serial = Framing::serial;
constexpr auto tcp = Framing::tcp;
constexpr std::string_view closed = "The remote host closed the connection (processor at 127.0.0.1:15288)";

INSTANTIATE_TEST_SUITE_P(
    EveryModeOnBothTransports, SimTransportFaults,
    ::testing::Values(
        FaultCase{"serial_clean", serial, nullptr, Got::accepted, Got::accepted, 0, 2},
        FaultCase{"serial_no_reply", serial, "no-reply:1", Got::rejected, Got::rejected, 1, 2},
        // Any seven bytes acknowledge on the serial line; only a read sums.
        FaultCase{"serial_bad_checksum", serial, "bad-checksum:1", Got::rejected, Got::accepted, 0, 2},
        FaultCase{"serial_short", serial, "short:1", Got::rejected, Got::rejected, 1, 2},
        FaultCase{"serial_surplus", serial, "surplus:1", Got::accepted, Got::accepted, 0, 2},
        FaultCase{"serial_delay_within_wait", serial, "delay:150", Got::accepted, Got::accepted, 0, 2},
        FaultCase{"serial_delay_past_wait", serial, "delay:250", Got::rejected, Got::rejected, 1, 2},
        FaultCase{"serial_close_spares_the_line", serial, "close:1", Got::accepted, Got::accepted, 0, 2},
        FaultCase{"serial_one_shot_on_the_write", serial, "no-reply@2", Got::accepted, Got::rejected, 1, 2},
        FaultCase{"tcp_clean", tcp, nullptr, Got::accepted, Got::accepted, 0, 2},
        FaultCase{"tcp_no_reply", tcp, "no-reply:1", Got::raises, Got::raises, 0, 2, timed_out},
        // TCP judges the first byte, not the sum.
        FaultCase{"tcp_bad_checksum", tcp, "bad-checksum:1", Got::accepted, Got::accepted, 0, 2},
        FaultCase{"tcp_short", tcp, "short:1", Got::raises, Got::raises, 0, 2, timed_out},
        FaultCase{"tcp_surplus", tcp, "surplus:1", Got::accepted, Got::accepted, 0, 2},
        FaultCase{"tcp_delay_within_wait", tcp, "delay:2999", Got::accepted, Got::accepted, 0, 2},
        FaultCase{"tcp_delay_past_wait", tcp, "delay:3001", Got::raises, Got::raises, 0, 2, timed_out},
        // The connection stays down: the write never reaches the processor.
        FaultCase{"tcp_close", tcp, "close:1", Got::raises, Got::raises, 0, 1, closed},
        FaultCase{"tcp_one_shot_close_on_the_write", tcp, "close@2", Got::accepted, Got::raises, 0, 2, closed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimTransports, RestartAcknowledgementComesOnlyToALongWait)
{
    const std::uint8_t restart = command_restart;
    const std::uint8_t marked = 0x5A;
    for (const Framing framing : {Framing::serial, Framing::tcp}) {
        SCOPED_TRACE(framing == Framing::tcp ? "tcp" : "serial");
        InProcessSim sim;
        LinkState state;
        state.network_mode = framing == Framing::tcp ? 1 : 0;
        state.serial_port = 1;
        DeviceLink link(state, &sim, &sim, nullptr);
        const auto long_wait = [&](bool on) {
            if (framing == Framing::tcp) sim.set_reply_wait_ms(on ? 15000 : 200);
            else sim.set_read_timeout(1, on ? restart_read_timeout_ms : normal_read_timeout_ms);
        };

        // Working memory changed, then a restart with the normal wait: the
        // acknowledgement (300 ms) misses it, the restart still happens.
        long_wait(false);
        ASSERT_EQ(link.write_block(0, 1, &marked), 0);
        if (framing == Framing::tcp) {
            EXPECT_THROW(link.write_block(restart_register, 1, &restart), LinkError);
        } else {
            EXPECT_EQ(link.write_block(restart_register, 1, &restart), -1);
        }
        EXPECT_NE(sim.device().working()[0], marked) << "memory reloaded from the saved copy";

        ASSERT_EQ(link.write_block(0, 1, &marked), 0);
        long_wait(true);
        EXPECT_EQ(link.write_block(restart_register, 1, &restart), 0);
        long_wait(false);
        EXPECT_NE(sim.device().working()[0], marked);

        sim.setRestartMs(100);
        EXPECT_EQ(link.write_block(restart_register, 1, &restart), 0) << "a quick restart fits the normal wait";
    }
}

TEST(SimTransports, InvalidFramesGetNoReplyAndAreNotCounted)
{
    InProcessSim sim;
    ASSERT_TRUE(sim.addFault("bad-checksum@1"));
    std::array<std::uint8_t, 16> reply{};
    // Bad lead byte, then a request past the end of the memory.
    const std::uint8_t bad_lead[] = {0xCB, 0x03, 0x00, 0x00, 0x00, 0x01, 0xCF};
    sim.write(1, bad_lead);
    EXPECT_EQ(sim.read(1, reply), 0);
    std::array<std::uint8_t, 8> past{};
    const auto size = build_read_request(Framing::serial, device_memory_size - 1, 2, past);
    sim.write(1, std::span<const std::uint8_t>(past).first(size));
    EXPECT_EQ(sim.read(1, reply), 0);
    EXPECT_EQ(sim.requestCount(), 0);

    // The first valid request is request 1, and the one-shot fault hits it.
    const auto good = build_read_request(Framing::serial, 0, 1, past);
    sim.write(1, std::span<const std::uint8_t>(past).first(good));
    ASSERT_EQ(sim.read(1, reply), 8);
    EXPECT_FALSE(read_reply_ok(Framing::serial, std::span<const std::uint8_t>(reply).first(8), 0, 1));
    EXPECT_EQ(sim.requestCount(), 1);
}

TEST(SimTransports, LeftoverBytesAreDiscardedBeforeTheNextRequest)
{
    for (const Framing framing : {Framing::serial, Framing::tcp}) {
        SCOPED_TRACE(framing == Framing::tcp ? "tcp" : "serial");
        InProcessSim sim;
        ASSERT_TRUE(sim.addFault("surplus@1"));
        LinkState state;
        state.network_mode = framing == Framing::tcp ? 1 : 0;
        DeviceLink link(state, &sim, &sim, nullptr);
        std::uint8_t byte = 0;
        // 00 55 AA follow the first reply; read as the start of the second
        // they would make it fail.
        EXPECT_EQ(link.read_block(0, 1, &byte), 0);
        EXPECT_EQ(link.read_block(0, 1, &byte), 0);
        EXPECT_EQ(byte, sim.device().working()[0]);
    }
}

TEST(SimTransports, CorruptedStoreIsAcceptedAndOnlyAReadShowsIt)
{
    for (const Framing framing : {Framing::serial, Framing::tcp}) {
        SCOPED_TRACE(framing == Framing::tcp ? "tcp" : "serial");
        InProcessSim sim;
        ASSERT_TRUE(sim.addFault("corrupt@1"));
        LinkState state;
        state.network_mode = framing == Framing::tcp ? 1 : 0;
        state.serial_port = 1;
        DeviceLink link(state, &sim, &sim, nullptr);
        const std::uint8_t sent[2] = {0x40, 0x41};
        EXPECT_EQ(link.store_block(0, 2, sent), 0);
        std::uint8_t back[2] = {};
        EXPECT_EQ(link.read_block(0, 2, back), 0);
        EXPECT_EQ(back[0], 0x41);
        EXPECT_EQ(back[1], 0x41);
        EXPECT_EQ(sim.faults().firedCount(FaultKind::corrupt), 1);
    }
}

TEST(SimTransports, RefusesFaultSpecsTheSimulatorRefuses)
{
    InProcessSim sim;
    for (const char* spec : {"no-reply", "no-reply:0", "close@0", "delay@3", "fast:1"}) EXPECT_FALSE(sim.addFault(spec)) << spec;
    EXPECT_TRUE(sim.faults().empty());
}

}  // namespace
}  // namespace tk770
