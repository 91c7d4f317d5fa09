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
# No TLS scanning: GCC 12's leak checker crashes reading a dlopen'ed library's
# dynamic TLS; tests/lsan.supp names what only TLS holds (see there).
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=use_tls=0:print_suppressions=0:suppressions="$top/tests/lsan.supp" \
  ctest --test-dir "$top/build-asan" -j"$jobs" --output-on-failure

echo "== thread sanitizer (concurrency tests)"
"$top/scripts/build.sh" build-tsan -DCMAKE_BUILD_TYPE=Debug -DRENDO_SANITIZE=thread -DRENDO_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir "$top/build-tsan" -j"$jobs" --output-on-failure -R Concurrency
