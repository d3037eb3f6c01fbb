#!/usr/bin/env bash
# The Windows packages as IT and a user meet them, under wine on a virtual X display in a private
# prefix: the zip holds the programs and the read-me; the .msi installs silently, per machine and
# 64-bit; the installed marcrows reads the real records; the Start menu entry and the .mrc file
# type lead to the installed tessaly, which opens a real record file given to it and shows its
# window with that file's rows counted; the .msi removes itself silently and leaves no file and no
# registry entry behind. Xvfb and the wineserver are this check's own, ended by process id however
# it ends. Needs the Windows test build in build-win/ (scripts/test-win.sh), for e2e_helper.exe,
# which reads the window's labels.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/setup.sh packages-test.txt
helper="$root/build-win/bin/e2e_helper.exe"
[[ -f "$helper" ]] || { echo "no $helper: run scripts/test-win.sh first"; exit 1; }
made=$(scripts/package-win.sh | tail -n 2) || exit 1
msi=$(head -n 1 <<<"$made")
zip=$(tail -n 1 <<<"$made")

tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do timeout 30 tail --pid="$pid" -f /dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT

passed=0
failed=0
check() {
  "$@" && passed=$((passed + 1)) && return 0
  failed=$((failed + 1))
  echo "FAILED: $*"
  return 1
}
until_true() {
  for _ in $(seq 100); do "$@" && return 0; sleep 0.2; done
  return 1
}
lacks() { ! grep -qiE "$1" "${@:2}"; }

# The portable zip: the two programs, the read-me and the licence in a folder.
check test "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = \
  "Tessaly/ Tessaly/LICENSE.txt Tessaly/README.txt Tessaly/marcrows.exe Tessaly/tessaly.exe "
check cmp -s <(unzip -p "$zip" Tessaly/LICENSE.txt | tr -d '\r') LICENSE

# A private prefix, home and display; wine writes no menu entries and downloads nothing.
export HOME="$tmp/home" WINEPREFIX="$tmp/wine" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$HOME" "$WINEPREFIX"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
pids+=($!)
until_true test -s "$tmp/display"
export DISPLAY=":$(cat "$tmp/display")"
wineserver -f -p 2>/dev/null &
server=$!
pids+=("$server")
# Its socket is in the folder it works in.
check until_true test -S "/proc/$server/cwd/socket" || exit 1
timeout 300 wine wineboot -i >/dev/null 2>&1
c="$WINEPREFIX/drive_c"
# Everything but the Installer's own cache folder, which stays as on Windows.
files() { (cd "$c" && find . | grep -vx './windows/Installer' | sort); }
files >"$tmp/before.txt"
reg() { timeout 30 wine reg query "$@" 2>/dev/null | tr -d '\r'; }
winpath() { echo "Z:${1//\//\\}"; }

check timeout 120 wine msiexec /i "$(winpath "$msi")" /qn
dir="$c/Program Files/Tessaly"
for f in tessaly.exe marcrows.exe; do check test -f "$dir/$f"; done
check cmp -s <(tr -d '\r' <"$dir/LICENSE.txt") LICENSE
code=$(msiinfo export "$msi" Property | sed -n 's/^ProductCode\t//p' | tr -d '\r')
check grep -q 'DisplayName.*REG_SZ.*Tessaly$' \
  <(reg "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code" /v DisplayName)
timeout 60 wine 'C:\Program Files\Tessaly\marcrows.exe' "$(winpath "$root/tests/data/realcn_lines.mrc")" \
  >"$tmp/rows.tsv" 2>/dev/null
check cmp -s "$tmp/rows.tsv" tests/data/realcn.rows.tsv

program='C:\Program Files\Tessaly\tessaly.exe'
# The Start menu entry starts the installed program (wine puts it in the user's menu even for a
# per-machine install).
lnk=$(find "$c" -path '*/Start Menu/Programs/Tessaly.lnk' | head -n 1)
check grep -aqF "$program" "${lnk:-/dev/null}"
# .mrc files are Tessaly's and are opened with their name; .iso files only offer it, in the
# 64-bit view.
check grep -q 'REG_SZ *Tessaly.mrc$' <(reg 'HKLM\Software\Classes\.mrc' /ve)
check grep -qF "REG_SZ    \"$program\" \"%1\"" \
  <(reg 'HKLM\Software\Classes\Tessaly.mrc\shell\open\command' /ve)
check lacks 'Tessaly' <(reg 'HKLM\Software\Classes\.iso' /ve)
check grep -q 'Tessaly.mrc' <(reg 'HKLM\Software\Classes\.iso\OpenWithProgids')
check lacks 'Tessaly' <(reg 'HKLM\Software\Wow6432Node\Classes\.mrc' /s)

# A real record file double-clicked: the file type starts the installed tessaly with it.
mkdir "$tmp/files"
cp tests/data/realcn_lines.mrc "$tmp/files/books.mrc"
timeout 120 wine start /wait /unix "$tmp/files/books.mrc" >/dev/null 2>&1 &
opened=$!
window=
find_window() {
  window=$(xdotool search --onlyvisible --name '^禾朔Tessaly  1\.0$' 2>/dev/null | head -n 1)
  [[ -n "$window" ]]
}
check until_true find_window
rows=$(wc -l <tests/data/realcn.rows.tsv)
check env LC_ALL=C.UTF-8 timeout 60 wine "$helper" label "读入:$rows 条"
# 退出 ends it, and with it the start that waited for it.
[[ -n "$window" ]] && xdotool mousemove --window "$window" 355 28 click 1
check timeout 30 tail --pid="$opened" -f /dev/null

check timeout 120 wine msiexec /x "$(winpath "$msi")" /qn
# Nothing left: the wineserver ends (writing the registry out), then neither the prefix's files
# nor its registry name Tessaly or hold anything the install added.
kill "$server"
check timeout 30 tail --pid="$server" -f /dev/null
check test ! -e "$dir"
files >"$tmp/after.txt"
check diff "$tmp/before.txt" "$tmp/after.txt"
check lacks "tessaly|${code//[{\}]/}" "$WINEPREFIX"/*.reg

echo "Windows packages $(basename "$msi") $(basename "$zip"): $passed passed, $failed failed"
test "$failed" -eq 0
