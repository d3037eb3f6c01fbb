#!/usr/bin/env bash
# Configures and builds one build folder: build.sh DIR [cmake options...]. The folder is
# configured when it is new, or when the options given differ from those it was configured with.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$1
shift
stamp="$root/$dir/.tessaly-options"
options=$(printf '%s\n' "$@")
if [[ ! -f "$root/$dir/build.ninja" || ! -f "$stamp" || "$(cat "$stamp")" != "$options" ]]; then
  cmake -S "$root" -B "$root/$dir" -G Ninja "$@" >/dev/null
  printf '%s' "$options" >"$stamp"
fi
cmake --build "$root/$dir"
