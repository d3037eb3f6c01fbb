#!/usr/bin/env bash
# Opening a generated file in the window against the yardstick, side by side in one run: the
# bare walk `ref_walk` (the lower bound of any decoder), `marcrows --quiet` and the main window
# (offscreen, `window_open`: the open command until the list is painted), each REPEAT times on
# the page-cached file (`cat` before every run); prints every wall time, the minimum of each, the
# ratios of the minimums and the peak memory against the file's size.
#   bench/run-open.sh [YARDSTICK_DIR]   (default ../shared/bench: gen_cnmarc.py and ref_walk.c)
# RECORDS (default 1000000) and REPEAT (default 3) choose the file and the runs; BENCH_BUILD_DIR
# names the build folder (default build-bench-app); the file goes to $TESSALY_BENCH_DATA, else
# BENCH_BUILD_DIR/bench-data (about 1.05 GB for a million records, 2.5 minutes to generate).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
yard=$(cd "${1:-$root/../shared/bench}" && pwd)
dir="$root/${BENCH_BUILD_DIR:-build-bench-app}"
data="${TESSALY_BENCH_DATA:-$dir/bench-data}"
records=${RECORDS:-1000000}
repeat=${REPEAT:-3}
# Configured anew unless the folder builds the benchmarks already (they are off by default).
if ! grep -qx 'TESSALY_BENCH:BOOL=ON' "$dir/CMakeCache.txt" 2>/dev/null; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_BENCH=ON >/dev/null
fi
cmake --build "$dir" --target window_open marcrows >/dev/null
mkdir -p "$data"
cc -O2 -o "$dir/ref_walk" "$yard/ref_walk.c"
file="$data/cnmarc-$records-lines.mrc"
[[ -f "$file" ]] || python3 "$yard/gen_cnmarc.py" --count "$records" --layout lines -o "$file"
size=$(stat -c %s "$file")
export QT_QPA_PLATFORM=offscreen
out=$(mktemp)
trap 'rm -f "$out"' EXIT
echo "== $file ($size bytes); load before: $(uptime)"
walk=() rows=() window=() rowsPeak=0 windowPeak=0
for ((i = 0; i < repeat; ++i)); do
  cat "$file" >/dev/null
  /usr/bin/time -f "%e %M" -o "$out" "$dir/ref_walk" "$file" >/dev/null 2>&1
  walk+=("$(cut -d' ' -f1 "$out")")
  cat "$file" >/dev/null
  /usr/bin/time -f "%e %M" -o "$out" "$dir/bin/marcrows" --quiet "$file" 2>/dev/null
  rows+=("$(cut -d' ' -f1 "$out")")
  rowsPeak=$(cut -d' ' -f2 "$out")
  cat "$file" >/dev/null
  line=$("$dir/bin/window_open" "$file" 2>/dev/null | grep '^open:')
  window+=("$(sed -E 's/.*until painted ([0-9.]+) s.*/\1/' <<<"$line")")
  windowPeak=$(sed -E 's/.*peak RSS so far ([0-9.]+) MB.*/\1/' <<<"$line")
  echo "run $((i + 1)): ref_walk ${walk[i]} s, marcrows --quiet ${rows[i]} s (peak $((rowsPeak / 1024)) MB), window ${window[i]} s (peak $windowPeak MB)"
done
min() { printf '%s\n' "$@" | sort -g | head -n 1; }
w=$(min "${walk[@]}") r=$(min "${rows[@]}") o=$(min "${window[@]}")
awk -v w="$w" -v r="$r" -v o="$o" -v rp="$rowsPeak" -v op="$windowPeak" -v size="$size" 'BEGIN {
  printf "minimum: ref_walk %.2f s, marcrows --quiet %.2f s (%.2fx), window until painted %.2f s (%.2fx)\n",
    w, r, r / w, o, o / w
  printf "peak memory: marcrows %.2fx the file, window %.2fx the file\n",
    rp * 1024 / size, op * 1048576 / size }'
echo "== load after: $(uptime)"
