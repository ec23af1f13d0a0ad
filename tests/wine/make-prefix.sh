#!/usr/bin/env bash
# Creates the tests' wine prefix once: make-prefix.sh PREFIX
set -euo pipefail
export WINEPREFIX="$1" WINEDEBUG=-all
[ -f "$WINEPREFIX/system.reg" ] && exit 0
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
# Draw captions without a window manager, so screenshots show them.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
wineserver -w
