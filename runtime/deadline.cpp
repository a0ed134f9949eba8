#include "runtime/deadline.h"

#include <climits>

namespace qdl {

namespace {

const int64_t kNsPerMs = 1000000;
const int64_t kNsPerSecond = 1000000000;

int64_t nowNs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * kNsPerSecond + t.tv_nsec;
}

}  // namespace

Deadline Deadline::after(int64_t milliseconds) {
    // Past this the sum would overflow; no wait of ours is that long.
    const int64_t kMaxMs = INT64_MAX / kNsPerMs / 2;
    if (milliseconds < 0) milliseconds = 0;
    if (milliseconds > kMaxMs) milliseconds = kMaxMs;
    return Deadline(nowNs() + milliseconds * kNsPerMs);
}

int Deadline::remainingMs() const {
    const int64_t left = ns_ - nowNs();
    if (left <= 0) return 0;
    const int64_t ms = (left + kNsPerMs - 1) / kNsPerMs;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

timespec Deadline::monotonicTime() const {
    timespec t;
    t.tv_sec = static_cast<time_t>(ns_ / kNsPerSecond);
    t.tv_nsec = static_cast<long>(ns_ % kNsPerSecond);
    return t;
}

}  // namespace qdl
