#include "core/device_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <vector>

using namespace tk770;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Serial port that records what was written and hands out scripted replies.
// A reply longer than the read asks for is cut to it, as a port would; an
// exhausted script reads as a time-out (0 bytes); std::nullopt is a port error.
class FakeSerial : public SerialTransport {
public:
    std::vector<Bytes> written;
    std::vector<int> ports;
    std::deque<std::optional<Bytes>> replies;
    int drains = 0;

    void open(int) override {}
    void close(int) override {}
    void set_read_timeout(int, int) override {}
    void write(int port, std::span<const std::uint8_t> bytes) override
    {
        ports.push_back(port);
        written.emplace_back(bytes.begin(), bytes.end());
    }
    int read(int port, std::span<std::uint8_t> bytes) override
    {
        ports.push_back(port);
        if (replies.empty()) return 0;
        auto reply = replies.front();
        replies.pop_front();
        if (!reply) return -1;
        const auto n = std::min(reply->size(), bytes.size());
        std::copy_n(reply->begin(), n, bytes.begin());
        return static_cast<int>(n);
    }
    void drain(int) override { ++drains; }
};

// TCP client that records frames sent and delivers scripted replies. Like the
// real client, a receive that cannot be satisfied raises LinkError.
class FakeTcp : public TcpTransport {
public:
    std::vector<Bytes> sent;
    std::deque<Bytes> replies;
    bool fail_send = false;
    int out_of_steps = 0;

    void out_of_step() override { ++out_of_steps; }

    void send(std::span<const std::uint8_t> bytes) override
    {
        if (fail_send) throw LinkError("Connection refused");
        sent.emplace_back(bytes.begin(), bytes.end());
    }
    void receive(std::span<std::uint8_t> bytes) override
    {
        if (replies.empty() || replies.front().size() < bytes.size())
            throw LinkError("Connection reset by peer");
        std::copy_n(replies.front().begin(), bytes.size(), bytes.begin());
        replies.pop_front();
    }
};

class RecordingStatus : public StatusSink {
public:
    std::vector<std::string> link_texts;
    std::vector<std::string> messages;
    void set_message_text(std::string_view text) override { messages.emplace_back(text); }
    void set_link_text(std::string_view text) override { link_texts.emplace_back(text); }
};

Bytes with_checksum(Bytes b)
{
    b.push_back(checksum(b));
    return b;
}

// The processor's acknowledgement of a request, echoing its header.
Bytes serial_ack(Command cmd, int address, int length) { return build_ack(Framing::serial, cmd, address, length); }
Bytes tcp_ack(Command cmd, int address, int length) { return build_ack(Framing::tcp, cmd, address, length); }

class LinkFixture : public testing::Test {
protected:
    LinkFixture()
    {
        state.connected = 1;
        state.serial_port = 3;
    }
    LinkState state;
    FakeSerial serial;
    FakeTcp tcp;
    RecordingStatus status;
    DeviceLink link{state, &serial, &tcp, &status};
};

// ---- request frames ----

