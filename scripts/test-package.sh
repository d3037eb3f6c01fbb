#!/usr/bin/env bash
# The Debian package as a user meets it: built by scripts/package.sh, installed with dpkg, then
# checked: its dependencies, desktop entry, AppStream metainfo, licence, icons and MIME type; the
# installed marcrows on the real records; the installed Calc module exporting into a headless office of this
# test's own; and the installed tessaly on a virtual X display, started through its desktop entry
# with a record file as a file manager starts it, showing its window and that file's rows, which
# reach that office when 生成Excel is clicked. The package is removed again, by name, however the check ends.
# Needs the regular build in build/ with the benchmarks (export_bench, the office guard; scripts/
# test.sh builds it so) and root or sudo.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
for tool in export_bench tessaly_office_guard; do
  [[ -x build/bin/$tool ]] || { echo "no build/bin/$tool: scripts/build.sh build -DTESSALY_BENCH=ON"; exit 1; }
done

deb=$(scripts/package.sh | tail -n 1) || exit 1
name=$(dpkg-deb -f "$deb" Package)
if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'ok installed'; then
  echo "$name is installed already; not replacing it"
  exit 1
fi
tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  [[ -n "${office_in:-}" ]] && exec {office_in}>&- && wait "$office_guard" 2>/dev/null
  "${sudo_cmd[@]}" dpkg --purge "$name" >/dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT
if ! "${sudo_cmd[@]}" dpkg -i "$deb" >"$tmp/dpkg.log" 2>&1; then
  cat "$tmp/dpkg.log"
  exit 1
fi

passed=0
failed=0
check() {
  "$@" && passed=$((passed + 1)) && return 0
  failed=$((failed + 1))
  echo "FAILED: $*"
  return 1
}
lacks() { ! grep -qE "$1" <<<"$2"; }

# Dependencies: the programs' libraries; LibreOffice and its UNO libraries only recommended.
depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
check grep -q 'libqt6widgets6' <<<"$depends"
check lacks 'libreoffice|libuno' "$depends"
check grep -qE '^libreoffice-calc, .*libuno-sal3' <<<"$recommends"

# Menu entry, icons and MIME type where a desktop looks for them.
files=$(dpkg -L "$name")
metainfo=/usr/share/metainfo/io.github.tessaly.Tessaly.metainfo.xml
for f in /usr/bin/tessaly /usr/bin/marcrows /usr/share/applications/tessaly.desktop \
  /usr/share/mime/packages/tessaly.xml /usr/share/icons/hicolor/scalable/apps/tessaly.svg \
  "$metainfo"; do
  check grep -qx "$f" <<<"$files"
done
for size in 16 22 24 32 48 64 128 256; do
  check grep -qx "/usr/share/icons/hicolor/${size}x${size}/apps/tessaly.png" <<<"$files"
done
check desktop-file-validate /usr/share/applications/tessaly.desktop
check grep -qx 'Icon=tessaly' /usr/share/applications/tessaly.desktop
check appstreamcli validate --no-net "$metainfo" >/dev/null
check grep -q '<project_license>MIT</project_license>' "$metainfo"
# The licence, where Debian keeps it: the MIT licence's text in the machine-readable format.
copyright=/usr/share/doc/$name/copyright
check grep -qx "$copyright" <<<"$files"
check grep -qx 'License: Expat' "$copyright"
check grep -qF 'Permission is hereby granted, free of charge' "$copyright"
# dpkg's triggers have rebuilt the MIME database: *.mrc is MARC, *.iso stays a disc image.
check grep -q ':application/marc:\*\.mrc$' /usr/share/mime/globs2
check test -f /usr/share/mime/application/marc.xml
# What a file manager sees: a MARC file named *.mrc, or *.dat told by its leader, is MARC; one
# named *.iso stays a disc image.
mkdir "$tmp/files"
for f in books.mrc books.dat books.iso; do cp tests/data/realcn_lines.mrc "$tmp/files/$f"; done
type_of() { gio info -a standard::content-type "$1" 2>/dev/null | sed -n 's/.*content-type: //p'; }
check test "$(type_of "$tmp/files/books.mrc")" = application/marc
check test "$(type_of "$tmp/files/books.dat")" = application/marc
check test "$(type_of "$tmp/files/books.iso")" = application/x-cd-image

