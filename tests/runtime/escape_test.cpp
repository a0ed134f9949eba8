#include <gtest/gtest.h>

#include "runtime/escape.h"

using qdl::cgpEscape;
using qdl::cgpUnescape;

namespace {
std::string s(const char* p, size_t n) { return std::string(p, n); }
}

TEST(Escape, EscapesTheServersCharacters) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"a\r\nb", "a\\eb"},
        {"\"hi\"", "\\\"hi\\\""},
        {"\\", "\\\\"},
        {"\t", "\\t"},
        {s("\0", 1), "\\0"},
        {"", ""},
        {"\\e", "\\\\e"},  // an existing backslash is doubled, not read as an escape
        {"\x80\xff\x01", "\x80\xff\x01"},
    };
    for (const auto& c : cases) EXPECT_EQ(cgpEscape(c.in), c.out) << c.in;
}

TEST(Escape, UnescapesAndKeepsUnknownEscapes) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"\\x", "\\x"},
        {"abc\\", "abc\\"},
        {"\\e", "\n"},
        {"\\t", "\t"},
        {"\\\"", "\""},
        {"\\\\", "\\"},
        {"\\r\\n", "\\r\\n"},
        {"\\012", s("\0" "12", 3)},
        {"", ""},
        {"\x80\xff", "\x80\xff"},
    };
    for (const auto& c : cases) EXPECT_EQ(cgpUnescape(c.in), c.out) << c.in;
}

TEST(Escape, RoundTripsEveryByteButCR) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        if (i != '\r') all += static_cast<char>(i);
    EXPECT_EQ(cgpUnescape(cgpEscape(all)), all);
    EXPECT_EQ(cgpEscape(all).find('\n'), std::string::npos);
}

// cgpEscapeKeeps tells exactly when the round trip gives the text back:
// each byte alone, between others, before and after a backslash.
TEST(Escape, KeepsTellsWhenTheRoundTripHolds) {
    for (int i = 0; i < 256; ++i) {
        SCOPED_TRACE(i);
        const std::string b(1, static_cast<char>(i));
        for (const std::string& text : {b, "a" + b + "z", "\\" + b, b + "\\", b + b}) {
            EXPECT_EQ(qdl::cgpEscapeKeeps(text), cgpUnescape(cgpEscape(text)) == text);
        }
    }
    EXPECT_TRUE(qdl::cgpEscapeKeeps(""));
    EXPECT_FALSE(qdl::cgpEscapeKeeps("pa\rss"));
}
