#include "runtime/deadline.h"

#include <poll.h>
#include <time.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace {

using qdl::Deadline;

// A wait of what is left never ends short of the deadline: rounded down,
// a poll loop would wake just before it and spin.
TEST(Deadline, AWaitOfWhatIsLeftReachesIt) {
    for (int ms : {0, 1, 7, 30}) {
        SCOPED_TRACE(ms);
        const Deadline d = Deadline::after(ms);
        EXPECT_LE(d.remainingMs(), ms);
        ::poll(nullptr, 0, d.remainingMs());
        EXPECT_TRUE(d.passed());
        EXPECT_EQ(d.remainingMs(), 0);
    }
}

TEST(Deadline, Bounds) {
    EXPECT_TRUE(Deadline::after(-5).passed());
    // Far away: no overflow, and poll gets no more than it takes.
    EXPECT_EQ(Deadline::after(INT64_MAX).remainingMs(), INT_MAX);
    const Deadline soon = Deadline::after(10);
    const Deadline late = Deadline::after(60000);
    EXPECT_LE(Deadline::earlier(soon, late).remainingMs(), 10);
    EXPECT_LE(Deadline::earlier(late, soon).remainingMs(), 10);
}

// The point a condition variable on CLOCK_MONOTONIC waits for.
TEST(Deadline, MonotonicTime) {
    timespec before;
    clock_gettime(CLOCK_MONOTONIC, &before);
    const timespec t = Deadline::after(1500).monotonicTime();
    EXPECT_GE(t.tv_nsec, 0);
    EXPECT_LT(t.tv_nsec, 1000000000L);
    const int64_t ms = (static_cast<int64_t>(t.tv_sec) - before.tv_sec) * 1000 + (t.tv_nsec - before.tv_nsec) / 1000000;
    EXPECT_GE(ms, 1500);
    EXPECT_LT(ms, 1600);
}

}  // namespace
