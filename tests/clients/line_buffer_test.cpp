#include "clients/line_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clients/net_exception.h"

namespace {

using Ends = qdl::LineBuffer::Ends;

struct Split {
    std::vector<std::string> lines;
    std::string rest;
    bool operator==(const Split& o) const { return lines == o.lines && rest == o.rest; }
};

std::ostream& operator<<(std::ostream& out, const Split& s) {
    for (const auto& l : s.lines) out << "[" << l << "]";
    return out << " rest [" << s.rest << "]";
}

Split split(Ends ends, const std::vector<std::string>& pieces) {
    qdl::LineBuffer buffer(ends);
    Split s;
    std::string line;
    for (const auto& piece : pieces) {
        buffer.feed(piece);
        while (buffer.next(line)) s.lines.push_back(line);
    }
    s.rest = buffer.takeRest();
    return s;
}

const struct {
    const char* name;
    Ends ends;
    std::string in;
    Split out;
} kCases[] = {
    {"CR LF", Ends::lineFeed, "abc\r\ndef", {{"abc"}, "def"}},
    {"bare LF kept as it is", Ends::lineFeed, "a\nb\n", {{"a", "b"}, ""}},
    {"CR LF alone is an empty line", Ends::lineFeed, "\r\n", {{""}, ""}},
    {"only one CR dropped", Ends::lineFeed, "a\r\r\n", {{"a\r"}, ""}},
    {"CR inside a line stays", Ends::lineFeed, "a\rb\n", {{"a\rb"}, ""}},
    {"no line end yet", Ends::lineFeed, "partial", {{}, "partial"}},
    {"every end", Ends::any, "a\r\nb\rc\nd", {{"a", "b", "c"}, "d"}},
    {"CR then CR LF", Ends::any, "a\r\r\nb\n", {{"a", "", "b"}, ""}},
    {"LF CR is two ends", Ends::any, "a\n\rb\r\n", {{"a", "", "b"}, ""}},
    {"empty lines", Ends::any, "\r\n\r\n\n", {{"", "", ""}, ""}},
    {"NUL bytes are data", Ends::any, std::string("a\0b\r\n", 5), {{std::string("a\0b", 3)}, ""}},
};

TEST(LineBuffer, Lines) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(split(c.ends, {c.in}), c.out);
    }
}

// However the bytes are cut into chunks, the same lines come out: a CR at
// the end of one chunk and the LF at the start of the next are one line end.
TEST(LineBuffer, ChunkingChangesNothing) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        for (std::size_t cut = 0; cut <= c.in.size(); ++cut) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            EXPECT_EQ(split(c.ends, {c.in.substr(0, cut), c.in.substr(cut)}), c.out);
        }
        std::vector<std::string> bytes;
        for (char ch : c.in) bytes.push_back(std::string(1, ch));
        EXPECT_EQ(split(c.ends, bytes), c.out);
    }
}

TEST(LineBuffer, DiscardKeepsTheLineEndItIsIn) {
    qdl::LineBuffer buffer(Ends::any);
    std::string line;
    buffer.feed("+OK\r");
    ASSERT_TRUE(buffer.next(line));
    EXPECT_EQ(line, "+OK");
    buffer.discard();
    // The LF of that CR LF comes late: it ends nothing.
    buffer.feed("\n+OK 2 320\r\n");
    ASSERT_TRUE(buffer.next(line));
    EXPECT_EQ(line, "+OK 2 320");

    buffer.feed("left over");
    buffer.discard();
    EXPECT_TRUE(buffer.empty());
    buffer.feed("x\n");
    ASSERT_TRUE(buffer.next(line));
    EXPECT_EQ(line, "x");
}

TEST(LineBuffer, ClearForgetsAPendingLineEnd) {
    qdl::LineBuffer buffer(Ends::any);
    std::string line;
    buffer.feed("a\r");
    ASSERT_TRUE(buffer.next(line));
    buffer.clear();
    buffer.feed("\n");
    ASSERT_TRUE(buffer.next(line));
    EXPECT_EQ(line, "");
}

TEST(LineBuffer, SmallBound) {
    for (Ends ends : {Ends::lineFeed, Ends::any}) {
        qdl::LineBuffer buffer(ends, 10);
        std::string line;
        buffer.feed("0123456789\n");
        ASSERT_TRUE(buffer.next(line));
        EXPECT_EQ(line, "0123456789");
        buffer.feed("0123456789");
        EXPECT_FALSE(buffer.next(line));
        buffer.feed("x");
        try {
            buffer.next(line);
            ADD_FAILURE() << "nothing was thrown";
        } catch (const qdl::ProtocolException& e) {
            EXPECT_EQ(e.message(), "line longer than 10 bytes");
            EXPECT_EQ(e.code(), 0);
        }
        EXPECT_TRUE(buffer.empty());
        // A line with its end in the same chunk is held to the bound too.
        buffer.feed("0123456789x\n");
        EXPECT_THROW(buffer.next(line), qdl::ProtocolException);
    }
}

TEST(LineBuffer, SixtyFourMebibytes) {
    const std::size_t limit = qdl::LineBuffer::kMaxLineLength;
    EXPECT_EQ(limit, 64u * 1024 * 1024);
    const std::string mebibyte(1024 * 1024, 'x');
    qdl::LineBuffer buffer(Ends::any);
    std::string line;
    for (std::size_t fed = 0; fed < limit; fed += mebibyte.size()) {
        buffer.feed(mebibyte);
        ASSERT_FALSE(buffer.next(line));
    }
    buffer.feed("\r\n");
    ASSERT_TRUE(buffer.next(line));
    EXPECT_EQ(line.size(), limit);
    line.clear();
    line.shrink_to_fit();

    for (std::size_t fed = 0; fed < limit; fed += mebibyte.size()) buffer.feed(mebibyte);
    EXPECT_FALSE(buffer.next(line));
    buffer.feed("y");
    EXPECT_THROW(buffer.next(line), qdl::ProtocolException);
    EXPECT_TRUE(buffer.empty());
}

}  // namespace
