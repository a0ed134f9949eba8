// The libraries stand in layers: a folder includes only itself and the
// folders below it, so no lower layer ever needs a higher one to build. A
// subsystem's internal/ headers belong to its own sources: they are not
// installed, so nothing a user builds may need them.
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

const std::vector<std::string> kSubsystems = {"runtime", "filter", "serverdata", "clients"};

// One #include "folder/..." line: the file that holds it and the path it
// names, both from the top of the tree.
struct Include {
    std::string file;
    std::string path;
};

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Project includes of every source below `dir` (a folder of the tree); paths
// of the test support ("support/...") are named from tests/.
std::vector<Include> includesOf(const std::string& dir) {
    static const std::regex kInclude(R"re(^\s*#\s*include\s*"([A-Za-z0-9_]+/[^"]*)")re");
    std::vector<Include> found;
    DIR* d = ::opendir((kTop + "/" + dir).c_str());
    if (!d) return found;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "/" + name;
        if (e->d_type == DT_DIR) {
            for (auto& i : includesOf(path)) found.push_back(i);
            continue;
        }
        std::ifstream in(kTop + "/" + path);
        std::string line;
        std::smatch m;
        while (std::getline(in, line))
            if (std::regex_search(line, m, kInclude)) found.push_back({path, m[1].str()});
    }
    ::closedir(d);
    return found;
}

std::string folderOf(const std::string& path) { return path.substr(0, path.find('/')); }

bool isInternal(const std::string& path) { return path.find("/internal/") != std::string::npos; }

// A header the install puts under include/: every one of a subsystem's
// folder but those below internal/ and those of the rtf2html program.
bool isInstalled(const std::string& path) {
    for (const std::string& s : kSubsystems)
        if (startsWith(path, s + "/"))
            return endsWith(path, ".h") && !isInternal(path) && !startsWith(path, "filter/rtf2html/");
    return false;
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
        for (const Include& i : includesOf(folder)) EXPECT_TRUE(may.count(folderOf(i.path))) << i.file << ": " << i.path;
    }
}

// A subsystem's internal/ headers are included by its own sources and by
// its own tests (tests/<subsystem>/), which look inside it. The fuzz
// targets and the benchmarks drive the internals straight (the scanner's
// two ways, each mode of the parser) and may too. Nothing else may: not
// another subsystem, not an installed header of its own, not the test
// support that every suite shares, not the install tests or the example,
// which build as a user does.
TEST(LayeringTest, InternalHeadersStayInsideTheirSubsystem) {
    std::vector<Include> all;
    for (const char* dir : {"runtime", "filter", "serverdata", "clients", "tests", "bench", "examples"})
        for (const Include& i : includesOf(dir)) all.push_back(i);
    ASSERT_FALSE(all.empty());
    for (const Include& i : all) {
        if (!isInternal(i.path)) continue;
        const std::string owner = folderOf(i.path);
        const bool ownSource = startsWith(i.file, owner + "/") && !isInstalled(i.file);
        const bool ownTest = startsWith(i.file, "tests/" + owner + "/");
        const bool driver = startsWith(i.file, "tests/fuzz/") || startsWith(i.file, "bench/");
        EXPECT_TRUE(ownSource || ownTest || driver) << i.file << " includes " << i.path;
    }
}

// The installed headers stand in one order: none includes the header of a
// piece whose own source includes it back (router.h and lookup.h once did,
// through router.cpp), so each piece's header can be read, and built, below
// the pieces that use it.
TEST(LayeringTest, NoInstalledHeaderIncludesAPieceThatIncludesItBack) {
    std::map<std::string, std::set<std::string>> includes;
    for (const std::string& s : kSubsystems)
        for (const Include& i : includesOf(s)) includes[i.file].insert(i.path);
    ASSERT_FALSE(includes.empty());
    for (const auto& [header, paths] : includes) {
        if (!isInstalled(header)) continue;
        for (const std::string& path : paths) {
            const std::string stem = path.substr(0, path.rfind('.'));
            for (const char* source : {".cpp", ".l", ".y"}) {
                const auto it = includes.find(stem + source);
                EXPECT_FALSE(it != includes.end() && it->second.count(header))
                    << header << " includes " << path << ", and " << stem + source << " includes " << header;
            }
        }
    }
}
