// Connect, one parameter write and a download against the simulated processor
// while it misbehaves on purpose, over loopback TCP and over a pseudo-terminal.
// Each row says what the operator must see afterwards (status texts,
// LinkState, a raised connection error) and which blocks of the image must
// have been left alone because their reply was not accepted. Every other
// block must equal what the simulator really holds, read back at the end.
// The same rows run against the in-process processor the other tests use,
// so it cannot drift from tk770-sim unnoticed.
#include "link/sequences.h"
#include "link/serial_transport.h"
#include "link/tcp_transport.h"
#include "sim/sim_transports.h"
#include "support/recording_sim.h"
#include "support/sim_process.h"

#include <tuple>

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

using namespace tk770;
using tk770::testing::RecordingStatus;
using tk770::testing::SimProcess;

namespace {

enum class Wire { tcp, pty };

// Short waits keep the matrix quick; the serial time-out is the link's own.
constexpr int tcp_wait_ms = 300;
constexpr std::uint8_t untouched_pattern = 0xEE;
constexpr int written_offset = 129;  // eq[2][11], in block 4
constexpr std::int8_t written_value = -37;

enum class Ends { ok, fail, skipped, raises };

struct Stage {
    Ends end;
    int connected;
    int error_count;
    std::string_view message;  // last text of the message panel, "" for none
    std::string_view link;     // last text of the link panel, "" for none
};

struct Row {
    const char* name;
    Wire wire;
    QStringList faults;          // simulator arguments
    bool line_dies_after_connect;
    Stage connect, write, download;
    std::set<int> untouched;     // read steps 1..19 whose reply was rejected
    bool read_back;              // false where the simulator cannot answer in time any more
};

constexpr std::string_view no_text = "";
constexpr std::string_view connected_to = "System Connected to 127.0.0.1";

std::set<int> all_blocks()
{
    std::set<int> s;
    for (int i = 1; i <= block_count; ++i) s.insert(i);
    return s;
}
std::set<int> from_block(int first)
{
    std::set<int> s;
    for (int i = first; i <= block_count; ++i) s.insert(i);
    return s;
}

QStringList fault(const char* spec) { return {QStringLiteral("--fault"), QString::fromLatin1(spec)}; }

// Request numbers the simulator counts: connect reads are 1..19, the
// parameter write is 20, the download steps are 21..36.
const Row rows[] = {
    // ---- serial line (pty), 200 ms read time-out
    {"pty_clean", Wire::pty, {}, false,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "DownLoad Success", "已连接"}, {}, true},
    // A failed write counts once and says so, but does not drop the link.
    {"pty_no_reply_to_the_write", Wire::pty, fault("no-reply:20"), false,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::fail, 1, 1, "System Connected", "未连接"},
     {Ends::ok, 1, 0, "DownLoad Success", "未连接"}, {}, true},
    // A download that lost two blocks failed, although its last store was
    // acknowledged and reset the count.
    {"pty_two_stores_lost", Wire::pty, fault("no-reply:33") + fault("short:35"), false,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::fail, 0, 0, "Connect Fail!", "未连接"}, {}, true},
    // One lost block is tolerated, as over TCP.
    {"pty_short_store_mid_download", Wire::pty, fault("short:33"), false,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "DownLoad Success", "未连接"}, {}, true},
    {"pty_bad_checksum_on_reads", Wire::pty, fault("bad-checksum:7"), false,
     {Ends::fail, 0, 2, "Connect Fail!", "未连接"},
     {Ends::skipped, 0, 2, "Connect Fail!", "未连接"},
     {Ends::skipped, 0, 2, "Connect Fail!", "未连接"}, {7, 14}, true},
    // Bytes to spare after a reply must not be taken for the next one.
    {"pty_surplus", Wire::pty, fault("surplus:2"), false,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "DownLoad Success", "已连接"}, {}, true},
    {"pty_delay_beyond_the_time_out", Wire::pty, fault("delay:6000"), false,
     {Ends::fail, 0, 19, "Connect Fail!", "未连接"},
     {Ends::skipped, 0, 19, "Connect Fail!", "未连接"},
     {Ends::skipped, 0, 19, "Connect Fail!", "未连接"}, all_blocks(), false},
    // Every failed step counts twice; the link drops on the way and stays down.
    {"pty_line_dead_after_connect", Wire::pty, {}, true,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::fail, 1, 1, "System Connected", "未连接"},
     {Ends::fail, 0, 32, "Connect Fail!", "未连接"}, {}, false},

    // ---- TCP, 300 ms reply wait: connection failures raise and change nothing
    {"tcp_clean", Wire::tcp, {}, false,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "DownLoad Success", "已连接"}, {}, true},
    {"tcp_no_reply_to_the_write", Wire::tcp, fault("no-reply:20"), false,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::raises, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "DownLoad Success", "已连接"}, {}, true},
    // TCP judges neither checksum, so a corrupted one changes nothing.
    {"tcp_bad_checksum", Wire::tcp, fault("bad-checksum:1"), false,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "DownLoad Success", "已连接"}, {}, true},
    // The short read reply is still queued when the write goes out; it must
    // not pass for the write's acknowledgement. Request 10 is download step 4.
    {"tcp_short_reply", Wire::tcp, fault("short:5"), false,
     {Ends::raises, 1, 0, connected_to, "已连接"},
     {Ends::ok, 1, 0, connected_to, "已连接"},
     {Ends::raises, 1, 0, connected_to, "已连接"}, from_block(5), true},
    {"tcp_surplus", Wire::tcp, fault("surplus:2"), false,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "DownLoad Success", "已连接"}, {}, true},
    {"tcp_delay_beyond_the_wait", Wire::tcp, fault("delay:1500"), false,
     {Ends::raises, 1, 0, connected_to, "已连接"},
     {Ends::raises, 1, 0, connected_to, "已连接"},
     {Ends::raises, 1, 0, connected_to, "已连接"}, all_blocks(), false},
    {"tcp_closed_at_the_write", Wire::tcp, fault("close:20"), false,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::raises, 1, 0, "System Connected", "已连接"},
     {Ends::raises, 1, 0, "System Connected", "已连接"}, {}, true},
    {"tcp_closed_mid_download", Wire::tcp, fault("close:30"), false,
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::ok, 1, 0, "System Connected", "已连接"},
     {Ends::raises, 1, 0, "System Connected", "已连接"}, {}, true},
};

