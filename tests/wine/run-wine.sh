#!/usr/bin/env bash
# Runs a Windows program under wine in the tests' prefix:
#   run-wine.sh PREFIX [--display] PROGRAM ARGS...
# With --display the program gets a virtual X display of its own.
set -euo pipefail
export WINEPREFIX="$1" WINEDEBUG=-all
shift
if [ "${1:-}" = --display ]; then
  shift
  exec xvfb-run -a -s '-screen 0 1024x768x24' wine "$@"
fi
exec wine "$@"
