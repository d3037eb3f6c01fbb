#!/usr/bin/env bash
# Without any display the program says so in one line and exits non-zero (Qt would abort).
set -u
program=$1
err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" 2>&1 >/dev/null)
status=$?
lines=$(printf '%s\n' "$err" | wc -l)
if [[ $status -eq 0 || $status -ge 128 ]]; then
  echo "expected a plain failure status, got $status"; exit 1
fi
if [[ $lines -ne 1 || "$err" != *display* ]]; then
  echo "expected one line about the display, got: $err"; exit 1
fi
# An X11 platform asked for explicitly, with no X server named, fails the same way.
err=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" 2>&1 >/dev/null)
status=$?
if [[ $status -eq 0 || $status -ge 128 || "$err" != *display* ]]; then
  echo "QT_QPA_PLATFORM=xcb: status $status, output: $err"; exit 1
fi
echo ok
