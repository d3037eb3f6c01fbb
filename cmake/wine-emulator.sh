#!/usr/bin/env bash
# Runs one Windows executable under wine for CTest: wine-emulator.sh PROGRAM.exe [ARGS...]
# Uses a private prefix (WINEPREFIX, default: wine/ in the build folder that holds the program),
# created once under a lock. COM calls hang in a prefix whose first boot is still running, so
# the boot is waited for before anything else runs.
# Environment: TESSALY_WINE_TIMEOUT (seconds per run, default 120); TESSALY_WINE_DISPLAY (the X
# display windowed programs show on, set by wine-window.sh; without it there is none).
# `wine-emulator.sh --init` only prepares the prefix; `wine-emulator.sh --stop` ends its
# wineserver.
set -euo pipefail
unset WAYLAND_DISPLAY
if [[ -n "${TESSALY_WINE_DISPLAY:-}" ]]; then
  export DISPLAY=$TESSALY_WINE_DISPLAY
else
  unset DISPLAY
fi
export WINEDEBUG=-all
# No Mono or Gecko download prompts (nothing here needs .NET or HTML), and no menu entries
# written into the user's home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The build folder holding the program (or the current directory), found by its CMakeCache.txt.
build_folder() {
  local dir
  for dir in "$@"; do
    dir=$(cd "$dir" 2>/dev/null && pwd) || continue
    while [[ "$dir" != / ]]; do
      [[ -f "$dir/CMakeCache.txt" ]] && { echo "$dir"; return; }
      dir=$(dirname "$dir")
    done
  done
  echo "${TMPDIR:-/tmp}/tessaly-wine-$(id -u)"
}
if [[ -z "${WINEPREFIX:-}" ]]; then
  program_dir=.
  [[ "${1:-}" != --* && -n "${1:-}" ]] && program_dir=$(dirname "$1")
  export WINEPREFIX="$(build_folder "$program_dir" "$PWD")/wine"
fi
limit=${TESSALY_WINE_TIMEOUT:-120}

if [[ "${1:-}" == --stop ]]; then
  [[ -d "$WINEPREFIX" ]] && timeout 30 wineserver -k 2>/dev/null || true
  exit 0
fi

mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [[ ! -f "$WINEPREFIX/.tessaly-ready" ]]; then
    rm -rf "$WINEPREFIX"
    timeout 300 wineboot -i >/dev/null 2>&1
    timeout 120 wineserver -w
    touch "$WINEPREFIX/.tessaly-ready"
  fi
) 9>"$WINEPREFIX.lock"

[[ "${1:-}" == --init ]] && exit 0
exec timeout -k 10 "$limit" wine "$@"
