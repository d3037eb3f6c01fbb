#!/usr/bin/env bash
# Sets up what building and running need, builds the program alone (no tests, no benchmarks, in
# a folder of its own), and starts Tessaly; arguments go to the program (a record file to open).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" packages-build.txt
"$root/scripts/build.sh" build-run -DBUILD_TESTING=OFF
exec "$root/build-run/bin/tessaly" "$@"
