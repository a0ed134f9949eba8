// The parser's driver: modes, refused nested parses, scanner failures that
// must not end the process, parses from several threads, and data sets
// used while the process exits.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "serverdata/dataset.h"
#include "serverdata/internal/parser.h"
#include "serverdata/internal/scanner.h"
#include "support/core/capture.h"
#include "support/serverdata/fake_base.h"
#include "support/serverdata/values.h"

using cgp::DataSet;

TEST(ParserTest, ModesAndResults) {
    EXPECT_TRUE(cgp::parseText("{a = b;}", cgp::kDataMode));
    EXPECT_TRUE(cgp::parseText("", cgp::kDataMode));  // accepted, no value
    EXPECT_FALSE(cgp::parseText("(a,)", cgp::kDataMode));
    EXPECT_FALSE(cgp::parseText("a", 3));
    EXPECT_FALSE(cgp::parseText("a", -1));

    testsupport::FakeBase base;
    base.write("ok.data", "(1, 2)");
    testsupport::StdoutCapture capture;
    EXPECT_TRUE(cgp::parseFile("ok.data", cgp::kDataMode));
    EXPECT_FALSE(cgp::parseFile("ok.data", 3));
    EXPECT_FALSE(cgp::parseFile("missing.data", cgp::kDataMode));
    EXPECT_EQ(capture.text(), "");
}

// Fault once: the recursive parser lock let an action's own parse in, and it
// emptied the value stack under the running parse.
TEST(ParserTest, ANestedParseOnTheSameThreadIsRefused) {
    testsupport::FakeBase base;
    base.write("a.settings", "{a = b;}");
    {
        cgp::ParseInProgress running;
        EXPECT_FALSE(cgp::parseText("a", cgp::kDataMode));
        EXPECT_FALSE(cgp::parseFile("a.settings", cgp::kDataMode));
        const DataSet parent(DataSet::kArray);
        const DataSet refused = DataSet::parse("a", parent);
        EXPECT_TRUE(refused->isEmpty());
        EXPECT_EQ(refused->getParent().get(), parent.get());
        EXPECT_TRUE(DataSet::loadFromFile("a.settings")->isEmpty());

        // Another thread is not inside this parse.
        bool parsed = false;
        std::thread other([&parsed] { parsed = DataSet::parse("x")->value == "x"; });
        other.join();
        EXPECT_TRUE(parsed);
    }
    EXPECT_FALSE(cgp::ParseInProgress::onThisThread());
    EXPECT_EQ(testsupport::describe(DataSet::loadFromFile("a.settings")), "D{\"a\":S\"b\"}");
}

// Fault once: a read error ended the whole process with exit status 2.
TEST(ParserTest, AReadErrorFailsTheParseOnly) {
    testsupport::FakeBase base;
    const std::string folder = base.makeFolder("Settings");
    testsupport::StdoutCapture capture;
    EXPECT_FALSE(cgp::parseFile(folder, cgp::kDataMode));
    EXPECT_EQ(capture.text(), "* while parsing \"" + folder + "\" file: input in flex scanner failed : near \"\" (0:0)\n");
    // The scanner starts clean afterwards.
    EXPECT_EQ(testsupport::describe(DataSet::parse("(a, b)")), "A[S\"a\",S\"b\"]");
    base.write("Settings/x.settings", "{x = y;}");
    EXPECT_EQ(testsupport::describe(DataSet::loadFromFile("Settings/x.settings")), "D{\"x\":S\"y\"}");
}

TEST(ParserTest, AFailedParseLeavesNothingForTheNext) {
    // A text cut short in the middle of a token, then a good one.
    EXPECT_TRUE(DataSet::parse("{a = \"unterminated")->isEmpty());
    EXPECT_TRUE(DataSet::parse("{a = (1, 2, [TWE")->isEmpty());
    EXPECT_EQ(testsupport::describe(DataSet::parse("z")), "S\"z\"");
    EXPECT_EQ(testsupport::describe(DataSet::parse("{a = (1, 2);}")), "D{\"a\":A[S\"1\",S\"2\"]}");
}

// Fault once: a refill took 16 KiB however much the buffer held, and the
// scanner read an unfinished token again from its start after each, so one
// long token took time in the square of its length (8 MB: 5 s, 16 MB:
// 20 s) in every mode. The refills now grow with the token: it is read
// again only as often as the buffer doubles.
TEST(ParserTest, ALongTokenTakesFewReads) {
    const std::string run(1 << 20, 'a');
    const std::string base64(1 << 20, 'A');
    const struct {
        const char* name;
        std::string text;
        int mode;
    } cases[] = {
        {"data atom", run, cgp::kDataMode},
        {"data string", "(\"" + run + "\")", cgp::kDataMode},
        {"data block", "{a = [" + base64 + "];}", cgp::kDataMode},
        {"router atom", "<" + run + "> = b", cgp::kRouterMode},
        {"router quoted target", "a = \"" + run + "\"b", cgp::kRouterMode},
        {"page text", run, cgp::kPageMode},
        {"page string", "%%\"" + run + "\"%%", cgp::kPageMode},
        {"page name", "%%" + run + "%%", cgp::kPageMode},
    };
    testsupport::FakeBase base;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // 64 reads of 16 KiB before; now the buffer doubles 6 times, with a
        // few reads at the start and the end.
        for (const bool fast : {true, false}) {
            cgp::scannerUseFastPath(fast);
            EXPECT_TRUE(cgp::parseText(c.text, c.mode));
            EXPECT_LE(cgp::scannerReads(), 16u);
            base.write("long.text", c.text);
            EXPECT_TRUE(cgp::parseFile("long.text", c.mode));
            EXPECT_LE(cgp::scannerReads(), 16u);
            cgp::scannerUseFastPath(true);
        }
    }
}

TEST(ParserTest, ParsesFromSeveralThreads) {
    testsupport::FakeBase base;
    base.write("t.settings", "{name = file; list = (1, 2, 3);}");
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            const std::string own = "{thread = " + std::to_string(t) + "; data = [TWFu];}";
            for (int i = 0; i < 300; ++i) {
                const DataSet a = DataSet::parse(own);
                const DataSet b = DataSet::loadFromFile("t.settings");
                if (a->members.at("thread")->asInt() != t || a->members.at("data")->value != "Man") ++failures[t];
                if (b->members.at("list")->elements.size() != 3) ++failures[t];
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

namespace {

// Runs after every static made after its registration is gone.
void useDataSetsAtExit() {
    bool ok = pthread_mutex_lock(cgp::globalPtrMutex().native()) == 0;
    if (ok) pthread_mutex_unlock(cgp::globalPtrMutex().native());
    const DataSet value = DataSet::parse("{a = (1, 2);}");
    ok = ok && DataSet::toString(value, false) == "{a = (1,2);}";
    DataSet copy = value;
    copy = DataSet("released");
    ::_exit(ok ? 0 : 1);
}

}  // namespace

// Fault once: the handle mutex and the value stack's mutex were destroyed at
// exit, under detached threads still releasing data sets.
TEST(ParserTest, DataSetsWorkWhileTheProcessExits) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::atexit(useDataSetsAtExit);
        DataSet::parse("{first = use;}");
        std::exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
