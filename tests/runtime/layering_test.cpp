// The libraries stand in layers: a folder includes only itself and the
// folders below it, so no lower layer ever needs a higher one to build.
#include <dirent.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::string kTop = PARVEX_SOURCE_DIR;

// Project folders named by the #include lines of every source below `dir`.
std::vector<std::string> includesOf(const std::string& dir) {
    static const std::regex include(R"re(^\s*#\s*include\s*"([A-Za-z0-9_]+)/)re");
    std::vector<std::string> found;
    DIR* d = ::opendir((kTop + "/" + dir).c_str());
    if (!d) return found;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "/" + name;
        if (e->d_type == DT_DIR) {
            for (auto& s : includesOf(path)) found.push_back(s);
            continue;
        }
        std::ifstream in(kTop + "/" + path);
        std::string line;
        std::smatch m;
        while (std::getline(in, line))
            if (std::regex_search(line, m, include)) found.push_back(path + ": " + m[1].str());
    }
    ::closedir(d);
    return found;
}

}  // namespace

TEST(LayeringTest, NoFolderIncludesAHigherOne) {
    const std::map<std::string, std::set<std::string>> allowed = {
        {"runtime", {"runtime"}},
        {"filter", {"runtime", "filter"}},
        {"serverdata", {"runtime", "serverdata"}},
        {"clients", {"runtime", "serverdata", "clients"}},
    };
    for (const auto& [folder, may] : allowed) {
        for (const auto& hit : includesOf(folder)) {
            const std::string target = hit.substr(hit.rfind(' ') + 1);
            EXPECT_TRUE(may.count(target)) << hit;
        }
    }
}
