#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "runtime/mutex.h"

using qdl::Mutex;
using qdl::ScopedLock;
using qdl::SimpleMutex;

template <class M>
class RecursiveMutexTest : public ::testing::Test {};
using MutexTypes = ::testing::Types<SimpleMutex, Mutex>;
TYPED_TEST_SUITE(RecursiveMutexTest, MutexTypes);

TYPED_TEST(RecursiveMutexTest, RelocksOnOneThreadAndReleasesToAnother) {
    TypeParam m;
    m.lock();
    m.lock();
    std::atomic<bool> taken{false};
    std::thread other([&] {
        m.lock();
        taken = true;
        m.unlock();
    });
    m.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(taken.load());  // still held once
    m.unlock();
    other.join();
    EXPECT_TRUE(taken.load());
}

TEST(MutexPool, ReusesHandlesInQueueOrder) {
    { Mutex warm; }
    const unsigned long created = Mutex::handlesCreated();
    for (int i = 0; i < 100; ++i) {
        Mutex m;
    }
    EXPECT_EQ(Mutex::handlesCreated(), created);

    pthread_mutex_t *a, *b;
    {
        auto* ma = new Mutex;
        auto* mb = new Mutex;
        EXPECT_NE(ma->native(), mb->native());
        a = ma->native();
        b = mb->native();
        delete ma;  // returned first
        delete mb;
    }
    // Every spare handle before a and b comes out first; then a, then b.
    std::vector<Mutex*> live;
    pthread_mutex_t* seenA = nullptr;
    for (unsigned long i = 0, n = Mutex::poolSize(); i < n; ++i) {
        live.push_back(new Mutex);
        if (live.back()->native() == a) seenA = a;
        if (live.back()->native() == b) {
            EXPECT_EQ(seenA, a) << "b came out before a";
        }
    }
    EXPECT_EQ(seenA, a);
    for (auto* m : live) delete m;
}

TEST(ScopedLock, LocksUnlocksAndRelocks) {
    Mutex m;
    auto heldElsewhere = [&] {
        bool free = false;
        std::thread t([&] {
            if (pthread_mutex_trylock(m.native()) == 0) {
                free = true;
                pthread_mutex_unlock(m.native());
            }
        });
        t.join();
        return !free;
    };
    {
        ScopedLock lazy(m, false);
        EXPECT_FALSE(lazy.held());
        EXPECT_FALSE(heldElsewhere());
    }
    EXPECT_FALSE(heldElsewhere());  // a lock never taken is not released
    {
        ScopedLock guard(m);
        EXPECT_TRUE(heldElsewhere());
        guard.unlock();
        EXPECT_FALSE(heldElsewhere());
        guard.unlock();  // no second unlock
        guard.relock();
        EXPECT_TRUE(heldElsewhere());
    }
    EXPECT_FALSE(heldElsewhere());
}

// Destroyed by the exit handlers; must hand its handle back without error.
static Mutex aliveAtExit;
TEST(MutexPool, StaticMutexLivesUntilExit) { ScopedLock guard(aliveAtExit); }

void churnMutexes() {
    for (;;) {
        Mutex a;
        Mutex b;
    }
}

// Detached threads may still make and drop mutexes while the process exits (a
// pool worker that ends, say); the pool's clean-up at exit must not free the
// queue from under them.
TEST(MutexPool, MutexesMadeAndDroppedWhileTheProcessExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            for (int i = 0; i < 4; ++i) std::thread(churnMutexes).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
