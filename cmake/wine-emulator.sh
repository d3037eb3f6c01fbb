#!/usr/bin/env bash
# Runs one Windows executable under wine for CTest: wine-emulator.sh PROGRAM.exe [ARGS...]
# Uses a private prefix (WINEPREFIX, default: wine/ beside the build's CTestTestfile, i.e. the
# current directory's build folder), created once under a lock. COM calls hang in a prefix whose
# first boot is still running, so the boot is waited for before anything else runs.
# Environment: TESSALY_WINE_TIMEOUT (seconds per run, default 120).
# `wine-emulator.sh --init` only prepares the prefix; `wine-emulator.sh --stop` ends its
# wineserver.
set -euo pipefail
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all
# No Mono or Gecko download prompts: nothing here needs .NET or HTML.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [[ -z "${WINEPREFIX:-}" ]]; then
  # CTest runs tests in their build subfolder; the prefix sits at the top of the build folder.
  dir=$PWD
  while [[ "$dir" != / && ! -f "$dir/CMakeCache.txt" ]]; do dir=$(dirname "$dir"); done
  [[ "$dir" == / ]] && dir=$PWD
  export WINEPREFIX="$dir/wine"
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
