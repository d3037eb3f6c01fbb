#!/usr/bin/env bash
# marcrows end to end: rows, escaping, exit codes and messages.
# Usage: marcrows_test.sh MARCROWS DATA [sanitized|plain|emulated [EMULATOR...]]
set -u
tool=$1
data=$2
build=${3:-plain}
emulator=("${@:4}")
bin() { "${emulator[@]}" "$tool" "$@"; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0
check() {
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $*"; fi
}

# Both layouts give the kept rows, in UTF-8 and raw.
for f in realcn_lines.mrc realcn_concat.mrc; do
  bin "$data/$f" >"$tmp/out" 2>"$tmp/err"
  check test $? -eq 0
  check cmp -s "$tmp/out" "$data/realcn.rows.tsv"
  check grep -q '^27 rows in ' "$tmp/err"
  bin --raw "$data/$f" >"$tmp/raw" 2>/dev/null
  check cmp -s "$tmp/raw" "$data/realcn.rows.raw"
done

# The same records in UTF-8 give the same characters in every cell.
bin "$data/realcn_utf8.mrc" >"$tmp/out" 2>/dev/null
check cmp -s "$tmp/out" "$data/realcn.rows.tsv"

# A name outside the ANSI code page opens (Windows: wine under C.UTF-8 has a Western one).
cp "$data/realcn_lines.mrc" "$tmp/书目.mrc"
LC_ALL=C.UTF-8 bin "$tmp/书目.mrc" >"$tmp/out" 2>/dev/null
check cmp -s "$tmp/out" "$data/realcn.rows.tsv"

# --quiet prints no rows but still counts them.
bin --quiet "$data/realcn_lines.mrc" >"$tmp/out" 2>"$tmp/err"
check test ! -s "$tmp/out"
check grep -q '^27 rows in ' "$tmp/err"

# A failing read prints the rows before it, then where and why, and exits 1.
bin "$data/cases_bad_leader.mrc" >"$tmp/out" 2>"$tmp/err"
check test $? -eq 1
check test "$(wc -l <"$tmp/out")" -eq 1
check grep -q "^record 2 (line 2): '0x12Z' is not a valid integer value$" "$tmp/err"
bin "$tmp/missing.mrc" >/dev/null 2>"$tmp/err"
check test $? -eq 1
# The reason is the system's text: strerror's on POSIX, the message table's on Windows.
if [[ "$build" == emulated ]]; then
  check grep -q 'Cannot open file ".*missing.mrc". [A-Z]' "$tmp/err"
else
  check grep -q 'Cannot open file ".*missing.mrc". No such file or directory' "$tmp/err"
fi

# A file larger than the memory it may use fails like any read, with a message, not a crash.
# (AddressSanitizer and ThreadSanitizer reserve more address space than any such limit allows;
# wine, too.)
if [[ "$build" == plain ]]; then
  truncate -s 300M "$tmp/huge.mrc"
  (ulimit -v 150000 && bin --quiet "$tmp/huge.mrc") >/dev/null 2>"$tmp/err"
  check test $? -eq 1
  check grep -q '^record 0 (line 0): Out of memory$' "$tmp/err"
fi

# Malformed bytes: each sequence one U+FFFD, an ASCII byte after a broken lead byte kept, a
# four-byte character whole; the count and the first one's record and column on stderr.
{
  printf '00000nam0 2200037   450 2000015000000\x1e1 \x1faok\x1fb\x1e\x1d\n'
  printf '00000nam0 2200037   450 2000018000000\x1e1 \x1fa\x95\x32\x82\x36\x1ff\xc2.\x81\x1e\x1d\n'
} >"$tmp/bad.mrc"
bin "$tmp/bad.mrc" >"$tmp/out" 2>"$tmp/err"
check test "$(sed -n 2p "$tmp/out" | cut -f1,2)" = "$(printf '\xf0\xa0\x80\x80\t\xef\xbf\xbd.\xef\xbf\xbd')"
check grep -q '^2 malformed byte sequences replaced by U+FFFD, the first in record 2, column 2$' "$tmp/err"
bin "$data/realcn_lines.mrc" >/dev/null 2>"$tmp/err"
check test "$(wc -l <"$tmp/err")" -eq 1

# --encoding overrides the detection: GBK records read as UTF-8 are mostly malformed.
bin --encoding auto "$data/realcn_lines.mrc" >"$tmp/out" 2>/dev/null
check cmp -s "$tmp/out" "$data/realcn.rows.tsv"
bin --encoding=gb18030 "$data/realcn_lines.mrc" >"$tmp/out" 2>/dev/null
check cmp -s "$tmp/out" "$data/realcn.rows.tsv"
bin --encoding utf-8 "$data/realcn_lines.mrc" >/dev/null 2>"$tmp/err"
check grep -q 'malformed byte sequences replaced by U+FFFD, the first in record 1, column 1$' "$tmp/err"

# --check: the report of the real records (checked by hand against the records), the same from
# either layout and encoding, as text and one finding a line.
for f in realcn_lines.mrc realcn_concat.mrc realcn_utf8.mrc; do
  bin --check "$data/$f" >"$tmp/out" 2>"$tmp/err"
  check test $? -eq 0
  check cmp -s "$tmp/out" "$data/realcn.check.txt"
  check grep -q '^27 rows in ' "$tmp/err"
  bin --check --tsv "$data/$f" >"$tmp/out" 2>/dev/null
  check cmp -s "$tmp/out" "$data/realcn.check.tsv"
done
# A failed read still reports the rows before the failure, and exits 1.
bin --check --tsv "$data/cases_bad_leader.mrc" >"$tmp/out" 2>"$tmp/err"
check test $? -eq 1
check test "$(head -1 "$tmp/out")" = "$(printf 'rows\t1')"
check grep -q "^record 2 (line 2): " "$tmp/err"

# Usage errors exit 2.
for args in "" "--bogus $data/cases_lines.mrc" "a b" "--encoding gbk $data/cases_lines.mrc" \
  "$data/cases_lines.mrc --encoding" "--xlsx" "--raw --xlsx $tmp/r.xlsx $data/cases_lines.mrc" \
  "--tsv $data/cases_lines.mrc" "--check --quiet $data/cases_lines.mrc" "--bad"; do
  # shellcheck disable=SC2086
  bin $args >/dev/null 2>&1
  check test $? -eq 2
done

# --xlsx: the captions, then the same rows as the TSV, every cell text, in both encodings; nothing
# else left in the folder. (The cross build has no libxlsxwriter.)
if [[ "$build" != emulated ]]; then
  read_xlsx="$(dirname "$0")/../tools/read_xlsx.py"
  captions=$'名称\t作者\tisbn\t价格\t出版地\t出版社\t出版时间\t页数\t尺寸\t附件\t分类号\t分类名\t提要'
  mkdir "$tmp/book"
  for f in realcn_lines.mrc realcn_utf8.mrc; do
    bin --xlsx "$tmp/book/rows.xlsx" "$data/$f" >"$tmp/out" 2>"$tmp/err"
    check test $? -eq 0
    check test ! -s "$tmp/out"
    check grep -q "^$tmp/book/rows.xlsx: 27 rows on 1 sheet$" "$tmp/err"
    python3 "$read_xlsx" "$tmp/book/rows.xlsx" >"$tmp/back"
    check test $? -eq 0
    check test "$(sed -n 2p "$tmp/back")" = "$captions"
    check cmp -s <(tail -n +3 "$tmp/back") "$data/realcn.rows.tsv"
    check test "$(ls -A "$tmp/book")" = rows.xlsx
  done
  # A failed read keeps the rows before it, says so, and exits 1.
  bin --xlsx "$tmp/book/bad.xlsx" "$data/cases_bad_leader.mrc" 2>"$tmp/err"
  check test $? -eq 1
  check grep -q "^record 2 (line 2): " "$tmp/err"
  check grep -q "bad.xlsx: 1 rows on 1 sheet, the rows read before the failure$" "$tmp/err"
  check test "$(python3 "$read_xlsx" "$tmp/book/bad.xlsx" | wc -l)" -eq 3
  # A title longer than a cell may hold is cut and counted.
  long=$(head -c 40000 /dev/zero | tr '\0' x)
  printf '00000nam0 2200037   450 2000015000000\x1e1 \x1fa%s\x1e\x1d' "$long" >"$tmp/long.mrc"
  bin --xlsx "$tmp/book/long.xlsx" "$tmp/long.mrc" 2>"$tmp/err"
  check grep -q '^1 cell cut to 32,767 characters$' "$tmp/err"
  check test "$(python3 "$read_xlsx" "$tmp/book/long.xlsx" | sed -n 3p | cut -f1 | wc -c)" -eq 32768
  # Arguments the wrong way round never overwrite the record file.
  cp "$data/cases_lines.mrc" "$tmp/keep.mrc"
  bin --xlsx "$tmp/keep.mrc" "$tmp/book/none.xlsx" 2>/dev/null
  check test $? -eq 2
  check cmp -s "$tmp/keep.mrc" "$data/cases_lines.mrc"
fi

# --keep-going passes over bad records: the good rows on stdout, a line per bad record on stderr
# (record, line, byte, bytes, reason, hint), exit 3; 0 when none was bad, 1 when the file failed.
bin --keep-going "$data/cases_bad_leader.mrc" >"$tmp/out" 2>"$tmp/err"
check test $? -eq 3
check test "$(wc -l <"$tmp/out")" -eq 2
check grep -q "^bad record 2 (line 2, byte 267, 26 bytes): '0x12Z' is not a valid integer value$" "$tmp/err"
check grep -q '^1 bad record passed over$' "$tmp/err"
bin --keep-going "$data/realcn_lines.mrc" >"$tmp/out" 2>/dev/null
check test $? -eq 0
check cmp -s "$tmp/out" "$data/realcn.rows.tsv"
bin --keep-going "$tmp/missing.mrc" >/dev/null 2>&1
check test $? -eq 1
# A record cut in two by a line break: both pieces listed, each with its hint; --bad writes their
# bytes as the file held them, each followed by CR LF, and implies --keep-going.
python3 - "$data/realcn_lines.mrc" "$tmp/cut.mrc" "$tmp/cut.want" <<'PY'
import sys
lines = open(sys.argv[1], 'rb').read().split(b'\r\n')
fifth = lines[4]
lines[4] = fifth[:100] + b'\r\n' + fifth[100:]
open(sys.argv[2], 'wb').write(b'\r\n'.join(lines))
open(sys.argv[3], 'wb').write(fifth[:100] + b'\r\n' + fifth[100:] + b'\r\n')
PY
bin --bad "$tmp/cut.bad.mrc" "$data/realcn_lines.mrc" >/dev/null 2>&1
check test $? -eq 0
check test "$(wc -c <"$tmp/cut.bad.mrc")" -eq 0
bin --bad "$tmp/cut.bad.mrc" "$tmp/cut.mrc" >"$tmp/out" 2>"$tmp/err"
check test $? -eq 3
check cmp -s "$tmp/out" <(sed 5d "$data/realcn.rows.tsv")
check grep -q '^bad record 5 (line 5, byte [0-9]*, 100 bytes): .*; cut in two by a line break: record 6 holds the remaining 428 bytes$' "$tmp/err"
check grep -q '^bad record 6 (line 6, byte [0-9]*, 428 bytes): Not a record of its own; the rest of record 5, cut in two by a line break$' "$tmp/err"
check grep -q "^$tmp/cut.bad.mrc: 2 bad records written$" "$tmp/err"
check cmp -s "$tmp/cut.bad.mrc" "$tmp/cut.want"
# The saved records read again give no rows and the same faults.
bin --keep-going "$tmp/cut.bad.mrc" >"$tmp/out" 2>"$tmp/err2"
check test $? -eq 3
check test ! -s "$tmp/out"
check cmp -s <(grep '^bad record' "$tmp/err" | sed 's/^[^:]*: //; s/; .*//') \
  <(grep '^bad record' "$tmp/err2" | sed 's/^[^:]*: //; s/; .*//')
# --bad never writes over FILE.
cp "$tmp/cut.mrc" "$tmp/keep2.mrc"
bin --bad "$tmp/keep2.mrc" "$tmp/keep2.mrc" >/dev/null 2>&1
check test $? -eq 2
check cmp -s "$tmp/keep2.mrc" "$tmp/cut.mrc"
if [[ "$build" != emulated ]]; then
  # With --xlsx: the good rows in the workbook, the bad records beside.
  bin --bad "$tmp/x.bad.mrc" --xlsx "$tmp/cut.xlsx" "$tmp/cut.mrc" >/dev/null 2>"$tmp/err"
  check test $? -eq 3
  check cmp -s "$tmp/x.bad.mrc" "$tmp/cut.want"
  check grep -q "cut.xlsx: 26 rows on 1 sheet$" "$tmp/err"
fi

# Escaping: a TAB, CR, LF and backslash inside a cell stay on one line.
printf '00000nam0 2200037   450 2000015000000\x1e1 \x1fa\\x\ty\x1fb\x1e\x1d' >"$tmp/esc.mrc"
bin --raw "$tmp/esc.mrc" >"$tmp/out" 2>/dev/null
check test "$(head -c 6 "$tmp/out")" = '\\x\ty'

echo "$passed passed, $failed failed"
test "$failed" -eq 0
