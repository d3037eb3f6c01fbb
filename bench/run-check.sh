#!/usr/bin/env bash
# The checks and find on a generated file: `marcrows --check` beside `marcrows --quiet` (REPEAT
# runs each, the page-cached file read by `cat` before every run; wall, user and system seconds,
# and the minimum of each tool), then check_bench (the rows held in memory as the window holds
# them: the checks with their report, and find's first hit and full search, best of REPEAT).
#   bench/run-check.sh [FILE]   (default: a generated file of RECORDS records, default 1000000)
# BENCH_BUILD_DIR names the build folder (default build-bench-check, configured Release).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir="$root/${BENCH_BUILD_DIR:-build-bench-check}"
records=${RECORDS:-1000000}
repeat=${REPEAT:-3}
if [[ ! -f "$dir/build.ninja" ]]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_CORE_ONLY=ON \
    -DTESSALY_TESTS=OFF -DTESSALY_BENCH=ON >/dev/null
fi
cmake --build "$dir" --target marcrows check_bench gen_cnmarc >/dev/null
file=${1:-}
if [[ -z "$file" ]]; then
  mkdir -p "$dir/bench-data"
  file="$dir/bench-data/gen-$records-lines.mrc"
  [[ -f "$file" ]] || "$dir/bin/gen_cnmarc" --records "$records" --layout lines "$file" >/dev/null
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
echo "== $file; load before: $(uptime)"
check=() quiet=()
for ((i = 0; i < repeat; ++i)); do
  for mode in quiet check; do
    cat "$file" >/dev/null
    /usr/bin/time -f "%e %U %S" -o "$out" "$dir/bin/marcrows" "--$mode" "$file" >/dev/null 2>&1
    read -r wall user sys <"$out"
    echo "run $((i + 1)) marcrows --$mode: wall $wall s, user $user s, system $sys s"
    if [[ $mode == check ]]; then check+=("$wall"); else quiet+=("$wall"); fi
  done
done
min() { printf '%s\n' "$@" | sort -g | head -n 1; }
q=$(min "${quiet[@]}") c=$(min "${check[@]}")
awk -v q="$q" -v c="$c" 'BEGIN { printf "minimum wall: --quiet %.2f s, --check %.2f s (%.2fx)\n", q, c, c / q }'
"$dir/bin/check_bench" --repeat "$repeat" "$file"
echo "== load after: $(uptime)"
