#include "runtime/replacement_file.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/core/limits.h"
#include "support/core/run_program.h"

namespace {

namespace fs = std::filesystem;

using testsupport::listDir;
using testsupport::readFile;

class ReplacementFileTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return dir_ / name; }
    void write(const std::string& name, const std::string& content, mode_t mode = 0644) const {
        testsupport::writeFile(path(name), content);
        ::chmod(path(name).c_str(), mode);
    }
    std::string read(const std::string& name) const { return readFile(path(name)); }
    mode_t modeOf(const std::string& name) const {
        struct stat st;
        return ::lstat(path(name).c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }
    std::vector<std::string> names() const { return listDir(dir_.path()); }

    testsupport::TempDir dir_;
};

qdl::ReplacementFile::Options fixedName(const std::string& name) {
    qdl::ReplacementFile::Options options;
    options.lead = name;
    return options;
}

qdl::ReplacementFile::Options randomName(const std::string& lead, bool replace = true) {
    qdl::ReplacementFile::Options options;
    options.lead = lead;
    options.randomCharacters = 12;
    options.replace = replace;
    return options;
}

}  // namespace

TEST_F(ReplacementFileTest, ReplacesTheTargetWholeWithItsModeAndLeavesNothingBeside) {
    // A mode that denies writing: the copy is written all the same.
    for (mode_t mode : {0640, 0444}) {
        SCOPED_TRACE(mode);
        write("msg", "old", mode);
        struct stat original;
        ASSERT_EQ(::stat(path("msg").c_str(), &original), 0);
        qdl::ReplacementFile::Options options = fixedName(path("msg.tmp"));
        options.like = &original;
        qdl::ReplacementFile file(path("msg"), options);
        ASSERT_TRUE(file.isOpen());
        EXPECT_EQ(file.path(), path("msg.tmp"));
        file.out() << "new content";
        EXPECT_EQ(read("msg"), "old");  // nothing shows before the commit
        EXPECT_TRUE(file.commit());
        EXPECT_EQ(read("msg"), "new content");
        EXPECT_EQ(modeOf("msg"), mode);
        EXPECT_EQ(names(), std::vector<std::string>{"msg"});
        EXPECT_TRUE(file.path().empty());
    }
}

TEST_F(ReplacementFileTest, AFileNotCommittedGoesAndTheTargetStays) {
    write("data", "old");
    std::string temporary;
    {
        qdl::ReplacementFile file(path("data"), randomName(path(".pvx")));
        ASSERT_TRUE(file.isOpen());
        temporary = file.path();
        EXPECT_EQ(temporary.size(), path(".pvx").size() + 12);
        file.out() << "half";
        EXPECT_TRUE(file.close(true));
        EXPECT_TRUE(fs::exists(temporary));
    }
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_EQ(read("data"), "old");
    EXPECT_EQ(names(), std::vector<std::string>{"data"});
}

TEST_F(ReplacementFileTest, ATakenFixedNameIsNeitherOpenedNorFollowed) {
    write("msg", "old");
    write("elsewhere", "theirs");
    const struct {
        const char* name;
        bool link;
    } cases[] = {{"a file", false}, {"a link", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path("msg.tmp"));
        if (c.link)
            fs::create_symlink(path("elsewhere"), path("msg.tmp"));
        else
            write("msg.tmp", "not ours");
        qdl::ReplacementFile file(path("msg"), fixedName(path("msg.tmp")));
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(errno, EEXIST);
        file.out() << "lost";
        EXPECT_FALSE(file.commit());
        EXPECT_EQ(read("msg"), "old");
        EXPECT_EQ(read("msg.tmp"), c.link ? "theirs" : "not ours");
        EXPECT_EQ(read("elsewhere"), "theirs");
    }
}

TEST_F(ReplacementFileTest, RandomNamesNeverMeet) {
    std::set<std::string> made;
    std::vector<std::unique_ptr<qdl::ReplacementFile>> open;
    for (int i = 0; i < 50; ++i) {
        open.emplace_back(new qdl::ReplacementFile(path("t"), randomName(path(".pvx"))));
        ASSERT_TRUE(open.back()->isOpen());
        made.insert(open.back()->path());
    }
    EXPECT_EQ(made.size(), 50u);
    open.clear();
    EXPECT_TRUE(names().empty());
}

TEST_F(ReplacementFileTest, WithoutReplacingATakenTargetStaysAndAFreeOneIsMade) {
    write("page.html", "theirs");
    {
        qdl::ReplacementFile::Options options = randomName(path("page.html."), false);
        options.mode = 0644;
        qdl::ReplacementFile file(path("page.html"), options);
        ASSERT_TRUE(file.isOpen());
        file.out() << "ours";
        EXPECT_FALSE(file.commit());
        EXPECT_EQ(errno, EEXIST);
    }
    EXPECT_EQ(read("page.html"), "theirs");
    EXPECT_EQ(names(), std::vector<std::string>{"page.html"});

    const mode_t mask = ::umask(077);
    {
        qdl::ReplacementFile::Options options = randomName(path("new.html."), false);
        options.mode = 0644;
        qdl::ReplacementFile file(path("new.html"), options);
        file.out() << "ours";
        EXPECT_TRUE(file.commit());
    }
    ::umask(mask);
    EXPECT_EQ(read("new.html"), "ours");
    EXPECT_EQ(modeOf("new.html"), 0644u);  // whatever the umask
}

TEST_F(ReplacementFileTest, AFailedWriteLeavesTheTargetAndNothingBeside) {
    write("data", "old");
    qdl::ReplacementFile file(path("data"), randomName(path(".pvx")));
    ASSERT_TRUE(file.isOpen());
    {
        testsupport::ResourceLimit full(RLIMIT_FSIZE, 4096);  // the disk is "full" from here on
        ASSERT_TRUE(full.ok());
        file.out() << std::string(100 * 1024, 'x');
        EXPECT_FALSE(file.commit());
        EXPECT_EQ(errno, EFBIG);
    }
    EXPECT_EQ(read("data"), "old");
    EXPECT_EQ(names(), std::vector<std::string>{"data"});
}