std::string last(const std::vector<std::string>& texts) { return texts.empty() ? std::string() : texts.back(); }

// Rows print by name in failure messages.
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const char* ends_name(Ends e)
{
    switch (e) {
    case Ends::ok: return "ok";
    case Ends::fail: return "fail";
    case Ends::skipped: return "skipped";
    case Ends::raises: return "raises";
    }
    return "?";
}

Ends from_outcome(Outcome o)
{
    return o == Outcome::succeeded ? Ends::ok : o == Outcome::failed ? Ends::fail : Ends::skipped;
}

enum class Processor { process, in_process };

class FaultMatrix : public ::testing::TestWithParam<std::tuple<Row, Processor>> {
protected:
    const Row& row() const { return std::get<0>(GetParam()); }
    bool inProcess() const { return std::get<1>(GetParam()) == Processor::in_process; }

    void SetUp() override
    {
        if (inProcess()) {
            setUpInProcess();
            return;
        }
        if (!SimProcess::available()) GTEST_SKIP() << "simulator not built";
        const Row& row = this->row();
        const QStringList where = row.wire == Wire::tcp ? SimProcess::tcpArgs() : sim.ptyArgs();
        ASSERT_TRUE(sim.start(where + row.faults)) << sim.error().toStdString();
        if (row.wire == Wire::pty) {
            serial.bindPort(1, sim.ptyPath());
            state.serial_port = 1;
        } else {
            state.network_mode = 1;
            tcp.set_reply_wait_ms(tcp_wait_ms);
        }
        hooks.tcp_connect = [this] {
            tcp.connect(sim.tcpHost(), sim.tcpPort());
            return sim.tcpHost().toStdString();
        };
        hooks.tcp_disconnect = [this] { tcp.disconnect(); };
        std::memset(image.data(), untouched_pattern, image_size);
    }

