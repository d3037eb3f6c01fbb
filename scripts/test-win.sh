#!/usr/bin/env bash
# The Windows build under wine: cross-compiles the decoding core with its tests, the Excel
# backend with its fake-Excel tests, the window's logic with its tests and the Windows program
# tessaly.exe (TESSALY_GUI=Win32, the default for a Windows target) with its window tests
# (mingw-w64, static), then runs them with CTest, wine being the emulator; the window tests run
# on an Xvfb of their own (cmake/wine-window.sh). test-win.sh [BUILD_DIR], default build-win.
# Leaves no wineserver and no Xvfb running.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir="$root/${1:-build-win}"
# One private prefix for the whole run, stopped however the run ends.
export WINEPREFIX="$dir/wine"
trap '"$root/cmake/wine-emulator.sh" --stop' EXIT
if [[ ! -f "$dir/build.ninja" ]]; then
  cmake -S "$root" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DTESSALY_GTEST_SOURCE=/usr/src/googletest >/dev/null
fi
cmake --build "$dir"
# The first boot of a prefix takes 15 s or so; done once here rather than inside a test's time.
"$root/cmake/wine-emulator.sh" --init
# A failed test runs once more: under load wine's server can quit just as the next process
# connects to it ("wine client error: recvmsg: Connection reset by peer"), failing a test that
# has nothing wrong; a real fault fails both times.
ctest --test-dir "$dir" --output-on-failure -j2 --repeat until-pass:2
