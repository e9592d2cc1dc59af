// The simulated processor without sockets: memory, answers, framers, faults.
#include "core/frame_reader.h"
#include "sim/sim_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace tk770 {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(const std::string& text)
{
    Bytes out;
    std::istringstream in(text);
    std::string token;
    while (in >> token) out.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
    return out;
}

// The test's own encoder, so frames with arbitrary data need not be spelled
// out byte by byte; the hand-written tables below pin the layout itself.
Bytes request(Framing framing, std::uint8_t cmd, int address, int length, const Bytes& data = {})
{
    Bytes out(framing == Framing::serial ? 1 : 0, 0xCA);
    for (const int b : {int{cmd}, address >> 8, address, length >> 8, length})
        out.push_back(static_cast<std::uint8_t>(b));
    for (const auto b : data) out.push_back(b);
    out.push_back(checksum(out));
    return out;
}

std::string name(Framing framing) { return framing == Framing::serial ? "serial" : "tcp"; }

// ------------------------------------------------------------ factory memory

TEST(SimDeviceMemory, StartsWithNewProjectValuesIdentityAndNetwork)
{
    const SimDevice device;
    const auto& m = device.working();
    struct Case {
        int address;
        Bytes expected;
        const char* what;
    };
    const std::vector<Case> cases = {
        {0, hex("50 50 50 50 50 50 50 50 00 04 00 00"), "levels, spares, preset, MIC routing, low-pass"},
        {12, hex("2C 2C 2C 2C 2C 2C 2C 2C 00 00 00 00 00 00 00 00 00 00"), "gains 44, delays 0, flags 0"},
        {30, hex("3C 00 02 50 00 02"), "subwoofer sections"},
        {36, hex("01 03 01 03"), "tone of channel 0"},
        {60, hex("01 03 01 03 00"), "tone of channel 6, first EQ band"},
        {252, hex("00"), "last EQ band"},
        {253, hex("00"), "gap between runs A and B"},
        {300, hex("01 00 00 00 00 46 00 00 04 05 00 53"), "system block"},
        {0x15E, hex("00 00"), "command registers"},
        {0x190, hex("C0 A8 00 08 FF FF FF 00 C0 A8 00 01"), "network block"},
        {500, Bytes(40, 0), "profile text 0"},
        {0x334, hex("54 4B 37 37 30 00 00 00 00 00 00 00 00 00 00 00"), "model"},
        {0x344, hex("54 4B 37 37 30 30 30 30 30 30 30 31 00 00 00 00"), "serial number"},
        {0x354, hex("56 31 2E 30 30 00 00 00 00 00 00 00 00 00 00 00"), "firmware version"},
        {0x364, hex("32 30 32 36 2D 30 31 2D 31 35 00 00 00 00 00 00"), "firmware date"},
        {0x374, hex("00"), "after the identity"},
    };
    for (const auto& c : cases) {
        const Bytes actual(m.begin() + c.address, m.begin() + c.address + static_cast<long>(c.expected.size()));
        EXPECT_EQ(actual, c.expected) << c.what;
    }
    EXPECT_EQ(device.nonvolatile(), device.working());
}

// ------------------------------------------------------------ answers

TEST(SimDeviceAnswer, ReadsReplyWithTheFramingOfTheRequest)
{
    struct Case {
        Framing framing;
        const char* request;
        const char* reply;
    };
    const Case cases[] = {
        {Framing::tcp, "03 00 00 00 05 08", "03 00 00 00 05 50 50 50 50 50 98"},
        {Framing::serial, "CA 03 00 00 00 05 D2", "CA 03 00 00 00 05 50 50 50 50 50 62"},
        {Framing::serial, "CA 03 03 44 00 10 24",
         "CA 03 03 44 00 10 54 4B 37 37 30 30 30 30 30 30 30 31 00 00 00 00 B2"},
        {Framing::tcp, "03 01 2C 00 0C 3C", "03 01 2C 00 0C 01 00 00 00 00 46 00 00 04 05 00 53 DF"},
        {Framing::serial, "CA 03 01 90 00 0C 6A",
         "CA 03 01 90 00 0C C0 A8 00 08 FF FF FF 00 C0 A8 00 01 40"},
    };
    for (const auto& c : cases) {
        SimDevice device;
        const auto outcome = device.handle(c.framing, hex(c.request));
        EXPECT_EQ(outcome.reply, hex(c.reply)) << c.request;
        EXPECT_FALSE(outcome.nonvolatileChanged);
    }
}

