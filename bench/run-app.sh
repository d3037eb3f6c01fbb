#!/usr/bin/env bash
# Builds the program (Release) and measures it whole: opening generated files in the main window
# (offscreen) beside `marcrows --quiet`, clearing and opening again, with peak memory; from the
# largest file's list the first 10,000 rows are exported into a headless LibreOffice Calc of its
# own; then the export benchmark on a list of 100,000 made-up rows, the plain way the export used
# to write beside the present one.
#   bench/run-app.sh [RECORDS...]   (default: 100000 1000000)
# BENCH_BUILD_DIR names the build folder (default build-bench-app); the generated files go to
# $TESSALY_BENCH_DATA, else BENCH_BUILD_DIR/bench-data (about 1.1 GB for a million records).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir="$root/${BENCH_BUILD_DIR:-build-bench-app}"
data="${TESSALY_BENCH_DATA:-$dir/bench-data}"
"$root/scripts/setup.sh" packages-build.txt packages-test.txt
# Configured anew unless the folder builds the benchmarks already (they are off by default).
if ! grep -qx 'TESSALY_BENCH:BOOL=ON' "$dir/CMakeCache.txt" 2>/dev/null; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_BENCH=ON >/dev/null
fi
cmake --build "$dir" --target window_open marcrows gen_cnmarc export_bench read_bench
mkdir -p "$data"
export QT_QPA_PLATFORM=offscreen
counts=("$@")
((${#counts[@]})) || counts=(100000 1000000)
echo "== load before: $(uptime)"
largest=$(printf '%s\n' "${counts[@]}" | sort -n | tail -n 1)
# The bare walk (read_bench's baseline) on the same files, for the window's target beside it.
filter=$(printf '%s\n' "${counts[@]}" | sed -e 's/000000$/M/' -e 's/000$/k/' | paste -sd'|')
TESSALY_BENCH_DATA="$data" "$dir/bin/read_bench" --benchmark_color=false \
  --benchmark_filter="bare_walk/($filter)_lines" --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true | grep -E 'median|^bare'
for n in "${counts[@]}"; do
  file="$data/cnmarc-v1-$n-lines.mrc"
  [[ -f "$file" ]] || "$dir/bin/gen_cnmarc" --records "$n" --layout lines "$file" >/dev/null
  echo "== $n records ($(du -h "$file" | cut -f1))"
  /usr/bin/time -f "marcrows --quiet: %e s, peak %M KB" "$dir/bin/marcrows" --quiet "$file"
  export_args=()
  [[ "$n" == "$largest" ]] && export_args=(--export-rows 10000)
  /usr/bin/time -f "window_open: %e s wall, peak %M KB" "$dir/bin/window_open" "$file" "${export_args[@]}"
done
echo "== export of 100,000 rows into a headless LibreOffice Calc"
"$dir/bin/export_bench" --repeat 3
echo "== load after: $(uptime)"
