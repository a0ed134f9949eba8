#include "runtime/thread.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <sched.h>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Polls with a generous deadline; for ends that are signalled by no one.
bool waitUntil(const std::function<bool()>& done, int seconds = 20) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// ---- Thread

void* echo(void* arg) {
    static_cast<std::atomic<int>*>(arg)->fetch_add(1);
    return arg;
}

struct Gate {
    qdl::Event open;
    std::atomic<bool> passed{false};
};

void* waitAtGate(void* arg) {
    Gate* gate = static_cast<Gate*>(arg);
    gate->open.wait();
    gate->passed = true;
    return nullptr;
}

void* spinUntilCancelled(void* arg) {
    static_cast<std::atomic<bool>*>(arg)->store(true);
    while (true) {
        pthread_testcancel();
        usleep(1000);
    }
    return nullptr;
}

TEST(Thread, StartAndJoin) {
    std::atomic<int> calls{0};
    qdl::Thread t = qdl::Thread::start(echo, &calls, false);
    ASSERT_FALSE(t.isNull());
    EXPECT_TRUE(t.isRunning());
    t.join();
    EXPECT_FALSE(t.isRunning());
    EXPECT_TRUE(t.hasEnded());
    EXPECT_EQ(calls.load(), 1);
    t.join();  // a second join does nothing
    t.cancel();
}

TEST(Thread, DetachedThreadIsNotJoined) {
    std::atomic<int> calls{0};
    qdl::Thread t = qdl::Thread::start(echo, &calls, true);
    ASSERT_FALSE(t.isNull());
    t.join();  // must not join a detached thread; returns at once
    EXPECT_TRUE(t.isRunning());
    ASSERT_TRUE(waitUntil([&] { return t.hasEnded(); }));
    EXPECT_EQ(calls.load(), 1);
    t.cancel();  // the thread is gone: nothing is cancelled
    EXPECT_FALSE(t.isRunning());
}

TEST(Thread, EmptyHandleDoesNothing) {
    qdl::Thread t;
    EXPECT_TRUE(t.isNull());
    EXPECT_FALSE(t.isRunning());
    t.join();
    t.cancel();
}

TEST(Thread, CopiesShareOneRecordAndThreadOutlivesThem) {
    Gate gate;
    {
        qdl::Thread a = qdl::Thread::start(waitAtGate, &gate, false);
        qdl::Thread b(a);
        qdl::Thread c;
        c = b;
        EXPECT_EQ(a.id(), c.id());
        EXPECT_FALSE(a.isUnique());
    }  // record deleted once (the sanitizer build checks), thread not joined
    EXPECT_FALSE(gate.passed.load());
    gate.open.signal();
    EXPECT_TRUE(waitUntil([&] { return gate.passed.load(); }));
}

TEST(Thread, CancelStopsThreadAtCancellationPoint) {
    for (bool detach : {false, true}) {
        std::atomic<bool> started{false};
        qdl::Thread t = qdl::Thread::start(spinUntilCancelled, &started, detach);
        ASSERT_TRUE(waitUntil([&] { return started.load(); }));
        EXPECT_FALSE(t.hasEnded());
        t.cancel();
        EXPECT_FALSE(t.isRunning());
        EXPECT_TRUE(waitUntil([&] { return t.hasEnded(); })) << detach;
        t.join();  // no longer joinable: does nothing
    }
}

// ---- Event

TEST(Event, WaitAfterSignalReturnsAndClears) {
    qdl::Event e;
    e.signal();
    e.wait();
    EXPECT_FALSE(e.timedWait(0));
}

TEST(Event, SecondWaitBlocksUntilNextSignal) {
    qdl::Event e;
    e.signal();
    e.wait();
    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        e.wait();
        woke = true;
    });
    pause(50);
    EXPECT_FALSE(woke.load());
    e.signal();
    waiter.join();
    EXPECT_TRUE(woke.load());
}

