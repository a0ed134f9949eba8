// Submission through "Submitted/": reserved names, the counter, the envelope
// and the checks that keep a broken file from being handed over.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "filter/pipe.h"
#include "runtime/files.h"
#include "runtime/stream.h"
#include "support/core/limits.h"
#include "support/core/run_program.h"

using cgp::Pipe;
using testsupport::TempDir;

namespace {

// Runs each test in a fresh server base directory with a "Submitted" folder.
class PipeTest : public ::testing::Test {
protected:
    void SetUp() override {
        char buffer[4096];
        ASSERT_NE(nullptr, ::getcwd(buffer, sizeof buffer));
        saved_ = buffer;
        ASSERT_EQ(0, ::chdir(base.path().c_str()));
        ASSERT_EQ(0, ::mkdir("Submitted", 0755));
    }
    void TearDown() override { ASSERT_EQ(0, ::chdir(saved_.c_str())); }

    std::vector<std::string> submitted() const { return testsupport::listDir(base / "Submitted"); }

    TempDir base;

private:
    std::string saved_;
};

bool allDigits(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

// Splits "<prefix><T><sep><C><suffix>" into T (unsigned) and C (signed).
bool splitNumbers(const std::string& text, const std::string& prefix, char sep, const std::string& suffix,
                  std::string& t, std::string& c) {
    if (text.size() < prefix.size() + suffix.size() || text.compare(0, prefix.size(), prefix) != 0 ||
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string middle = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
    const std::string::size_type at = middle.find(sep);
    if (at == std::string::npos) return false;
    t = middle.substr(0, at);
    c = middle.substr(at + 1);
    const std::string digits = !c.empty() && c[0] == '-' ? c.substr(1) : c;
    return allDigits(t) && allDigits(digits);
}

// "Submitted/vivoveruriruve_" T "_" pid "_" C ".tmp", with this process's pid.
bool isReservedName(const std::string& name, std::string& t, std::string& c) {
    std::string rest;
    if (!splitNumbers(name, "Submitted/vivoveruriruve_", '_', ".tmp", t, rest)) {
        const std::string pid = "_" + std::to_string(::getpid()) + "_";
        const std::string::size_type at = name.find(pid);
        if (at == std::string::npos) return false;
        const std::string without = name.substr(0, at) + "_" + name.substr(at + pid.size());
        return splitNumbers(without, "Submitted/vivoveruriruve_", '_', ".tmp", t, c);
    }
    return false;
}
bool isReservedName(const std::string& name) {
    std::string t, c;
    return isReservedName(name, t, c);
}

TEST_F(PipeTest, ReservedNameExistsEmpty) {
    const unsigned long long before = static_cast<unsigned long long>(std::time(nullptr));
    const std::string name = Pipe::newSubmitFile();
    const unsigned long long after = static_cast<unsigned long long>(std::time(nullptr));
    std::string seconds, counter;
    ASSERT_TRUE(isReservedName(name, seconds, counter)) << name;
    const unsigned long long t = std::stoull(seconds);
    EXPECT_GE(t, before);
    EXPECT_LE(t, after);
    EXPECT_EQ(std::to_string(Pipe::counter()), counter);
    EXPECT_TRUE(qdl::isFile(name));
    EXPECT_EQ(0, qdl::fileSize(name));
}

TEST_F(PipeTest, ReservationsInOneSecondDiffer) {
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) names.insert(Pipe::newSubmitFile());
    EXPECT_EQ(50u, names.size());
    EXPECT_EQ(50u, submitted().size());
}

TEST_F(PipeTest, ExistingNameIsNeverHandedOut) {
    // Predict the next step of the random generator and take both names it
    // could give (this second and the next) before the pipe does.
    std::srand(12345);
    const unsigned step = static_cast<unsigned>(std::rand());
    std::srand(12345);
    const int next = static_cast<int>(static_cast<unsigned>(Pipe::counter()) + step);
    const unsigned long long now = static_cast<unsigned long long>(std::time(nullptr));
    std::vector<std::string> taken;
    for (unsigned long long t = now; t <= now + 1; ++t) {
        taken.push_back("Submitted/vivoveruriruve_" + std::to_string(t) + "_" + std::to_string(::getpid()) + "_" +
                        std::to_string(next) + ".tmp");
        testsupport::writeFile(taken.back(), "someone else's");
    }
    const std::string name = Pipe::newSubmitFile();
    for (const std::string& t : taken) {
        EXPECT_NE(t, name);
        EXPECT_EQ("someone else's", testsupport::readFile(t));
    }
    EXPECT_TRUE(qdl::isFile(name));
}

TEST_F(PipeTest, CounterWrapsToNegativeNames) {
    std::srand(7);
    bool negative = false;
    for (int i = 0; i < 200 && !negative; ++i) {
        const std::string name = Pipe::newSubmitFile();
        negative = name.find("_-") != std::string::npos;
        ASSERT_TRUE(isReservedName(name)) << name;
        qdl::removeFile(name);
    }
    EXPECT_TRUE(negative);
}

TEST_F(PipeTest, ThreadsNeverShareAName) {
    std::vector<std::vector<std::string>> perThread(4);
    std::vector<std::thread> threads;
    for (auto& names : perThread)
        threads.emplace_back([&names] {
            for (int i = 0; i < 100; ++i) names.push_back(Pipe::newSubmitFile());
        });
    for (auto& t : threads) t.join();
    std::set<std::string> all;
    for (auto& names : perThread) all.insert(names.begin(), names.end());
    EXPECT_EQ(400u, all.size());
}

TEST_F(PipeTest, SubmitMovesToSubName) {
    const std::string name = Pipe::newSubmitFile();
    testsupport::writeFile(name, "Return-Path: a\n\nbody\n");
    ASSERT_TRUE(Pipe::submitFile(name));
    EXPECT_FALSE(qdl::isFile(name));
    EXPECT_EQ("Return-Path: a\n\nbody\n", testsupport::readFile(name + ".sub"));
    EXPECT_EQ(".tmp.sub", (name + ".sub").substr(name.size() - 4));
}

// A ".sub" name already taken (a message the server has not picked up yet)
// is never replaced: the file goes to a fresh name.
TEST_F(PipeTest, SubmitNeverReplacesAHandedOverFile) {
    const std::string name = Pipe::newSubmitFile();
    testsupport::writeFile(name, "ours");
    testsupport::writeFile(name + ".sub", "handed over before");
    ASSERT_TRUE(Pipe::submitFile(name));
    EXPECT_EQ("handed over before", testsupport::readFile(name + ".sub"));
    const std::vector<std::string> names = submitted();
    ASSERT_EQ(2u, names.size());
    for (const std::string& n : names) {
        EXPECT_EQ(n.size() - 8, n.rfind(".tmp.sub")) << n;
        if ("Submitted/" + n != name + ".sub") {
            EXPECT_EQ("ours", testsupport::readFile("Submitted/" + n));
        }
    }
}

// Names of two processes never meet, whatever their random generators draw.
TEST_F(PipeTest, NamesCarryTheProcessId) {
    std::srand(99);
    const std::string ours = Pipe::newSubmitFile();
    EXPECT_NE(std::string::npos, ours.find("_" + std::to_string(::getpid()) + "_")) << ours;
    std::srand(99);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string theirs = Pipe::newSubmitFile();
        ::_exit(theirs != ours && qdl::isFile(theirs) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(2u, submitted().size());
}

TEST_F(PipeTest, SubmitOfOpenStream) {
    const std::string name = Pipe::newSubmitFile();
    qdl::ofstream out(name);
    out << "Return-Path: a\n\nbody\n";
    ASSERT_TRUE(Pipe::submitFile(name, out));
    EXPECT_FALSE(out.is_open());
    EXPECT_EQ(std::vector<std::string>{qdl::baseName(name) + ".sub"}, submitted());
    EXPECT_EQ("Return-Path: a\n\nbody\n", testsupport::readFile(name + ".sub"));
}

// Whatever went wrong, nothing is handed over and nothing is left.
TEST_F(PipeTest, FailedStreamIsNotSubmitted) {
    const std::string name = Pipe::newSubmitFile();
    qdl::ofstream out(name);
    out << "half a message";
    out.setstate(std::ios::failbit);  // as the writer marks a copy it could not finish
    EXPECT_FALSE(Pipe::submitFile(name, out));
    EXPECT_TRUE(submitted().empty());
}

TEST_F(PipeTest, StreamThatNeverOpenedIsNotSubmitted) {
    const std::string name = Pipe::newSubmitFile();
    qdl::ofstream out(base / "no/such/dir/file");
    EXPECT_FALSE(Pipe::submitFile(name, out));
    EXPECT_TRUE(submitted().empty());
}

TEST_F(PipeTest, SubmitOfMissingFileFails) {
    EXPECT_FALSE(Pipe::submitFile("Submitted/vivoveruriruve_1_1.tmp"));
    EXPECT_TRUE(submitted().empty());
}

TEST_F(PipeTest, CancelRemovesReservedFile) {
    const std::string name = Pipe::newSubmitFile();
    Pipe::cancelSubmitFile(name);
    EXPECT_TRUE(submitted().empty());
}

TEST_F(PipeTest, WriteMessageSubmitsEnvelopeAndText) {
    ASSERT_TRUE(Pipe::writeMessage("a@b", {"y@z", "x@z"}, "Subject: s\n\nno final line end"));
    const std::vector<std::string> names = submitted();
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(".tmp.sub", names[0].substr(names[0].size() - 8));
    EXPECT_EQ("Return-Path: a@b\nEnvelope-To: x@z\nEnvelope-To: y@z\nSubject: s\n\nno final line end",
              testsupport::readFile(base / ("Submitted/" + names[0])));
}

// A file too large for the disk (here: for the file-size limit) fails the
// write; the half-written file must not reach the server.
TEST_F(PipeTest, WriteMessageFailingMidwayLeavesNothing) {
    bool ok;
    {
        testsupport::ResourceLimit small(RLIMIT_FSIZE, 4096);
        ASSERT_TRUE(small.ok());
        ok = Pipe::writeMessage("a@b", {}, std::string(100000, 'x'));
    }
    EXPECT_FALSE(ok);
    EXPECT_TRUE(submitted().empty());
}

// "Submitted" missing, or not a directory: the reservation still gives a
// name, but nothing can be written or handed over, and nothing is left.
TEST_F(PipeTest, NoUsableSubmittedDirectory) {
    for (bool asFile : {false, true}) {
        ASSERT_EQ(0, ::rmdir("Submitted")) << asFile;
        if (asFile) testsupport::writeFile("Submitted", "");
        const std::string name = Pipe::newSubmitFile();
        EXPECT_TRUE(isReservedName(name)) << name;
        EXPECT_FALSE(qdl::isFile(name));
        qdl::ofstream out(name);
        EXPECT_FALSE(Pipe::submitFile(name, out));
        EXPECT_FALSE(Pipe::writeMessage("a@b", {"c@d"}, "x\n"));
        EXPECT_EQ(asFile ? std::vector<std::string>{"Submitted"} : std::vector<std::string>{},
                  testsupport::listDir(base.path()));
        if (asFile) qdl::removeFile("Submitted");
        ASSERT_EQ(0, ::mkdir("Submitted", 0755));
    }
}

TEST_F(PipeTest, MessageIdsDiffer) {
    const std::string a = Pipe::makeMessageId();
    const std::string b = Pipe::makeMessageId();
    std::string t, c;
    ASSERT_TRUE(splitNumbers(a, "<", '.', "@vivoveruriruve>", t, c)) << a;
    ASSERT_TRUE(splitNumbers(b, "<", '.', "@vivoveruriruve>", t, c)) << b;
    EXPECT_EQ(std::to_string(Pipe::counter()), c);
    EXPECT_NE(a, b);
}

TEST(PipeEnvelope, Text) {
    const struct {
        std::string sender;
        std::set<std::string> recipients;
        std::string text;
    } cases[] = {
        {"a@b", {}, "Return-Path: a@b\n"},
        {"", {}, "Return-Path: \n"},
        // Bytewise order ("B" before "a"), each recipient once, no brackets added.
        {"<s@x>", {"b@x", "B@x", "a@x", "b@x"}, "Return-Path: <s@x>\nEnvelope-To: B@x\nEnvelope-To: a@x\nEnvelope-To: b@x\n"},
    };
    for (const auto& c : cases) {
        const Pipe::Envelope envelope(c.sender, c.recipients);
        EXPECT_EQ(c.text, envelope.toString());
        EXPECT_EQ(c.text, envelope.toString()) << "rendering leaves no state";
        std::ostringstream out;
        out << envelope << "rest";
        EXPECT_EQ(c.text + "rest", out.str());
    }
}

TEST(PipeHeaders, Text) {
    const std::string id = "<1.2@vivoveruriruve>", from = "a@b", to = "c@d", subject = "Hi";
    const std::string text = Pipe::Headers(id, from, to, subject).toString();
    const std::string head = "Message-ID: <1.2@vivoveruriruve>\nFrom: a@b\nTo: c@d\nSubject: Hi\nDate: ";
    const std::string tail = " +0000 (GMT)\n\n\n";
    ASSERT_GT(text.size(), head.size() + tail.size()) << text;
    EXPECT_EQ(head, text.substr(0, head.size()));
    EXPECT_EQ(tail, text.substr(text.size() - tail.size()));
    // "Tue, 03 Jun 2003 09:05:07", within a day of the test's own clock.
    const std::string date = text.substr(head.size(), text.size() - head.size() - tail.size());
    ASSERT_EQ(25u, date.size()) << date;
    struct tm fields = {};
    ASSERT_NE(nullptr, ::strptime(date.c_str(), "%a, %d %b %Y %H:%M:%S", &fields)) << date;
    const long long diff = static_cast<long long>(::timegm(&fields)) - static_cast<long long>(std::time(nullptr));
    EXPECT_LT(diff < 0 ? -diff : diff, 86400) << date;
}

}  // namespace
