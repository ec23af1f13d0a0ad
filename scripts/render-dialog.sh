#!/usr/bin/env bash
# Renders pictures for people: the open settings dialog, and a frame before
# and after patching with the border on, as PNG files in doc/. The dialog runs
# under wine in a virtual display, with a CJK font for its Chinese texts.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target win32

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Code page 936 turns the template's texts into characters rather than "?".
LC_ALL=zh_CN.UTF-8 bash tests/wine/run-wine.sh "$PWD/build/wineprefix" --display \
  build/win32/tests/dialog/dialog_driver.exe pictures \
    "Z:$work/dialog.bmp" "Z:$work/before.bmp" "Z:$work/after.bmp"

mkdir -p doc
convert "$work/dialog.bmp" -strip doc/settings-dialog.png
# Doubled, pixel for pixel, so that the one-pixel dotted border stays visible.
convert "$work/before.bmp" "$work/after.bmp" -scale 200% -bordercolor white -border 4 +append -strip \
  doc/patch-before-after.png
echo "wrote doc/settings-dialog.png and doc/patch-before-after.png"
