#include "runtime/process.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kSh = "/bin/sh";

// Runs a shell script as the child: /bin/sh -c script sh args...
qdl::Process runScript(const std::string& script, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"-c", script, "sh"};
    args.insert(args.end(), extra.begin(), extra.end());
    return qdl::Process::launch(kSh, args);
}

struct FileId {
    dev_t dev;
    ino_t ino;
    bool open;
    bool operator==(const FileId& o) const { return open == o.open && (!open || (dev == o.dev && ino == o.ino)); }
};

std::vector<FileId> standardDescriptors() {
    std::vector<FileId> ids;
    for (int fd = 0; fd < 3; ++fd) {
        struct stat st;
        bool open = ::fstat(fd, &st) == 0;
        ids.push_back({open ? st.st_dev : 0, open ? st.st_ino : 0, open});
    }
    return ids;
}

std::vector<std::string> splitNul(const std::string& s) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == '\0') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    return parts;
}

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/process_test_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        savedTimeout_ = qdl::Process::releaseTimeout();
    }
    void TearDown() override {
        qdl::Process::setReleaseTimeout(savedTimeout_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string dir_;
    int savedTimeout_ = 0;
};

TEST_F(ProcessTest, ArgumentsArriveUnchanged) {
    const std::vector<std::string> sent = {
        "with space", "quote\"d 'single'", "\xc3\xa9t\xc3\xa9 \xff\x80", "", "tab\there", "*", "$HOME", "back\\slash",
    };
    std::vector<std::string> args = {"-c", "printf '%s\\0' \"$0\" \"$@\"", "zero"};
    args.insert(args.end(), sent.begin(), sent.end());
    const size_t before = args.size();
    qdl::Process p = qdl::Process::launch(kSh, args);
    ASSERT_EQ(args.size(), before + 1);
    EXPECT_EQ(args[0], kSh);
    EXPECT_EQ(args[1], "-c");

    std::string out, err;
    ASSERT_TRUE(p.communicate(out, err, 30000));
    std::vector<std::string> got = splitNul(out);
    ASSERT_EQ(got.size(), sent.size() + 1);
    EXPECT_EQ(got[0], "zero");
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(got[i + 1], sent[i]) << i;
    EXPECT_EQ(err, "");
    ASSERT_TRUE(WIFEXITED(p.exitStatus()));
    EXPECT_EQ(WEXITSTATUS(p.exitStatus()), 0);
}

TEST_F(ProcessTest, VectorOfTwoGainsThePath) {
    std::vector<std::string> args = {"-c", "exit 0"};
    qdl::Process p = qdl::Process::launch(kSh, args);
    EXPECT_EQ(args, (std::vector<std::string>{kSh, "-c", "exit 0"}));
    p.wait();
}

TEST_F(ProcessTest, MissingProgramThrowsAndTouchesNothing) {
    std::vector<std::string> args = {"a", "b"};
    const std::vector<FileId> before = standardDescriptors();
    EXPECT_THROW(qdl::Process::launch(dir_ + "/missing", args), qdl::FileNotFoundException);
    EXPECT_THROW(qdl::Process::launch(dir_, args), qdl::FileNotFoundException);  // a directory
    EXPECT_EQ(args, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(standardDescriptors(), before);
    try {
        qdl::Process::launch(dir_ + "/missing", args);
    } catch (const qdl::Exception& e) {
        EXPECT_EQ(e.message(), "FileNotFoundException");
        EXPECT_EQ(e.code(), 0);
    }
}

// The parent's own descriptors 0 to 2 stay what they were, and the child's
// are the pipes.
TEST_F(ProcessTest, ParentDescriptorsStayAndChildGetsPipes) {
    const std::vector<FileId> before = standardDescriptors();
    qdl::Process p = runScript("cat; echo to-err >&2");
    EXPECT_EQ(standardDescriptors(), before);
    ASSERT_NE(p.in(), nullptr);
    ASSERT_NE(p.out(), nullptr);
    ASSERT_NE(p.err(), nullptr);
    std::fputs("through the pipe\n", p.in());
    std::string out, err;
    ASSERT_TRUE(p.communicate(out, err, 30000));
    EXPECT_EQ(out, "through the pipe\n");
    EXPECT_EQ(err, "to-err\n");
    EXPECT_EQ(standardDescriptors(), before);
}

// Any descriptor of the parent, inherited-by-default ones included, stays
// out of the child.
TEST_F(ProcessTest, ChildInheritsNoOtherDescriptor) {
    int plain = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(plain, 0);
    ASSERT_GE(::dup2(plain, 77), 0);
    qdl::Process other = runScript("exec sleep 30");

    qdl::Process p = runScript(
        "i=0; while [ $i -lt 1024 ]; do [ -e /proc/$$/fd/$i ] && printf '%s ' $i; i=$((i+1)); done");
    std::string out, err;
    ASSERT_TRUE(p.communicate(out, err, 30000));
    EXPECT_EQ(out, "0 1 2 ");
    EXPECT_EQ(err, "");
    ::close(plain);
    ::close(77);
    other.kill();
}

// With our own 0 to 2 closed, the new pipes take those numbers: the child
// still gets each end in its own place.
TEST_F(ProcessTest, ChildGetsItsEndsWhenOurStandardDescriptorsAreClosed) {
    int saved[3];
    for (int fd = 0; fd < 3; ++fd) saved[fd] = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    for (int fd = 0; fd < 3; ++fd) ::close(fd);
    std::string out, err;
    bool ended = false;
    {
        qdl::Process p = runScript("cat; echo to-err >&2");
        if (p.in() != nullptr) {
            std::fputs("through the pipe\n", p.in());
            ended = p.communicate(out, err, 30000);
        }
    }
    for (int fd = 0; fd < 3; ++fd) {
        if (saved[fd] >= 0) ::dup2(saved[fd], fd);
        if (saved[fd] >= 0) ::close(saved[fd]);
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(out, "through the pipe\n");
    EXPECT_EQ(err, "to-err\n");
}

// A second child must not hold the first one's input open.
TEST_F(ProcessTest, ChildSeesEndOfInputWhileAnotherChildRuns) {
    qdl::Process reader = runScript("cat; echo eof");
    qdl::Process bystander = runScript("exec sleep 30");
    std::fputs("data\n", reader.in());
    std::string out, err;
    EXPECT_TRUE(reader.communicate(out, err, 20000));
    EXPECT_EQ(out, "data\neof\n");
    bystander.kill();
    bystander.wait();
    EXPECT_TRUE(WIFSIGNALED(bystander.exitStatus()));
}

TEST_F(ProcessTest, CommunicateReadsBothStreamsFully) {
    qdl::Process p = runScript("head -c 1048576 /dev/zero >&2; head -c 300000 /dev/zero | tr '\\0' x; "
                               "head -c 5 /dev/zero >&2; exit 3");
    std::string out, err;
    ASSERT_TRUE(p.communicate(out, err, 60000));
    EXPECT_EQ(err.size(), 1048576u + 5u);
    EXPECT_EQ(out, std::string(300000, 'x'));
    ASSERT_TRUE(WIFEXITED(p.exitStatus()));
    EXPECT_EQ(WEXITSTATUS(p.exitStatus()), 3);
    EXPECT_FALSE(p.exists());
    EXPECT_FALSE(p.isRunning());
}

// Bytes the caller already pulled into the stream's buffer are not lost.
TEST_F(ProcessTest, CommunicateAfterPartialRead) {
    qdl::Process p = runScript("echo first; sleep 0.2; echo second");
    char line[64];
    ASSERT_NE(std::fgets(line, sizeof line, p.out()), nullptr);
    EXPECT_STREQ(line, "first\n");
    std::string out, err;
    ASSERT_TRUE(p.communicate(out, err, 30000));
    EXPECT_EQ(out, "second\n");
}

TEST_F(ProcessTest, CommunicateKillsAtTimeout) {
    qdl::Process p = runScript("echo started; exec sleep 1000");
    auto start = std::chrono::steady_clock::now();
    std::string out, err;
    EXPECT_FALSE(p.communicate(out, err, 300));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(out, "started\n");
    ASSERT_TRUE(WIFSIGNALED(p.exitStatus()));
    EXPECT_EQ(WTERMSIG(p.exitStatus()), SIGKILL);
    EXPECT_FALSE(p.exists());
}

// A child that closes its output but goes on running is not "ended in time".
TEST_F(ProcessTest, CommunicateKillsChildThatClosesItsOutputButStays) {
    qdl::Process p = runScript("exec >/dev/null 2>&1; exec sleep 1000");
    std::string out, err;
    EXPECT_FALSE(p.communicate(out, err, 300));
    ASSERT_TRUE(WIFSIGNALED(p.exitStatus()));
    EXPECT_EQ(WTERMSIG(p.exitStatus()), SIGKILL);
}

// The program file exists but cannot be run: status 127, and the child does
// not flush its copy of the parent's unwritten stdio buffers.
TEST_F(ProcessTest, FailedExecEndsWith127WithoutDuplicatingOutput) {
    const std::string prog = dir_ + "/not-executable";
    std::ofstream(prog) << "#!/bin/sh\necho never\n";
    ASSERT_EQ(::chmod(prog.c_str(), 0644), 0);
    if (::access(prog.c_str(), X_OK) == 0) GTEST_SKIP() << "file is executable anyway";

    const std::string logPath = dir_ + "/log";
    FILE* log = std::fopen(logPath.c_str(), "w");
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(std::setvbuf(log, nullptr, _IOFBF, 4096), 0);
    std::fputs("pending line\n", log);  // still in our buffer

    std::vector<std::string> args = {"x"};
    qdl::Process p = qdl::Process::launch(prog, args);
    std::string out, err;
    EXPECT_TRUE(p.communicate(out, err, 30000));
    ASSERT_TRUE(WIFEXITED(p.exitStatus()));
    EXPECT_EQ(WEXITSTATUS(p.exitStatus()), 127);
    EXPECT_EQ(out, "");
    std::fclose(log);

    std::ifstream in(logPath);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "pending line\n");
}

TEST_F(ProcessTest, WaitForAndKill) {
    qdl::Process p = runScript("exec sleep 1000");
    EXPECT_TRUE(p.isRunning());
    EXPECT_TRUE(p.exists());
    EXPECT_EQ(p.exitStatus(), -1);
    EXPECT_FALSE(p.waitFor(100));
    EXPECT_EQ(p.kill(), 0);
    EXPECT_TRUE(p.waitFor(30000));
    ASSERT_TRUE(WIFSIGNALED(p.exitStatus()));
    EXPECT_EQ(WTERMSIG(p.exitStatus()), SIGKILL);
    EXPECT_FALSE(p.isRunning());
    EXPECT_FALSE(p.exists());
    // Its id may belong to someone else now: no signal goes out.
    EXPECT_EQ(p.kill(), -1);
}

TEST_F(ProcessTest, ExistsReapsAnEndedChildOnce) {
    qdl::Process p = runScript("exit 5");
    // Wait until it has ended without reaping it.
    siginfo_t info;
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(p.pid()), &info, WEXITED | WNOWAIT), 0);
    EXPECT_TRUE(p.exists());
    ASSERT_TRUE(WIFEXITED(p.exitStatus()));
    EXPECT_EQ(WEXITSTATUS(p.exitStatus()), 5);
    EXPECT_FALSE(p.exists());
}

