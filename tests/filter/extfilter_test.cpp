#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <thread>

#include "filter/extfilter.h"
#include "runtime/stream.h"
#include "support/core/capture.h"
#include "support/core/limits.h"
#include "support/core/run_program.h"

using cgp::ExtFilter;
using testsupport::StdoutCapture;
using testsupport::TempDir;

namespace {

class ScriptedFilter : public ExtFilter {
public:
    ScriptedFilter() : ExtFilter(false) {}
    Result processMessage(int seqID, const std::string& path) override {
        seen.push_back(std::to_string(seqID) + " " + path);
        return result;
    }
    Result result = Result::OK;
    std::vector<std::string> seen;
};

std::string serve(ExtFilter& f, const std::string& input) {
    std::istringstream in(input);
    StdoutCapture cap;
    f.run(in);
    std::string out = cap.text();
    const std::string ready = "* Ready to receive INTF command.\n";
    return out.compare(0, ready.size(), ready) == 0 ? out.substr(ready.size()) : out;
}

}  // namespace

class ExtFilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        message = dir / "a.msg";
        testsupport::writeFile(message, "Subject: x\n\nbody\n");
    }
    TempDir dir;
    std::string message;
};

TEST_F(ExtFilterTest, ResultCodesMakeTheirReplyLines) {
    struct Case {
        int code;
        std::vector<std::string> lines;
        std::string expected;
    } cases[] = {
        {0, {}, "* [7] Accepting message\n7 OK\n"},
        {1, {"later"}, "* [7] Postponing message\n7 REJECTED \"later\"\n"},
        {2, {"bad", "worse"}, "* [7] Rejecting message\n7 ERROR \"bad\\eworse\"\n"},
        {3, {}, "* [7] Discarding message\n7 DISCARD\n"},
        {4, {"X-A: 1", "X-B: \"2\""}, "* [7] Adding Header(s) to message\n7 ADDHEADER \"X-A: 1\\eX-B: \\\"2\\\"\"\n"},
        {4, {}, "* [7] Accepting message\n7 OK\n"},
    };
    for (const auto& c : cases) {
        ScriptedFilter f;
        f.result = ExtFilter::Result{c.code, c.lines};
        EXPECT_EQ(serve(f, "007 FILE " + message + "\n"), c.expected) << c.code;
        EXPECT_EQ(f.seen, std::vector<std::string>{"7 " + message});
    }
}

TEST_F(ExtFilterTest, SequenceNumberZeroLogsWithoutId) {
    ScriptedFilter f;
    EXPECT_EQ(serve(f, "0 FILE " + message + "\n"), "* Accepting message\n0 OK\n");
}

TEST_F(ExtFilterTest, MissingFilesAreAcceptedWithTheErrorText) {
    struct Case {
        std::string path, expected;
    } cases[] = {
        {"Queue/none.msg", "12 OK \"Error: File Not Found Queue/none.msg\"\n"},
        {dir.path(), "12 OK \"Error: File Not Found " + dir.path() + "\"\n"},
        {"Queue/a\"b\\c", "12 OK \"Error: File Not Found Queue/a\\\"b\\\\c\"\n"},
    };
    for (const auto& c : cases) {
        ScriptedFilter f;
        EXPECT_EQ(serve(f, "12 FILE " + c.path + "\n"), c.expected);
        EXPECT_TRUE(f.seen.empty()) << "processMessage called for " << c.path;
    }
}

TEST_F(ExtFilterTest, UnopenableFileIsAcceptedWithTheErrorText) {
    // Out of descriptors, the file exists but cannot be opened (even by root).
#ifdef PARVEX_SANITIZED
    GTEST_SKIP() << "the sanitizers' own reports need descriptors";
#endif
    ScriptedFilter f;
    std::istringstream in("3 FILE " + message + "\n");
    StdoutCapture cap;
    int probe = ::open("/dev/null", O_RDONLY);
    ::close(probe);
    {
        testsupport::ResourceLimit none(RLIMIT_NOFILE, static_cast<rlim_t>(probe));
        f.run(in);
    }
    EXPECT_EQ(cap.text(), "* Ready to receive INTF command.\n3 OK \"Error: unable to open file " + message + "\"\n");
    EXPECT_TRUE(f.seen.empty());
}

// A path that is no regular file is refused at once: a FIFO would stall the
// open until someone writes, a device like /dev/zero never ends.
TEST_F(ExtFilterTest, NonRegularFileIsRefusedWithoutWaiting) {
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0644));
    // Should the filter open the FIFO, this writer lets the open finish, so
    // the test fails instead of hanging.
    std::thread writer([&fifo] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        if (fd >= 0) ::close(fd);
    });
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        ScriptedFilter f;
        EXPECT_EQ(serve(f, "4 FILE " + path + "\n"), "4 OK \"Error: unable to open file " + path + "\"\n");
        EXPECT_TRUE(f.seen.empty()) << "processMessage called for " << path;
    }
    // Release the writer if nothing opened the FIFO.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    writer.join();
    if (reader >= 0) ::close(reader);
}

TEST_F(ExtFilterTest, EnvelopeTest) {
    struct Case {
        std::string content;
        bool envelope;
    } cases[] = {
        {"P I:<a@b.c>\nR W:<d@e.f>\n\nSubject: x\n", true},
        {"Received: from x\n\nbody\n", false},
        {"P \n", false},  // two characters are never an envelope line
        {"P x\n", true},
        {"P\t<x>\n", true},
        {"Px\n", false},
        {"P", false},
        {"", false},
        {"\xe9 x\n", true},
        {"\xd7 x\n", false},
        {"\xf8 x\n", false},
        {"1 x\n", false},
    };
    for (const auto& c : cases) {
        const std::string path = dir / "env.msg";
        testsupport::writeFile(path, c.content);
        qdl::ifstream in(path);
        ScriptedFilter f;
        EXPECT_EQ(f.hasEnvelope(in), c.envelope) << c.content;
        EXPECT_EQ(in.tellg(), std::streampos(0));
    }
}

TEST_F(ExtFilterTest, SkipEnvelopeStopsAfterTheEmptyLine) {
    struct Case {
        std::string content, next;
    } cases[] = {
        {"P I:<a@b.c>\r\nR W:<d@e.f>\r\n\r\nSubject: x\r\n", "Subject: x"},
        {"Subject: x\n\nbody\n", "Subject: x"},
        {"P I:<a@b.c>\nR W:<d@e.f>\n", ""},
    };
    for (const auto& c : cases) {
        const std::string path = dir / "env.msg";
        testsupport::writeFile(path, c.content);
        qdl::ifstream in(path);
        ScriptedFilter f;
        f.skipEnvelope(in);
        std::string line;
        cgp::readLineAnyEol(in, line);
        EXPECT_EQ(line, c.next);
        if (c.next.empty()) {
            EXPECT_TRUE(in.eof());
        }
    }
}

TEST(JoinHeaderLines, JoinsWithEscapedLineFeeds) {
    std::string out = "stale";
    cgp::joinHeaderLines({}, out);
    EXPECT_EQ(out, "");
    cgp::joinHeaderLines({"A: 1"}, out);
    EXPECT_EQ(out, "A: 1");
    cgp::joinHeaderLines({"A: 1", "B:\t\"2\""}, out);
    EXPECT_EQ(out, "A: 1\\eB:\\t\\\"2\\\"");
}
