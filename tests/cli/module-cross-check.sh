#!/usr/bin/env bash
# The delbrin command and Delbrin.vdf in the stand-in host, given the same
# decoded frames and the same Config lines, must produce the same pixels.
#   module-cross-check.sh RUN_WINE WINEPREFIX MODULE_FRAMES_EXE DELBRIN WORKDIR
set -euo pipefail
run_wine=$1 prefix=$2 module_frames=$3 delbrin=$4 work=$5
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# A frame size that is no round number (the test source may round it to
# even numbers, so the size is read back from the clip).
ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=42x30:rate=10:duration=1.4" \
  -vf "format=bgr0,crop=41:29:0:0" -c:v ffv1 -pix_fmt bgr0 -y clip.mkv
IFS=x read -r w h < <(ffprobe -v error -select_streams v:0 -show_entries stream=width,height \
  -of csv=p=0:s=x clip.mkv)
ffmpeg -v error -nostdin -i clip.mkv -f rawvideo -pix_fmt bgra -y in.raw
ffmpeg -v error -nostdin -i clip.mkv -f rawvideo -pix_fmt bgr24 -y in.bgr

configs=(
  # feather and fade around two ranges, two gradients cancelled
  'Config(21, 13, 7, 4, 1, 1, 1, 0, 0, 1, 4, 2, "2 5, 8 10, ")'
  # no ramps: the patch is stored as it is
  'Config(9, 6, 0, 0, 0, 0, 0, 1, 1, 0, 10, 5, "")'
  # a rectangle from a script that reaches out of the frame
  'Config(30, 20, 25, 20, 1, 0, 0, 0, 0, 0, 3, 5, "")'
)
status=0
for i in "${!configs[@]}"; do
  config=${configs[$i]}
  "$delbrin" apply clip.mkv "cli-$i.mkv" --codec ffv1 --quiet --force --config "$config"
  ffmpeg -v error -nostdin -i "cli-$i.mkv" -f rawvideo -pix_fmt bgr24 -y "cli-$i.bgr"
  "$run_wine" "$prefix" "$module_frames" in.raw "module-$i.raw" "$w" "$h" "$config"
  # Files carry no fourth byte; compare blue, green and red.
  ffmpeg -v error -nostdin -f rawvideo -pix_fmt bgra -s "${w}x${h}" -i "module-$i.raw" \
    -f rawvideo -pix_fmt bgr24 -y "module-$i.bgr"
  # Both must have patched something, and the same.
  if cmp -s in.bgr "cli-$i.bgr"; then
    echo "NOTHING patched: $config"
    status=1
  elif cmp -s "cli-$i.bgr" "module-$i.bgr"; then
    echo "same frames: $config"
  else
    echo "DIFFERENT frames: $config"
    status=1
  fi
done
exit $status
