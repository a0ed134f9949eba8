#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "runtime/log.h"
#include "support/capture.h"

using qdl::logline;
using qdl::outline;
using testsupport::StdoutCapture;

TEST(OutputLine, EndsWithExactlyOneLineFeed) {
    StdoutCapture cap;
    outline() << "ab";
    outline() << "ab\n\n\n";
    outline();
    outline() << "a\nb\n";
    EXPECT_EQ(cap.text(), "ab\nab\n\na\nb\n");
}

TEST(LogLine, PrefixesIdAndCategory) {
    StdoutCapture cap;
    logline() << "plain";
    logline(7) << "with id";
    logline(0u) << "id zero";
    logline("prefix-cat") << "with category";
    logline(7, "prefix-both") << "first\nsecond\n";
    logline() << "";
    EXPECT_EQ(cap.text(),
              "* plain\n"
              "* [7] with id\n"
              "* id zero\n"
              "* prefix-cat: with category\n"
              "* [7] prefix-both: first\n"
              "* [7] prefix-both: second\n"
              "* \n");
}

TEST(LogLine, MultiLineTextRepeatsThePrefix) {
    StdoutCapture cap;
    logline(3) << "a\n\nb";
    EXPECT_EQ(cap.text(), "* [3] a\n* [3] \n* [3] b\n");
}

TEST(LogLine, RepeatsAreCountedPerCategory) {
    StdoutCapture cap;
    for (int i = 0; i < 3; ++i) logline("rep-a") << "same";
    logline("rep-a") << "different";
    EXPECT_EQ(cap.text(),
              "* rep-a: same\n"
              "* rep-a: (Last message repeated 3 times)\n"
              "* rep-a: different\n");
}

TEST(LogLine, RepeatCountsTwoAndOne) {
    StdoutCapture cap;
    logline(5, "rep-b") << "twice";
    logline(5, "rep-b") << "twice";
    logline(5, "rep-b") << "once";
    logline(5, "rep-b") << "next";
    EXPECT_EQ(cap.text(),
              "* [5] rep-b: twice\n"
              "* rep-b: (Last message repeated 2 times)\n"  // the repeat line carries no id
              "* [5] rep-b: once\n"
              "* [5] rep-b: next\n");
}

TEST(LogLine, CategoriesDoNotDisturbEachOther) {
    StdoutCapture cap;
    logline("rep-x") << "x";
    logline("rep-y") << "y";
    logline("rep-x") << "x";
    logline("rep-y") << "y";
    logline("rep-x") << "x2";
    logline() << "free";
    logline() << "free";
    EXPECT_EQ(cap.text(),
              "* rep-x: x\n"
              "* rep-y: y\n"
              "* rep-x: (Last message repeated 2 times)\n"
              "* rep-x: x2\n"
              "* free\n"
              "* free\n");
}

TEST(LogLine, TrailingLineFeedMakesADifferentTextThatPrintsTheSame) {
    StdoutCapture cap;
    logline("rep-nl") << "t";
    logline("rep-nl") << "t\n";
    EXPECT_EQ(cap.text(), "* rep-nl: t\n* rep-nl: t\n");
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
