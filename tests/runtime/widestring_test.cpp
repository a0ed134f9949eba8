#include "runtime/widestring.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(static_cast<unsigned char>(v));
    return s;
}

std::wstring wide(std::initializer_list<long> values) {
    std::wstring s;
    for (long v : values) s += static_cast<wchar_t>(v);
    return s;
}

enum class Op { Widen, ToUTF16BE, FromUTF16BE, ToUTF8 };

// Each row: one conversion, its byte or wide input, its byte or wide result.
TEST(WideStrings, EdgeCases) {
    const struct {
        const char* name;
        Op op;
        std::string bytesIn;
        std::wstring wideIn;
        std::string bytesOut;
        std::wstring wideOut;
    } cases[] = {
        {"widen reads bytes as signed", Op::Widen, bytes({0x41, 0xE9}), {}, {}, wide({65, -23})},
        {"widen of 0x80 and 0xFF", Op::Widen, bytes({0x80, 0xFF, 0x00}), {}, {}, wide({-128, -1, 0})},
        {"widen of nothing", Op::Widen, "", {}, {}, {}},
        {"widened bytes to UTF-16BE", Op::ToUTF16BE, {}, wide({65, -23}), bytes({0x00, 0x41, 0x00, 0xE9}), {}},
        {"euro sign to UTF-16BE", Op::ToUTF16BE, {}, wide({0x20AC, 0xFFFF}), bytes({0x20, 0xAC, 0xFF, 0xFF}), {}},
        // Quotient and remainder truncate toward zero, each kept as a byte.
        {"below -128 to UTF-16BE", Op::ToUTF16BE, {}, wide({-300}), bytes({0xFF, 0xD4}), {}},
        {"beyond 16 bits to UTF-16BE", Op::ToUTF16BE, {}, wide({0x10041}), bytes({0x00, 0x41}), {}},
        {"UTF-16BE of nothing", Op::ToUTF16BE, {}, {}, "", {}},
        {"UTF-16BE back to widened bytes", Op::FromUTF16BE, bytes({0x00, 0x41, 0x00, 0xE9}), {}, {}, wide({65, -23})},
        // Both bytes are read signed, so a low byte from 0x80 up is not the unit.
        {"UTF-16BE with a high low byte", Op::FromUTF16BE, bytes({0x20, 0xAC}), {}, {}, wide({0x20 * 256 - 84})},
        {"UTF-16BE with a high first byte", Op::FromUTF16BE, bytes({0xFF, 0x41}), {}, {}, wide({-256 + 0x41})},
        {"odd UTF-16BE: missing byte is 0", Op::FromUTF16BE, bytes({0x00, 0x41, 0x01}), {}, {}, wide({65, 256})},
        {"UTF-16BE from nothing", Op::FromUTF16BE, "", {}, {}, {}},
        {"euro sign and widened byte to UTF-8", Op::ToUTF8, {}, wide({0x20AC, -23}), bytes({0xE2, 0x82, 0xAC, 0xE9}), {}},
        {"UTF-8 one-byte limit", Op::ToUTF8, {}, wide({0, 0x7F, -128}), bytes({0x00, 0x7F, 0x80}), {}},
        {"UTF-8 two-byte range", Op::ToUTF8, {}, wide({0x80, 0x7FF}), bytes({0xC2, 0x80, 0xDF, 0xBF}), {}},
        {"UTF-8 three-byte range", Op::ToUTF8, {}, wide({0x800, 0xFFFF}), bytes({0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF}), {}},
        {"UTF-8 drops values past 0xFFFF", Op::ToUTF8, {}, wide({0x41, 0x10000, 0x42}), "AB", {}},
        {"UTF-8 of nothing", Op::ToUTF8, {}, {}, "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        switch (c.op) {
        case Op::Widen: EXPECT_EQ(qdl::widen(c.bytesIn), c.wideOut); break;
        case Op::ToUTF16BE: EXPECT_EQ(qdl::wideToUTF16BE(c.wideIn), c.bytesOut); break;
        case Op::FromUTF16BE: EXPECT_EQ(qdl::utf16BEToWide(c.bytesIn), c.wideOut); break;
        case Op::ToUTF8: EXPECT_EQ(qdl::wideToUTF8(c.wideIn), c.bytesOut); break;
        }
    }
}

// Every byte survives widen, the trip through UTF-16BE, and the way back.
TEST(WideStrings, EveryByteRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::wstring w = qdl::widen(all);
    ASSERT_EQ(w.size(), 256u);
    EXPECT_EQ(qdl::utf16BEToWide(qdl::wideToUTF16BE(w)), w);
    EXPECT_EQ(qdl::wideToUTF8(w), all);
}

}  // namespace
