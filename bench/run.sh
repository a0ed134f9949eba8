#!/usr/bin/env bash
# Builds and runs the benchmarks: base64 and MD5 against coreutils, the
# filter against tnef alone and the floor (200 messages of ~100 KB TNEF, one
# 50 MB message, 5 rounds; the folders on a tmpfs unless TMPDIR says else),
# data-set text against Python's json (20 MB), the settings lookups and the
# router on 1,000 domains x 100 accounts with 10,000 router entries, and WSSP
# rendering (a 200 KB page, 10,000 renders on 1 and on 8 threads), and
# rtf2html against unrtf on 1 MB RTF bodies (5 rounds).
# The filter's arguments: bash bench/run.sh [messages] [tnef-kB] [big-MB] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 4)" >/dev/null
if [ -x build/bench/base64_bench ]; then build/bench/base64_bench; fi
if [ -x build/bench/md5_bench ]; then build/bench/md5_bench; fi
build/bench/filter_bench "${1:-200}" "${2:-100}" "${3:-50}" "${4:-5}"
if [ -x build/bench/dataset_bench ]; then build/bench/dataset_bench 20; fi
if [ -x build/bench/router_bench ]; then build/bench/router_bench 1000 100 10000; fi
if [ -x build/bench/wssp_bench ]; then build/bench/wssp_bench 10000 8; fi
build/bench/rtf_bench 1 5
