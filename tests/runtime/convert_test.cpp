#include "runtime/convert.h"

#include <climits>
#include <gtest/gtest.h>

namespace {

TEST(StringToInt, ReadsLeadingNumberOrGivesZero) {
    struct Case {
        const char* text;
        int expected;
    } cases[] = {
        {" 17", 17},          {"-5", -5},       {"", 0},
        {"x1", 0},            {"12abc", 12},    {"+3", 3},
        {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
        {"2147483648", 0},    {"99999999999", 0}, {"-2147483649", 0},
        {"   ", 0},           {"-", 0},         {"0x10", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(qdl::stringToInt(c.text), c.expected) << '"' << c.text << '"';
}

TEST(StringToUnsigned, RejectsMinusAndOverflow) {
    struct Case {
        const char* text;
        unsigned expected;
    } cases[] = {
        {"42", 42},   {"abc", 0},  {"-1", 0},  {" -1", 0},  {"+7", 7},
        {"4294967295", UINT_MAX}, {"4294967296", 0}, {"7 days", 7}, {"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(qdl::stringToUnsigned(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ToString, WritesPlainDecimal) {
    EXPECT_EQ(qdl::toString(-42), "-42");
    EXPECT_EQ(qdl::toString(0), "0");
    EXPECT_EQ(qdl::toString(0u), "0");
    EXPECT_EQ(qdl::toString(UINT_MAX), "4294967295");
    EXPECT_EQ(qdl::toString(INT_MIN), "-2147483648");
    EXPECT_EQ(qdl::toString(1234567), "1234567");  // no grouping
}

TEST(ToString, RoundTripsThroughStringToInt) {
    for (int v : {INT_MIN, -1000, -1, 0, 1, 99, INT_MAX}) EXPECT_EQ(qdl::stringToInt(qdl::toString(v)), v);
}

TEST(ReplaceAll, ReplacesEveryOccurrenceWithoutRescanning) {
    struct Case {
        const char* text;
        const char* from;
        const char* to;
        const char* result;
        bool changed;
    } cases[] = {
        {"abcb", "b", "c", "accc", true},
        {"abc", "z", "y", "abc", false},
        {"abc", "", "y", "abc", false},
        {"aa", "a", "aa", "aaaa", true},    // inserted text is not searched again
        {"aaaa", "aa", "a", "aa", true},
        {"a.b.c", ".", "", "abc", true},
        {"", "a", "b", "", false},
        {"xyx", "xyx", "", "", true},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(qdl::replaceAll(text, c.from, c.to), c.changed) << c.text << " " << c.from;
        EXPECT_EQ(text, c.result) << c.text << " " << c.from;
    }
}

TEST(EndsWith, ComparesSuffixBeforeSkippedTail) {
    struct Case {
        std::string text;
        std::string ending;
        size_t skip;
        bool expected;
    } cases[] = {
        {"index.html", ".html", 0, true},
        {"index.html~", ".html", 1, true},
        {"index.html~", ".html", 0, false},
        {"ml", ".html", 0, false},
        {".html", ".html", 0, true},
        {".html", ".html", 1, false},
        {"abc", "", 0, true},
        {"abc", "", 3, true},
        {"abc", "", 4, false},
        {"", "", 0, true},
        {"abc", "abc", 10, false},
        {std::string("x\0a", 3), std::string("\0b", 2), 0, false},  // bytes after a NUL count
        {std::string("x\0b", 3), std::string("\0b", 2), 0, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qdl::endsWith(c.text, c.ending, c.skip), c.expected) << c.text << " / " << c.ending << " / " << c.skip;
}

}  // namespace
