#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the normal build, then the
# AddressSanitizer + UndefinedBehaviorSanitizer build, then the threaded tests
# under ThreadSanitizer, then each fuzz target for 30 seconds when clang is
# there.
#
# The normal build runs without the real-world TNEF samples (an empty folder
# in their place), so every run proves the suite passes in a clone with
# nothing beside it; the sanitizer build uses them when ../shared has them.
#
# With --quick only the normal build runs, for a quick check while working;
# CI runs the whole command.
set -euo pipefail
quick=false
case "${1:-}" in
  --quick) quick=true ;;
  "") ;;
  *) echo "usage: bash scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 4)
no_samples=$(mktemp -d)
trap 'rm -rf "$no_samples"' EXIT

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
(cd build && PARVEX_TNEF_SAMPLES="$no_samples" ctest --output-on-failure -j"$jobs")
if $quick; then
  exit 0
fi

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPARVEX_SANITIZE=ON -DPARVEX_BENCH=OFF
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest --output-on-failure -j"$jobs")

# ThreadSanitizer build (build-tsan/) for the threaded code: the protocol
# loop's threaded mode, the runtime's threads, mutexes and log lines, and
# routing and the settings lookups while they reload, and WSSP loads and
# renders on several threads. Any
# report fails its test (halt_on_error). Thread.CancelStopsThreadAtCancellationPoint
# stays out: TSan does not see the locks a thread takes while it unwinds from
# a cancel inside an intercepted blocking call (usleep), and reports a race
# that is none.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARVEX_TSAN=ON -DPARVEX_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target runtime_tests filter_tests serverdata_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
   ctest --output-on-failure --no-tests=error -j"$jobs" \
     -R '^((ThreadedLoop|Thread|Event|ThreadPoolTest|MutexPool|ScopedLock|LogLine|OutputLine)\.|(RouterTest\.RoutingWhileReloading|LookupTest\.QueriesWhileReloading|MainDomain\.ReadOnceFromAnyThread|WsspLoad\.LoadsOnSeveralThreadsAtOnce|WsspLoad\.PageParsesOutsideALoad|WsspRender\.RendersOnSeveralThreadsAtOnce)$)' \
     -E '^Thread\.CancelStopsThreadAtCancellationPoint$')

if command -v clang++ >/dev/null 2>&1; then
  bash scripts/fuzz.sh 30
fi
