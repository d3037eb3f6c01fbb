#!/usr/bin/env bash
# The Windows program under wine: the time from starting tessaly.exe with a generated file on the
# command line until Label1 shows every row (program start included), beside the start alone and
# marcrows.exe --quiet on the same file; three runs each, wall time.
#   bench/run-win.sh [RECORDS...]   (default: 100000 1000000)
# Needs build-win/ (scripts/test-win.sh) for the programs; the generator is built in
# BENCH_BUILD_DIR (default build-bench, the benchmarks turned on there); the files go to
# $TESSALY_BENCH_DATA, else /tmp (about 1.1 GB for a million records).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
data="${TESSALY_BENCH_DATA:-/tmp}"
counts=("$@")
((${#counts[@]})) || counts=(100000 1000000)
if [[ -z "${DISPLAY:-}" || -z "${TESSALY_WINE_DISPLAY:-}" ]]; then
  exec "$root/cmake/wine-window.sh" "$root/build-win/wine-window" "$0" "${counts[@]}"
fi
bench="$root/${BENCH_BUILD_DIR:-build-bench}"
if ! grep -qx 'TESSALY_BENCH:BOOL=ON' "$bench/CMakeCache.txt" 2>/dev/null; then
  cmake -S "$root" -B "$bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_GUI=None \
    -DTESSALY_BENCH=ON >/dev/null
fi
cmake --build "$bench" --target gen_cnmarc >/dev/null
bin="$root/build-win/bin"
run="$root/cmake/wine-emulator.sh"
ms() { date +%s%3N; }
echo "== load before: $(uptime)"
for n in "${counts[@]}"; do
  file="$data/tessaly-win-$n.mrc"
  [[ -f "$file" ]] || "$bench/bin/gen_cnmarc" --records "$n" --layout lines "$file" >/dev/null
  for i in 1 2 3; do
    t0=$(ms)
    "$run" "$bin/marcrows.exe" --quiet "Z:$file" 2>/dev/null
    t1=$(ms)
    "$run" "$bin/tessaly.exe" &
    app=$!
    "$run" "$bin/e2e_helper.exe" label "" # the window is up: Shown has emptied the labels
    t2=$(ms)
    kill "$app"
    wait "$app" 2>/dev/null || true
    t3=$(ms)
    "$run" "$bin/tessaly.exe" "Z:$file" &
    app=$!
    TESSALY_WINE_TIMEOUT=300 "$run" "$bin/e2e_helper.exe" label "读入:$n 条"
    t4=$(ms)
    kill "$app"
    wait "$app" 2>/dev/null || true
    echo "$n records, run $i: marcrows.exe --quiet $((t1 - t0)) ms; tessaly.exe up $((t2 - t1)) ms;" \
      "up and every row listed $((t4 - t3)) ms"
  done
done
echo "== load after: $(uptime)"