    // The rows' --fault arguments go to the in-process processor, which
    // stands behind both of the link's transports.
    void setUpInProcess()
    {
        const Row& row = this->row();
        for (qsizetype i = 1; i < row.faults.size(); i += 2)
            ASSERT_TRUE(inner.addFault(row.faults[i].toStdString())) << row.faults[i].toStdString();
        link.set_serial(&inner);
        link.set_tcp(&inner);
        if (row.wire == Wire::pty) {
            state.serial_port = 1;
        } else {
            state.network_mode = 1;
            inner.set_reply_wait_ms(tcp_wait_ms);
        }
        inner.setPeer("127.0.0.1", tcp_port);
        hooks.tcp_connect = [this] {
            inner.reconnect();
            return std::string("127.0.0.1");
        };
        hooks.tcp_disconnect = [] {};
        std::memset(image.data(), untouched_pattern, image_size);
    }

    // The line going dead: the process stops; the in-process processor
    // still takes requests but never answers again.
    void killLine()
    {
        if (inProcess()) inner.addFault(Fault{FaultKind::no_reply, 1});
        else sim.stop();
    }

    // What the in-process processor holds, straight from its memory.
    ParameterImage heldInProcess() const
    {
        ParameterImage held{};
        for (const BlockRow& b : BlockMap)
            std::copy_n(inner.device().working().begin() + b.device_address, b.length, held.data() + b.image_offset);
        return held;
    }

    void TearDown() override
    {
        if (inProcess()) return;
        if (HasFailure()) std::printf("simulator trace:\n%s\n", qPrintable(sim.stderrText()));
    }

    void expectStage(const char* what, const Stage& want, Ends got)
    {
        SCOPED_TRACE(what);
        EXPECT_STREQ(ends_name(got), ends_name(want.end));
        EXPECT_EQ(state.connected, want.connected);
        EXPECT_EQ(state.error_count, want.error_count);
        EXPECT_EQ(last(status.messages), std::string(want.message));
        EXPECT_EQ(last(status.links), std::string(want.link));
    }

    template <class F>
    Ends run(F&& step)
    {
        try {
            return step();
        } catch (const LinkError& e) {
            // The client's own texts, which the in-process processor must
            // give alike: a dropped connection or a reply that did not come.
            const std::string_view text = e.what();
            std::string closed = connection_closed_text("127.0.0.1:");
            closed.pop_back();  // the port follows
            EXPECT_TRUE(text.starts_with(closed)
                        || text.starts_with("Timed out waiting for the processor at 127.0.0.1:"))
                << text;
            return Ends::raises;
        }
    }

    // What the simulator holds now, block by block, through a link of its
    // own with generous waits, asking again where a fault still bites.
    std::optional<ParameterImage> readBack()
    {
        LinkState s;
        RecordingStatus quiet;
        QtTcpTransport fresh;
        fresh.set_reply_wait_ms(1000);
        DeviceLink reader(s, &serial, &fresh, &quiet);
        if (row().wire == Wire::tcp) {
            tcp.disconnect();  // the simulator serves one client at a time
            s.network_mode = 1;
        } else {
            s.serial_port = 1;
            serial.set_read_timeout(1, 1000);
        }
        ParameterImage held{};
        for (const BlockRow& b : BlockMap) {
            bool done = false;
            for (int attempt = 0; attempt < 8 && !done; ++attempt) {
                try {
                    if (s.network_mode == 1 && !fresh.isOpen()) fresh.connect(sim.tcpHost(), sim.tcpPort());
                    done = reader.read_block(b.device_address, b.length, held.data() + b.image_offset) == 0;
                } catch (const LinkError&) {
                    fresh.disconnect();
                }
            }
            if (!done) return std::nullopt;
        }
        return held;
    }

