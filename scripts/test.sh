#!/usr/bin/env bash
# Checks the formatting, builds the tree twice (plain, and with address + undefined sanitizers)
# and runs every test in both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/check-format.sh"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$root/scripts/build.sh" build
"$root/scripts/build.sh" build-asan -DVELTRANE_SANITIZE=ON
status=0
for dir in build build-asan; do
  echo "== tests in $dir =="
  ctest --test-dir "$root/$dir" -j"$(nproc)" --output-on-failure --timeout 300 || status=1
done
exit $status
