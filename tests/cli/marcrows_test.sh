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

# Usage errors exit 2.
for args in "" "--bogus $data/cases_lines.mrc" "a b" "--encoding gbk $data/cases_lines.mrc" \
  "$data/cases_lines.mrc --encoding"; do
  # shellcheck disable=SC2086
  bin $args >/dev/null 2>&1
  check test $? -eq 2
done

# Escaping: a TAB, CR, LF and backslash inside a cell stay on one line.
printf '00000nam0 2200037   450 2000015000000\x1e1 \x1fa\\x\ty\x1fb\x1e\x1d' >"$tmp/esc.mrc"
bin --raw "$tmp/esc.mrc" >"$tmp/out" 2>/dev/null
check test "$(head -c 6 "$tmp/out")" = '\\x\ty'

echo "$passed passed, $failed failed"
test "$failed" -eq 0
