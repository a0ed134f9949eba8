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