TEST(Event, TimedWaitZero) {
    qdl::Event e;
    const auto start = Clock::now();
    EXPECT_FALSE(e.timedWait(0));
    EXPECT_FALSE(e.timedWait(-5));
    EXPECT_LT(msSince(start), 1000);
    e.signal();
    EXPECT_TRUE(e.timedWait(0));
    EXPECT_FALSE(e.timedWait(0));  // cleared by the successful wait
}

TEST(Event, ResetClears) {
    qdl::Event e;
    e.signal();
    e.reset();
    EXPECT_FALSE(e.timedWait(0));
}

TEST(Event, TimedWaitReturnsWhenSignalled) {
    qdl::Event e;
    std::thread signaller([&] {
        pause(200);
        e.signal();
    });
    const auto start = Clock::now();
    EXPECT_TRUE(e.timedWait(2000));
    const long elapsed = msSince(start);
    signaller.join();
    EXPECT_GE(elapsed, 150);
    EXPECT_LT(elapsed, 1900);
}

TEST(Event, TimedWaitRunsItsFullTime) {
    // A deadline whose nanoseconds pass a whole second must still be honoured.
    qdl::Event e;
    const auto start = Clock::now();
    EXPECT_FALSE(e.timedWait(950));
    EXPECT_GE(msSince(start), 900);
}

TEST(Event, OneSignalWakesOneWaiter) {
    qdl::Event e;
    std::atomic<int> woke{0};
    std::thread a([&] {
        e.wait();
        ++woke;
    });
    std::thread b([&] {
        e.wait();
        ++woke;
    });
    e.signal();
    ASSERT_TRUE(waitUntil([&] { return woke.load() == 1; }));
    pause(50);
    EXPECT_EQ(woke.load(), 1);
    e.signal();
    a.join();
    b.join();
    EXPECT_EQ(woke.load(), 2);
}

// ---- ThreadPool. The pool is process-wide and stopAll is for good, so each
// case runs in a fresh child process.

class ThreadPoolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

void recordThread(void* arg) { *static_cast<pthread_t*>(arg) = pthread_self(); }

struct Blocker {
    qdl::Event release;
    std::atomic<int>* started;
};

void blockUntilReleased(void* arg) {
    Blocker* b = static_cast<Blocker*>(arg);
    b->started->fetch_add(1);
    b->release.wait();
}

// Failures inside the child show in its output and make it exit with 1.
void runInChild(void (*scenario)()) {
    EXPECT_EXIT(
        {
            scenario();
            // _exit: pool threads may still be ending; the exit-time leak
            // check would race them and fail the scenario at random.
            std::fflush(nullptr);
            _exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

void scenarioFirstRunStartsWorkerAndNextJobReusesIt() {
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 0u);
    pthread_t first{}, second{};
    qdl::ThreadPool::Task t1 = qdl::ThreadPool::run(recordThread, &first);
    ASSERT_FALSE(t1.isNull());
    qdl::ThreadPool::wait(t1);
    EXPECT_TRUE(t1.isDone());
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 1u);
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 1u);
    qdl::ThreadPool::Task t2 = qdl::ThreadPool::run(recordThread, &second);
    EXPECT_TRUE(qdl::ThreadPool::timedWait(t2, 10000));
    EXPECT_TRUE(pthread_equal(first, second));
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 1u);
    // Waiting again on a finished job, after the worker moved on, returns at once.
    qdl::ThreadPool::wait(t1);
    EXPECT_TRUE(qdl::ThreadPool::timedWait(t1, 0));
}

TEST_F(ThreadPoolTest, FirstRunStartsWorkerAndNextJobReusesIt) { runInChild(scenarioFirstRunStartsWorkerAndNextJobReusesIt); }

void scenarioTimedWaitOnBusyJob() {
    std::atomic<int> started{0};
    Blocker b{{}, &started};
    qdl::ThreadPool::Task t = qdl::ThreadPool::run(blockUntilReleased, &b);
    EXPECT_FALSE(qdl::ThreadPool::timedWait(t, 20));
    EXPECT_FALSE(t.isDone());
    // Several waiters on one job all return when it ends.
    std::atomic<int> returned{0};
    std::thread w1([&] { qdl::ThreadPool::wait(t); ++returned; });
    std::thread w2([&] { qdl::ThreadPool::wait(t); ++returned; });
    b.release.signal();
    w1.join();
    w2.join();
    EXPECT_EQ(returned.load(), 2);
    EXPECT_TRUE(qdl::ThreadPool::timedWait(qdl::ThreadPool::Task(), 0));
    qdl::ThreadPool::wait(qdl::ThreadPool::Task());
}

