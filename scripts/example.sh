#!/usr/bin/env bash
# Sets up, builds, and runs the filter as the mail server would on a bundled
# example exchange.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 4)" >/dev/null
echo "--- requests"
cat examples/session.txt
echo "--- replies"
build/filter/parvex < examples/session.txt
