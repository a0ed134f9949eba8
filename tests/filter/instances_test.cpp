// Several filter instances on one server, and what they leave behind: the
// names they submit under, their unpacking directories under pvx_temp, and
// directories that are not what they seem.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "filter/parvex.h"
#include "filter/temp_dirs.h"
#include "runtime/files.h"
#include "runtime/stream.h"
#include "support/core/capture.h"
#include "support/core/run_program.h"
#include "support/core/tool_path.h"
#include "support/filter/message_builder.h"
#include "support/filter/server_fixture.h"
#include "support/filter/tnef_writer.h"

using namespace testsupport;

namespace {

std::string tnefWith(const std::string& name, const std::string& content) {
    TnefWriter w;
    w.addAttachment(name, content);
    return w.bytes();
}

std::string queuedMail(const std::string& subject) {
    Part mail = message(subject, multipart("mixed", "b", {textPart("Hello.\n"),
                                                          tnefPart(tnefWith("note.txt", subject + "\n"))}));
    return envelope("a@example.com", {"b@example.com"}) + render(mail);
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Files under `dir` (not following links), as paths below it.
std::set<std::string> filesBelow(const std::string& dir) {
    std::set<std::string> found;
    for (const std::string& name : listDir(dir)) {
        struct stat st;
        if (::lstat((dir + "/" + name).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            for (const std::string& inner : filesBelow(dir + "/" + name)) found.insert(name + "/" + inner);
        } else {
            found.insert(name);
        }
    }
    return found;
}

class InstancesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fx.haveTnef()) GTEST_SKIP() << "tnef is not installed";
        temp = fx.programDir() + "pvx_temp";
    }

    // A directory outside the program directory holding files that must stay.
    std::string outsideWithFiles() {
        const std::string dir = outside.path() + "/precious";
        ::mkdir(dir.c_str(), 0755);
        writeFile(dir + "/keep.txt", "keep me");
        writeFile(dir + "/winmail.dat", "not ours either");
        return dir;
    }

    ServerFixture fx;
    TempDir outside;
    std::string temp;
};

// Instances started in the same second once drew the same submission names,
// and a later rename replaced a file another instance had handed over.
TEST_F(InstancesTest, EightInstancesAtOnceLoseNoMessage) {
    const int kInstances = 8;
    const int kMessages = 5;
    std::vector<std::string> requests(kInstances);
    for (int i = 0; i < kInstances; ++i) {
        requests[i] = "1 INTF 3\n";
        for (int m = 0; m < kMessages; ++m) {
            const std::string name = std::to_string(i) + "-" + std::to_string(m);
            requests[i] += std::to_string(m + 2) + " FILE " + fx.queue(name + ".msg", queuedMail("message " + name)) + "\n";
        }
        requests[i] += "99 QUIT\n";
    }
    // All start early in one second, as a server starting them together would.
    using Clock = std::chrono::system_clock;
    const auto now = Clock::now().time_since_epoch();
    const auto next = std::chrono::duration_cast<std::chrono::seconds>(now) + std::chrono::seconds(1);
    std::this_thread::sleep_for(next - now + std::chrono::milliseconds(20));

    std::vector<ProgramResult> results(kInstances);
    std::vector<std::thread> threads;
    for (int i = 0; i < kInstances; ++i)
        threads.emplace_back([&, i] { results[i] = fx.run(requests[i]); });
    for (std::thread& t : threads) t.join();

    for (int i = 0; i < kInstances; ++i) {
        EXPECT_FALSE(results[i].timedOut);
        EXPECT_EQ(static_cast<std::size_t>(kMessages), count(results[i].out, " DISCARD\n")) << results[i].out;
    }
    const std::vector<std::string> files = fx.submitted();
    EXPECT_EQ(static_cast<std::size_t>(kInstances * kMessages), files.size());
    std::set<std::string> subjects;
    for (const std::string& f : files) {
        EXPECT_EQ(f.size() - 8, f.rfind(".tmp.sub")) << f;
        const std::string copy = readFile(fx.baseDir() + "Submitted/" + f);
        const std::size_t at = copy.find("\nSubject: ");
        if (at != std::string::npos) subjects.insert(copy.substr(at + 10, copy.find('\n', at + 1) - at - 10));
    }
    EXPECT_EQ(static_cast<std::size_t>(kInstances * kMessages), subjects.size());
}