struct FrameCase {
    const char* name;
    int network_mode;
    Command command;
    int address;
    int length;
    Bytes data;      // for write and store
    Bytes expected;  // the frame on the wire
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class RequestFrameTest : public LinkFixture, public testing::WithParamInterface<FrameCase> {};

TEST_P(RequestFrameTest, SendsTheFrameByteForByte)
{
    const auto& c = GetParam();
    state.network_mode = c.network_mode;
    // Accepting replies, so that only the request is under test.
    const Framing framing = c.network_mode == 0 ? Framing::serial : Framing::tcp;
    const Bytes reply = c.command == Command::read ? build_read_reply(framing, c.address, Bytes(c.length, 0))
                                                   : build_ack(framing, c.command, c.address, c.length);
    if (c.network_mode == 0)
        serial.replies.push_back(reply);
    else
        tcp.replies.push_back(reply);
    Bytes buffer = c.data;
    buffer.resize(c.length);

    int result = -1;
    switch (c.command) {
    case Command::read: result = link.read_block(c.address, c.length, buffer.data()); break;
    case Command::write: result = link.write_block(c.address, c.length, buffer.data()); break;
    case Command::store: result = link.store_block(c.address, c.length, buffer.data()); break;
    }
    EXPECT_EQ(result, 0);

    const auto& frames = c.network_mode == 0 ? serial.written : tcp.sent;
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], c.expected);
    if (c.network_mode == 0) {
        EXPECT_TRUE(tcp.sent.empty());
        EXPECT_EQ(serial.ports, (std::vector<int>{3, 3})) << "write and read go to serial_port";
    } else {
        EXPECT_TRUE(serial.written.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, RequestFrameTest,
    testing::Values(
        FrameCase{"SerialRead36At0", 0, Command::read, 0x000, 36, {}, {0xCA, 0x03, 0x00, 0x00, 0x00, 0x24, 0xF1}},
        FrameCase{"TcpRead36At0", 1, Command::read, 0x000, 36, {}, {0x03, 0x00, 0x00, 0x00, 0x24, 0x27}},
        FrameCase{"SerialRead16At344", 0, Command::read, 0x344, 16, {}, {0xCA, 0x03, 0x03, 0x44, 0x00, 0x10, 0x24}},
        FrameCase{"SerialWriteCommandRegister", 0, Command::write, 0x15E, 1, {0x02},
                  {0xCA, 0x06, 0x01, 0x5E, 0x00, 0x01, 0x02, 0x32}},
        FrameCase{"TcpWriteCommandRegister", 1, Command::write, 0x15E, 1, {0x02},
                  {0x06, 0x01, 0x5E, 0x00, 0x01, 0x02, 0x68}},
        FrameCase{"SerialStoreTwoBytes", 0, Command::store, 0x136, 2, {0x05, 0x04},
                  {0xCA, 0x10, 0x01, 0x36, 0x00, 0x02, 0x05, 0x04, 0x1C}},
        FrameCase{"TcpStoreTwoBytes", 1, Command::store, 0x136, 2, {0x05, 0x04},
                  {0x10, 0x01, 0x36, 0x00, 0x02, 0x05, 0x04, 0x52}}),
    [](const auto& info) { return info.param.name; });

TEST(RequestBuilders, LengthAboveOneByteGoesHighByteFirst)
{
    std::array<std::uint8_t, serial_buffer_size> out{};
    ASSERT_EQ(build_read_request(Framing::serial, 0x1F4, 0x150, out), 7u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 7), with_checksum({0xCA, 0x03, 0x01, 0xF4, 0x01, 0x50}));
}

TEST(RequestBuilders, RefuseWhatDoesNotFit)
{
    std::array<std::uint8_t, 8> small{};
    const Bytes two{1, 2};
    EXPECT_EQ(build_request(Framing::serial, Command::write, 0, two, small), 0u) << "needs 9 bytes";
    EXPECT_EQ(build_request(Framing::tcp, Command::write, 0, two, small), 8u);
    EXPECT_EQ(build_read_request(Framing::serial, 0x10000, 1, small), 0u) << "address beyond 16 bits";
    EXPECT_EQ(build_read_request(Framing::tcp, -1, 1, small), 0u);
}

// ---- reply judging ----

struct ReadReplyCase {
    const char* name;
    int network_mode;
    std::optional<Bytes> reply;  // nullopt: serial port error
    bool accepted;
};

void PrintTo(const ReadReplyCase& c, std::ostream* os) { *os << c.name; }

class ReadReplyTest : public LinkFixture, public testing::WithParamInterface<ReadReplyCase> {};

// A read of the four bytes 11 22 33 44.
Bytes serial_reply(Bytes header)
{
    header.insert(header.end(), {0x11, 0x22, 0x33, 0x44});
    return with_checksum(header);
}

