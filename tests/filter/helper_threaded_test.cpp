// The protocol loop with each request on a thread of its own. The requests
// block on gates the test opens, so the test decides how many run at once.
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "filter/helper.h"
#include "runtime/log.h"
#include "runtime/thread.h"
#include "support/core/pipe_input.h"
#include "support/core/stdout_lines.h"

namespace {

// Every wait of these tests ends by then; a healthy run needs a fraction.
const int kDeadlineMs = 20000;
const int kGates = 100;
// Lines longer than the stdio buffer, so a write that was not whole would show.
const std::size_t kChattyLength = 6000;
const int kChattyLines = 8;

std::string filler(int seqID, int part) {
    return std::string(kChattyLength, static_cast<char>('a' + (seqID * 7 + part) % 26));
}

std::string tooMany(int seqID) {
    return std::to_string(seqID) + " REJECTED \"Too many requests in queue (50), try again in a few seconds.\"";
}

std::string inUse(std::uint32_t number) {
    return std::to_string(number) + " REJECTED \"This request ID is already in use (" + std::to_string(number) +
           "), try again in a few seconds.\"";
}

std::string started(std::uint32_t number) { return "* [" + std::to_string(number) + "] Thread processing started"; }
std::string done(std::uint32_t number) { return "* [" + std::to_string(number) + "] Thread processing done"; }

// Accepts "file". Each request waits at the gate of its sequence number
// (bounded), then replies "N OK parameters". Parameters "chatty" also log
// long lines and give a long reply.
class GatedHelper : public cgp::Helper {
public:
    GatedHelper() : cgp::Helper(true, "REJECTED") {
        for (int i = 0; i < kGates; ++i) gates_.emplace_back(new qdl::Event);
    }

    bool acceptsCommand(const std::string& command) override { return command == "file"; }

    void processRequest(int seqID, const std::string&, const std::string& parameters) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            entered_.emplace_back(seqID, parameters);
            changed_.notify_all();
        }
        if (!released_ && !gate(seqID).timedWait(kDeadlineMs)) {
            qdl::outline() << seqID << " TIMEOUT";
            return;
        }
        if (parameters == "chatty") {
            for (int part = 0; part < kChattyLines; ++part)
                qdl::logline(static_cast<unsigned>(seqID)) << "part " << part << " " << filler(seqID, part);
            // One message of two lines: both carry the prefix, and stay together.
            qdl::logline(static_cast<unsigned>(seqID)) << "first of two\nsecond of two\n";
            qdl::outline() << seqID << " OK chatty " << filler(seqID, kChattyLines);
        } else {
            qdl::outline() << seqID << " OK " << parameters;
        }
        if (runReturned) ++repliesAfterReturn;
    }

    // Lets the request with this number pass its gate (one pass per call).
    void open(int seqID) { gate(seqID).signal(); }
    // Lets every request pass, now and later.
    void openAll() {
        released_ = true;
        for (auto& g : gates_) g->signal();
    }
    // Waits at most ms until processRequest has been entered n times in all.
    bool waitEntered(std::size_t n, int ms) {
        std::unique_lock<std::mutex> guard(mutex_);
        return changed_.wait_for(guard, std::chrono::milliseconds(ms), [&] { return entered_.size() >= n; });
    }
    // The parameters of every request that ran with this number, in order.
    std::vector<std::string> enteredWith(int seqID) {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<std::string> out;
        for (const auto& e : entered_)
            if (e.first == seqID) out.push_back(e.second);
        return out;
    }

    std::atomic<bool> runReturned{false};
    std::atomic<int> repliesAfterReturn{0};

private:
    qdl::Event& gate(int seqID) { return *gates_.at(static_cast<std::size_t>(seqID) % kGates); }

    std::vector<std::unique_ptr<qdl::Event>> gates_;
    std::atomic<bool> released_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<int, std::string>> entered_;
};

std::size_t countOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

std::string requests(int from, int to, const std::string& parameters) {
    std::string text;
    for (int i = from; i <= to; ++i) text += std::to_string(i) + " FILE " + parameters + "\r\n";
    return text;
}

class ThreadedLoop : public ::testing::Test {
protected:
    void SetUp() override {
        out_.reset(new testsupport::StdoutLines);
        loop_ = std::thread([this] {
            helper_.run(input_.stream());
            helper_.runReturned = true;
            loopEnded_.signal();
        });
    }

    void TearDown() override {
        // After a failed check too: open every gate and end the input, so
        // the loop comes to its end.
        helper_.openAll();
        input_.close();
        if (loop_.joinable()) loop_.join();
        const std::vector<std::string> lines = out_->stop();
        if (HasFailure()) {
            for (const std::string& line : lines) std::cerr << line.substr(0, 200) << "\n";
        }
    }

