// A directory held by its descriptor: links inside it are removed, never
// followed, and a link standing at the directory's own path is refused.
#include "runtime/directory_handle.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/core/run_program.h"

using qdl::DirectoryHandle;
using testsupport::TempDir;

namespace {

class DirectoryHandleTest : public ::testing::Test {
protected:
    void SetUp() override {
        own = root / "own";
        outside = root / "outside";
        ASSERT_EQ(0, ::mkdir(own.c_str(), 0755));
        ASSERT_EQ(0, ::mkdir(outside.c_str(), 0755));
        testsupport::writeFile(outside + "/keep.txt", "keep");
        ASSERT_EQ(0, ::mkdir((outside + "/inner").c_str(), 0755));
        testsupport::writeFile(outside + "/inner/deep.txt", "keep");
    }

    // What the outside directory holds must never change.
    void expectOutsideUntouched() {
        EXPECT_EQ((std::vector<std::string>{"inner", "keep.txt"}), testsupport::listDir(outside));
        EXPECT_EQ(std::vector<std::string>{"deep.txt"}, testsupport::listDir(outside + "/inner"));
    }

    TempDir root;
    std::string own, outside;
};

TEST_F(DirectoryHandleTest, ClearFilesRemovesFilesAndLinksOnly) {
    testsupport::writeFile(own + "/a.txt", "a");
    testsupport::writeFile(own + "/.hidden", "h");
    ASSERT_EQ(0, ::symlink(outside.c_str(), (own + "/to-dir").c_str()));
    ASSERT_EQ(0, ::symlink((outside + "/keep.txt").c_str(), (own + "/to-file").c_str()));
    ASSERT_EQ(0, ::mkdir((own + "/sub").c_str(), 0755));
    testsupport::writeFile(own + "/sub/b.txt", "b");
    const DirectoryHandle handle(own + "/");
    ASSERT_TRUE(handle.isOpen());
    std::vector<std::string> names = handle.entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{".hidden", "a.txt", "sub", "to-dir", "to-file"}), names);
    handle.clearFiles();
    EXPECT_EQ(std::vector<std::string>{"sub"}, testsupport::listDir(own));
    EXPECT_EQ(std::vector<std::string>{"b.txt"}, testsupport::listDir(own + "/sub"));
    expectOutsideUntouched();
}

TEST_F(DirectoryHandleTest, RemoveEntryTakesTreesDownWithoutFollowingLinks) {
    ASSERT_EQ(0, ::mkdir((own + "/tree").c_str(), 0755));
    ASSERT_EQ(0, ::mkdir((own + "/tree/a").c_str(), 0700));
    testsupport::writeFile(own + "/tree/a/f", "f");
    ASSERT_EQ(0, ::symlink(outside.c_str(), (own + "/tree/a/link").c_str()));
    ASSERT_EQ(0, ::symlink(outside.c_str(), (own + "/link").c_str()));
    testsupport::writeFile(own + "/file", "x");
    const DirectoryHandle handle(own);
    EXPECT_TRUE(handle.removeEntry("tree"));
    EXPECT_TRUE(handle.removeEntry("link"));
    EXPECT_TRUE(handle.removeEntry("file"));
    EXPECT_TRUE(handle.removeEntry("gone already"));
    EXPECT_FALSE(handle.removeEntry(".."));
    EXPECT_FALSE(handle.removeEntry("a/b"));
    EXPECT_EQ(std::vector<std::string>{}, testsupport::listDir(own));
    expectOutsideUntouched();
}

TEST_F(DirectoryHandleTest, LinkAtThePathIsOpenedOnlyWhenAskedFor) {
    const std::string link = root / "link";
    ASSERT_EQ(0, ::symlink(outside.c_str(), link.c_str()));
    for (const std::string& path : {link, link + "/", link + "//"}) {
        const DirectoryHandle refused(path);
        EXPECT_FALSE(refused.isOpen()) << path;
        refused.clearFiles();
        EXPECT_FALSE(refused.removeEntry("keep.txt"));
        EXPECT_TRUE(refused.entries().empty());
    }
    expectOutsideUntouched();
    const DirectoryHandle followed(link, true);
    EXPECT_TRUE(followed.isOpen());
    EXPECT_EQ(2u, followed.entries().size());
    // An entry that is a link is never opened as a directory.
    const DirectoryHandle parent(root.path());
    const DirectoryHandle inner(parent, "link");
    EXPECT_FALSE(inner.isOpen());
    const DirectoryHandle missing(root / "none");
    EXPECT_FALSE(missing.isOpen());
}

// A handle held from one use to the next: each listing reads the directory
// as it is then, and isAt() tells whether the path still names the very
// directory held (not a link to it, not one made anew in its place).
TEST_F(DirectoryHandleTest, HeldHandleListsAfreshAndKnowsItsPlace) {
    const DirectoryHandle handle(own);
    ASSERT_TRUE(handle.isOpen());
    EXPECT_TRUE(handle.entries().empty());
    testsupport::writeFile(own + "/a", "a");
    EXPECT_EQ(std::vector<std::string>{"a"}, handle.entries());
    EXPECT_EQ(std::vector<std::string>{"a"}, handle.entries());
    // Enough names for several reads of the directory.
    for (int i = 0; i < 600; ++i) testsupport::writeFile(own + "/file-with-a-long-name-" + std::to_string(i), "");
    EXPECT_EQ(601u, handle.entries().size());
    handle.clearFiles();
    EXPECT_TRUE(handle.entries().empty());

    EXPECT_TRUE(handle.isAt(own));
    EXPECT_TRUE(handle.isAt(own + "/"));
    const std::string link = root / "link";
    ASSERT_EQ(0, ::symlink(own.c_str(), link.c_str()));
    EXPECT_FALSE(handle.isAt(link));
    EXPECT_FALSE(handle.isAt(outside));
    EXPECT_FALSE(handle.isAt(root / "none"));
    // Made anew under the same name: another directory (the one held keeps
    // its number while it is open).
    ASSERT_EQ(0, ::rmdir(own.c_str()));
    EXPECT_FALSE(handle.isAt(own));
    ASSERT_EQ(0, ::mkdir(own.c_str(), 0755));
    EXPECT_FALSE(handle.isAt(own));
    const DirectoryHandle none(root / "none");
    EXPECT_FALSE(none.isAt(root / "none"));
}

}  // namespace