TEST_F(ThreadPoolTest, TimedWaitOnBusyJob) { runInChild(scenarioTimedWaitOnBusyJob); }

void scenarioAtMostFiftyWorkersPark() {
    const int n = 51;
    std::atomic<int> started{0};
    std::vector<Blocker> blockers(n);
    std::vector<qdl::ThreadPool::Task> tasks;
    std::set<pthread_t> threads;
    for (auto& b : blockers) {
        b.started = &started;
        tasks.push_back(qdl::ThreadPool::run(blockUntilReleased, &b));
    }
    ASSERT_TRUE(waitUntil([&] { return started.load() == n; }));
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 51u);
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 0u);
    blockers[7].release.signal();
    qdl::ThreadPool::wait(tasks[7]);
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 50u);  // the first to finish ended
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 0u);
    for (int i = 0; i < n; ++i)
        if (i != 7) blockers[i].release.signal();
    for (auto& t : tasks) qdl::ThreadPool::wait(t);
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 50u);
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 50u);
}

TEST_F(ThreadPoolTest, AtMostFiftyWorkersPark) { runInChild(scenarioAtMostFiftyWorkersPark); }

void scenarioStopAllEndsParkedAndBusyWorkersAndRefusesNewJobs() {
    std::atomic<int> started{0};
    Blocker parked[3], busy;
    parked[0].started = parked[1].started = parked[2].started = busy.started = &started;
    qdl::ThreadPool::Task tasks[3];
    for (int i = 0; i < 3; ++i) tasks[i] = qdl::ThreadPool::run(blockUntilReleased, &parked[i]);
    ASSERT_TRUE(waitUntil([&] { return started.load() == 3; }));
    for (int i = 0; i < 3; ++i) parked[i].release.signal();
    for (auto& t : tasks) qdl::ThreadPool::wait(t);
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 3u);

    qdl::ThreadPool::Task busyTask = qdl::ThreadPool::run(blockUntilReleased, &busy);
    ASSERT_TRUE(waitUntil([&] { return started.load() == 4; }));
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 2u);
    qdl::ThreadPool::stopAll();
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 0u);
    EXPECT_TRUE(waitUntil([] { return qdl::ThreadPool::workerCount() == 1u; }));

    // Refused at once instead of waiting for a worker that never comes.
    pthread_t never{};
    qdl::ThreadPool::Task refused = qdl::ThreadPool::run(recordThread, &never);
    EXPECT_TRUE(refused.isNull());

    busy.release.signal();
    qdl::ThreadPool::wait(busyTask);
    EXPECT_TRUE(waitUntil([] { return qdl::ThreadPool::workerCount() == 0u; }));
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 0u);
    qdl::ThreadPool::stopAll();  // a second call is harmless
}

TEST_F(ThreadPoolTest, StopAllEndsParkedAndBusyWorkersAndRefusesNewJobs) { runInChild(scenarioStopAllEndsParkedAndBusyWorkersAndRefusesNewJobs); }

// A job that holds a lock and a local object, then waits for ever at a
// cancellation point.
struct Stuck {
    qdl::Mutex held;
    qdl::Event never;
    std::atomic<int>* started;
    std::atomic<bool> unwound{false};
};

void holdLockAndWait(void* arg) {
    Stuck* s = static_cast<Stuck*>(arg);
    struct Local {
        std::atomic<bool>* unwound;
        ~Local() { *unwound = true; }
    } local{&s->unwound};
    qdl::ScopedLock guard(s->held);
    s->started->fetch_add(1);
    s->never.wait();
}

