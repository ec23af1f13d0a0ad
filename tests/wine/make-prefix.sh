#!/usr/bin/env bash
# Creates a wine prefix for the tests once: make-prefix.sh PREFIX [win32|win64]
# A win32 prefix runs 32-bit programs only; a win64 prefix runs 64-bit ones.
set -euo pipefail
export WINEPREFIX="$1" WINEARCH="${2:-win32}" WINEDEBUG=-all
[ -f "$WINEPREFIX/system.reg" ] && exit 0
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
# Draw captions without a window manager, so screenshots show them.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
wineserver -w