    // Ends the input; true when the loop returned in time.
    bool finish() {
        input_.close();
        return loopEnded_.timedWait(kDeadlineMs);
    }

    GatedHelper helper_;
    testsupport::PipeInput input_;
    std::unique_ptr<testsupport::StdoutLines> out_;
    qdl::Event loopEnded_;
    std::thread loop_;
};

TEST_F(ThreadedLoop, FiftyRunAtOnceAndTheFiftyFirstIsRefused) {
    input_.send(requests(1, 50, "hold"));
    ASSERT_TRUE(helper_.waitEntered(50, kDeadlineMs));

    input_.send("51 FILE more\r\n");
    ASSERT_TRUE(out_->waitForLine(tooMany(51), kDeadlineMs));
    // The limit comes before the number test.
    input_.send("7 FILE again\r\n");
    ASSERT_TRUE(out_->waitForLine(tooMany(7), kDeadlineMs));

    // One ends: there is room for one more.
    helper_.open(3);
    ASSERT_TRUE(out_->waitForLine(done(3), kDeadlineMs));
    input_.send("51 FILE more\r\n");
    ASSERT_TRUE(helper_.waitEntered(51, kDeadlineMs));

    helper_.openAll();
    ASSERT_TRUE(finish());
    const std::vector<std::string> lines = out_->stop();
    for (int i = 1; i <= 50; ++i) {
        EXPECT_EQ(countOf(lines, std::to_string(i) + " OK hold"), 1u) << i;
        EXPECT_EQ(countOf(lines, started(i)), 1u) << i;
        EXPECT_EQ(countOf(lines, done(i)), 1u) << i;
    }
    // The refused ones never ran: 51 ran once, after the room came; 7 once.
    EXPECT_EQ(helper_.enteredWith(51), std::vector<std::string>{"more"});
    EXPECT_EQ(countOf(lines, started(51)), 1u);
    EXPECT_EQ(helper_.enteredWith(7), std::vector<std::string>{"hold"});
    EXPECT_EQ(countOf(lines, "51 OK more"), 1u);
}

TEST_F(ThreadedLoop, ARunningNumberIsRefusedAndFreeAgainOnceItsRequestEnds) {
    input_.send("1 FILE first\r\n2 FILE other\r\n-2 FILE negative\r\n");
    ASSERT_TRUE(helper_.waitEntered(3, kDeadlineMs));

    input_.send("1 FILE second\r\n");
    ASSERT_TRUE(out_->waitForLine(inUse(1), kDeadlineMs));
    // Replies carry the number as unsigned 32-bit decimal.
    input_.send("-2 FILE again\r\n");
    ASSERT_TRUE(out_->waitForLine(inUse(4294967294u), kDeadlineMs));

    helper_.open(1);
    ASSERT_TRUE(out_->waitForLine(done(1), kDeadlineMs));
    input_.send("1 FILE third\r\n");
    ASSERT_TRUE(helper_.waitEntered(4, kDeadlineMs));

    helper_.openAll();
    ASSERT_TRUE(finish());
    const std::vector<std::string> lines = out_->stop();
    EXPECT_EQ(helper_.enteredWith(1), (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(helper_.enteredWith(-2), std::vector<std::string>{"negative"});
    EXPECT_EQ(countOf(lines, "1 OK first"), 1u);
    EXPECT_EQ(countOf(lines, "1 OK third"), 1u);
    EXPECT_EQ(countOf(lines, "1 OK second"), 0u);
    EXPECT_EQ(countOf(lines, started(1)), 2u);
    EXPECT_EQ(countOf(lines, done(1)), 2u);
    EXPECT_EQ(countOf(lines, done(4294967294u)), 1u);
}

TEST_F(ThreadedLoop, RepliesAndLogLinesOfConcurrentRequestsNeverMix) {
    input_.send(requests(1, 50, "chatty"));
    ASSERT_TRUE(helper_.waitEntered(50, kDeadlineMs));
    helper_.openAll();  // all fifty write at once
    ASSERT_TRUE(finish());
    std::vector<std::string> lines = out_->stop();

    std::vector<std::string> expected{"* Ready to receive INTF command."};
    for (int i = 1; i <= 50; ++i) {
        const std::string id = "* [" + std::to_string(i) + "] ";
        expected.push_back(started(i));
        for (int part = 0; part < kChattyLines; ++part)
            expected.push_back(id + "part " + std::to_string(part) + " " + filler(i, part));
        expected.push_back(id + "first of two");
        expected.push_back(id + "second of two");
        expected.push_back(std::to_string(i) + " OK chatty " + filler(i, kChattyLines));
        expected.push_back(done(i));
    }
    // Each request's own lines come in the order it wrote them.
    for (int i = 1; i <= 50; ++i) {
        const std::string id = "* [" + std::to_string(i) + "] ";
        const std::string reply = std::to_string(i) + " OK ";
        std::vector<std::string> own;
        for (const std::string& line : lines)
            if (line.compare(0, id.size(), id) == 0 || line.compare(0, reply.size(), reply) == 0)
                own.push_back(line);
        ASSERT_EQ(own.size(), kChattyLines + 5u) << i;
        EXPECT_EQ(own.front(), started(i)) << i;
        EXPECT_EQ(own[kChattyLines + 1], id + "first of two") << i;
        EXPECT_EQ(own[kChattyLines + 2], id + "second of two") << i;
        EXPECT_EQ(own.back(), done(i)) << i;
    }
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    // Compared whole: a line cut into or run together with another is a
    // line that was not expected.
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_TRUE(lines[i] == expected[i]) << "line " << i << ": " << lines[i].substr(0, 80) << "...";
    }
}

TEST_F(ThreadedLoop, AtTheEndOfInputTheLoopWaitsForEveryRunningRequest) {
    input_.send(requests(1, 3, "hold"));
    ASSERT_TRUE(helper_.waitEntered(3, kDeadlineMs));
    input_.close();
    ASSERT_TRUE(input_.waitForEnd(kDeadlineMs));
    // The input is read to its end, and three requests still owe a reply.
    EXPECT_FALSE(loopEnded_.timedWait(300));
    EXPECT_FALSE(helper_.runReturned);

    for (int i = 1; i <= 3; ++i) helper_.open(i);
    ASSERT_TRUE(loopEnded_.timedWait(kDeadlineMs));
    EXPECT_EQ(helper_.repliesAfterReturn, 0);
    const std::vector<std::string> lines = out_->stop();
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(countOf(lines, std::to_string(i) + " OK hold"), 1u) << i;
        EXPECT_EQ(countOf(lines, done(i)), 1u) << i;
    }
}