TEST(SimDeviceAnswer, WriteChangesWorkingOnlyAndStoreBothCopies)
{
    struct Case {
        Framing framing;
        const char* request;
        const char* ack;
        int address;
        std::uint8_t value;
        bool stored;
    };
    const Case cases[] = {
        {Framing::serial, "CA 06 00 81 00 01 F6 48", "CA 06 00 81 00 01 52", 0x81, 0xF6, false},
        {Framing::tcp, "06 00 81 00 01 F6 7E", "06 00 81 00 01 88", 0x81, 0xF6, false},
        {Framing::serial, "CA 10 01 34 00 01 07 17", "CA 10 01 34 00 01 10", 0x134, 0x07, true},
        {Framing::tcp, "10 01 34 00 01 07 4D", "10 01 34 00 01 46", 0x134, 0x07, true},
    };
    for (const auto& c : cases) {
        SimDevice device;
        const auto before = device.nonvolatile();
        const auto outcome = device.handle(c.framing, hex(c.request));
        EXPECT_EQ(outcome.reply, hex(c.ack)) << c.request;
        EXPECT_EQ(device.working()[c.address], c.value) << c.request;
        EXPECT_EQ(outcome.nonvolatileChanged, c.stored) << c.request;
        if (c.stored) {
            EXPECT_EQ(device.nonvolatile(), device.working()) << c.request;
        } else {
            EXPECT_EQ(device.nonvolatile(), before) << c.request;
        }
        // What was written is what a read returns.
        const auto read = device.handle(c.framing, request(c.framing, 0x03, c.address, 1));
        ASSERT_FALSE(read.reply.empty());
        EXPECT_EQ(read.reply[read.reply.size() - 2], c.value) << c.request;
    }
}

TEST(SimDeviceAnswer, BlockWriteOfTheWholeMemoryEdge)
{
    SimDevice device;
    Bytes tail(16, 0x5A);
    auto outcome = device.handle(Framing::tcp, request(Framing::tcp, 0x06, 0x3F0, 16, tail));
    ASSERT_FALSE(outcome.reply.empty()) << "a block ending at 0x3FF is inside the memory";
    EXPECT_EQ(device.working()[0x3FF], 0x5A);

    outcome = device.handle(Framing::serial, request(Framing::serial, 0x03, 0, 1024));
    ASSERT_EQ(outcome.reply.size(), 1024u + 7u);
    EXPECT_EQ(outcome.reply[6 + 0x3FF], 0x5A);
}

TEST(SimDeviceAnswer, CommandRegistersSaveBackUpAndRestart)
{
    struct Case {
        const char* what;
        int address;
        std::uint8_t code;
        bool saves;
        bool backs_up;
        bool restarts;
    };
    const Case cases[] = {
        {"save to memory", 0x15E, 2, true, false, false},
        {"back up to IC card", 0x15E, 1, false, true, false},
        {"restart", 0x15F, 2, false, false, true},
        {"unknown code on the command register", 0x15E, 3, false, false, false},
        {"save code on the restart register", 0x15F, 1, false, false, false},
    };
    for (const auto framing : {Framing::serial, Framing::tcp}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(name(framing) + ": " + c.what);
            SimDevice device;
            const auto factory = device.nonvolatile();
            // A parameter change that only a save or a backup would carry along.
            device.handle(framing, request(framing, 0x06, 0x131, 1, {33}));
            const auto changed = device.working();

            const auto outcome = device.handle(framing, request(framing, 0x06, c.address, 1, {c.code}));
            EXPECT_FALSE(outcome.reply.empty());
            EXPECT_EQ(outcome.restart, c.restarts);
            EXPECT_EQ(outcome.nonvolatileChanged, c.saves);
            EXPECT_EQ(device.nonvolatile()[0x131], c.saves ? 33 : 70);
            EXPECT_EQ(device.icCard()[0x131], c.backs_up ? 33 : 0);
            if (c.saves || c.backs_up || c.restarts) {
                EXPECT_EQ(device.working()[c.address], 0) << "a register reads 0 once its command is taken";
                EXPECT_EQ(device.nonvolatile()[c.address], 0);
            } else {
                EXPECT_EQ(device.working()[c.address], c.code);
            }
            if (c.backs_up) {
                auto expected = changed;
                expected[c.address] = 0;
                EXPECT_EQ(device.icCard(), expected);
            }
            // Memory is reloaded only when the restart actually happens.
            EXPECT_EQ(device.working()[0x131], 33);
            device.restart();
            EXPECT_EQ(device.working()[0x131], c.saves ? 33 : 70);
            EXPECT_EQ(device.working()[0x190], factory[0x190]);
        }
    }
}

