#!/usr/bin/env bash
# tessaly.exe end to end under wine, driven with xdotool as a user would: the record file opened
# through the open dialog, exported into the fake Excel (a local server of its own, registered as
# Excel), and the cells it received must be the captions and marcrows' rows for that file.
# Run by wine-window.sh (a display and a prefix of its own):
#   tessaly_e2e.sh BIN_DIR DATA_DIR WINE_EMULATOR
set -euo pipefail
bin=$1
data=$2
wine_run=$3
# ASCII paths only: xdotool cannot type Chinese.
tmp=$(mktemp -d /tmp/tessaly-e2e.XXXXXX)
app=
cleanup() {
  [[ -n "$app" ]] && kill "$app" 2>/dev/null
  "$wine_run" "$bin/e2e_helper.exe" stop "Z:$tmp/excel.state" >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
winpath() { echo "Z:${1//\//\\}"; }
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
helper() { TESSALY_WINE_TIMEOUT=90 "$wine_run" "$bin/e2e_helper.exe" "$@"; }
# Waits up to 30 s for a visible window whose name matches; prints its id.
window() {
  local id
  for _ in $(seq 150); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) || true
    [[ -n "$id" ]] && { echo "$id"; return; }
    sleep 0.2
  done
  fail "no window named $1"
}

cp "$data/realcn_lines.mrc" "$tmp/records.mrc"
"$wine_run" "$bin/marcrows.exe" "$(winpath "$tmp/records.mrc")" >"$tmp/rows.tsv" 2>/dev/null
helper register "$(winpath "$tmp/excel.state")" || fail "the fake Excel was not registered"

"$wine_run" "$bin/tessaly.exe" &
app=$!
main=$(window '^禾朔Tessaly  1\.0$')
# Without a window manager the X window is the client area: client coordinates. 打开marc文件:
xdotool mousemove --window "$main" 60 28 click 1
dialog=$(window '^(Open|打开)$')
# Keys go to the window under the pointer; the name box has the focus.
xdotool mousemove --window "$dialog" 20 20
xdotool type --delay 20 "$(winpath "$tmp/records.mrc")"
xdotool key Return
helper label "读入:$(wc -l <"$tmp/rows.tsv") 条" || fail "the file was not read"

# 生成Excel, then wait for the export to end (the commands come back).
xdotool mousemove --window "$main" 170 28 click 1
helper idle || fail "the export did not end"
helper cells "$(winpath "$tmp/excel.state")" | tr -d '\r' >"$tmp/cells.tsv"
{
  printf '名称\t作者\tisbn\t价格\t出版地\t出版社\t出版时间\t页数\t尺寸\t附件\t分类号\t分类名\t提要\n'
  cat "$tmp/rows.tsv"
} >"$tmp/expected.tsv"
diff "$tmp/expected.tsv" "$tmp/cells.tsv" >&2 || fail "the cells differ from marcrows' rows"

# 退出 ends the program with status 0.
xdotool mousemove --window "$main" 355 28 click 1
status=0
wait "$app" || status=$?
app=
[[ $status -eq 0 ]] || fail "tessaly.exe exited with $status"
echo "passed: $(wc -l <"$tmp/rows.tsv") rows, $(($(wc -l <"$tmp/rows.tsv") * 13 + 13)) cells"
