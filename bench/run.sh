#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them: the read path beside the bare walk and libyaz on
# 10k and 100k generated records in both layouts and 1M in lines, a table of the medians (wall
# time) side by side, `marcrows --quiet` and `cat` on the same files, then the read path's peak
# memory on the 100k files.
#   bench/run.sh [Google Benchmark options...]   (default: --benchmark_repetitions=3)
# BENCH_BUILD_DIR names the build folder (default build-bench); the generated files go to
# $TESSALY_BENCH_DATA, else BENCH_BUILD_DIR/bench-data, and are made on the first run (~1.3 GB).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir="$root/${BENCH_BUILD_DIR:-build-bench}"
"$root/scripts/setup.sh" packages-build.txt packages-test.txt
# Configured anew unless the folder builds the benchmarks already (they are off by default).
if ! grep -qx 'TESSALY_BENCH:BOOL=ON' "$dir/CMakeCache.txt" 2>/dev/null; then
  # The decoding library needs no window; timings need an optimised build.
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_GUI=None \
    -DTESSALY_BENCH=ON >/dev/null
fi
cmake --build "$dir" --target read_bench read_peak gen_cnmarc marcrows
data="${TESSALY_BENCH_DATA:-$dir/bench-data}"

args=("$@")
((${#args[@]})) || args=(--benchmark_repetitions=3 --benchmark_report_aggregates_only=true)
echo "== load before: $(uptime)"
"$dir/bin/read_bench" --benchmark_color=false "${args[@]}"
echo
# The whole program as a cataloguer runs it, beside reading the bytes alone; medians of 5.
median() { sort -n | sed -n 3p; }
wall() { local t0 t1; t0=$(date +%s%N); "$@" >/dev/null 2>&1; t1=$(date +%s%N); echo $(((t1 - t0) / 1000000)); }
echo "== wall ms, median of 5: cat FILE > /dev/null, marcrows --quiet FILE"
for f in cnmarc-v1-100000-lines cnmarc-v1-100000-concat cnmarc-v1-1000000-lines; do
  file="$data/$f.mrc"
  [[ -f "$file" ]] || continue
  cat_ms=$(for i in 1 2 3 4 5; do wall cat "$file"; done | median)
  rows_ms=$(for i in 1 2 3 4 5; do wall "$dir/bin/marcrows" --quiet "$file"; done | median)
  echo "$f: cat $cat_ms ms, marcrows --quiet $rows_ms ms"
done
echo
echo "== peak memory of one read (rows dropped: the read path alone; kept: as the list keeps them)"
for layout in lines concat; do
  "$dir/bin/read_peak" --records 100000 --layout "$layout"
  "$dir/bin/read_peak" --keep-rows --records 100000 --layout "$layout"
done
echo "== load after: $(uptime)"