TEST(SimDeviceAnswer, StoreOfTheSaveCodeLeavesNoCommandByteInMemory)
{
    SimDevice device;
    const auto outcome = device.handle(Framing::serial, request(Framing::serial, 0x10, 0x15E, 1, {2}));
    EXPECT_TRUE(outcome.nonvolatileChanged);
    EXPECT_EQ(device.nonvolatile()[0x15E], 0);
    device.restart();
    EXPECT_EQ(device.working()[0x15E], 0);
}

TEST(SimDeviceAnswer, LoadedNonvolatileCopyIsWhatTheDeviceBootsWith)
{
    SimMemory saved{};
    saved[0x131] = 12;
    SimDevice device;
    device.loadNonvolatile(saved);
    EXPECT_EQ(device.working(), saved);
    device.handle(Framing::tcp, request(Framing::tcp, 0x06, 0x131, 1, {99}));
    device.restart();
    EXPECT_EQ(device.working()[0x131], 12);
}

TEST(SimDeviceAnswer, InvalidRequestsGetNoReplyAndChangeNothing)
{
    struct Case {
        const char* what;
        Bytes frame;
        FrameError error;
    };
    auto corrupt_sum = [](Bytes b) {
        b.back() = static_cast<std::uint8_t>(b.back() + 1);
        return b;
    };
    for (const auto framing : {Framing::serial, Framing::tcp}) {
        const Case cases[] = {
            {"bad checksum on a write", corrupt_sum(request(framing, 0x06, 0x10, 1, {0x77})),
             FrameError::bad_checksum},
            {"bad checksum on a read", corrupt_sum(request(framing, 0x03, 0, 5)), FrameError::bad_checksum},
            {"unknown command", request(framing, 0x04, 0x10, 1, {0x77}), FrameError::unknown_command},
            {"zero length read", request(framing, 0x03, 0x10, 0), FrameError::zero_length},
            {"zero length write", request(framing, 0x06, 0x10, 0), FrameError::zero_length},
            {"read past the end", request(framing, 0x03, 0x3FF, 2), FrameError::out_of_range},
            {"read at 0x400", request(framing, 0x03, 0x400, 1), FrameError::out_of_range},
            {"store past the end", request(framing, 0x10, 0x3FE, 3, {1, 2, 3}), FrameError::out_of_range},
            {"data shorter than announced", [&] {
                 auto b = request(framing, 0x06, 0x10, 2, {0x77, 0x78});
                 b.erase(b.end() - 2);
                 return b;
             }(), FrameError::incomplete},
            {"trailing byte", [&] {
                 auto b = request(framing, 0x03, 0x10, 1);
                 b.push_back(0);
                 return b;
             }(), FrameError::wrong_size},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(name(framing) + ": " + c.what);
            Request parsed;
            EXPECT_EQ(parse_request(framing, c.frame, parsed), c.error);
            SimDevice device;
            const auto before = device.working();
            const auto outcome = device.handle(framing, c.frame);
            EXPECT_TRUE(outcome.reply.empty());
            EXPECT_FALSE(outcome.nonvolatileChanged);
            EXPECT_EQ(device.working(), before);
        }
    }
    // The lead byte belongs to the serial framing only.
    SimDevice device;
    EXPECT_TRUE(device.handle(Framing::serial, request(Framing::tcp, 0x03, 0, 5)).reply.empty());
    EXPECT_TRUE(device.handle(Framing::tcp, request(Framing::serial, 0x03, 0, 5)).reply.empty());
}

// ------------------------------------------------------------ framers