// pvx_temp/<pid> is a link to a directory elsewhere when the instance
// starts: nothing there is deleted, and the message is still converted.
TEST_F(InstancesTest, LinkAtTheOwnDirectoryIsNotFollowed) {
    const std::string precious = outsideWithFiles();
    ASSERT_EQ(0, ::mkdir(temp.c_str(), 0755));
    const std::string queued = fx.queue("1.msg", queuedMail("linked"));
    // The shell plants the link under its own pid, then becomes the filter.
    const ProgramResult r = runProgram({"/bin/sh", "-c", "ln -s \"$1\" \"$2/$$\" && exec \"$3\"", "sh", precious,
                                        temp, fx.parvex()},
                                       "1 INTF 3\n2 FILE " + queued + "\n3 QUIT\n", fx.baseDir());
    ASSERT_FALSE(r.timedOut);
    EXPECT_NE(std::string::npos, r.out.find("\n2 DISCARD\n")) << r.out;
    EXPECT_EQ((std::set<std::string>{"keep.txt", "winmail.dat"}), filesBelow(precious));
    EXPECT_EQ("keep me", readFile(precious + "/keep.txt"));
    EXPECT_EQ(1u, fx.submitted().size());
    // The link is not ours to remove: the instance unpacked beside it, in a
    // directory of its own, and removed only that.
    const std::vector<std::string> left = listDir(temp);
    ASSERT_EQ(1u, left.size());
    struct stat st;
    ASSERT_EQ(0, ::lstat((temp + "/" + left[0]).c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// A killed instance left its directory with unpacked files; the next
// instance removes it, without following links out of it, and leaves the
// directories of running instances and anything not named by a pid alone.
TEST_F(InstancesTest, DirectoriesOfEndedInstancesAreRemoved) {
    const std::string precious = outsideWithFiles();
    ASSERT_EQ(0, ::mkdir(temp.c_str(), 0755));
    const std::string dead = temp + "/" + std::to_string(deadPid());
    ASSERT_TRUE(cgp::makeOwnDirectory(dead));
    writeFile(dead + "/winmail.dat", "left over");
    writeFile(dead + "/unpacked.pdf", "left over");
    ASSERT_EQ(0, ::mkdir((dead + "/sub").c_str(), 0755));
    writeFile(dead + "/sub/deeper.txt", "left over");
    ASSERT_EQ(0, ::symlink(precious.c_str(), (dead + "/link").c_str()));
    // A link is nothing we made, whatever its name: it stays, unfollowed.
    const std::string link = std::to_string(deadPid());
    ASSERT_EQ(0, ::symlink(precious.c_str(), (temp + "/" + link).c_str()));
    const std::string running = temp + "/" + std::to_string(::getpid());
    ASSERT_EQ(0, ::mkdir(running.c_str(), 0755));
    writeFile(running + "/busy.txt", "in use");
    writeFile(temp + "/notes", "not a directory of ours");

    const std::string queued = fx.queue("1.msg", queuedMail("after a crash"));
    const ProgramResult r = fx.run("1 INTF 3\n2 FILE " + queued + "\n3 QUIT\n");
    ASSERT_FALSE(r.timedOut);
    EXPECT_NE(std::string::npos, r.out.find("\n2 DISCARD\n")) << r.out;
    EXPECT_EQ((std::set<std::string>{std::to_string(::getpid()) + "/busy.txt", "notes", link}), filesBelow(temp));
    EXPECT_FALSE(pathExists(dead));
    EXPECT_EQ((std::set<std::string>{"keep.txt", "winmail.dat"}), filesBelow(precious));
}

// The walk in this process, with the real tnef, for what happens to the
// unpacking directory between messages.
class OwnDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tnef = findInPath("tnef");
        if (tnef.empty()) GTEST_SKIP() << "tnef is not installed";
        root_ = std::make_unique<TempDir>();
        filter_.programDir = root_->path() + "/";
        ASSERT_EQ(::symlink(tnef.c_str(), (filter_.programDir + "tnef").c_str()), 0);
        ASSERT_EQ(::symlink(PARVEX_BINARY_DIR "/filter/rtf2html", (filter_.programDir + "rtf2html").c_str()), 0);
        shared_ = filter_.programDir + "pvx_temp";
        own_ = shared_ + "/" + std::to_string(::getpid());
        filter_.tempDir = own_ + "/";
        ASSERT_TRUE(cgp::makeOwnDirectory(own_));
    }

    std::vector<AttachmentRecord> walk(const std::string& message) {
        const std::string path = filter_.programDir + "message";
        writeFile(path, message);
        std::vector<AttachmentRecord> records;
        StdoutCapture capture;
        qdl::ifstream in(path, std::ios::binary);
        filter_.convertMessage(in, records);
        log_ = capture.text();
        return records;
    }

    std::string mail() {
        return render(message("m", multipart("mixed", "b", {textPart("Hi.\n"), tnefPart(tnefWith("a.txt", "A\n"))})));
    }

    std::unique_ptr<TempDir> root_;
    Parvex filter_;
    std::string shared_, own_, log_;
    TempDir outside_;
};

// The directory is swapped for a link while the instance runs: the clearing
// before the next message does not follow it, and the link, not being ours,
// stays; the message is unpacked in a new directory of our own.
TEST_F(OwnDirectoryTest, LinkPlantedDuringTheRunIsNotFollowed) {
    const std::string precious = outside_.path() + "/precious";
    ASSERT_EQ(0, ::mkdir(precious.c_str(), 0755));
    writeFile(precious + "/keep.txt", "keep me");
    ASSERT_TRUE(qdl::removeDirectory(own_, true));
    ASSERT_EQ(0, ::symlink(precious.c_str(), own_.c_str()));

    const std::vector<AttachmentRecord> records = walk(mail());
    EXPECT_EQ(std::vector<std::string>{"keep.txt"}, listDir(precious));
    ASSERT_EQ(1u, records.size()) << log_;
    ASSERT_EQ(1u, records[0].entries.size());
    EXPECT_EQ(own_ + "-1/", filter_.tempDir);
    EXPECT_EQ(own_ + "-1/a.txt", records[0].entries[0]);
    struct stat st;
    ASSERT_EQ(0, ::lstat(own_.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays";
}

// An ending instance removed the shared pvx_temp, and this instance's own
// directory with it: the next message still converts.
TEST_F(OwnDirectoryTest, VanishedDirectoryIsMadeAgain) {
    ASSERT_TRUE(qdl::removeDirectory(own_, true));
    ASSERT_TRUE(qdl::removeDirectory(shared_, false));
    const std::vector<AttachmentRecord> records = walk(mail());
    ASSERT_EQ(1u, records.size()) << log_;
    EXPECT_EQ((std::vector<std::string>{cgp::kOwnDirectoryMarker, "a.txt"}), listDir(own_));
}

// An ending instance removes the shared pvx_temp once it is empty; here
// instances end all the time while this one starts, and its own directory
// is there every time all the same.
TEST(StartUpRace, OwnDirectoryIsMadeWhileTheParentVanishes) {
    TempDir root;
    Parvex filter;
    filter.programDir = root.path() + "/";
    const std::string shared = filter.programDir + "pvx_temp";
    std::atomic<bool> stop{false};
    std::thread ending([&] {
        while (!stop) ::rmdir(shared.c_str());
    });
    int lost = 0;
    for (int i = 0; i < 1000; ++i) {
        filter.prepareTempDir();
        struct stat st;
        if (::lstat(filter.tempDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) ++lost;
        filter.finishTempDir();
    }
    stop = true;
    ending.join();
    EXPECT_EQ(0, lost);
    EXPECT_EQ(std::vector<std::string>{}, listDir(root.path())) << "nothing is left beside pvx_temp";
}

}  // namespace
