#!/usr/bin/env bash
# Reading past bad records, side by side in one run: `marcrows --quiet` on a generated file of
# RECORDS records, clean and with 1% and 10% of its records damaged (`gen_cnmarc --damage`, the
# same records otherwise), in the default mode and passing over bad records (`--keep-going`);
# each REPEAT times on the page-cached file, the best wall time, the best processor time (user
# and system, the steadier figure on a busy machine) and the peak memory (GNU time), and the bad
# records listed compared with the generator's truth.
#   bench/run-bad.sh [BASELINE_MARCROWS]   (another marcrows, e.g. main's, read the clean file
#                                           the same way first)
# BENCH_BUILD_DIR names the Release build folder, configured when new (default build-rel);
# the files go to $TESSALY_BENCH_DATA, else BENCH_BUILD_DIR/bench-data (about 3.2 GB for a
# million records).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir="$root/${BENCH_BUILD_DIR:-build-rel}"
data="${TESSALY_BENCH_DATA:-$dir/bench-data}"
records=${RECORDS:-1000000}
repeat=${REPEAT:-3}
baseline=${1:-}
if [[ ! -f "$dir/build.ninja" ]]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_GUI=None \
    -DTESSALY_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$dir" --target marcrows gen_cnmarc >/dev/null
mkdir -p "$data"
for p in 0 1 10; do
  f="$data/damaged-$records-$p.mrc"
  args=()
  [[ $p == 0 ]] || args=(--damage "$p")
  [[ -f "$f" ]] || "$dir/bin/gen_cnmarc" --records "$records" "${args[@]}" "$f" 2>/dev/null
done
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# The bad records marcrows lists, as the truth file's lines: record, line, offset, bytes, fault, hint.
listed() {
  python3 -c '
import re, sys
for line in sys.stdin:
    m = re.match(r"^bad record (\d+) \(line (\d+), byte (\d+), (\d+) bytes\): (.*)$", line.rstrip("\n"))
    if not m: continue
    r = m.group(5)
    fault = "Number" if "is not a valid integer value" in r else "Directory" if "List index out of bounds" in r else "Other"
    hint = "CutBeforeNext" if "; cut in two by a line break" in r else "RestOfPrevious" if "; the rest of record" in r else ""
    print("\t".join(m.group(1, 2, 3, 4) + (fault, hint)))'
}
run() {  # label tool file args...
  local label=$1 tool=$2 file=$3
  shift 3
  local best="" cpu="" peak=0 times=()
  for ((i = 0; i < repeat; i++)); do
    cat "$file" >/dev/null
    /usr/bin/time -f '%e %U %S %M' -o "$out" "$tool" --quiet "$@" "$file" 2>"$out.err" || true
    # A status other than 0 comes as a line of its own before the figures.
    read -r t user sys kb < <(tail -n 1 "$out")
    times+=("$t")
    best=$(awk -v a="$t" -v b="$best" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }')
    cpu=$(awk -v a="$user" -v s="$sys" -v b="$cpu" \
      'BEGIN { c = a + s; print (b == "" || c < b + 0) ? c : b }')
    ((kb > peak)) && peak=$kb
  done
  local check=""
  if [[ -f "$file.truth.tsv" && " $* " == *" --keep-going "* ]]; then
    if cmp -s <(listed <"$out.err") "$file.truth.tsv"; then
      check="bad list = truth ($(wc -l <"$file.truth.tsv"))"
    else
      check="bad list differs from the truth"
    fi
  fi
  printf '%-28s wall %5.2f s (%s)  cpu %5.2f s  peak %4d MB  %s\n' "$label" "$best" \
    "${times[*]}" "$cpu" $((peak / 1024)) "$check"
}
echo "== $records records; load before: $(uptime)"
clean="$data/damaged-$records-0.mrc"
[[ -z "$baseline" ]] || run "clean, default, baseline" "$baseline" "$clean"
run "clean, default" "$dir/bin/marcrows" "$clean"
run "clean, --keep-going" "$dir/bin/marcrows" "$clean" --keep-going
run "1% damaged, --keep-going" "$dir/bin/marcrows" "$data/damaged-$records-1.mrc" --keep-going
run "10% damaged, --keep-going" "$dir/bin/marcrows" "$data/damaged-$records-10.mrc" --keep-going
echo "== load after: $(uptime)"
rm -f "$out.err"
