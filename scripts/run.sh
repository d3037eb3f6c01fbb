#!/usr/bin/env bash
# Sets up what is missing, builds, and starts Tessaly.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" packages-build.txt packages-test.txt
"$root/scripts/build.sh" build
exec "$root/build/bin/tessaly" "$@"
