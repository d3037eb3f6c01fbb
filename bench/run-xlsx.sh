#!/usr/bin/env bash
# Builds marcrows (Release) and measures writing generated files into an .xlsx workbook beside
# decoding them alone: wall time, peak memory and the workbook's size.
#   bench/run-xlsx.sh [RECORDS...]   (default: 100000)
# BENCH_BUILD_DIR names the build folder (default build-bench-app); the generated files go to
# $TESSALY_BENCH_DATA, else BENCH_BUILD_DIR/bench-data; the workbooks to a temporary folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir="$root/${BENCH_BUILD_DIR:-build-bench-app}"
data="${TESSALY_BENCH_DATA:-$dir/bench-data}"
"$root/scripts/setup.sh" packages-build.txt packages-test.txt
# Configured anew unless the folder builds the benchmarks already (they are off by default).
if ! grep -qx 'TESSALY_BENCH:BOOL=ON' "$dir/CMakeCache.txt" 2>/dev/null; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_BENCH=ON >/dev/null
fi
cmake --build "$dir" --target marcrows gen_cnmarc
mkdir -p "$data"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
counts=("$@")
((${#counts[@]})) || counts=(100000)
echo "== load before: $(uptime)"
for n in "${counts[@]}"; do
  file="$data/app-$n.mrc"
  [[ -f "$file" ]] || "$dir/bin/gen_cnmarc" --records "$n" --layout lines "$file" >/dev/null
  echo "== $n records ($(du -h "$file" | cut -f1))"
  /usr/bin/time -f "marcrows --quiet: %e s (user %U s, system %S s), peak %M KB" "$dir/bin/marcrows" --quiet "$file"
  /usr/bin/time -f "marcrows --xlsx: %e s (user %U s, system %S s), peak %M KB" "$dir/bin/marcrows" --xlsx "$out/$n.xlsx" "$file"
  echo "workbook: $(du -h "$out/$n.xlsx" | cut -f1)"
  rm -f "$out/$n.xlsx"
done
echo "== load after: $(uptime)"
