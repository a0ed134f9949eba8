#include <gtest/gtest.h>

#include "runtime/casefold.h"

TEST(CaseFold, TableFoldsLettersAndTheServersHighPairs) {
    const struct {
        int from, to;
    } pairs[] = {{'A', 'a'}, {'Z', 'z'}, {'a', 'a'}, {'@', '@'}, {'[', '['}, {138, 154}, {140, 156},
                 {142, 158}, {159, 255}, {215, 208}, {247, 240}, {255, 223}, {192, 192}, {0, 0}};
    for (auto p : pairs) EXPECT_EQ(qdl::lowerCaseTable[p.from], p.to) << p.from;
    EXPECT_EQ(qdl::lowerCase("FILE Queue/A.msg"), "file queue/a.msg");
}

// strcasecmp's folding in the C locale: the letters A-Z alone, none of the
// table's high-byte pairs.
TEST(CaseFold, AsciiFoldingTouchesOnlyTheLetters) {
    const struct {
        int from, to;
    } pairs[] = {{'A', 'a'}, {'Z', 'z'}, {'a', 'a'}, {'@', '@'}, {'[', '['}, {138, 138}, {192, 192}, {0, 0}};
    for (auto p : pairs)
        EXPECT_EQ(static_cast<unsigned char>(qdl::asciiLower(static_cast<char>(p.from))), p.to) << p.from;

    const struct {
        const char* name;
        std::string a, b;
        bool equal;
    } cases[] = {
        {"letters", "Router.DATA", "router.data", true},
        {"NUL inside", std::string("a\0B", 3), std::string("A\0b", 3), true},
        {"after a NUL", std::string("a\0b", 3), std::string("a\0c", 3), false},
        {"high bytes stay", "\xC0", "\xE0", false},
        {"the table's pair stays", "\x8A", "\x9A", false},
        {"nothing", "", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.a.size(), c.b.size());
        EXPECT_EQ(qdl::equalsAsciiNoCase(c.a.data(), c.b.data(), c.a.size()), c.equal);
    }
}
