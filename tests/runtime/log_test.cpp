#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "runtime/log.h"
#include "support/core/capture.h"

using qdl::logline;
using qdl::outline;
using testsupport::StdoutCapture;

namespace {

// The repeat table lives as long as the process, so each run of a test takes
// categories of its own: repeated and shuffled runs start from a clean table.
std::string fresh(const std::string& base) {
    static unsigned run = 0;
    return base + "-" + std::to_string(++run);
}

}  // namespace

TEST(OutputLine, EndsWithExactlyOneLineFeed) {
    StdoutCapture cap;
    outline() << "ab";
    outline() << "ab\n\n\n";
    outline();
    outline() << "a\nb\n";
    EXPECT_EQ(cap.text(), "ab\nab\n\na\nb\n");
}

TEST(LogLine, PrefixesIdAndCategory) {
    const std::string cat = fresh("prefix-cat"), both = fresh("prefix-both");
    StdoutCapture cap;
    logline() << "plain";
    logline(7) << "with id";
    logline(0u) << "id zero";
    logline(cat) << "with category";
    logline(7, both) << "first\nsecond\n";
    logline() << "";
    EXPECT_EQ(cap.text(),
              "* plain\n"
              "* [7] with id\n"
              "* id zero\n"
              "* " + cat + ": with category\n"
              "* [7] " + both + ": first\n"
              "* [7] " + both + ": second\n"
              "* \n");
}

TEST(LogLine, MultiLineTextRepeatsThePrefix) {
    StdoutCapture cap;
    logline(3) << "a\n\nb";
    EXPECT_EQ(cap.text(), "* [3] a\n* [3] \n* [3] b\n");
}

TEST(LogLine, RepeatsAreCountedPerCategory) {
    const std::string a = fresh("rep-a");
    StdoutCapture cap;
    for (int i = 0; i < 3; ++i) logline(a) << "same";
    logline(a) << "different";
    EXPECT_EQ(cap.text(),
              "* " + a + ": same\n"
              "* " + a + ": (Last message repeated 3 times)\n"
              "* " + a + ": different\n");
}

TEST(LogLine, RepeatCountsTwoAndOne) {
    const std::string b = fresh("rep-b");
    StdoutCapture cap;
    logline(5, b) << "twice";
    logline(5, b) << "twice";
    logline(5, b) << "once";
    logline(5, b) << "next";
    EXPECT_EQ(cap.text(),
              "* [5] " + b + ": twice\n"
              "* " + b + ": (Last message repeated 2 times)\n"  // the repeat line carries no id
              "* [5] " + b + ": once\n"
              "* [5] " + b + ": next\n");
}

TEST(LogLine, CategoriesDoNotDisturbEachOther) {
    const std::string x = fresh("rep-x"), y = fresh("rep-y");
    StdoutCapture cap;
    logline(x) << "x";
    logline(y) << "y";
    logline(x) << "x";
    logline(y) << "y";
    logline(x) << "x2";
    logline() << "free";
    logline() << "free";
    EXPECT_EQ(cap.text(),
              "* " + x + ": x\n"
              "* " + y + ": y\n"
              "* " + x + ": (Last message repeated 2 times)\n"
              "* " + x + ": x2\n"
              "* free\n"
              "* free\n");
}

TEST(LogLine, TrailingLineFeedMakesADifferentTextThatPrintsTheSame) {
    const std::string nl = fresh("rep-nl");
    StdoutCapture cap;
    logline(nl) << "t";
    logline(nl) << "t\n";
    EXPECT_EQ(cap.text(), "* " + nl + ": t\n* " + nl + ": t\n");
}

TEST(LogLine, LinesOfManyThreadsNeverMix) {
    StdoutCapture cap;
    std::vector<std::thread> threads;
    for (int t = 1; t <= 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) logline(static_cast<unsigned>(t)) << "line one\nline two";
        });
    for (auto& t : threads) t.join();
    std::string text = cap.text();
    size_t pos = 0, lines = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        ASSERT_NE(nl, std::string::npos);
        std::string line = text.substr(pos, nl - pos);
        ASSERT_EQ(line.rfind("* [", 0), 0u) << line;
        bool first = line.find("line one") != std::string::npos;
        if (first) {
            // the second line of the same message follows at once
            size_t nl2 = text.find('\n', nl + 1);
            std::string second = text.substr(nl + 1, nl2 - nl - 1);
            EXPECT_EQ(second, line.substr(0, line.find("line one")) + "line two");
            pos = nl2 + 1;
            lines += 2;
            continue;
        }
        ADD_FAILURE() << "out of order: " << line;
        break;
    }
    EXPECT_EQ(lines, 8u * 200u * 2u);
}

void logForever() {
    for (unsigned i = 0;; ++i) {
        logline("exit-cat") << (i / 3);
        logline(i) << "plain";
    }
}

// Detached threads (pool workers, say) may still log while the process exits:
// the repeat table and the locks must still be there for them.
TEST(LogLine, LoggingWhileTheProcessExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            for (int i = 0; i < 4; ++i) std::thread(logForever).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