TEST_P(ReadReplyTest, AcceptsOrRejectsWithoutCounting)
{
    const auto& c = GetParam();
    state.network_mode = c.network_mode;
    state.error_count = 4;
    if (c.network_mode == 0) serial.replies.push_back(c.reply);
    else tcp.replies.push_back(*c.reply);

    Bytes destination(4, 0xEE);
    const int result = link.read_block(0x10, 4, destination.data());

    if (c.accepted) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(destination, (Bytes{0x11, 0x22, 0x33, 0x44}));
    } else {
        EXPECT_EQ(result, -1);
        EXPECT_EQ(destination, Bytes(4, 0xEE)) << "a rejected read leaves the destination untouched";
    }
    EXPECT_EQ(state.error_count, 4);
    EXPECT_EQ(state.connected, 1);
    EXPECT_TRUE(status.link_texts.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadReplyTest,
    testing::Values(
        ReadReplyCase{"SerialMatchingReply", 0, serial_reply({0xCA, 0x03, 0x00, 0x10, 0x00, 0x04}), true},
        ReadReplyCase{"SerialHeaderOfAnotherRequest", 0, serial_reply({0x00, 0x99, 0x7F, 0x01, 0x02, 0x03}), false},
        ReadReplyCase{"SerialReplyToAReadElsewhere", 0, serial_reply({0xCA, 0x03, 0x01, 0xF4, 0x00, 0x04}), false},
        ReadReplyCase{"SerialWrongChecksum", 0,
                      Bytes{0xCA, 0x03, 0x00, 0x10, 0x00, 0x04, 0x11, 0x22, 0x33, 0x44, 0x00}, false},
        ReadReplyCase{"SerialOneByteShort", 0,
                      with_checksum({0xCA, 0x03, 0x00, 0x10, 0x00, 0x04, 0x11, 0x22, 0x33}), false},
        ReadReplyCase{"SerialTimeOut", 0, Bytes{}, false},
        ReadReplyCase{"SerialPortError", 0, std::nullopt, false},
        ReadReplyCase{"TcpChecksumNotExamined", 1, Bytes{0x03, 0x00, 0x10, 0x00, 0x04, 0x11, 0x22, 0x33, 0x44, 0x00},
                      true},
        ReadReplyCase{"TcpReplyToAReadElsewhere", 1,
                      Bytes{0x03, 0x00, 0x00, 0x00, 0x04, 0x11, 0x22, 0x33, 0x44, 0x00}, false},
        ReadReplyCase{"TcpReplyOfAnotherLength", 1, Bytes{0x03, 0x00, 0x10, 0x00, 0x05, 0x11, 0x22, 0x33, 0x44, 0x00},
                      false},
        ReadReplyCase{"TcpWrongCommandByte", 1, Bytes{0x06, 0x00, 0x10, 0x00, 0x04, 0x11, 0x22, 0x33, 0x44, 0x7E},
                      false}),
    [](const auto& info) { return info.param.name; });

struct AckCase {
    const char* name;
    int network_mode;
    Command command;
    std::optional<Bytes> reply;
    int result;
    int error_count_after;  // starting from 5
    bool reports_not_connected;
};

void PrintTo(const AckCase& c, std::ostream* os) { *os << c.name; }

class AckTest : public LinkFixture, public testing::WithParamInterface<AckCase> {};