    SimProcess sim;
    InProcessSim inner;
    QtSerialTransport serial;
    QtTcpTransport tcp;
    LinkState state;
    RecordingStatus status;
    ParameterImage image{};
    DeviceLink link{state, &serial, &tcp, &status};
    SequenceHooks hooks;
};

TEST_P(FaultMatrix, StatusLinkStateAndImageFollowTheRules)
{
    const Row& row = this->row();
    DeviceSequences seq(link, image, hooks);
    QElapsedTimer clock;
    clock.start();

    const Ends connected = run([&] { return from_outcome(seq.connect()); });
    expectStage("connect", row.connect, connected);

    // The blocks whose reply was rejected still hold what was there before.
    for (int step = 1; step <= block_count; ++step) {
        const BlockRow& b = BlockMap[static_cast<std::size_t>(step - 1)];
        const bool kept = std::all_of(image.data() + b.image_offset, image.data() + b.image_offset + b.length,
                                      [](std::uint8_t v) { return v == untouched_pattern; });
        EXPECT_EQ(kept, row.untouched.count(step) == 1) << "read step " << step;
    }

    if (row.line_dies_after_connect) killLine();

    // A slider moved the way the handlers do it: the image always, the
    // processor only while connected.
    const std::uint8_t before_write = image.data()[written_offset];
    image.data()[written_offset] = static_cast<std::uint8_t>(written_value);
    const Ends wrote = run([&] {
        if (state.connected != 1) return Ends::skipped;
        return link.write_block(device_address_of(written_offset), 1, image.data() + written_offset) == 0 ? Ends::ok
                                                                                                          : Ends::fail;
    });
    expectStage("parameter write", row.write, wrote);

    const ParameterImage before_download = image;
    const Ends downloaded = run([&] { return from_outcome(seq.download_all()); });
    expectStage("download", row.download, downloaded);
    EXPECT_TRUE(image == before_download) << "a download only sends";

    // Every wait is bounded: at most one per request, with room to spare.
    const int wait = row.wire == Wire::tcp ? tcp_wait_ms : normal_read_timeout_ms;
    EXPECT_LT(clock.elapsed(), (block_count + 1 + download_step_count) * wait + 5000);

    if (!row.read_back) return;
    if (!inProcess()) {
        ASSERT_TRUE(sim.running()) << "the simulator went away:\n" << sim.stderrText().toStdString();
    }
    const auto held = inProcess() ? std::optional(heldInProcess()) : readBack();
    ASSERT_TRUE(held) << "the simulator no longer answers:\n" << sim.stderrText().toStdString();
    ParameterImage sent = image;
    if (wrote == Ends::skipped) sent.data()[written_offset] = before_write;
    for (int step = 1; step <= block_count; ++step) {
        if (row.untouched.count(step)) continue;
        const BlockRow& b = BlockMap[static_cast<std::size_t>(step - 1)];
        EXPECT_EQ(std::vector<std::uint8_t>(sent.data() + b.image_offset, sent.data() + b.image_offset + b.length),
                  std::vector<std::uint8_t>(held->data() + b.image_offset, held->data() + b.image_offset + b.length))
            << "block " << step << " of the image differs from the processor";
    }
}

INSTANTIATE_TEST_SUITE_P(Simulator, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(rows),
                                            ::testing::Values(Processor::process, Processor::in_process)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name)
                                    + (std::get<1>(info.param) == Processor::in_process ? "_in_process" : "");
                         });

}  // namespace