// Makes pthread_create fail the way it does when the system can give no
// more threads: every new thread asks for a stack larger than the address
// space. (A lowered RLIMIT_NPROC does not bind root, who runs the suite in CI.)
class ThreadStartBlocker {
public:
    ThreadStartBlocker() {
        if (pthread_getattr_default_np(&saved_) != 0) return;
        haveSaved_ = true;
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        const bool set = pthread_attr_setstacksize(&huge, std::size_t(1) << 50) == 0 &&
                         pthread_setattr_default_np(&huge) == 0;
        pthread_attr_destroy(&huge);
        if (!set) return;
        qdl::Thread probe = qdl::Thread::start(idle, nullptr);
        ok_ = probe.isNull();
        probe.join();
    }
    ~ThreadStartBlocker() {
        if (!haveSaved_) return;
        pthread_setattr_default_np(&saved_);
        pthread_attr_destroy(&saved_);
    }
    ThreadStartBlocker(const ThreadStartBlocker&) = delete;
    ThreadStartBlocker& operator=(const ThreadStartBlocker&) = delete;
    bool ok() const { return ok_; }

private:
    static void* idle(void*) { return nullptr; }
    pthread_attr_t saved_;
    bool haveSaved_ = false;
    bool ok_ = false;
};

TEST_F(ThreadedLoop, AThreadThatCannotStartRefusesItsRequestAndFreesTheNumber) {
    input_.send("1 FILE hold\r\n");
    ASSERT_TRUE(helper_.waitEntered(1, kDeadlineMs));
    {
        ThreadStartBlocker blocker;
        if (!blocker.ok()) GTEST_SKIP() << "this system starts threads with any stack size";
        input_.send("5 FILE a\r\n");
        ASSERT_TRUE(out_->waitForLine(
            "5 REJECTED \"Could not start a thread for this request, try again in a few seconds.\"", kDeadlineMs));
    }
    input_.send("5 FILE b\r\n");
    ASSERT_TRUE(helper_.waitEntered(2, kDeadlineMs));

    helper_.openAll();
    ASSERT_TRUE(finish());
    const std::vector<std::string> lines = out_->stop();
    EXPECT_EQ(helper_.enteredWith(5), std::vector<std::string>{"b"});
    EXPECT_EQ(countOf(lines, "5 OK b"), 1u);
    EXPECT_EQ(countOf(lines, "1 OK hold"), 1u);
    EXPECT_EQ(countOf(lines, done(5)), 1u);
}

}  // namespace
