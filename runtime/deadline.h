#pragma once
// A point on the monotonic clock that a wait must not pass. Made once when
// the wait begins, it bounds a whole exchange of many short waits (a line
// that arrives a byte at a time, a child's output read in pieces), where a
// time-out given to each wait would be renewed by every byte. The wall
// clock may be set back or forward; this one is not.
#include <time.h>

#include <cstdint>

namespace qdl {

class Deadline {
public:
    // So many milliseconds from now; a negative count is now.
    static Deadline after(int64_t milliseconds);

    // The earlier of the two.
    static Deadline earlier(const Deadline& a, const Deadline& b) { return a.ns_ <= b.ns_ ? a : b; }

    bool passed() const { return remainingMs() == 0; }
    // The time left in milliseconds, rounded up and at most INT_MAX, so that
    // poll() never wakes before the deadline; 0 once it has passed.
    int remainingMs() const;
    // The same point as pthread_cond_timedwait takes it, for a condition
    // variable on CLOCK_MONOTONIC.
    timespec monotonicTime() const;

private:
    explicit Deadline(int64_t ns) : ns_(ns) {}
    int64_t ns_;  // on CLOCK_MONOTONIC
};

}  // namespace qdl
