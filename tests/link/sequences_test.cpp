#include "link/sequences.h"
#include "support/recording_sim.h"

#include <gtest/gtest.h>

#include <set>

using namespace tk770;
using namespace tk770::testing;

namespace {

// A processor whose memory holds a different byte at every address, so a
// block read into the wrong place or not at all shows.
SimMemory patterned_memory()
{
    SimMemory memory{};
    for (int a = 0; a < sim_memory_size; ++a) memory[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(a * 7 + 3);
    return memory;
}

// A link over the simulated processor with its state; `tcp` picks network_mode.
struct Bench {
    LinkState state;
    RecordingSim device;
    RecordingStatus status;
    ParameterImage image{};
    DeviceLink link{state, &device, &device, &status};
    SequenceHooks hooks;
    std::vector<std::string> events;  // hook calls in order
    int refreshing = 0;

    explicit Bench(bool tcp = false, int port = 3)
    {
        device.loadMemory(patterned_memory());
        state.network_mode = tcp ? 1 : 0;
        state.serial_port = port;
        hooks.decode_device_info = [this] { events.push_back("decode"); };
        hooks.refresh_display = [this] { events.push_back(refreshing ? "refresh(refreshing)" : "refresh"); };
        hooks.reset_test_signals = [this] { events.push_back("reset signals"); };
        hooks.tcp_connect = [this] { events.push_back("tcp connect"); return std::string("10.1.2.3"); };
        hooks.tcp_disconnect = [this] { events.push_back("tcp disconnect"); };
        hooks.refreshing = &refreshing;
    }
    DeviceSequences sequences() { return DeviceSequences(link, image, hooks); }
};

std::set<int> all_but(int last)
{
    std::set<int> s;
    for (int k = 1; k < last; ++k) s.insert(k);
    return s;
}

// Image bytes the device holds for a BlockMap row.
Bytes device_bytes(const RecordingSim& d, const BlockRow& row)
{
    return Bytes(d.memory().begin() + row.device_address, d.memory().begin() + row.device_address + row.length);
}

Bytes image_bytes(const ParameterImage& image, int offset, int length)
{
    auto s = image.bytes(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    return Bytes(s.begin(), s.end());
}

}  // namespace

// ---------------------------------------------------------------- download

struct DownloadCase {
    const char* name;
    bool tcp;
    std::set<int> failing;  // steps 1..16 that get no good reply
    Outcome outcome;
};

void PrintTo(const DownloadCase& c, std::ostream* os) { *os << c.name; }

class DownloadVerdict : public ::testing::TestWithParam<DownloadCase> {};

TEST_P(DownloadVerdict, JudgesOnlyThisDownloadsFailedSteps)
{
    const auto& c = GetParam();
    Bench b(c.tcp);
    b.state.connected = 1;
    b.state.error_count = 5;  // earlier failures must not count here
    // TCP failures are a wrong first byte; serial ones a missing reply.
    for (const int n : c.failing) c.tcp ? b.device.refuseAhead(n) : b.device.faultAhead("no-reply", n);
    std::vector<int> results;
    auto seq = b.sequences();
    const Outcome got = seq.download_all([&](int step, int count, int result) {
        EXPECT_EQ(step, static_cast<int>(results.size()) + 1);
        EXPECT_EQ(count, 16);
        results.push_back(result);
    });

    EXPECT_EQ(got, c.outcome);
    ASSERT_EQ(results.size(), 16u);
    for (int k = 1; k <= 16; ++k) EXPECT_EQ(results[static_cast<std::size_t>(k - 1)], c.failing.count(k) ? -1 : 0) << k;
    ASSERT_FALSE(b.status.messages.empty());
    if (c.outcome == Outcome::succeeded) {
        EXPECT_EQ(b.status.messages.back(), "DownLoad Success");
        EXPECT_EQ(b.state.error_count, 0);
        EXPECT_EQ(b.state.connected, 1);
    } else {
        EXPECT_EQ(b.status.messages.back(), "Connect Fail!");
        ASSERT_FALSE(b.status.links.empty());
        EXPECT_EQ(b.status.links.back(), "未连接");
        EXPECT_EQ(b.state.connected, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    BothTransports, DownloadVerdict,
    ::testing::Values(DownloadCase{"serial_clean", false, {}, Outcome::succeeded},
                      DownloadCase{"serial_one_middle", false, {3}, Outcome::succeeded},
                      DownloadCase{"serial_only_last", false, {16}, Outcome::succeeded},
                      DownloadCase{"serial_two", false, {3, 9}, Outcome::failed},
                      DownloadCase{"serial_save_byte_and_last", false, {8, 16}, Outcome::failed},
                      DownloadCase{"serial_all_but_last", false, all_but(16), Outcome::failed},
                      DownloadCase{"tcp_clean", true, {}, Outcome::succeeded},
                      DownloadCase{"tcp_one", true, {5}, Outcome::succeeded},
                      DownloadCase{"tcp_two", true, {5, 12}, Outcome::failed},
                      DownloadCase{"tcp_all_but_last", true, all_but(16), Outcome::failed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Download, SendsTheSixteenStepsInOrderWithTheImageBytes)
{
    Bench b(false, 4);
    b.state.connected = 1;
    for (std::size_t i = 0; i < image_size; ++i) b.image.data()[i] = static_cast<std::uint8_t>(255 - i);
    auto seq = b.sequences();
    ASSERT_EQ(seq.download_all(), Outcome::succeeded);

    const auto frames = b.device.serialFrames();
    ASSERT_EQ(frames.size(), 16u);
    std::size_t f = 0;
    for (int row = 0; row < 15; ++row) {
        if (row == 7) {
            EXPECT_EQ(frames[f], (Bytes{0xCA, 0x06, 0x01, 0x5E, 0x00, 0x01, 0x02, 0x32}));
            ++f;
        }
        const BlockRow& r = BlockMap[static_cast<std::size_t>(row)];
        const Bytes& fr = frames[f++];
        ASSERT_EQ(fr.size(), static_cast<std::size_t>(r.length) + 7) << row;
        EXPECT_EQ(fr[1], 0x10) << row;
        EXPECT_EQ(fr[2] << 8 | fr[3], r.device_address) << row;
        EXPECT_EQ(Bytes(fr.begin() + 6, fr.end() - 1), image_bytes(b.image, r.image_offset, r.length)) << row;
    }
    for (const auto& s : b.device.writes) EXPECT_EQ(s.port, 4);
}

TEST(Download, DoesNothingWhileNotConnected)
{
    Bench b;
    auto seq = b.sequences();
    EXPECT_EQ(seq.download_all(), Outcome::skipped);
    EXPECT_TRUE(b.device.writes.empty());
    EXPECT_TRUE(b.status.messages.empty());
}

TEST(Download, TcpConnectionLossEndsItWithoutAVerdict)
{
    Bench b(true);
    b.state.connected = 1;
    b.device.fault("no-reply@4");  // a missing TCP reply is a time-out
    auto seq = b.sequences();
    EXPECT_THROW(seq.download_all(), LinkError);
    EXPECT_EQ(b.device.writes.size(), 4u);
    EXPECT_TRUE(b.status.messages.empty());
    EXPECT_EQ(b.state.connected, 1);
}

// ---------------------------------------------------------------- connect and read all

TEST(Connect, SerialReadsEveryBlockIntoTheImageThenRefreshes)
{
    Bench b(false, 2);
    auto seq = b.sequences();
    EXPECT_EQ(seq.connect(), Outcome::succeeded);

    EXPECT_EQ(b.device.portCalls.front(), "open 2");
    ASSERT_EQ(b.device.writes.size(), 19u);
    for (std::size_t k = 0; k < BlockMap.size(); ++k) {
        const BlockRow& r = BlockMap[k];
        EXPECT_EQ(b.device.writes[k].bytes[2] << 8 | b.device.writes[k].bytes[3], r.device_address) << k;
        EXPECT_EQ(image_bytes(b.image, r.image_offset, r.length), device_bytes(b.device, r)) << k;
    }
    EXPECT_EQ(b.state.connected, 1);
    EXPECT_EQ(b.state.error_count, 0);
    EXPECT_EQ(b.status.messages, std::vector<std::string>{"System Connected"});
    EXPECT_EQ(b.status.links, std::vector<std::string>{"已连接"});
    EXPECT_EQ(b.events, (std::vector<std::string>{"decode", "refresh(refreshing)", "reset signals"}));
    EXPECT_EQ(b.refreshing, 0);
}

TEST(Connect, OneFailedReadOutOfNineteenFailsTheConnect)
{
    Bench b;
    b.device.fault("bad-checksum@5");
    auto seq = b.sequences();
    EXPECT_EQ(seq.connect(), Outcome::failed);

    EXPECT_EQ(b.device.writes.size(), 19u) << "a failed read does not stop the sequence";
    for (std::size_t k = 0; k < BlockMap.size(); ++k) {
        const BlockRow& r = BlockMap[k];
        if (k == 4)
            EXPECT_EQ(image_bytes(b.image, r.image_offset, r.length), Bytes(static_cast<std::size_t>(r.length), 0));
        else
            EXPECT_EQ(image_bytes(b.image, r.image_offset, r.length), device_bytes(b.device, r)) << k;
    }
    EXPECT_EQ(b.state.connected, 0);
    EXPECT_EQ(b.state.error_count, 1);
    EXPECT_EQ(b.status.messages, std::vector<std::string>{"Connect Fail!"});
    EXPECT_EQ(b.status.links, std::vector<std::string>{"未连接"});
    EXPECT_TRUE(b.events.empty()) << "no decode, no refresh, no test-signal reset";
}

TEST(Connect, SerialWhileConnectedDoesNothing)
{
    Bench b;
    b.state.connected = 1;
    b.state.error_count = 3;
    auto seq = b.sequences();
    EXPECT_EQ(seq.connect(), Outcome::skipped);
    EXPECT_TRUE(b.device.writes.empty());
    EXPECT_TRUE(b.device.portCalls.empty());
    EXPECT_EQ(b.state.error_count, 3);
}

TEST(Connect, NetworkMakesTheConnectionThenReadsInsideIt)
{
    Bench b(true);
    auto seq = b.sequences();
    EXPECT_EQ(seq.connect(), Outcome::succeeded);
    EXPECT_EQ(b.device.writes.size(), 19u);
    EXPECT_TRUE(b.device.portCalls.empty()) << "the serial port is not touched in network mode";
    EXPECT_EQ(b.status.messages, (std::vector<std::string>{"System Connected to 10.1.2.3", "System Connected"}));
    EXPECT_EQ(b.events.front(), "tcp connect");
    EXPECT_EQ(b.state.connected, 1);

    // Connected already: connect reads everything again, no new connection.
    b.events.clear();
    EXPECT_EQ(seq.connect(), Outcome::succeeded);
    EXPECT_EQ(b.device.writes.size(), 38u);
    EXPECT_EQ(b.events, (std::vector<std::string>{"decode", "refresh(refreshing)", "reset signals"}));
}

TEST(Connect, NetworkReadFailureLeavesTheLinkAsTheConnectedEventSetIt)
{
    Bench b(true);
    b.device.fault("no-reply@7");
    auto seq = b.sequences();
    EXPECT_THROW(seq.connect(), LinkError);
    EXPECT_EQ(b.state.connected, 1);
    EXPECT_EQ(b.status.messages, std::vector<std::string>{"System Connected to 10.1.2.3"});
}

TEST(Disconnect, ClearsTheLinkAndResetsTestSignals)
{
    for (const bool tcp : {false, true}) {
        Bench b(tcp);
        b.state.connected = 1;
        auto seq = b.sequences();
        seq.disconnect();
        EXPECT_EQ(b.state.connected, 0);
        EXPECT_EQ(b.status.messages, std::vector<std::string>{"DisConnected"});
        EXPECT_EQ(b.status.links, std::vector<std::string>{"未连接"});
        const std::vector<std::string> want =
            tcp ? std::vector<std::string>{"tcp disconnect", "reset signals"} : std::vector<std::string>{"reset signals"};
        EXPECT_EQ(b.events, want) << (tcp ? "tcp" : "serial");
        EXPECT_TRUE(b.device.writes.empty());
    }
}

TEST(ReadAll, CountsAFailedWriteFromBeforeAndFails)
{
    Bench b;
    b.state.connected = 1;
    b.device.fault("no-reply@1");
    const std::uint8_t v = 9;
    ASSERT_EQ(b.link.write_block(0x81, 1, &v), -1);
    ASSERT_EQ(b.state.error_count, 1);
    b.status.links.clear();

    auto seq = b.sequences();
    EXPECT_EQ(seq.read_all(), Outcome::failed);
    EXPECT_EQ(b.device.writes.size(), 20u) << "all 19 reads still ran";
    EXPECT_EQ(b.state.connected, 0);
    EXPECT_EQ(b.status.messages, std::vector<std::string>{"Connect Fail!"});
    EXPECT_EQ(b.status.links, std::vector<std::string>{"未连接"});
    EXPECT_TRUE(b.events.empty());
    // The reads themselves succeeded and are kept.
    EXPECT_EQ(image_bytes(b.image, 0, 36), device_bytes(b.device, BlockMap[0]));
}

TEST(ReadAll, SuccessShowsLoadSuccessAndLeavesLinkPanelAndTestSignals)
{
    Bench b(true);
    b.state.connected = 1;
    auto seq = b.sequences();
    EXPECT_EQ(seq.read_all(), Outcome::succeeded);
    EXPECT_EQ(b.status.messages, std::vector<std::string>{"Load Success"});
    EXPECT_TRUE(b.status.links.empty());
    EXPECT_EQ(b.events, (std::vector<std::string>{"decode", "refresh(refreshing)"}));
    EXPECT_EQ(image_bytes(b.image, BlockMap[18].image_offset, 16), device_bytes(b.device, BlockMap[18]));
}

TEST(ReadAll, DoesNothingWhileNotConnected)
{
    Bench b;
    auto seq = b.sequences();
    EXPECT_EQ(seq.read_all(), Outcome::skipped);
    EXPECT_TRUE(b.device.writes.empty());
}

// ---------------------------------------------------------------- one-byte commands

struct CommandCase {
    const char* name;
    Outcome (DeviceSequences::*run)();
    Bytes frame;
    const char* ok;
    const char* fail;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class CommandByte : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandByte, SendsItsByteAndReportsTheResult)
{
    const auto& c = GetParam();
    for (const bool fails : {false, true}) {
        Bench b;
        b.state.connected = 1;
        if (fails) b.device.fault("no-reply:1");
        auto seq = b.sequences();
        EXPECT_EQ((seq.*c.run)(), fails ? Outcome::failed : Outcome::succeeded);
        EXPECT_EQ(b.device.serialFrames(), std::vector<Bytes>{c.frame});
        EXPECT_EQ(b.status.messages, std::vector<std::string>{fails ? c.fail : c.ok});
        EXPECT_EQ(b.state.error_count, fails ? 1 : 0) << "only the write's own counting";
        EXPECT_EQ(b.state.connected, 1);
    }
    Bench idle;
    auto seq = idle.sequences();
    EXPECT_EQ((seq.*c.run)(), Outcome::skipped);
    EXPECT_TRUE(idle.device.writes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    SaveAndBackup, CommandByte,
    ::testing::Values(CommandCase{"save", &DeviceSequences::save_to_memory,
                                  {0xCA, 0x06, 0x01, 0x5E, 0x00, 0x01, 0x02, 0x32},
                                  "Save To Memory Success", "Save Memory Fail!"},
                      CommandCase{"backup", &DeviceSequences::backup_ic,
                                  {0xCA, 0x06, 0x01, 0x5E, 0x00, 0x01, 0x01, 0x31},
                                  "Save To IC Card Success", "Save IC Card Fail!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Restart, OverTcpSwitchesTheSerialTimeOutTwiceAndWaitsLongerForOneReply)
{
    Bench b(true, 6);
    b.state.connected = 1;
    auto seq = b.sequences();
    EXPECT_EQ(seq.restart(), Outcome::succeeded);
    EXPECT_EQ(b.device.portCalls, (std::vector<std::string>{"timeout 6 12000", "timeout 6 200"}));
    ASSERT_EQ(b.device.writes.size(), 1u);
    EXPECT_EQ(b.device.writes[0].bytes, (Bytes{0x06, 0x01, 0x5F, 0x00, 0x01, 0x02, 0x69}));
    EXPECT_EQ(b.device.replyWaitAtSend, std::vector<int>{15000});
    EXPECT_EQ(b.device.reply_wait_ms(), 3000) << "the long wait is for that one reply only";
    EXPECT_TRUE(b.status.messages.empty());
}

TEST(Restart, ReplyWaitComesBackEvenWhenTheReplyNeverDoes)
{
    Bench b(true);
    b.state.connected = 1;
    b.device.fault("no-reply:1");
    auto seq = b.sequences();
    EXPECT_THROW(seq.restart(), LinkError);
    EXPECT_EQ(b.device.reply_wait_ms(), 3000);
}

TEST(Restart, SerialFailureCountsTwiceAndKeepsTheLinkUp)
{
    Bench b(false, 1);
    b.state.connected = 1;
    b.device.fault("no-reply:1");
    auto seq = b.sequences();
    EXPECT_EQ(seq.restart(), Outcome::failed);
    EXPECT_EQ(b.state.error_count, 2);  // once in the write, once here
    EXPECT_EQ(b.state.connected, 1);
    EXPECT_EQ(b.device.portCalls, (std::vector<std::string>{"timeout 1 12000", "timeout 1 200"}));
    EXPECT_EQ(b.device.serialFrames(), std::vector<Bytes>{(Bytes{0xCA, 0x06, 0x01, 0x5F, 0x00, 0x01, 0x02, 0x33})});
    EXPECT_TRUE(b.status.messages.empty());
    EXPECT_EQ(b.status.links, std::vector<std::string>{"未连接"});
}

// ---------------------------------------------------------------- network block and serial number

TEST(NetworkSettings, ReadGoesToTheSerialPortAndDecodesTheReply)
{
    Bench b(true, 5);  // network mode: still the serial port
    const Bytes block{0xC0, 0xA8, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x00, 0x01};
    b.device.setMemory(0x190, block);
    auto seq = b.sequences();
    const auto got = seq.read_network_settings();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->ip_text(), "192.168.0.8");
    EXPECT_EQ(got->mask_text(), "255.255.255.0");
    EXPECT_EQ(got->gateway_text(), "192.168.0.1");
    ASSERT_EQ(b.device.writes.size(), 1u);
    EXPECT_TRUE(b.device.writes[0].serial);
    EXPECT_EQ(b.device.writes[0].port, 5);
    EXPECT_EQ(b.device.writes[0].bytes, (Bytes{0xCA, 0x03, 0x01, 0x90, 0x00, 0x0C, 0x6A}));
    EXPECT_TRUE(b.status.messages.empty());
}

TEST(NetworkSettings, RejectedRepliesGiveNothing)
{
    struct Case {
        const char* name;
        const char* fault;
    };
    for (const Case& c : {Case{"wrong checksum", "bad-checksum:1"}, Case{"no reply", "no-reply:1"},
                          Case{"two bytes short", "short:1"}}) {
        Bench b;
        b.device.fault(c.fault);
        auto seq = b.sequences();
        EXPECT_FALSE(seq.read_network_settings()) << c.name;
        EXPECT_EQ(b.state.error_count, 0) << c.name;
        EXPECT_TRUE(b.status.messages.empty() && b.status.links.empty()) << c.name;
    }
    // One byte short of a reply: the data arrived, the checksum did not.
    Bench b;
    b.device.alterReply = [](long, Bytes& reply) { reply.pop_back(); };
    auto seq = b.sequences();
    EXPECT_FALSE(seq.read_network_settings());
}

TEST(NetworkSettings, WriteSendsTheParsedFrameOnTheSerialPort)
{
    Bench b(true, 2);
    auto seq = b.sequences();
    EXPECT_TRUE(seq.write_network_settings("192.168.0.8", "255.255.255.0", "192.168.0.1"));
    Bytes want{0xCA, 0x10, 0x01, 0x90, 0x00, 0x0C, 0xC0, 0xA8, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x00, 0x01};
    want.push_back(checksum(want));
    EXPECT_EQ(b.device.serialFrames(), std::vector<Bytes>{want});
    EXPECT_EQ(b.device.writes[0].port, 2);
    EXPECT_TRUE(b.status.messages.empty());
}

TEST(NetworkSettings, AnyBadBoxSendsNothing)
{
    const char* good = "10.0.0.1";
    const std::array<std::array<const char*, 3>, 3> boxes{{
        {"256.0.0.1", good, good},
        {good, "10.0.1", good},
        {good, good, "10.0.0.1.5"},
    }};
    for (const auto& t : boxes) {
        Bench b;
        auto seq = b.sequences();
        EXPECT_FALSE(seq.write_network_settings(t[0], t[1], t[2])) << t[0] << " " << t[1] << " " << t[2];
        EXPECT_TRUE(b.device.writes.empty());
    }
}

TEST(SerialNumber, FrameCarriesSixteenBytesZeroFilled)
{
    struct Case {
        std::string text;
        Bytes data;
    };
    const std::vector<Case> cases{
        {"ABCDEFGHIJKLMNOP", Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'}},
        {"TK7700000042", Bytes{'T', 'K', '7', '7', '0', '0', '0', '0', '0', '0', '4', '2', 0, 0, 0, 0}},
        {"", Bytes(16, 0)},
        {"ABCDEFGHIJKLMNOPQR", Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'}},
    };
    for (const auto& c : cases) {
        Bench b(true, 7);
        b.state.connected = 0;  // works whether connected or not
        auto seq = b.sequences();
        seq.store_serial_number(c.text);
        Bytes want{0xCA, 0x10, 0x03, 0x44, 0x00, 0x10};
        want.insert(want.end(), c.data.begin(), c.data.end());
        want.push_back(checksum(want));
        ASSERT_EQ(want.size(), 23u);
        EXPECT_EQ(b.device.serialFrames(), std::vector<Bytes>{want}) << c.text;
        EXPECT_EQ(b.device.writes[0].port, 7);
        EXPECT_TRUE(b.status.messages.empty());
    }
}

// ---------------------------------------------------------------- address parser

TEST(ParseAddress, AcceptsOnlyAPlainDottedQuad)
{
    struct Case {
        const char* text;
        std::optional<std::array<std::uint8_t, 4>> want;
    };
    using A = std::array<std::uint8_t, 4>;
    const std::vector<Case> cases{
        {"192.168.0.8", A{192, 168, 0, 8}},
        {"0.0.0.0", A{0, 0, 0, 0}},
        {"255.255.255.255", A{255, 255, 255, 255}},
        {"01.2.3.4", A{1, 2, 3, 4}},
        {"010.002.000.255", A{10, 2, 0, 255}},
        {"", std::nullopt},
        {"a.b.c.d", std::nullopt},
        {"10.0.0.1.5", std::nullopt},
        {"256.0.0.1", std::nullopt},
        {"1.2.3.256", std::nullopt},
        {"1..2.3", std::nullopt},
        {" 1.2.3.4", std::nullopt},
        {"1.2.3.4 ", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1.2.3.", std::nullopt},
        {".1.2.3", std::nullopt},
        {"+1.2.3.4", std::nullopt},
        {"-1.2.3.4", std::nullopt},
        {"0001.2.3.4", std::nullopt},
        {"1.2.3.4/24", std::nullopt},
        {"1,2,3,4", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_address(c.text), c.want) << '"' << c.text << '"';
}

TEST(FormatAddress, NoLeadingZeros)
{
    const std::uint8_t a[4]{10, 0, 200, 7};
    EXPECT_EQ(format_address(a), "10.0.200.7");
}
