#!/usr/bin/env bash
# Sets up, builds, lays out a program directory and a server base directory,
# and runs the filter there as the mail server would on a bundled example
# message with a TNEF attachment.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 4)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target parvex rtf2html make_example >/dev/null

top=$(pwd)
example="$top/out/example"
rm -rf "$example"
mkdir -p "$example/base/Queue"
cmake --install build --prefix "$example/program" --component program >/dev/null
build/tests/make_example "$example/base/Queue/example.msg"

echo "Program directory: $example/program"
ls -l "$example/program" | sed 1d
echo
echo "--- requests the server writes"
requests=$'1 INTF 3\n2 FILE Queue/example.msg\n3 QUIT\n'
printf '%s' "$requests"
echo "--- what the filter answers"
(cd "$example/base" && printf '%s' "$requests" | "$example/program/parvex")
echo
for f in "$example"/base/Submitted/*.sub; do
  [ -e "$f" ] || { echo "nothing was submitted"; exit 1; }
  echo "--- submitted: Submitted/$(basename "$f")"
  sed -n '1,/^$/p' "$f" | grep -E '^(Return-Path|Envelope-To|X-Parvex|X-ExtScanner|Subject):'
  echo "parts (index, type, file name, decoded bytes):"
  python3 scripts/mime_summary.py "$f" | sed 's/^/  /'
done