TEST_P(AckTest, JudgesAndCounts)
{
    const auto& c = GetParam();
    state.network_mode = c.network_mode;
    state.error_count = 5;
    if (c.network_mode == 0) serial.replies.push_back(c.reply);
    else tcp.replies.push_back(*c.reply);

    const Bytes source{0x42};
    const int result = c.command == Command::write ? link.write_block(0x20, 1, source.data())
                                                   : link.store_block(0x20, 1, source.data());
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(state.error_count, c.error_count_after);
    EXPECT_EQ(state.connected, 1);
    if (c.reports_not_connected)
        EXPECT_EQ(status.link_texts, std::vector<std::string>{"未连接"});
    else
        EXPECT_TRUE(status.link_texts.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Acks, AckTest,
    testing::Values(
        AckCase{"SerialWriteEchoed", 0, Command::write, serial_ack(Command::write, 0x20, 1), 0, 5, false},
        AckCase{"SerialWriteSumNotExamined", 0, Command::write, Bytes{0xCA, 0x06, 0x00, 0x20, 0x00, 0x01, 0x00}, 0, 5,
                false},
        AckCase{"SerialStoreResetsCount", 0, Command::store, serial_ack(Command::store, 0x20, 1), 0, 0, false},
        AckCase{"SerialWriteSevenBytesOfAnything", 0, Command::write, Bytes{1, 2, 3, 4, 5, 6, 7}, -1, 6, true},
        AckCase{"SerialStoreAckOfAnotherAddress", 0, Command::store, serial_ack(Command::store, 0x21, 1), -1, 6, true},
        AckCase{"SerialWriteSixBytes", 0, Command::write, Bytes(6, 0), -1, 6, true},
        AckCase{"SerialStoreTimeOut", 0, Command::store, Bytes{}, -1, 6, true},
        AckCase{"SerialWritePortError", 0, Command::write, std::nullopt, -1, 6, true},
        AckCase{"TcpWriteAck", 1, Command::write, Bytes{0x06, 0, 0x20, 0, 1, 0}, 0, 5, false},
        AckCase{"TcpStoreAckDoesNotReset", 1, Command::store, tcp_ack(Command::store, 0x20, 1), 0, 5, false},
        AckCase{"TcpWriteAnsweredAsStore", 1, Command::write, tcp_ack(Command::store, 0x20, 1), -1, 5, false},
        AckCase{"TcpStoreAnsweredAsWrite", 1, Command::store, tcp_ack(Command::write, 0x20, 1), -1, 5, false},
        AckCase{"TcpOnlyTheCommandByteRight", 1, Command::store, Bytes{0x10, 0, 0, 0, 0, 0}, -1, 5, false},
        AckCase{"TcpAckOfAnotherLength", 1, Command::write, tcp_ack(Command::write, 0x20, 2), -1, 5, false}),
    [](const auto& info) { return info.param.name; });

// ---- a reply that came late ----

// After a reply that never came or was another request's, the transport is
// brought back into step before the next request: the serial line is
// drained of whatever is still arriving, the TCP client told to start afresh.
// An accepted reply costs neither.
TEST_F(LinkFixture, TransportIsBroughtBackIntoStepAfterARefusedReply)
{
    struct Step {
        const char* name;
        std::optional<Bytes> reply;  // to a read of 4 bytes at 0x10; nullopt: nothing came
        bool accepted;
        int drains_before_next;      // serial drains once the next request went out
    };
    const Bytes mine = serial_reply({0xCA, 0x03, 0x00, 0x10, 0x00, 0x04});
    const Bytes late = serial_reply({0xCA, 0x03, 0x00, 0x00, 0x00, 0x04});
    const Step steps[] = {
        {"accepted", mine, true, 0},
        {"time-out", std::nullopt, false, 1},
        {"an earlier read's late answer", late, false, 2},
        {"accepted again", mine, true, 2},
        {"accepted once more", mine, true, 2},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        serial.replies.push_back(step.reply ? *step.reply : Bytes{});
        Bytes destination(4, 0xEE);
        EXPECT_EQ(link.read_block(0x10, 4, destination.data()), step.accepted ? 0 : -1);
        // The drain owed by this step shows when the next request goes out.
        serial.replies.push_back(serial_ack(Command::write, 0x20, 1));
        const std::uint8_t v = 1;
        EXPECT_EQ(link.write_block(0x20, 1, &v), 0);
        EXPECT_EQ(serial.drains, step.drains_before_next);
    }

    state.network_mode = 1;
    const Bytes tcp_late{0x03, 0x00, 0x00, 0x00, 0x04, 0x11, 0x22, 0x33, 0x44, 0x00};
    tcp.replies.push_back(tcp_late);
    Bytes destination(4, 0xEE);
    EXPECT_EQ(link.read_block(0x10, 4, destination.data()), -1);
    EXPECT_EQ(tcp.out_of_steps, 1);
    tcp.replies.push_back(tcp_ack(Command::store, 0x21, 1));
    const std::uint8_t v = 1;
    EXPECT_EQ(link.store_block(0x20, 1, &v), -1) << "an acknowledgement of another store";
    EXPECT_EQ(tcp.out_of_steps, 2);
    tcp.replies.push_back(tcp_ack(Command::store, 0x20, 1));
    EXPECT_EQ(link.store_block(0x20, 1, &v), 0);
    EXPECT_EQ(tcp.out_of_steps, 2);
}

// ---- the failure count ----

TEST_F(LinkFixture, TwentyFirstFailedWriteDropsTheLink)
{
    const std::uint8_t v = 1;
    for (int i = 1; i <= 20; ++i) {
        ASSERT_EQ(link.write_block(0x20, 1, &v), -1);
        ASSERT_EQ(state.connected, 1) << "after failure " << i;
    }
    EXPECT_EQ(state.error_count, 20);
    EXPECT_EQ(link.write_block(0x20, 1, &v), -1);
    EXPECT_EQ(state.error_count, 21);
    EXPECT_EQ(state.connected, 0);
    EXPECT_EQ(status.link_texts.size(), 21u);
}

TEST_F(LinkFixture, CountRaisedElsewhereDropsTheLinkOnlyAtTheNextFailedWrite)
{
    state.error_count = 30;
    const std::uint8_t v = 1;
    Bytes destination(1);
    EXPECT_EQ(link.read_block(0x20, 1, destination.data()), -1);
    serial.replies.push_back(serial_ack(Command::write, 0x20, 1));
    EXPECT_EQ(link.write_block(0x20, 1, &v), 0);
    EXPECT_EQ(state.connected, 1);
    EXPECT_EQ(state.error_count, 30);

    EXPECT_EQ(link.store_block(0x20, 1, &v), -1);
    EXPECT_EQ(state.connected, 0);
}

TEST(LinkWithoutStatus, FailureIsCountedWithoutASink)
{
    LinkState state;
    state.connected = 1;
    FakeSerial serial;
    DeviceLink link(state, &serial, nullptr, nullptr);
    const std::uint8_t v = 0;
    EXPECT_EQ(link.write_block(0, 1, &v), -1);
    EXPECT_EQ(state.error_count, 1);
}

// ---- transport choice and TCP errors ----

TEST_F(LinkFixture, TransportIsChosenOnEveryCall)
{
    const std::uint8_t v = 2;
    serial.replies.push_back(serial_ack(Command::write, 0x15E, 1));
    tcp.replies.push_back(tcp_ack(Command::write, 0x15E, 1));
    EXPECT_EQ(link.write_block(0x15E, 1, &v), 0);
    state.network_mode = 1;
    EXPECT_EQ(link.write_block(0x15E, 1, &v), 0);
    state.network_mode = 0;
    state.serial_port = 7;
    serial.replies.push_back(serial_ack(Command::write, 0x15E, 1));
    EXPECT_EQ(link.write_block(0x15E, 1, &v), 0);
    EXPECT_EQ(serial.written.size(), 2u);
    EXPECT_EQ(tcp.sent.size(), 1u);
    EXPECT_EQ(serial.ports.back(), 7);
}

// The window builds its link before its transports and hands them in later;
// the backends must exchange through the transports set last.
TEST(LinkTransportsSetLater, ExchangesGoThroughTheTransportsSetLast)
{
    LinkState state;
    state.connected = 1;
    state.serial_port = 2;
    DeviceLink link(state, nullptr, nullptr, nullptr);
    FakeSerial serial;
    FakeTcp tcp;
    link.set_serial(&serial);
    link.set_tcp(&tcp);
    EXPECT_EQ(link.serial(), &serial);
    EXPECT_EQ(link.tcp(), &tcp);

    const std::uint8_t v = 2;
    serial.replies.push_back(serial_ack(Command::write, 0x15E, 1));
    EXPECT_EQ(link.write_block(0x15E, 1, &v), 0);
    state.network_mode = 1;
    tcp.replies.push_back(tcp_ack(Command::write, 0x15E, 1));
    EXPECT_EQ(link.write_block(0x15E, 1, &v), 0);
    EXPECT_EQ(serial.written.size(), 1u);
    EXPECT_EQ(tcp.sent.size(), 1u);
    EXPECT_EQ(serial.ports, (std::vector<int>{2, 2}));

    // Taken away again: TCP raises; the serial line fails like a time-out,
    // uncounted for a read and counted for a write.
    link.set_tcp(nullptr);
    EXPECT_THROW(link.write_block(0x15E, 1, &v), LinkError);
    state.network_mode = 0;
    link.set_serial(nullptr);
    std::uint8_t b = 0x5A;
    EXPECT_EQ(link.read_block(0x15E, 1, &b), -1);
    EXPECT_EQ(b, 0x5A);
    EXPECT_EQ(state.error_count, 0);
    EXPECT_EQ(link.write_block(0x15E, 1, &v), -1);
    EXPECT_EQ(state.error_count, 1);
    EXPECT_EQ(serial.written.size(), 1u);
}

struct TcpFailureCase {
    const char* name;
    Command command;
    bool fail_send;  // else the reply never comes
};

void PrintTo(const TcpFailureCase& c, std::ostream* os) { *os << c.name; }

class TcpFailureTest : public LinkFixture, public testing::WithParamInterface<TcpFailureCase> {};

TEST_P(TcpFailureTest, LinkErrorPassesThroughAndChangesNothing)
{
    const auto& c = GetParam();
    state.network_mode = 1;
    state.error_count = 7;
    tcp.fail_send = c.fail_send;
    Bytes buffer(4, 0xEE);
    const auto call = [&] {
        switch (c.command) {
        case Command::read: return link.read_block(0, 4, buffer.data());
        case Command::write: return link.write_block(0, 4, buffer.data());
        case Command::store: return link.store_block(0, 4, buffer.data());
        }
        return 0;
    };
    EXPECT_THROW(call(), LinkError);
    EXPECT_EQ(state.error_count, 7);
    EXPECT_EQ(state.connected, 1);
    EXPECT_EQ(state.network_mode, 1);
    EXPECT_EQ(buffer, Bytes(4, 0xEE));
    EXPECT_TRUE(status.link_texts.empty());
}

INSTANTIATE_TEST_SUITE_P(Errors, TcpFailureTest,
                         testing::Values(TcpFailureCase{"ReadRefused", Command::read, true},
                                         TcpFailureCase{"ReadNoReply", Command::read, false},
                                         TcpFailureCase{"WriteRefused", Command::write, true},
                                         TcpFailureCase{"StoreNoReply", Command::store, false}),
                         [](const auto& info) { return info.param.name; });

TEST(LinkWithoutTcp, NetworkModeWithoutAClientRaisesLinkError)
{
    LinkState state;
    state.network_mode = 1;
    DeviceLink link(state, nullptr, nullptr, nullptr);
    std::uint8_t b = 0;
    EXPECT_THROW(link.read_block(0, 1, &b), LinkError);
    EXPECT_THROW(link.write_block(0, 1, &b), LinkError);
}

// ---- requests the link refuses ----

struct BadRequestCase {
    const char* name;
    int address;
    int length;
};

void PrintTo(const BadRequestCase& c, std::ostream* os) { *os << c.name; }

class BadRequestTest : public LinkFixture, public testing::WithParamInterface<BadRequestCase> {};

TEST_P(BadRequestTest, NothingIsSentOrCounted)
{
    const auto& c = GetParam();
    Bytes buffer(max_block_length + 8, 0xEE);
    for (int mode : {0, 1}) {
        state.network_mode = mode;
        EXPECT_EQ(link.read_block(c.address, c.length, buffer.data()), -1) << "mode " << mode;
        EXPECT_EQ(link.write_block(c.address, c.length, buffer.data()), -1) << "mode " << mode;
        EXPECT_EQ(link.store_block(c.address, c.length, buffer.data()), -1) << "mode " << mode;
    }
    EXPECT_TRUE(serial.written.empty());
    EXPECT_TRUE(tcp.sent.empty());
    EXPECT_EQ(state.error_count, 0);
    EXPECT_TRUE(status.link_texts.empty());
    EXPECT_EQ(buffer, Bytes(max_block_length + 8, 0xEE));
}

INSTANTIATE_TEST_SUITE_P(Refused, BadRequestTest,
                         testing::Values(BadRequestCase{"ZeroLength", 0, 0},
                                         BadRequestCase{"NegativeLength", 0, -1},
                                         BadRequestCase{"LongerThanTheBuffers", 0, max_block_length + 1},
                                         BadRequestCase{"NegativeAddress", -1, 1},
                                         BadRequestCase{"AddressBeyond16Bits", 0x10000, 1}),
                         [](const auto& info) { return info.param.name; });

TEST_F(LinkFixture, LongestBlockFillsTheSerialBuffers)
{
    Bytes data(max_block_length);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13);
    Bytes reply{0xCA, 0x03, 0x00, 0x00, 0x03, 0xF9};
    reply.insert(reply.end(), data.begin(), data.end());
    serial.replies.push_back(with_checksum(reply));

    Bytes destination(max_block_length, 0);
    ASSERT_EQ(link.read_block(0, max_block_length, destination.data()), 0);
    EXPECT_EQ(destination, data);

    serial.replies.push_back(serial_ack(Command::store, 0, max_block_length));
    ASSERT_EQ(link.store_block(0, max_block_length, data.data()), 0);
    ASSERT_EQ(serial.written.back().size(), static_cast<std::size_t>(serial_buffer_size));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), serial.written.back().begin() + 6));
}

}  // namespace
