// SipHash-2-4 against the published vectors, and the process's own key.
#include "runtime/siphash.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/core/run_program.h"

namespace {

const char kProbe[] = "parvex";

std::string keyedHashOfProbe() {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx",
                  static_cast<unsigned long long>(qdl::keyedHash(kProbe, sizeof kProbe - 1)));
    return text;
}

}  // namespace

// Key 00 01 .. 0f; the message is the bytes 00 01 02 .. of the length given.
TEST(SipHash, PublishedVectors) {
    unsigned char key[16];
    unsigned char message[64];
    for (int i = 0; i < 16; ++i) key[i] = static_cast<unsigned char>(i);
    for (int i = 0; i < 64; ++i) message[i] = static_cast<unsigned char>(i);
    const struct {
        std::size_t length;
        std::uint64_t hash;
    } cases[] = {
        // The worked example of the paper (appendix A): a last word of
        // seven bytes.
        {15, 0xa129ca6149be45e5ULL},
        // The authors' reference vectors: no bytes, one, one whole word,
        // seven words and a last word of seven.
        {0, 0x726fdb47dd0e0e31ULL},
        {1, 0x74f839c593dc67fdULL},
        {8, 0x93f5f5799a932462ULL},
        {63, 0x958a324ceb064572ULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(qdl::sipHash24(key, message, c.length), c.hash);
    }
}

// Run on its own by KeyDiffersFromProcessToProcess: prints the probe's hash.
TEST(SipHash, DISABLED_PrintProbe) { std::printf("probe %s\n", keyedHashOfProbe().c_str()); }

// Keys that collide under one key do not under another: every process
// draws its own.
TEST(SipHash, KeyDiffersFromProcessToProcess) {
    const std::string own = keyedHashOfProbe();
    EXPECT_EQ(keyedHashOfProbe(), own);
    std::string seen[2];
    for (std::string& hash : seen) {
        const testsupport::ProgramResult run =
            testsupport::runProgram({testsupport::builtProgram("tests/runtime_tests"),
                                     "--gtest_filter=SipHash.DISABLED_PrintProbe", "--gtest_also_run_disabled_tests"},
                                    "");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const std::size_t at = run.out.find("probe ");
        ASSERT_NE(at, std::string::npos) << run.out;
        hash = run.out.substr(at + 6, 16);
    }
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_NE(seen[0], own);
    EXPECT_NE(seen[1], own);
}
