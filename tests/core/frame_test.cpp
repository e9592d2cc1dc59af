// The frame codec on its own: the layouts both framings share, the replies
// the processor builds, and how far a stream framer may trust a header.
#include "core/frame.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace tk770;

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(FrameChecksum, IsTheSumModulo256)
{
    EXPECT_EQ(checksum(Bytes{}), 0);
    EXPECT_EQ(checksum(Bytes{0xCA, 0x03, 0x01, 0xF4, 0x01, 0x50}), 0x13);
    EXPECT_EQ(checksum(Bytes(257, 0xFF)), 0xFF) << "257 * 255 = 0x FFFF";
}

TEST(FrameReplies, ProcessorRepliesByteForByte)
{
    struct Case {
        const char* name;
        Bytes built;
        Bytes expected;
    };
    const Case cases[] = {
        {"serial read reply", build_read_reply(Framing::serial, 0x136, Bytes{0x82, 0x01}),
         {0xCA, 0x03, 0x01, 0x36, 0x00, 0x02, 0x82, 0x01, 0x89}},
        {"tcp read reply", build_read_reply(Framing::tcp, 0x136, Bytes{0x82, 0x01}),
         {0x03, 0x01, 0x36, 0x00, 0x02, 0x82, 0x01, 0xBF}},
        {"serial store ack", build_ack(Framing::serial, Command::store, 0x190, 12),
         {0xCA, 0x10, 0x01, 0x90, 0x00, 0x0C, 0x77}},
        {"tcp write ack", build_ack(Framing::tcp, Command::write, 0x15E, 1), {0x06, 0x01, 0x5E, 0x00, 0x01, 0x66}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.built, c.expected) << c.name;
}

// What one side builds the other side takes: every request parses back to
// what was asked, and every reply passes its own transport's judging.
TEST(FrameRoundTrip, RequestsParseAndRepliesAreAccepted)
{
    const Bytes data{0x11, 0x22, 0x33};
    for (const auto framing : {Framing::serial, Framing::tcp}) {
        SCOPED_TRACE(framing == Framing::serial ? "serial" : "tcp");
        for (const auto cmd : {Command::read, Command::write, Command::store}) {
            Bytes frame(32);
            const std::size_t size = cmd == Command::read ? build_read_request(framing, 0x3F0, 3, frame)
                                                          : build_request(framing, cmd, 0x3F0, data, frame);
            ASSERT_GT(size, 0u);
            frame.resize(size);
            EXPECT_EQ(request_extent(framing, frame), size);
            Request request;
            ASSERT_EQ(parse_request(framing, frame, request), FrameError::none);
            EXPECT_EQ(request.command, cmd);
            EXPECT_EQ(request.address, 0x3F0);
            EXPECT_EQ(request.length, 3);
            EXPECT_EQ(Bytes(request.data.begin(), request.data.end()), cmd == Command::read ? Bytes{} : data);
        }
        EXPECT_TRUE(read_reply_ok(framing, build_read_reply(framing, 0x3F0, data), 0x3F0, 3));
        EXPECT_TRUE(ack_ok(framing, build_ack(framing, Command::store, 0x3F0, 3), Command::store, 0x3F0, 3));
    }
}

// With a checksum appended, as the processor sends it.
Bytes summed(Bytes bytes)
{
    bytes.push_back(checksum(bytes));
    return bytes;
}

// Judged as the answer to a read of 2 bytes at 0x102 and to a store of 2
// bytes at 0x102. A reply must echo its own request's header: an answer that
// came late to an earlier request is never taken for this one's.
TEST(FrameJudging, EachTransportByItsOwnRule)
{
    struct Case {
        const char* name;
        Framing framing;
        Bytes reply;
        bool read_ok;   // as the reply to the read
        bool store_ok;  // as the acknowledgement of the store
    };
    const Case cases[] = {
        {"serial read reply", Framing::serial, summed({0xCA, 0x03, 0x01, 0x02, 0, 2, 0x11, 0x22}), true, false},
        {"serial read, wrong sum", Framing::serial, {0xCA, 0x03, 0x01, 0x02, 0, 2, 0x11, 0x22, 0x00}, false, false},
        {"serial read of another address", Framing::serial, summed({0xCA, 0x03, 0, 0, 0, 2, 0x11, 0x22}), false,
         false},
        {"serial read without the lead byte", Framing::serial, summed({0x00, 0x03, 0x01, 0x02, 0, 2, 0x11, 0x22}),
         false, false},
        {"serial read reply one byte long", Framing::serial, summed({0xCA, 0x03, 0x01, 0x02, 0, 2, 0x11}), false,
         false},
        {"serial store acknowledged, sum not examined", Framing::serial, {0xCA, 0x10, 0x01, 0x02, 0, 2, 0xEE}, false,
         true},
        {"serial acknowledgement of a write", Framing::serial, summed({0xCA, 0x06, 0x01, 0x02, 0, 2}), false, false},
        {"serial acknowledgement of another address", Framing::serial, summed({0xCA, 0x10, 0x01, 0xF4, 0, 2}), false,
         false},
        {"serial acknowledgement of another length", Framing::serial, summed({0xCA, 0x10, 0x01, 0x02, 0, 1}), false,
         false},
        {"serial, seven bytes of anything", Framing::serial, Bytes(7, 0xEE), false, false},
        {"serial, six bytes", Framing::serial, {0xCA, 0x10, 0x01, 0x02, 0, 2}, false, false},
        {"tcp read, sum not examined", Framing::tcp, {0x03, 0x01, 0x02, 0, 2, 0x11, 0x22, 0x00}, true, false},
        {"tcp read of another address", Framing::tcp, summed({0x03, 0, 0, 0, 2, 0x11, 0x22}), false, false},
        {"tcp read of another length", Framing::tcp, summed({0x03, 0x01, 0x02, 0, 3, 0x11, 0x22}), false, false},
        {"tcp ack repeats the header", Framing::tcp, {0x10, 0x01, 0x02, 0, 2, 0}, false, true},
        {"tcp ack of another command", Framing::tcp, {0x06, 0x01, 0x02, 0, 2, 0}, false, false},
        {"tcp ack of another address", Framing::tcp, {0x10, 0x01, 0x03, 0, 2, 0}, false, false},
        {"tcp ack with only its first byte right", Framing::tcp, {0x10, 0, 0, 0, 0, 0}, false, false},
        {"tcp nothing", Framing::tcp, {}, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read_reply_ok(c.framing, c.reply, 0x102, 2), c.read_ok) << c.name;
        EXPECT_EQ(ack_ok(c.framing, c.reply, Command::store, 0x102, 2), c.store_ok) << c.name;
    }
}

TEST(FrameExtent, HowMuchAHeaderPromises)
{
    struct Case {
        const char* name;
        Framing framing;
        Bytes head;
        std::optional<std::size_t> extent;
    };
    const Case cases[] = {
        {"serial header incomplete", Framing::serial, {0xCA, 0x03, 0x00, 0x10, 0x00}, std::nullopt},
        {"serial read", Framing::serial, {0xCA, 0x03, 0x00, 0x10, 0x03, 0xFF}, 7},
        {"serial write of 2", Framing::serial, {0xCA, 0x06, 0x00, 0x10, 0x00, 0x02}, 9},
        {"tcp store of the whole memory", Framing::tcp, {0x10, 0x00, 0x00, 0x04, 0x00}, 1030},
        {"tcp store longer than the memory", Framing::tcp, {0x10, 0x00, 0x00, 0x04, 0x01}, 0},
        {"tcp unknown command", Framing::tcp, {0x04, 0x00, 0x00, 0x00, 0x01}, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(request_extent(c.framing, c.head), c.extent) << c.name;
}

TEST(FrameBuild, RefusesAddressesBeyondSixteenBits)
{
    Bytes out(16);
    EXPECT_EQ(build_read_request(Framing::tcp, 0x10000, 1, out), 0u);
    EXPECT_EQ(build_request(Framing::serial, Command::write, -1, Bytes{1}, out), 0u);
    EXPECT_EQ(build_read_request(Framing::serial, 0xFFFF, 1, out), 7u);
}

}  // namespace
