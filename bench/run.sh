#!/usr/bin/env bash
# Builds and runs the benchmarks: base64 and MD5 against coreutils, and the
# filter against tnef alone and the floor (200 messages of ~100 KB TNEF, one
# 50 MB message, 5 rounds; the folders on a tmpfs unless TMPDIR says else).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 4)" >/dev/null
if [ -x build/bench/base64_bench ]; then build/bench/base64_bench; fi
if [ -x build/bench/md5_bench ]; then build/bench/md5_bench; fi
build/bench/filter_bench "${1:-200}" "${2:-100}" "${3:-50}" "${4:-5}"
