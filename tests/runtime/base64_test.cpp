#include "runtime/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

namespace {

struct Decoded {
    std::string bytes;
    bool ok;
};

Decoded decode(const std::string& in) {
    std::ostringstream out;
    bool ok = qdl::base64Decode(in, out);
    return {out.str(), ok};
}

std::string encode(const std::string& in, bool alt) {
    std::ostringstream out;
    qdl::base64Encode(in, out, alt);
    return out.str();
}

// The decoder written out one character at a time, as plainly as possible,
// to hold the block decoder to exactly the same results.
Decoded referenceDecode(const std::string& in) {
    auto value = [](unsigned char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/' || c == ',') return 63;
        if (c == '=') return 127;
        return -1;
    };
    Decoded r{"", true};
    for (size_t pos = 0; pos < in.size(); pos += 4) {
        int v[4];
        for (int k = 0; k < 4; ++k) {
            unsigned char c = pos + k < in.size() ? static_cast<unsigned char>(in[pos + k]) : '=';
            v[k] = value(c);
            if (v[k] < 0) {
                r.ok = false;
                return r;
            }
        }
        if (v[0] == 127) continue;
        r.bytes += static_cast<char>(((v[0] << 2) | (v[1] >> 4)) & 0xff);
        if (v[1] == 127 || v[2] == 127) continue;
        r.bytes += static_cast<char>(((v[1] << 4) | (v[2] >> 2)) & 0xff);
        if (v[3] != 127) r.bytes += static_cast<char>(((v[2] << 6) | v[3]) & 0xff);
    }
    return r;
}

TEST(Base64, EncodeTable) {
    struct Case {
        std::string in;
        const char* standard;
        const char* second;
    } cases[] = {
        {"", "", ""},
        {"M", "TQ==", "TQ"},
        {"Ma", "TWE=", "TWE"},
        {"Man", "TWFu", "TWFu"},
        {"\xff", "/w==", ",w"},
        {"\xff\xff\xff", "////", ",,,,"},
        {"\xfb\xef\xbe", "++++", "++++"},
        {std::string(1, '\0'), "AA==", "AA"},
        {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
        {"fooba", "Zm9vYmE=", "Zm9vYmE"},
        {"hello world\n", "aGVsbG8gd29ybGQK", "aGVsbG8gd29ybGQK"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encode(c.in, false), c.standard) << c.in;
        EXPECT_EQ(encode(c.in, true), c.second) << c.in;
        EXPECT_EQ(qdl::base64EncodeString(c.in), c.standard) << c.in;
        EXPECT_EQ(qdl::base64EncodeString(c.in, true), c.second) << c.in;
    }
}

TEST(Base64, DecodeTable) {
    struct Case {
        const char* in;
        std::string bytes;
        bool ok;
    } cases[] = {
        {"", "", true},
        {"TWFu", "Man", true},
        {"TWE=", "Ma", true},
        {"TWE", "Ma", true},  // a missing character counts as padding
        {"TQ==", "M", true},
        {"TQ", "M", true},
        {"TWFu\n", "Man", false},  // line ends are not skipped
        {"TW Fu", "", false},
        {"TWFuTW Fu", "Man", false},  // earlier groups stay written
        {"TQ==TWFu", "MMan", true},   // padding ends only its own group
        {",w==", "\xff", true},
        {"/w==", "\xff", true},
        {",w", "\xff", true},
        {"====", "", true},
        {"====TWFu", "Man", true},
        {"T", "O", true},  // a lone character still yields its byte
        {"T===", "O", true},
        {"TW=u", "M", true},
        {"TWE*", "", false},
        {"Zm9vYmFy", "foobar", true},
        {"Zm9v\xc3\xa9", "foo", false},
    };
    for (const Case& c : cases) {
        Decoded d = decode(c.in);
        EXPECT_EQ(d.bytes, c.bytes) << c.in;
        EXPECT_EQ(d.ok, c.ok) << c.in;
        bool failed = !c.ok;
        EXPECT_EQ(qdl::base64DecodeString(c.in, failed), c.bytes) << c.in;
        EXPECT_EQ(failed, !c.ok) << c.in;
        EXPECT_EQ(qdl::base64DecodeString(c.in), c.bytes) << c.in;
    }
}

TEST(Base64, RoundTripAllBytesAndLengths) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (size_t len = 0; len <= 300; ++len) {
        for (size_t offset : {size_t(0), size_t(97)}) {
            std::string in;
            for (size_t i = 0; i < len; ++i) in += all[(i + offset) % 256];
            for (bool alt : {false, true}) {
                std::string enc = encode(in, alt);
                ASSERT_EQ(enc, qdl::base64EncodeString(in, alt));
                ASSERT_EQ(enc.size(), alt ? (len * 4 + 2) / 3 : (len + 2) / 3 * 4) << len;
                Decoded d = decode(enc);
                ASSERT_TRUE(d.ok) << len;
                ASSERT_EQ(d.bytes, in) << len << " alt " << alt;
                bool failed = true;
                ASSERT_EQ(qdl::base64DecodeString(enc, failed), in);
                ASSERT_FALSE(failed);
            }
        }
    }
}

// Inputs that span several internal blocks, so the block boundaries and a
// failure deep inside are covered too.
TEST(Base64, LargeInputs) {
    std::mt19937 rng(7);
    std::string in(200003, '\0');
    for (char& c : in) c = static_cast<char>(rng());
    std::string enc = encode(in, false);
    EXPECT_EQ(decode(enc).bytes, in);

    std::string broken = enc;
    broken[150001] = '\n';
    Decoded d = decode(broken);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.bytes, in.substr(0, 150000 / 4 * 3));
    bool failed = false;
    EXPECT_EQ(qdl::base64DecodeString(broken, failed), d.bytes);
    EXPECT_TRUE(failed);
}

// Random texts from a small alphabet rich in padding and invalid bytes.
TEST(Base64, DecodeMatchesReferenceOnOddInputs) {
    const std::string alphabet = "AZaz09+/,=\n =\xff\x80QwE";
    std::mt19937 rng(12345);
    for (int round = 0; round < 20000; ++round) {
        size_t len = rng() % 40;
        std::string in;
        for (size_t i = 0; i < len; ++i) {
            // Mostly valid characters, so that decoding gets somewhere.
            in += rng() % 4 ? alphabet[rng() % 8] : alphabet[rng() % alphabet.size()];
        }
        Decoded want = referenceDecode(in);
        Decoded got = decode(in);
        ASSERT_EQ(got.bytes, want.bytes) << '"' << in << '"';
        ASSERT_EQ(got.ok, want.ok) << '"' << in << '"';
        bool failed = want.ok;
        ASSERT_EQ(qdl::base64DecodeString(in, failed), want.bytes);
        ASSERT_EQ(failed, !want.ok);
    }
}

}  // namespace
