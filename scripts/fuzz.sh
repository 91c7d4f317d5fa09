#!/usr/bin/env bash
# Fuzzes every target in turn for SECONDS each (default 60) in a clang build
# whose libraries carry libFuzzer's coverage hooks and the address and
# undefined-behaviour sanitizers (tree build-fuzz), then prints a table of
# executions, coverage and corpus per target.
#
#   scripts/fuzz.sh [SECONDS] [--merge] [TARGET...]
#
# Each run starts from the committed seeds (fuzz/corpus/<target>). With
# --merge, the named seeds stay and the smallest set of other inputs (earlier
# finds, named by content hash, and this run's) reaching the edges they miss
# is added.
# A crash leaves its input in build-fuzz/artifacts/<target>/ and makes the
# script exit 1 after the table.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

seconds=60
merge=0
wanted=()
for arg in "$@"; do
  case $arg in
    --merge) merge=1 ;;
    ''|*[!0-9]*) wanted+=("$arg") ;;
    *) seconds=$arg ;;
  esac
done

tree=$top/build-fuzz
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DRENDO_FUZZ=ON -DRENDO_BENCH=OFF \
  "${launcher[@]}" >/dev/null

targets=()
if ((${#wanted[@]})); then
  targets=("${wanted[@]}")
else
  for src in "$top"/fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
cmake --build "$tree" -j"$(nproc)" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The dictionary a target uses: fuzz/<name>.dict, or the one of its family
# (fuzz_paramlist_info -> paramlist.dict).
dictionary() {
  local name=${1#fuzz_}
  if [[ -f $top/fuzz/$name.dict ]]; then echo "$top/fuzz/$name.dict"; return; fi
  if [[ -f $top/fuzz/${name%%_*}.dict ]]; then echo "$top/fuzz/${name%%_*}.dict"; fi
}

# Files and bytes of a directory.
corpus_size() { find "$1" -type f -printf '%s\n' | awk '{n++; b+=$1} END {printf "%d/%d", n, b}'; }

rows=()
crashed=0
for t in "${targets[@]}"; do
  bin=$tree/fuzz/$t
  seeds=$top/fuzz/corpus/$t
  mkdir -p "$work/$t/found" "$work/$t/artifacts" "$seeds"
  dict=$(dictionary "$t")
  echo "== $t (${seconds}s)"
  result=ok
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
       "$bin" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
              -artifact_prefix="$work/$t/artifacts/" ${dict:+-dict="$dict"} \
              "$work/$t/found" "$seeds" >"$work/$t/log" 2>&1; then
    result=CRASH
    crashed=1
    mkdir -p "$tree/artifacts/$t"
    cp "$work/$t/artifacts/"* "$tree/artifacts/$t/" 2>/dev/null || true
    cp "$work/$t/log" "$tree/artifacts/$t/log"
    grep -m3 -E 'ERROR|SUMMARY|runtime error' "$work/$t/log" | sed 's/^/   /' || true
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t/log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$t/log" | tail -1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$work/$t/log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  before=$(corpus_size "$seeds")

  if ((merge)) && [[ $result == ok ]]; then
    # Seeds with names (written by hand, or kept for a mended fault) stay;
    # of the rest and the run's finds, only inputs reaching edges the
    # others miss are added (hit counts aside, which keeps corpora small).
    mkdir -p "$work/$t/min" "$work/$t/hashed"
    for f in "$seeds"/*; do
      [[ -f $f ]] || continue
      if [[ $(basename "$f") =~ ^[0-9a-f]{40}$ ]]; then cp "$f" "$work/$t/hashed/"; else cp "$f" "$work/$t/min/"; fi
    done
    if "$bin" -merge=1 -use_counters=0 ${dict:+-dict="$dict"} "$work/$t/min" "$work/$t/hashed" "$work/$t/found" \
         >"$work/$t/merge.log" 2>&1; then
      find "$seeds" -type f -delete
      find "$work/$t/min" -type f -exec cp {} "$seeds/" \;
    else
      result="merge failed"
    fi
  fi
  rows+=("$(printf '%-26s %10s %8s %6s %7s %14s %14s  %s' "$t" "${execs:-?}" "${rate:-?}" "${cov:-?}" \
            "${ft:-?}" "$before" "$(corpus_size "$seeds")" "$result")")
done

echo
printf '%-26s %10s %8s %6s %7s %14s %14s  %s\n' target execs exec/s cov ft "seeds(n/B)" "after(n/B)" result
for r in "${rows[@]}"; do echo "$r"; done
total=$(find "$top/fuzz/corpus" -type f -printf '%s\n' | awk '{b+=$1} END {print b+0}')
echo "committed seed corpora: $total bytes"
exit $crashed
