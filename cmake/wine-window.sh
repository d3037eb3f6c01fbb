#!/usr/bin/env bash
# Runs a command that shows Windows windows under wine, on a virtual X display of its own:
#   wine-window.sh PREFIX COMMAND [ARGS...]
# PREFIX is a wine prefix for windowed programs only (its wineserver and desktop must have a
# display from the start; the other tests' prefix runs without one). Chinese glyphs need a CJK
# font: the prefix's font replacements point the faces the program and wine's dialogs ask for at
# WenQuanYi Micro Hei (Debian fonts-wqy-microhei). COMMAND runs with DISPLAY, WINEPREFIX and
# TESSALY_WINE_DISPLAY set (wine-emulator.sh then keeps the display); Xvfb and the prefix's
# wineserver are stopped by PID however it ends.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=$1
shift
tmp=$(mktemp -d)
xvfb=
cleanup() {
  "$here/wine-emulator.sh" --stop || true
  [[ -n "$xvfb" ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do
  [[ -s "$tmp/display" ]] && break
  sleep 0.1
done
[[ -s "$tmp/display" ]] || { echo "wine-window.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$tmp/display")"
export TESSALY_WINE_DISPLAY=$DISPLAY

"$here/wine-emulator.sh" --init
if [[ ! -f "$WINEPREFIX/.tessaly-fonts" ]]; then
  for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "SimSun" "宋体"; do
    "$here/wine-emulator.sh" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" \
      /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null
  done
  timeout 60 wineserver -w
  touch "$WINEPREFIX/.tessaly-fonts"
fi
"$@"
