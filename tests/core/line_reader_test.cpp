// The text protocol's line framer: endings, pieces, empty lines and lines
// over the limit, which are reported once and skipped to their end.
#include "core/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tk770::LineReader;

namespace {

std::span<const std::uint8_t> bytes(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Feeds the pieces one after the other and collects what comes out;
// "<long>" marks a too-long report.
std::vector<std::string> lines(std::vector<std::string> pieces, std::size_t limit = 8)
{
    LineReader reader(limit);
    std::vector<std::string> out;
    for (const auto& piece : pieces) {
        EXPECT_TRUE(reader.feed(bytes(piece)));
        while (auto line = reader.next()) out.push_back(line->too_long ? "<long>" : line->text);
    }
    return out;
}

using Lines = std::vector<std::string>;

TEST(LineReader, EndingsAndPieces)
{
    EXPECT_EQ(lines({"a\rb\nc\r\nd"}), (Lines{"a", "b", "c"}));
    EXPECT_EQ(lines({"a\r", "\nb\r", "\n"}), (Lines{"a", "b"})) << "CR LF split over two pieces is one ending";
    EXPECT_EQ(lines({"vol", "ume", "\n"}), (Lines{"volume"}));
    EXPECT_EQ(lines({"\r\n\n\r\rx\n"}), (Lines{"x"})) << "empty lines are no lines";
}

TEST(LineReader, LinesOverTheLimitAreReportedOnceAndSkipped)
{
    EXPECT_EQ(lines({"12345678\n"}), (Lines{"12345678"})) << "exactly the limit";
    EXPECT_EQ(lines({"123456789\nok\n"}), (Lines{"<long>", "ok"}));
    EXPECT_EQ(lines({"123456789", "abc", "def\nok\n"}), (Lines{"<long>", "ok"})) << "reported before its end came";
    EXPECT_EQ(lines({"123456789", "\r", "\nok\n"}), (Lines{"<long>", "ok"}));
}

TEST(LineReader, BufferStaysBounded)
{
    LineReader reader(8, 64);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(reader.feed(bytes(std::string(32, 'x'))));
        while (reader.next()) {
        }
        EXPECT_LE(reader.buffered(), 64u);
    }
    EXPECT_FALSE(reader.feed(bytes(std::string(100, 'x')))) << "more than the capacity at once is refused";
}

}  // namespace
