// The suite passes in a clone with nothing beside it: only the samples
// support names the shared folder of real-world samples, so every test that
// reads a sample goes through it and skips when there is none.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/core/run_program.h"

namespace {

const std::string kTests = std::string(PARVEX_SOURCE_DIR) + "/tests";
const std::string kSelf = "filter/fresh_clone_test.cpp";

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Sources below tests/ (relative to it) that hold `needle`.
std::vector<std::string> sourcesHolding(const std::string& needle) {
    std::vector<std::string> found;
    for (const std::string& path : testsupport::listTree(kTests)) {
        if ((!endsWith(path, ".cpp") && !endsWith(path, ".h")) || path == kSelf) continue;
        std::ifstream in(kTests + "/" + path);
        std::string line;
        while (std::getline(in, line))
            if (line.find(needle) != std::string::npos) {
                found.push_back(path);
                break;
            }
    }
    return found;
}

TEST(FreshCloneTest, OnlyTheSamplesSupportNamesTheSharedFolder) {
    EXPECT_EQ(std::vector<std::string>{"support/filter/samples.cpp"}, sourcesHolding("PARVEX_FIXTURES_DIR"));
    EXPECT_EQ(std::vector<std::string>{}, sourcesHolding("shared/"));
}

}  // namespace