std::vector<Bytes> drain(FrameReader& reader)
{
    std::vector<Bytes> frames;
    while (auto f = reader.next()) frames.push_back(*f);
    return frames;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(SimFrameReader, FramesSplitAnywhereComeOutWhole)
{
    for (const auto framing : {Framing::serial, Framing::tcp}) {
        const Bytes a = request(framing, 0x06, 0x40, 3, {0xCA, 0x03, 0x00});  // lead bytes inside the data
        const Bytes b = request(framing, 0x03, 0x344, 16);
        const Bytes stream = concat({a, b});
        for (std::size_t piece : {1u, 2u, 5u, 7u, 100u}) {
            SCOPED_TRACE(name(framing) + ", pieces of " + std::to_string(piece));
            FrameReader reader(framing);
            std::vector<Bytes> frames;
            for (std::size_t at = 0; at < stream.size(); at += piece) {
                const auto end = std::min(stream.size(), at + piece);
                reader.feed(std::span(stream).subspan(at, end - at));
                for (auto& f : drain(reader)) frames.push_back(f);
            }
            EXPECT_EQ(frames, (std::vector<Bytes>{a, b}));
            EXPECT_EQ(reader.buffered(), 0u);
            EXPECT_TRUE(reader.take_dropped().empty());
        }
    }
}

TEST(SimFrameReader, SerialResynchronisesOnTheNextLeadByte)
{
    const Bytes good = request(Framing::serial, 0x03, 0, 36);
    const Bytes write = request(Framing::serial, 0x06, 0x81, 1, {0xF6});
    struct Case {
        const char* what;
        Bytes garbage;
    };
    const Case cases[] = {
        {"noise without a lead byte", hex("00 11 FF 55")},
        {"a lone lead byte", hex("CA")},
        {"lead byte and unknown command", hex("CA 7F 01")},
        {"lead byte and an impossible length", hex("CA 06 00 00 FF FF")},
        // Announces a 7-byte read, so the real frame's lead byte lands where
        // its checksum should be: only the bad sum reveals the garbage.
        {"a header cut short by a real frame", hex("CA 03 00 00 00 24")},
        {"a correctly framed request outside the memory", request(Framing::serial, 0x03, 0x3FF, 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FrameReader reader(Framing::serial);
        reader.feed(concat({c.garbage, good, write}));
        EXPECT_EQ(drain(reader), (std::vector<Bytes>{good, write}));
        EXPECT_EQ(reader.take_dropped(), c.garbage);
        EXPECT_EQ(reader.buffered(), 0u);
    }
}

TEST(SimFrameReader, TcpDropsWhatItCannotFrame)
{
    const Bytes good = request(Framing::tcp, 0x03, 0, 36);
    auto bad_sum = request(Framing::tcp, 0x06, 0x10, 2, {1, 2});
    bad_sum.back() ^= 0xFF;

    {
        SCOPED_TRACE("a frame with a bad sum is dropped, the next one kept");
        FrameReader reader(Framing::tcp);
        reader.feed(concat({bad_sum, good}));
        EXPECT_EQ(drain(reader), std::vector<Bytes>{good});
        EXPECT_EQ(reader.take_dropped(), bad_sum);
    }
    {
        SCOPED_TRACE("an unknown command takes everything buffered");
        FrameReader reader(Framing::tcp);
        const Bytes garbage = concat({hex("7F 00 00 00 01"), good});
        reader.feed(garbage);
        EXPECT_TRUE(drain(reader).empty());
        EXPECT_EQ(reader.take_dropped(), garbage);
        reader.feed(good);  // the stream recovers with the next segment
        EXPECT_EQ(drain(reader), std::vector<Bytes>{good});
    }
    {
        SCOPED_TRACE("an impossible length is not waited for");
        FrameReader reader(Framing::tcp);
        reader.feed(hex("06 00 00 FF FF 01 02"));
        EXPECT_FALSE(reader.next());
        EXPECT_EQ(reader.buffered(), 0u);
    }
}

TEST(SimFrameReader, DiscardPartialForgetsAnUnfinishedFrame)
{
    const Bytes good = request(Framing::serial, 0x03, 0, 5);
    FrameReader reader(Framing::serial);
    reader.feed(hex("CA 06 00 10 00 20 01 02"));  // waits for 32 data bytes that never come
    EXPECT_FALSE(reader.next());
    reader.discard_partial();
    EXPECT_EQ(reader.take_dropped().size(), 8u);
    reader.feed(good);
    EXPECT_EQ(drain(reader), std::vector<Bytes>{good});
}

TEST(SimFrameReader, BoundedBufferRefusesWhatDoesNotFitAndTakesItOnceFramesAreOut)
{
    const Bytes frame = request(Framing::tcp, 0x03, 0, 36);  // 6 bytes
    FrameReader reader(Framing::tcp, 16);
    EXPECT_TRUE(reader.feed(concat({frame, frame})));
    EXPECT_FALSE(reader.feed(frame)) << "18 bytes in a 16-byte buffer";
    EXPECT_EQ(reader.buffered(), 12u) << "a refused piece is not taken in part";
    EXPECT_EQ(reader.free_space(), 4u);
    EXPECT_EQ(drain(reader), (std::vector<Bytes>{frame, frame}));
    EXPECT_TRUE(reader.feed(concat({frame, frame})));
    EXPECT_EQ(drain(reader), (std::vector<Bytes>{frame, frame}));
    EXPECT_TRUE(reader.take_dropped().empty());
}

TEST(SimFrameReader, LongStreamThroughASmallBufferComesOutWholeAndInOrder)
{
    // Frames are consumed from the front while the rest stays put; the
    // buffer is compacted now and then. Neither may lose, repeat or reorder
    // a byte, whatever the piece size.
    for (const auto framing : {Framing::serial, Framing::tcp}) {
        std::vector<Bytes> sent;
        Bytes stream;
        for (int i = 0; i < 500; ++i) {
            sent.push_back(i % 3 == 0 ? request(framing, 0x06, i, 3, {Bytes::value_type(i), 0xCA, 0x03})
                                      : request(framing, 0x03, i, 1 + i % 40));
            stream.insert(stream.end(), sent.back().begin(), sent.back().end());
        }
        for (const std::size_t piece : {1u, 7u, 13u, 32u}) {
            SCOPED_TRACE(name(framing) + ", pieces of " + std::to_string(piece));
            FrameReader reader(framing, 48);  // a partial frame (at most 9 bytes) plus a piece
            std::vector<Bytes> frames;
            for (std::size_t at = 0; at < stream.size(); at += piece) {
                const auto end = std::min(stream.size(), at + piece);
                ASSERT_TRUE(reader.feed(std::span(stream).subspan(at, end - at)));
                for (auto& f : drain(reader)) frames.push_back(f);
                ASSERT_LE(reader.buffered(), reader.capacity());
            }
            EXPECT_EQ(frames, sent);
            EXPECT_EQ(reader.buffered(), 0u);
            EXPECT_TRUE(reader.take_dropped().empty());
        }
    }
}

// ------------------------------------------------------------ faults

TEST(SimFaults, SpecsParseByName)
{
    struct Case {
        const char* spec;
        bool ok;
        FaultKind kind;
        int value;
    };
    const Case cases[] = {
        {"no-reply:1", true, FaultKind::no_reply, 1},
        {"bad-checksum:3", true, FaultKind::bad_checksum, 3},
        {"short:2", true, FaultKind::short_reply, 2},
        {"surplus:10", true, FaultKind::surplus, 10},
        {"delay:250", true, FaultKind::delay, 250},
        {"delay:0", true, FaultKind::delay, 0},
        {"close:4", true, FaultKind::close, 4},
        {"corrupt:2", true, FaultKind::corrupt, 2},
        {"no-reply:0", false, {}, 0},
        {"no-reply:-1", false, {}, 0},
        {"no-reply", false, {}, 0},
        {"no-reply:", false, {}, 0},
        {"no-reply:2x", false, {}, 0},
        {"noreply:2", false, {}, 0},
        {"", false, {}, 0},
    };
    for (const auto& c : cases) {
        const auto f = parseFault(c.spec);
        ASSERT_EQ(f.has_value(), c.ok) << c.spec;
        if (!f) continue;
        EXPECT_EQ(f->kind, c.kind) << c.spec;
        EXPECT_EQ(f->value, c.value) << c.spec;
        EXPECT_EQ(std::string(faultName(f->kind)), std::string(c.spec).substr(0, std::string(c.spec).find(':')));
    }
}

TEST(SimFaults, EachModeFiresOnEveryNthRequest)
{
    const Bytes reply = hex("CA 06 01 5E 00 01 30");
    struct Case {
        const char* spec;
        Framing framing;
        Bytes mangled;      // what a request that the fault hits gets back
        bool close;
        int delay;
    };
    const Case cases[] = {
        {"no-reply:3", Framing::serial, {}, false, 0},
        {"bad-checksum:3", Framing::serial, hex("CA 06 01 5E 00 01 CF"), false, 0},
        {"short:3", Framing::serial, hex("CA 06 01 5E 00"), false, 0},
        {"surplus:3", Framing::serial, hex("CA 06 01 5E 00 01 30 00 55 AA"), false, 0},
        {"close:3", Framing::tcp, {}, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spec);
        FaultInjector faults;
        faults.add(*parseFault(c.spec));
        for (int n = 1; n <= 6; ++n) {
            Bytes out = reply;
            const auto verdict = faults.apply(c.framing, out);
            const bool hit = n % 3 == 0;
            EXPECT_EQ(out, hit ? c.mangled : reply) << "request " << n;
            EXPECT_EQ(verdict.close, hit && c.close) << "request " << n;
            EXPECT_EQ(verdict.fired.size(), hit ? 1u : 0u) << "request " << n;
        }
        EXPECT_EQ(faults.requestCount(), 6);
        EXPECT_EQ(faults.firedCount(parseFault(c.spec)->kind), 2);
    }
}

TEST(SimFaults, OneShotFormNamesItsRequest)
{
    struct Case {
        const char* spec;
        bool ok;
        FaultKind kind;
        int value;
        int at;
    };
    const Case cases[] = {
        {"no-reply@5", true, FaultKind::no_reply, 5, 5},
        {"bad-checksum@1", true, FaultKind::bad_checksum, 1, 1},
        {"short@12", true, FaultKind::short_reply, 12, 12},
        {"surplus@2", true, FaultKind::surplus, 2, 2},
        {"close@3", true, FaultKind::close, 3, 3},
        {"corrupt@7", true, FaultKind::corrupt, 7, 7},
        {"delay:500@4", true, FaultKind::delay, 500, 4},
        {"no-reply:3", true, FaultKind::no_reply, 3, 0},
        {"no-reply@0", false, {}, 0, 0},
        {"no-reply@", false, {}, 0, 0},
        {"no-reply@-2", false, {}, 0, 0},
        {"no-reply@5x", false, {}, 0, 0},
        {"no-reply:2@5", false, {}, 0, 0},  // a period and a request at once
        {"delay@4", false, {}, 0, 0},       // a delay needs its milliseconds
        {"delay:50@0", false, {}, 0, 0},
        {"noreply@5", false, {}, 0, 0},
        {"@5", false, {}, 0, 0},
    };
    for (const auto& c : cases) {
        const auto f = parseFault(c.spec);
        ASSERT_EQ(f.has_value(), c.ok) << c.spec;
        if (!f) continue;
        EXPECT_EQ(f->kind, c.kind) << c.spec;
        EXPECT_EQ(f->value, c.value) << c.spec;
        EXPECT_EQ(f->at, c.at) << c.spec;
    }
}

TEST(SimFaults, OneShotModeFiresOnItsRequestOnly)
{
    const Bytes reply = hex("CA 06 01 5E 00 01 30");
    FaultInjector faults;
    faults.add(*parseFault("no-reply@2"));
    faults.add(*parseFault("bad-checksum@4"));
    faults.add(*parseFault("delay:70@4"));
    faults.add(*parseFault("close@5"));  // TCP only: the serial line is spared
    for (int n = 1; n <= 8; ++n) {
        Bytes out = reply;
        const auto verdict = faults.apply(Framing::serial, out);
        const Bytes want = n == 2 ? Bytes{} : n == 4 ? hex("CA 06 01 5E 00 01 CF") : reply;
        EXPECT_EQ(out, want) << "request " << n;
        EXPECT_EQ(verdict.delayMs, n == 4 ? 70 : 0) << "request " << n;
        EXPECT_FALSE(verdict.close) << "request " << n;
    }
    EXPECT_EQ(faults.firedCount(FaultKind::no_reply), 1);
    EXPECT_EQ(faults.firedCount(FaultKind::bad_checksum), 1);
    EXPECT_EQ(faults.firedCount(FaultKind::delay), 1);

    FaultInjector tcp;
    tcp.add(*parseFault("close@2"));
    for (int n = 1; n <= 3; ++n) {
        Bytes out = hex("06 01 5E 00 01 66");
        EXPECT_EQ(tcp.apply(Framing::tcp, out).close, n == 2) << "request " << n;
    }
}

TEST(SimFaults, DelayHoldsEveryReplyAndCloseSparesTheSerialLine)
{
    FaultInjector faults;
    faults.add(*parseFault("delay:40"));
    faults.add(*parseFault("close:1"));
    faults.add(*parseFault("no-reply:2"));
    for (int n = 1; n <= 4; ++n) {
        Bytes out = hex("CA 03 00 00 00 01 50 1E");
        const auto verdict = faults.apply(Framing::serial, out);
        EXPECT_FALSE(verdict.close) << "close is a TCP fault";
        // A reply that is not sent is not delayed either.
        EXPECT_EQ(verdict.delayMs, n % 2 == 0 ? 0 : 40) << "request " << n;
        EXPECT_EQ(out.empty(), n % 2 == 0) << "request " << n;
    }
    Bytes out = hex("06 01 5E 00 01 66");
    EXPECT_TRUE(faults.apply(Framing::tcp, out).close);
    EXPECT_TRUE(out.empty());
}

TEST(SimFaults, CombinedModesCorruptTheSumBeforeCuttingIt)
{
    FaultInjector faults;
    faults.add(*parseFault("surplus:1"));
    faults.add(*parseFault("short:1"));
    faults.add(*parseFault("bad-checksum:1"));
    Bytes out = hex("06 01 5E 00 01 66");
    const auto verdict = faults.apply(Framing::tcp, out);
    EXPECT_EQ(out, hex("06 01 5E 00 00 55 AA"));
    EXPECT_EQ(verdict.fired.size(), 3u);
}

TEST(SimFaults, CorruptKeepsAnAlteredWriteOrStoreAndAcknowledgesIt)
{
    // Both framings: request 1 reads, 2 writes and 3 stores are hit by
    // corrupt:1; the read is left alone, the others keep 0x50 XOR 1.
    for (const Framing framing : {Framing::serial, Framing::tcp}) {
        SCOPED_TRACE(name(framing));
        SimDevice device;
        FaultInjector faults;
        faults.add(*parseFault("corrupt:1"));
        const auto exchange = [&](const Bytes& frame) {
            std::vector<std::uint8_t> scratch;
            auto outcome = device.handle(framing, faults.alterRequest(framing, frame, scratch));
            const auto verdict = faults.apply(framing, outcome.reply);
            return std::pair{outcome.reply, verdict.fired.size()};
        };
        const auto [readReply, readFired] = exchange(request(framing, 0x03, 0, 1));
        EXPECT_EQ(readReply, build_read_reply(framing, 0, Bytes{0x50}));
        EXPECT_EQ(readFired, 0u) << "a read carries nothing to corrupt";

        const auto [writeAck, writeFired] = exchange(request(framing, 0x06, 1, 2, {0x50, 0x50}));
        EXPECT_EQ(writeAck, build_ack(framing, Command::write, 1, 2)) << "acknowledged as sent";
        EXPECT_EQ(writeFired, 1u);
        EXPECT_EQ(device.working()[1], 0x51);
        EXPECT_EQ(device.working()[2], 0x50) << "only the first data byte";
        EXPECT_EQ(device.nonvolatile()[1], 0x50);

        exchange(request(framing, 0x10, 300, 1, {0x01}));
        EXPECT_EQ(device.nonvolatile()[300], 0x00) << "the store kept 0x01 XOR 1";
        EXPECT_EQ(faults.firedCount(FaultKind::corrupt), 2);
    }

    // The one-shot form alters its own request only.
    SimDevice device;
    FaultInjector faults;
    faults.add(*parseFault("corrupt@2"));
    for (int n = 1; n <= 3; ++n) {
        std::vector<std::uint8_t> scratch;
        const Bytes frame = request(Framing::tcp, 0x06, n, 1, {0x10});
        auto outcome = device.handle(Framing::tcp, faults.alterRequest(Framing::tcp, frame, scratch));
        faults.apply(Framing::tcp, outcome.reply);
        EXPECT_EQ(device.working()[static_cast<std::size_t>(n)], n == 2 ? 0x11 : 0x10) << "request " << n;
    }
}

TEST(SimTrace, HexIsUppercaseAndSpaced)
{
    EXPECT_EQ(hexBytes(hex("CA 03 0f a0")), "CA 03 0F A0");
    EXPECT_EQ(hexBytes({}), "");
}

}  // namespace
}  // namespace tk770
