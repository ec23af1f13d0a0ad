#!/usr/bin/env bash
# Runs a Windows program under wine in the tests' prefix:
#   run-wine.sh PREFIX [--display] PROGRAM ARGS...
# With --display the program gets a virtual X display of its own.
set -euo pipefail
export WINEPREFIX="$1" WINEDEBUG=-all
shift
if [ "${1:-}" = --display ]; then
  shift
  # Programs with windows use a prefix of their own, one at a time (the tests
  # share a lock), and let its wine server end before their display does:
  # wine's desktop process keeps the display of the program that started the
  # server, so windows cannot be made while a program without a display, or
  # one whose display has gone, started it.
  # The display prefix is of the same kind, 32-bit or 64-bit, as the one
  # given; 32-bit when that one has not been made.
  arch=$(sed -n 's/^#arch=//p' "$WINEPREFIX/system.reg" 2>/dev/null || true)
  export WINEPREFIX="$WINEPREFIX-display"
  bash "$(dirname "$0")/make-prefix.sh" "$WINEPREFIX" "${arch:-win32}"
  exec xvfb-run -a -s '-screen 0 1024x768x24' \
    sh -c 'wine "$@"; status=$?; wineserver -w; exit $status' wine "$@"
fi
exec wine "$@"
