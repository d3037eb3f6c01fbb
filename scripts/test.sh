#!/usr/bin/env bash
# Sets up what is missing, checks the C++ files' format, builds, and runs the whole test suite: the
# regular build (with the benchmarks, so that they keep building), then the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, the decoding core's tests
# under ThreadSanitizer, a bounded run of the fuzz targets, the Windows build's tests under wine,
# then the Debian package and the Windows packages, each installed, used and removed again.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/setup.sh packages-build.txt packages-package.txt packages-test.txt
export QT_QPA_PLATFORM=offscreen
status=0
stage() {
  echo "== $1"
  shift
  "$@" || status=1
}
stage "format: clang-format-14 over the tracked C++ files" \
  bash -c "git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror"
# The benchmarks are built here too: the Debian package's check drives the installed Calc module
# with export_bench.
scripts/build.sh build -DTESSALY_BENCH=ON
stage "tests" ctest --test-dir build --output-on-failure -j2
scripts/build.sh build-asan -DTESSALY_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
stage "tests under ASan+UBSan" env ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j2 -LE nosan
# The decoding core alone, its two decode threads watched for races.
scripts/build.sh build-tsan -DTESSALY_TSAN=ON -DTESSALY_GUI=None -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage "decoding core under ThreadSanitizer" env TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir build-tsan --output-on-failure -j2 -E HugeLine
stage "fuzzing: read path, extractors, StrToIntStrict, text conversion (20 s each)" tests/fuzz/run.sh 20
stage "Windows build under wine (core, Excel backend, the window)" scripts/test-win.sh build-win
stage "Debian package: built, installed, used, removed" scripts/test-package.sh
stage "Windows packages: the zip; the .msi installed, used and removed under wine" scripts/test-package-win.sh
exit $status
