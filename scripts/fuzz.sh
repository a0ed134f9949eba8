#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for the
# given number of seconds: bash scripts/fuzz.sh [SECONDS] [NAME...]
# A target's corpus lives in build-fuzz/corpus/NAME, seeded by NAME_seeds when
# there is one; crashes are written to build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: no clang++, skipped"
  exit 0
fi
jobs=$(nproc 2>/dev/null || echo 4)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARVEX_FUZZ=ON -DPARVEX_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" >/dev/null
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for f in build-fuzz/tests/*_fuzz; do [ -x "$f" ] && names+=("$(basename "$f" _fuzz)"); done
fi
mkdir -p build-fuzz/crashes
for name in "${names[@]}"; do
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  if [ -x "build-fuzz/tests/${name}_seeds" ]; then "build-fuzz/tests/${name}_seeds" "$corpus"; fi
  echo "fuzz: $name for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "build-fuzz/tests/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix=build-fuzz/crashes/ -print_final_stats=1 "$corpus" 2>&1 | tail -n 20
done
