#include "runtime/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>

namespace {

struct Decoded {
    std::string bytes;
    bool ok;
};

// Runs `body` with the vector path off, then (where the processor has it)
// on: both must give the same results.
template <typename Body>
void onBothPaths(Body body) {
    const bool before = qdl::base64UseVectors(false);
    {
        SCOPED_TRACE("the word path");
        body();
    }
    // Stays off where the processor lacks it: then this runs the same again.
    qdl::base64UseVectors(true);
    {
        SCOPED_TRACE("the vector path");
        body();
    }
    qdl::base64UseVectors(before);
}

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

// The encoder written out plainly, one group at a time.
std::string referenceEncode(const std::string& in, bool alt) {
    const char* alphabet = alt ? "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,"
                               : "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        const size_t n = in.size() - i < 3 ? in.size() - i : 3;
        unsigned v = 0;
        for (size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? static_cast<unsigned char>(in[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k) {
            if (k <= n)
                out += alphabet[(v >> (18 - 6 * k)) & 63];
            else if (!alt)
                out += '=';
        }
    }
    return out;
}

TEST(Base64, EncodeTable) {
    onBothPaths([] {
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
    });
}

TEST(Base64, DecodeTable) {
    onBothPaths([] {
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
    });
}

TEST(Base64, RoundTripAllBytesAndLengths) {
    onBothPaths([] {
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
    });
}

// Inputs that span several internal blocks, so the block boundaries and a
// failure deep inside are covered too.
TEST(Base64, LargeInputs) {
    onBothPaths([] {
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
    });
}

// Random texts from a small alphabet rich in padding and invalid bytes.
TEST(Base64, DecodeMatchesReferenceOnOddInputs) {
    onBothPaths([] {
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
    });
}

// The buffer forms, into buffers of exactly the room they ask for (the
// sanitizer build catches a write past it), at every length around the
// decoder's two-group steps and the encoder's eight-byte loads.
TEST(Base64, BufferFormsAtEveryLength) {
    onBothPaths([] {
        std::mt19937 rng(99);
        for (size_t len = 0; len <= 100; ++len) {
            std::string in(len, '\0');
            for (char& c : in) c = static_cast<char>(rng());
            std::unique_ptr<char[]> exact(new char[len]);
            if (len > 0) std::memcpy(exact.get(), in.data(), len);
            for (bool alt : {false, true}) {
                const std::string want = referenceEncode(in, alt);
                ASSERT_EQ(qdl::base64EncodedSize(len, alt), want.size()) << len;
                std::unique_ptr<char[]> out(new char[want.size()]);
                const char* end = qdl::base64EncodeTo(exact.get(), len, out.get(), alt);
                ASSERT_EQ(std::string(out.get(), static_cast<size_t>(end - out.get())), want) << len << " alt " << alt;
                ASSERT_EQ(encode(in, alt), want) << len;
                ASSERT_EQ(qdl::base64EncodeString(in, alt), want) << len;
            }
            const std::string text = referenceEncode(in, len % 2 == 1);
            for (size_t cut = 0; cut <= text.size(); ++cut) {
                const std::string part = text.substr(0, cut);
                std::unique_ptr<char[]> exactPart(new char[cut]);
                if (cut > 0) std::memcpy(exactPart.get(), part.data(), cut);
                std::unique_ptr<char[]> out(new char[qdl::base64DecodedRoom(cut)]);
                size_t written = 12345;
                const bool ok = qdl::base64DecodeTo(exactPart.get(), cut, out.get(), written);
                const Decoded want = referenceDecode(part);
                ASSERT_EQ(ok, want.ok) << part;
                ASSERT_EQ(std::string(out.get(), written), want.bytes) << part;
            }
        }
    });
}

// Padding, line ends, blanks and bytes outside the alphabet at every
// position of texts of every length up to 100 (three blocks of the vector
// path and a tail): the decoder stops at the same character, having written
// the same bytes, as the plain reference.
TEST(Base64, OddCharacterAtEveryPosition) {
    onBothPaths([] {
        std::string all;
        for (int i = 0; i < 80; ++i) all += static_cast<char>(i * 37 + 11);
        const std::string text = qdl::base64EncodeString(all, true) + qdl::base64EncodeString(all);
        const char odd[] = {'=', '\n', '\r', ' ', '\t', '*', '-', '.', '\0', '\x80', '\xff', ',', ':', '@', '[', '`', '{'};
        for (size_t len = 1; len <= 100; ++len) {
            for (size_t at = 0; at < len; ++at) {
                for (char c : odd) {
                    std::string in = text.substr(0, len);
                    in[at] = c;
                    const Decoded want = referenceDecode(in);
                    // Exactly as long as it is, so that a read past it shows.
                    std::unique_ptr<char[]> exact(new char[len]);
                    std::memcpy(exact.get(), in.data(), len);
                    std::unique_ptr<char[]> out(new char[qdl::base64DecodedRoom(len)]);
                    size_t written = 0;
                    const bool ok = qdl::base64DecodeTo(exact.get(), len, out.get(), written);
                    ASSERT_EQ(ok, want.ok) << len << " at " << at << " char " << int(c);
                    ASSERT_EQ(std::string(out.get(), written), want.bytes) << len << " at " << at << " char " << int(c);
                    const Decoded viaStream = decode(in);
                    ASSERT_EQ(viaStream.ok, want.ok);
                    ASSERT_EQ(viaStream.bytes, want.bytes);
                }
            }
        }
    });
}

}  // namespace
