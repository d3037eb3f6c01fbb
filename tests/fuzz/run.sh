#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan+UBSan) in build-fuzz and runs each for SECONDS
# (default 20), one process on one core. Fails when any target finds a crash, a leak, undefined
# behaviour, a broken invariant, a timeout or runaway memory; the input is then left in
# build-fuzz/findings/ and should become a regular test case.
#   tests/fuzz/run.sh [SECONDS] [read|extract|strtoint|charset ...]
# New inputs that reach further are kept in build-fuzz/corpus/ and seed the next run.
# FUZZ_BUILD=DIR uses DIR instead of build-fuzz (a long run beside the short one).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
seconds=${1:-20}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(read extract strtoint charset)
build=${FUZZ_BUILD:-$root/build-fuzz}
cxx=${FUZZ_CXX:-clang++-14}

if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
fi
cmake --build "$build" -j2 >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
status=0
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  mkdir -p "$corpus" "$build/findings"
  seeds=("$root/tests/data/fuzz-seeds/$t/"*)
  [[ $t == read ]] && seeds+=("$root"/tests/data/*.mrc)
  for f in "${seeds[@]}"; do
    [[ -e "$corpus/${f##*/}" ]] || cp "$f" "$corpus/"
  done
  log=$build/fuzz_$t.log
  # Whole record files are cut to 8 KB (a few records each) to keep a run quick.
  maxlen=()
  [[ $t == read ]] && maxlen=(-max_len=8192)
  if "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "${maxlen[@]}" \
    -dict="$root/tests/fuzz/marc.dict" -artifact_prefix="$build/findings/$t-" \
    -print_final_stats=1 "$corpus" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
    echo "fuzz_$t: ${runs:-?} runs in ${seconds}s, $cov, corpus $(ls "$corpus" | wc -l), no finding"
  else
    echo "fuzz_$t: FINDING (log $log)"
    grep -E 'ERROR|runtime error|invariant broken|Test unit written|SUMMARY' "$log" | head -20
    status=1
  fi
done
exit $status
