#!/usr/bin/env bash
# The 32-bit and the 64-bit Delbrin.vdf, each in its own stand-in host under
# its own wine, given the same frames and the same Config lines, must give the
# same pixels, script lines and summaries:
#   check-modules-agree.sh RUN_WINE PREFIX32 MODULE_FRAMES32 PREFIX64 MODULE_FRAMES64 WORKDIR
set -euo pipefail
run_wine=$1 prefix32=$2 frames32=$3 prefix64=$4 frames64=$5 work=$6
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Frames of no round size: a smooth picture with fine detail that changes
# from frame to frame, so every feather and fade weight is exercised.
w=45 h=31 count=24
python3 - "$w" "$h" "$count" <<'PY'
import struct, sys
w, h, count = map(int, sys.argv[1:])
with open("in.raw", "wb") as out:
    for n in range(count):
        for y in range(h):
            for x in range(w):
                b = (x * 5 + n * 3) & 255
                g = (y * 7 + (x * y) % 11) & 255
                r = (x * y * 3 + n * 17 + (x ^ y)) & 255
                out.write(struct.pack("BBBB", b, g, r, 255))
PY

configs=(
  # feather and fade around two ranges, two gradients cancelled
  'Config(21, 13, 7, 4, 1, 1, 1, 0, 0, 1, 4, 2, "2 5, 8 10, ")'
  # no ramps, the other two gradients cancelled
  'Config(9, 6, 0, 0, 0, 0, 0, 1, 1, 0, 10, 5, "")'
  # a rectangle reaching out of the frame, feathered
  'Config(30, 20, 25, 20, 1, 0, 0, 0, 0, 0, 3, 5, "")'
  # negative sizes and positions, amounts past the dialog's limits
  'Config(-3, 40, -5, -7, 1, 1, 0, 0, 0, 0, 60, 70, "0 3, 20 22, ")'
  # the extremes a script can hold
  'Config(2147483647, 2147483647, -2147483648, -2147483648, 1, 1, 1, 1, 1, 1, -2147483648, 2147483647, "0 2147483647, ")'
  # the whole frame, widest feather and fade, ranges the parser drops or mends
  'Config(45, 31, 0, 0, 1, 1, 0, 0, 0, 0, 50, 50, "5 6, 6 5, 9 x 12, 15 15")'
)
status=0
patched=0
for i in "${!configs[@]}"; do
  config=${configs[$i]}
  "$run_wine" "$prefix32" "$frames32" in.raw "out32-$i.raw" "$w" "$h" "$config" |
    tr -d '\r' >"text32-$i.txt"
  "$run_wine" "$prefix64" "$frames64" in.raw "out64-$i.raw" "$w" "$h" "$config" |
    tr -d '\r' >"text64-$i.txt"
  cmp -s in.raw "out32-$i.raw" || patched=$((patched + 1))
  if cmp -s "out32-$i.raw" "out64-$i.raw" && cmp -s "text32-$i.txt" "text64-$i.txt"; then
    echo "same: $config"
    sed 's/^/  /' "text32-$i.txt"
  else
    echo "DIFFERENT: $config"
    cmp "out32-$i.raw" "out64-$i.raw" || true
    diff "text32-$i.txt" "text64-$i.txt" || true
    status=1
  fi
done
# Most of the lines must have patched something, or the comparison says little.
echo "$patched of ${#configs[@]} lines patched the frames"
[ "$patched" -ge 4 ] || { echo "FAIL: too few lines patched anything"; status=1; }
exit $status
