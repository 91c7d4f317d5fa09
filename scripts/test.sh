#!/usr/bin/env bash
# The tests: installs what is missing, then builds and runs the whole suite
# three times: a plain build, an address + undefined-behaviour sanitizer build,
# and a thread sanitizer build of the concurrency tests.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
jobs=$(nproc)

echo "== plain build"
"$top/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$top/build" -j"$jobs" --output-on-failure

echo "== address and undefined-behaviour sanitizers"
"$top/scripts/build.sh" build-asan -DCMAKE_BUILD_TYPE=Debug -DRENDO_SANITIZE=address,undefined -DRENDO_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$top/build-asan" -j"$jobs" --output-on-failure

echo "== thread sanitizer (concurrency tests)"
"$top/scripts/build.sh" build-tsan -DCMAKE_BUILD_TYPE=Debug -DRENDO_SANITIZE=thread -DRENDO_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir "$top/build-tsan" -j"$jobs" --output-on-failure -R Concurrency
