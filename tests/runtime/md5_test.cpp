#include "runtime/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string hexOf(const std::string& text) {
    qdl::MD5 md5;
    md5.update(text);
    return qdl::MD5::hexDigest(md5.finalize());
}

std::string hexByteByByte(const std::string& text) {
    qdl::MD5 md5;
    for (char c : text) EXPECT_TRUE(md5.update(&c, 1));
    return qdl::MD5::hexDigest(md5.finalize());
}

const struct {
    const char* name;
    std::string in;
    const char* digest;
} kCases[] = {
    // The test suite of RFC 1321.
    {"empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"alphabet", "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"alphanumeric", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"digits",
     "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    // Lengths around the padding: the bit count fits after the 0x80 byte in
    // the same block up to 55 bytes, and needs a block more from 56 on.
    {"55 bytes", std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
    {"56 bytes", std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
    {"57 bytes", std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93"},
    {"63 bytes", std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
    {"64 bytes", std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    {"65 bytes", std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
    {"119 bytes", std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
    {"120 bytes", std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
    {"128 bytes", std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
    {"NUL byte", std::string(1, '\0'), "93b885adfe0da089cdf634904fd59f71"},
    // APOP of RFC 1939: the stamp, then the password.
    {"APOP", "<1896.697170952@dbc.mtview.ca.us>tanstaaf", "c4c9334bac560ecc979e58001b3e22fb"},
};

TEST(MD5, KnownDigests) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hexOf(c.in), c.digest);
        EXPECT_EQ(hexByteByByte(c.in), c.digest);
    }
}

TEST(MD5, MillionBytes) {
    const std::string text(1000000, 'a');
    EXPECT_EQ(hexOf(text), "7707d6ae4e027c70eea2a935c2296f21");
    // Pieces that never line up with the 64-byte blocks.
    qdl::MD5 md5;
    for (size_t at = 0; at < text.size(); at += 1000)
        md5.update(text.data() + at, static_cast<unsigned>(std::min<size_t>(1000, text.size() - at)));
    EXPECT_EQ(qdl::MD5::hexDigest(md5.finalize()), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(MD5, EveryCutGivesTheSameDigest) {
    std::string text;
    for (int i = 0; i < 200; ++i) text += static_cast<char>(i * 37 + 11);
    const std::string whole = hexOf(text);
    EXPECT_EQ(hexByteByByte(text), whole);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        qdl::MD5 md5;
        md5.update(text.substr(0, cut));
        md5.update(text.substr(cut));
        EXPECT_EQ(qdl::MD5::hexDigest(md5.finalize()), whole);
    }
}

TEST(MD5, StringKeepsEmbeddedNulBytes) {
    const std::string text("a\0b", 3);
    qdl::MD5 pointer;
    pointer.update(text.data(), 3);
    EXPECT_EQ(hexOf(text), qdl::MD5::hexDigest(pointer.finalize()));
    EXPECT_NE(hexOf(text), hexOf("a"));
}

TEST(MD5, UpdateAfterFinalize) {
    qdl::MD5 md5;
    EXPECT_TRUE(md5.update("abc"));
    const unsigned char* first = md5.finalize();
    unsigned char saved[16];
    std::memcpy(saved, first, 16);
    EXPECT_FALSE(md5.update("more"));
    EXPECT_FALSE(md5.update("x", 1));
    const unsigned char* second = md5.finalize();
    EXPECT_EQ(second, first);
    EXPECT_EQ(std::memcmp(second, saved, 16), 0);
    EXPECT_EQ(qdl::MD5::hexDigest(second), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(MD5, DigestFinalizesAndCopies) {
    qdl::MD5 md5;
    md5.update("abc");
    unsigned char out[16];
    md5.digest(out);
    EXPECT_EQ(qdl::MD5::hexDigest(out), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_FALSE(md5.update("abc"));
    unsigned char again[16];
    md5.digest(again);
    EXPECT_EQ(std::memcmp(out, again, 16), 0);
}

TEST(MD5, HexDigestOfEveryNibble) {
    unsigned char bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(i * 17);
    EXPECT_EQ(qdl::MD5::hexDigest(bytes), "00112233445566778899aabbccddeeff");
    bytes[0] = 0x0f;
    bytes[1] = 0xf0;
    EXPECT_EQ(qdl::MD5::hexDigest(bytes).substr(0, 4), "0ff0");
}

}  // namespace