# The installed marcrows on the real records, in both layouts and both encodings, and into a
# workbook.
for f in realcn_lines.mrc realcn_concat.mrc realcn_utf8.mrc; do
  /usr/bin/marcrows "tests/data/$f" >"$tmp/rows.tsv" 2>/dev/null
  check cmp -s "$tmp/rows.tsv" tests/data/realcn.rows.tsv
done
/usr/bin/marcrows --xlsx "$tmp/rows.xlsx" tests/data/realcn_lines.mrc 2>/dev/null
check cmp -s <(python3 tests/tools/read_xlsx.py "$tmp/rows.xlsx" | tail -n +3) \
  tests/data/realcn.rows.tsv

# The installed Calc module exports into a headless office of this test's own, on the program's
# pipe: the click below reaches the same office, and no office of the program's starting is left
# behind.
module=$(grep '/libtessaly_calc\.so$' <<<"$files")
check test -n "$module"
exec {office_in}> >(exec build/bin/tessaly_office_guard /usr/lib/libreoffice/program/soffice \
  tessaly >"$tmp/office.pid")
office_guard=$!
build/bin/export_bench --pipe tessaly --module "$module" --rows 100 --repeat 1 --only-now 1 \
  >"$tmp/bench.log" 2>&1
check test $? -eq 0 || cat "$tmp/bench.log"
# The installed marcrows' workbook, opened by Calc: the captions and the rows, every cell text.
printf '名称\t作者\tisbn\t价格\t出版地\t出版社\t出版时间\t页数\t尺寸\t附件\t分类号\t分类名\t提要\n' \
  >"$tmp/expected.tsv"
cat tests/data/realcn.rows.tsv >>"$tmp/expected.tsv"
check tests/package/calc_has_rows.py tessaly "$tmp/expected.tsv" "$tmp/rows.xlsx"

# The installed tessaly on a virtual display, started as a file manager starts it for a .mrc file
# (gio reads the desktop entry's Exec line): the main window shows with its caption and icon; the
# real records it was given, exported with 生成Excel, reach the office above through the installed
# module (the dynamic loader names the file it loads), cell for cell as marcrows prints them, and
# no message box appears.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [[ -s "$tmp/display" ]] && break; sleep 0.2; done
export DISPLAY=":$(cat "$tmp/display")"
# A home of its own, should the program ever start an office itself.
mkdir -p "$tmp/home"
# The loader's trace goes to a file per process (ld.PID), tessaly's apart from gio's; started by
# its name from PATH, the program is "tessaly" in it.
HOME="$tmp/home" LD_DEBUG=files LD_DEBUG_OUTPUT="$tmp/ld" QT_QPA_PLATFORM=xcb \
  gio launch /usr/share/applications/tessaly.desktop "$tmp/files/books.mrc" 2>"$tmp/tessaly.err"
visible() { xdotool search --onlyvisible --name '.' 2>/dev/null | wc -l; }
only_main() { [[ $(visible) -eq 1 ]]; }
until_true() {
  for _ in $(seq 50); do "$@" && return 0; sleep 0.2; done
  return 1
}
window=
find_window() {
  window=$(xdotool search --name '^禾朔Tessaly  1\.0$' 2>/dev/null | head -n 1)
  [[ -n "$window" ]]
}
check until_true find_window
tessaly_pid=
if [[ -n "$window" ]]; then
  tessaly_pid=$(xdotool getwindowpid "$window")
  pids+=("$tessaly_pid")
  check grep -q '_NET_WM_ICON(CARDINAL) = ' <(xprop -id "$window" _NET_WM_ICON 2>/dev/null)
  check grep -qx "$tmp/files/books.mrc" <(tr '\0' '\n' <"/proc/$tessaly_pid/cmdline")
  # 生成Excel (Button5, 89 x 25 at 128, 16). A click while the file is still being read is not
  # kept: click again until the export has begun.
  loaded() {
    grep -qE "file=$module .*dynamically loaded by tessaly" "$tmp/ld.$tessaly_pid"
  }
  for _ in 1 2 3; do
    xdotool mousemove --window "$window" 172 28 click 1
    until_true loaded && break
  done
  check loaded
  # The office holds the captions and the rows as marcrows prints them, every cell text.
  in_calc() { tests/package/calc_has_rows.py tessaly "$tmp/expected.tsv" >"$tmp/calc.log" 2>&1; }
  check until_true in_calc || cat "$tmp/calc.log"
  check only_main
fi
check kill -0 "${tessaly_pid:-0}"

echo "package $(basename "$deb"): $passed passed, $failed failed"
test "$failed" -eq 0