void scenarioDestroyWorkerEndsABusyWorker() {
    std::atomic<int> started{0};
    Stuck stuck;
    stuck.started = &started;
    qdl::ThreadPool::Task task = qdl::ThreadPool::run(holdLockAndWait, &stuck);
    ASSERT_TRUE(waitUntil([&] { return started.load() == 1; }));
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 1u);

    EXPECT_TRUE(qdl::ThreadPool::destroyWorker(task));
    ASSERT_TRUE(qdl::ThreadPool::timedWait(task, 10000));
    // The job's stack was unwound: its lock is free and its locals are gone.
    EXPECT_TRUE(stuck.unwound.load());
    ASSERT_EQ(pthread_mutex_trylock(stuck.held.native()), 0);
    pthread_mutex_unlock(stuck.held.native());
    // The worker left the pool instead of parking.
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 0u);
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 0u);
    EXPECT_FALSE(qdl::ThreadPool::destroyWorker(task));  // already gone

    // The pool goes on with a new worker.
    pthread_t next{};
    qdl::ThreadPool::Task again = qdl::ThreadPool::run(recordThread, &next);
    EXPECT_TRUE(qdl::ThreadPool::timedWait(again, 10000));
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 1u);
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 1u);
}

TEST_F(ThreadPoolTest, DestroyWorkerEndsABusyWorker) { runInChild(scenarioDestroyWorkerEndsABusyWorker); }

void scenarioDestroyWorkerLeavesAWorkerThatFinishedTheJob() {
    pthread_t first{}, second{};
    qdl::ThreadPool::Task done = qdl::ThreadPool::run(recordThread, &first);
    qdl::ThreadPool::wait(done);
    // The job is over and its worker parked: it may already run someone else's job.
    EXPECT_FALSE(qdl::ThreadPool::destroyWorker(done));
    EXPECT_FALSE(qdl::ThreadPool::destroyWorker(qdl::ThreadPool::Task()));
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 1u);
    qdl::ThreadPool::Task next = qdl::ThreadPool::run(recordThread, &second);
    EXPECT_TRUE(qdl::ThreadPool::timedWait(next, 10000));
    EXPECT_TRUE(pthread_equal(first, second));
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 1u);
}

TEST_F(ThreadPoolTest, DestroyWorkerLeavesAWorkerThatFinishedTheJob) {
    runInChild(scenarioDestroyWorkerLeavesAWorkerThatFinishedTheJob);
}

struct Spinner {
    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
};

// Reaches no cancellation point until released.
void spinUntilReleased(void* arg) {
    Spinner* s = static_cast<Spinner*>(arg);
    s->started = true;
    while (!s->release.load()) sched_yield();
}

// The task is not done while the job still runs, so nobody frees what the job
// still uses; the worker ends when the job returns.
void scenarioDestroyedJobCountsAsDoneOnlyWhenItStops() {
    Spinner spinner;
    qdl::ThreadPool::Task task = qdl::ThreadPool::run(spinUntilReleased, &spinner);
    ASSERT_TRUE(waitUntil([&] { return spinner.started.load(); }));
    EXPECT_TRUE(qdl::ThreadPool::destroyWorker(task));
    EXPECT_FALSE(qdl::ThreadPool::destroyWorker(task));  // once is enough
    EXPECT_FALSE(qdl::ThreadPool::timedWait(task, 50));
    EXPECT_FALSE(task.isDone());
    spinner.release = true;
    ASSERT_TRUE(qdl::ThreadPool::timedWait(task, 10000));
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 0u);
    EXPECT_EQ(qdl::ThreadPool::idleCount(), 0u);
}

TEST_F(ThreadPoolTest, DestroyedJobCountsAsDoneOnlyWhenItStops) {
    runInChild(scenarioDestroyedJobCountsAsDoneOnlyWhenItStops);
}

void scenarioNullJobIsRefused() {
    EXPECT_TRUE(qdl::ThreadPool::run(nullptr, nullptr).isNull());
    EXPECT_EQ(qdl::ThreadPool::workerCount(), 0u);
}

TEST_F(ThreadPoolTest, NullJobIsRefused) { runInChild(scenarioNullJobIsRefused); }

}  // namespace
