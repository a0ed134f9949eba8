#include "runtime/utf7.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

enum class Dir { Encode, Decode };

TEST(UTF7, EdgeCases) {
    const struct {
        const char* name;
        Dir dir;
        bool imap;
        std::string in, out;
    } cases[] = {
        {"printable ASCII stands for itself", Dir::Encode, true, "INBOX/Sent Items ~!", "INBOX/Sent Items ~!"},
        {"shift character alone", Dir::Encode, true, "&", "&-"},
        {"shift characters between letters", Dir::Encode, true, "a&&b", "a&-&-b"},
        {"empty text", Dir::Encode, true, "", ""},
        {"single byte 0xE9", Dir::Encode, true, "\xE9", "&AOk-"},
        {"two such bytes form one run", Dir::Encode, true, "\xE9\xE9", "&AOkA6Q-"},
        {"run at the end is closed", Dir::Encode, true, "caf\xE9", "caf&AOk-"},
        {"runs end at printable characters", Dir::Encode, true, "\xE9" "a\xE9&", "&AOk-a&AOk-&-"},
        {"control and delete characters are a run", Dir::Encode, true, "\t\x7F", "&AAkAfw-"},
        {"plus is plain in the IMAP form", Dir::Encode, true, "a+b", "a+b"},
        {"plain form: plus is the shift character", Dir::Encode, false, "+", "+-"},
        {"plain form: ampersand is plain", Dir::Encode, false, "&", "&"},
        {"plain form: a run", Dir::Encode, false, "\xE9", "+AOk-"},

        {"0xE9 decodes to UTF-8", Dir::Decode, true, "&AOk-", "\xC3\xA9"},
        {"shift then dash is the shift character", Dir::Decode, true, "&-", "&"},
        {"one run of two characters", Dir::Decode, true, "&AOkA6Q-", "\xC3\xA9\xC3\xA9"},
        {"three-byte unit", Dir::Decode, true, "&IKw-", "\xE2\x82\xAC"},
        {"surrogates are not combined", Dir::Decode, true, "&2D3eAA-", "\xED\xA0\xBD\xED\xB8\x80"},
        {"odd last byte is a high byte", Dir::Decode, true, "&IA-", "\xE2\x80\x80"},
        {"text ending inside a run drops it", Dir::Decode, true, "caf&AOk", "caf"},
        {"dash outside a run", Dir::Decode, true, "a-b-", "a-b-"},
        {"a new shift drops the open run", Dir::Decode, true, "&AOk&IKw-", "\xE2\x82\xAC"},
        {"a shift in a run, then dash", Dir::Decode, true, "&AOk&-x", "&x"},
        {"output of a run stops at a bad character", Dir::Decode, true, "&AOkA6Q!-z", std::string("\xC3\xA9\x00z", 4)},
        {"bytes outside a run pass unchanged", Dir::Decode, true, "\xE9+AOk-", "\xE9+AOk-"},
        {"empty text decodes to nothing", Dir::Decode, true, "", ""},
        {"plain form: plus then dash", Dir::Decode, false, "+-", "+"},
        {"plain form: a run", Dir::Decode, false, "a+AOk-b", "a\xC3\xA9" "b"},
        {"plain form: ampersand is plain", Dir::Decode, false, "&AOk-", "&AOk-"},
        // A plus inside a run is base64 there; taken for a new shift it lost the
        // run's first characters.
        {"plain form: a run holding plus", Dir::Encode, false, "\x80\xF8", "+AIAA+A-"},
        {"plain form: plus inside a run", Dir::Decode, false, "+AIAA+A-", "\xC2\x80\xC3\xB8"},
        {"IMAP form: ampersand inside a run restarts it", Dir::Decode, true, "&AIAA&AOk-", "\xC3\xA9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream streamed;
        if (c.dir == Dir::Encode) {
            EXPECT_EQ(qdl::encodeUTF7(c.in, c.imap), c.out);
            qdl::encodeUTF7(c.in, streamed, c.imap);
        } else {
            EXPECT_EQ(qdl::decodeUTF7(c.in, c.imap), c.out);
            qdl::decodeUTF7(c.in, streamed, c.imap);
        }
        EXPECT_EQ(streamed.str(), c.out);
    }
}

// The UTF-8 of U+0000 to U+00FF, written out by hand.
std::string utf8Of(int byte) {
    if (byte < 0x80) return std::string(1, static_cast<char>(byte));
    return {static_cast<char>(0xC0 | (byte >> 6)), static_cast<char>(0x80 | (byte & 0x3F))};
}

TEST(UTF7, EveryByteRoundTripsToItsUTF8) {
    for (bool imap : {true, false}) {
        SCOPED_TRACE(imap ? "IMAP form" : "plain form");
        std::string all, allUtf8;
        for (int b = 0; b < 256; ++b) {
            SCOPED_TRACE(b);
            const std::string one(1, static_cast<char>(b));
            const std::string encoded = qdl::encodeUTF7(one, imap);
            // Only printable ASCII goes as it is; the rest is in a closed run.
            EXPECT_EQ(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                "0123456789 !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~"),
                      std::string::npos);
            EXPECT_EQ(qdl::decodeUTF7(encoded, imap), utf8Of(b));
            all += one;
            allUtf8 += utf8Of(b);
        }
        EXPECT_EQ(qdl::decodeUTF7(qdl::encodeUTF7(all, imap), imap), allUtf8);
    }
}

}  // namespace