TEST_F(ProcessTest, EmptyHandle) {
    qdl::Process p;
    EXPECT_FALSE(p.exists());
    EXPECT_FALSE(p.isRunning());
    EXPECT_EQ(p.in(), nullptr);
    EXPECT_EQ(p.exitStatus(), -1);
    EXPECT_EQ(p.kill(), -1);
    EXPECT_FALSE(p.waitFor(10));
    std::string out, err;
    EXPECT_FALSE(p.communicate(out, err, 10));
    p.wait();
}

TEST_F(ProcessTest, WaitThenNoLongerExists) {
    qdl::Process p = runScript("exit 2");
    p.wait();
    EXPECT_FALSE(p.exists());
    ASSERT_TRUE(WIFEXITED(p.exitStatus()));
    EXPECT_EQ(WEXITSTATUS(p.exitStatus()), 2);
}

// Releasing a copy leaves the child and its streams alone; the last handle
// closes the input, so a reading child ends and is reaped.
TEST_F(ProcessTest, ReleaseOfCopyAndOfLastHandle) {
    pid_t pid;
    {
        qdl::Process p = runScript("cat >/dev/null");
        pid = p.pid();
        {
            qdl::Process copy = p;
            EXPECT_EQ(copy.pid(), pid);
        }
        EXPECT_TRUE(p.isRunning());
        EXPECT_GT(std::fputs("still open\n", p.in()), 0);
        EXPECT_EQ(std::fflush(p.in()), 0);
    }
    errno = 0;
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST_F(ProcessTest, ReleaseKillsAChildThatOutstaysTheTimeout) {
    qdl::Process::setReleaseTimeout(200);
    pid_t pid;
    auto start = std::chrono::steady_clock::now();
    {
        qdl::Process p = runScript("exec sleep 1000");
        pid = p.pid();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    errno = 0;
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

void onAlarm(int) {}

// Signals arriving all the time must not cut waits short.
TEST_F(ProcessTest, WaitsSurviveInterruptingSignals) {
    struct sigaction sa {}, old {};
    sa.sa_handler = onAlarm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: blocking calls see EINTR
    ASSERT_EQ(::sigaction(SIGALRM, &sa, &old), 0);
    struct itimerval timer {}, stop {};
    timer.it_interval.tv_usec = 5000;
    timer.it_value.tv_usec = 5000;
    ASSERT_EQ(::setitimer(ITIMER_REAL, &timer, nullptr), 0);

    qdl::Process a = runScript("sleep 0.3; exit 4");
    a.wait();
    qdl::Process b = runScript("sleep 0.3; echo late; exit 6");
    std::string out, err;
    bool ok = b.communicate(out, err, 30000);

    ::setitimer(ITIMER_REAL, &stop, nullptr);
    ::sigaction(SIGALRM, &old, nullptr);

    ASSERT_TRUE(WIFEXITED(a.exitStatus()));
    EXPECT_EQ(WEXITSTATUS(a.exitStatus()), 4);
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, "late\n");
    ASSERT_TRUE(WIFEXITED(b.exitStatus()));
    EXPECT_EQ(WEXITSTATUS(b.exitStatus()), 6);
}

TEST(SetCloseOnExec, AddsTheFlagAndIgnoresBadDescriptors) {
    int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    qdl::setCloseOnExec(fd);
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    ::close(fd);
    qdl::setCloseOnExec(-1);
    qdl::setCloseOnExec(fd);
}

}  // namespace
