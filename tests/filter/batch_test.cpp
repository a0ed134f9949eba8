// Batch mode over an mdir tree built in a temporary directory.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "filter/parvex.h"
#include "runtime/base64.h"
#include "runtime/files.h"
#include "support/capture.h"
#include "support/run_program.h"

using testsupport::StdoutCapture;
using testsupport::TempDir;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

const char kPlainMessage[] =
    "P I 10-01-2025 10:00:00 0000 ____ ____ <s@example.com>\n"
    "R W 10-01-2025 10:00:00 0000 ____ ____ <r@example.com>\n"
    "\n"
    "From: s@example.com\n"
    "Subject: plain\n"
    "\n"
    "Nothing to convert here.\n";

class BatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = tree.path() + "/mail";
        ASSERT_EQ(0, ::mkdir(root.c_str(), 0755));
        ASSERT_EQ(0, ::mkdir((prog / "pvx_temp").c_str(), 0755));
        filter.programDir = prog.path() + "/";
    }

    void makeDir(const std::string& relative) { ASSERT_EQ(0, ::mkdir((root + "/" + relative).c_str(), 0755)); }
    void put(const std::string& relative, const std::string& text) {
        testsupport::writeFile(root + "/" + relative, text);
    }
    std::string get(const std::string& relative) { return testsupport::readFile(root + "/" + relative); }

    std::vector<std::string> runTree() {
        StdoutCapture capture;
        filter.convertMdirTree(root);
        return lines(capture.text());
    }

    TempDir tree;
    TempDir prog;
    std::string root;
    Parvex filter;
};

TEST_F(BatchTest, NamesWithADotAreSkippedAndDotNamesNeverVisited) {
    put("1234", kPlainMessage);
    for (const char* name : {"1234.msg", "a.tmp", "a.old"}) put(name, kPlainMessage);
    put(".hidden", kPlainMessage);
    makeDir(".dotdir");
    put(".dotdir/5678", kPlainMessage);
    const std::vector<std::string> out = runTree();

    EXPECT_TRUE(contains(out, "* Processing " + root + "/1234"));
    for (const char* name : {"1234.msg", "a.tmp", "a.old"})
        EXPECT_TRUE(contains(out, "* Skipping non-mdir file " + root + "/" + name)) << name;
    for (const std::string& line : out) {
        EXPECT_EQ(std::string::npos, line.find(".hidden")) << line;
        EXPECT_EQ(std::string::npos, line.find(".dotdir")) << line;
    }
    EXPECT_EQ(4u, out.size());
    EXPECT_EQ(kPlainMessage, get("1234")) << "nothing to convert: untouched";
}

TEST_F(BatchTest, RecursesUnlessNoRecurse) {
    put("1", kPlainMessage);
    makeDir("sub");
    put("sub/2", kPlainMessage);
    makeDir("sub/deeper");
    put("sub/deeper/3", kPlainMessage);

    std::vector<std::string> out = runTree();
    for (const char* name : {"/1", "/sub/2", "/sub/deeper/3"})
        EXPECT_TRUE(contains(out, "* Processing " + root + name)) << name;
    EXPECT_EQ(3u, out.size());

    filter.noRecurse = true;
    out = runTree();
    EXPECT_EQ(std::vector<std::string>{"* Processing " + root + "/1"}, out);
}

TEST_F(BatchTest, DepthFirstSubdirectoryFinishedFirst) {
    makeDir("sub");
    put("sub/2", kPlainMessage);
    put("sub/3", kPlainMessage);
    put("1", kPlainMessage);
    const std::vector<std::string> out = runTree();
    ASSERT_EQ(3u, out.size());
    // Whatever the listing order, the two lines of "sub" are adjacent.
    const auto first = std::find_if(out.begin(), out.end(),
                                    [](const std::string& l) { return l.find("/sub/") != std::string::npos; });
    ASSERT_NE(out.end(), first);
    ASSERT_NE(out.end(), first + 1);
    EXPECT_NE(std::string::npos, (first + 1)->find("/sub/"));
}

// A link back up the tree must not make the walk go round for ever; a link
// to a directory outside the tree is walked like the directory itself.
TEST_F(BatchTest, LinkLoopsArePassedOver) {
    put("1", kPlainMessage);
    makeDir("sub");
    put("sub/2", kPlainMessage);
    ASSERT_EQ(0, ::symlink("..", (root + "/sub/up").c_str()));
    ASSERT_EQ(0, ::symlink(root.c_str(), (root + "/self").c_str()));
    const std::string outside = tree.path() + "/outside";
    ASSERT_EQ(0, ::mkdir(outside.c_str(), 0755));
    testsupport::writeFile(outside + "/9", kPlainMessage);
    ASSERT_EQ(0, ::symlink(outside.c_str(), (root + "/linked").c_str()));

    const std::vector<std::string> out = runTree();
    int processing = 0;
    for (const std::string& line : out)
        if (line.compare(0, 13, "* Processing ") == 0) ++processing;
    EXPECT_EQ(3, processing);
    EXPECT_TRUE(contains(out, "* Processing " + root + "/linked/9"));
    EXPECT_TRUE(contains(out, "* Skipping directory visited before " + root + "/sub/up"));
    EXPECT_TRUE(contains(out, "* Skipping directory visited before " + root + "/self"));
}

TEST_F(BatchTest, UnreadableEntriesAreReportedAndWalkGoesOn) {
    ASSERT_EQ(0, ::symlink("nowhere", (root + "/dangling").c_str()));
    ASSERT_EQ(0, ::mkfifo((root + "/fifo").c_str(), 0644));
    put("2", kPlainMessage);
    std::vector<std::string> out;
    {
        StdoutCapture capture;
        filter.convertMdirFile(root + "/dangling");
        filter.convertMdirFile(root + "/fifo");
        out = lines(capture.text());
    }
    EXPECT_EQ((std::vector<std::string>{"* Processing " + root + "/dangling", "* Unable to open file " + root + "/dangling",
                                        "* Processing " + root + "/fifo", "* Unable to open file " + root + "/fifo"}),
              out);
    out = runTree();
    EXPECT_TRUE(contains(out, "* Unable to open file " + root + "/dangling"));
    EXPECT_TRUE(contains(out, "* Unable to open file " + root + "/fifo"));
    EXPECT_TRUE(contains(out, "* Processing " + root + "/2"));
}

TEST_F(BatchTest, MissingTreeReportsNothing) {
    root = tree.path() + "/no-such-dir";
    EXPECT_TRUE(runTree().empty());
}

}  // namespace
