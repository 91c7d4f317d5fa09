#!/usr/bin/env bash
# Configures and builds one build tree.
#   scripts/build.sh DIR [extra cmake arguments]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}
shift || true
cmake -S "$top" -B "$top/$dir" -G Ninja "$@" >/dev/null
cmake --build "$top/$dir" -j"$(nproc)"
