// The suite passes in a clone with nothing beside it: only the samples
// support names the shared folder of real-world samples, so every test that
// reads a sample goes through it and skips when there is none.
#include <dirent.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kTests = std::string(PARVEX_SOURCE_DIR) + "/tests";
const std::string kSelf = "filter/fresh_clone_test.cpp";

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Sources below `dir` (relative to tests/) that hold `needle`.
void sourcesHolding(const std::string& dir, const std::string& needle, std::vector<std::string>& found) {
    DIR* d = ::opendir((kTests + "/" + dir).c_str());
    if (d == nullptr) return;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = dir.empty() ? name : dir + "/" + name;
        if (e->d_type == DT_DIR) {
            sourcesHolding(path, needle, found);
            continue;
        }
        if ((!endsWith(name, ".cpp") && !endsWith(name, ".h")) || path == kSelf) continue;
        std::ifstream in(kTests + "/" + path);
        std::string line;
        while (std::getline(in, line))
            if (line.find(needle) != std::string::npos) {
                found.push_back(path);
                break;
            }
    }
    ::closedir(d);
}

TEST(FreshCloneTest, OnlyTheSamplesSupportNamesTheSharedFolder) {
    std::vector<std::string> found;
    sourcesHolding("", "PARVEX_FIXTURES_DIR", found);
    EXPECT_EQ(std::vector<std::string>{"support/filter/samples.cpp"}, found);
    found.clear();
    sourcesHolding("", "shared/", found);
    EXPECT_EQ(std::vector<std::string>{}, found);
}

}  // namespace
