#!/usr/bin/env bash
# Lossless target: with a lossless encoder in the input's own pixel format,
# no byte outside the rounded-out rectangle differs from the input, for each
# of the pixel formats below. The picture around the rectangle is cut into
# four bands (above, below, left, right) and each band's frames are compared
# by their MD5 in the native format.
#
#   scripts/checks/lossless-outside.sh [DELBRIN]
set -euo pipefail
delbrin=${1:-build/cli/delbrin}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A rectangle whose edges are odd, so that rounding out to the chroma grid
# shows: 4:2:0 and 4:2:2 round it out to x 36...78, y 20...50 (4:2:2: y 21...50).
x=37 y=21 w=41 h=29
size=160x96
formats=(yuv420p yuv422p yuv444p yuv420p10le nv12 rgb24 bgra gray)
status=0
for fmt in "${formats[@]}"; do
  codec=ffv1 ext=mkv
  case $fmt in nv12|rgb24) codec=rawvideo ext=nut ;; esac
  in="$work/in-$fmt.$ext" out="$work/out-$fmt.$ext"
  ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=$size:rate=25:duration=1" -vf "format=$fmt" \
    -c:v "$codec" -y "$in"
  "$delbrin" apply "$in" "$out" --rect "$x,$y,$w,$h" --feather 4 --codec "$codec" --quiet --force
  got=$(ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt -of csv=p=0 "$out")
  # The rounded-out rectangle: the chroma grid of the format.
  read -r gx gy < <(case $fmt in
    yuv420p|yuv420p10le|nv12) echo 2 2 ;; yuv422p) echo 2 1 ;; *) echo 1 1 ;; esac)
  x0=$((x / gx * gx)) y0=$((y / gy * gy))
  x1=$(((x + w + gx - 1) / gx * gx)) y1=$(((y + h + gy - 1) / gy * gy))
  W=${size%x*} H=${size#*x}
  bands=("$W:$y0:0:0" "$W:$((H - y1)):0:$y1" "$x0:$((y1 - y0)):0:$y0" "$((W - x1)):$((y1 - y0)):$x1:$y0")
  differ=0
  for band in "${bands[@]}"; do
    a=$(ffmpeg -v error -nostdin -i "$in" -vf "crop=$band" -f framemd5 - | grep -v '^#')
    b=$(ffmpeg -v error -nostdin -i "$out" -vf "crop=$band" -f framemd5 - | grep -v '^#')
    [ "$a" = "$b" ] || differ=$((differ + 1))
  done
  inside=$(cmp -s <(ffmpeg -v error -nostdin -i "$in" -f framemd5 -) <(ffmpeg -v error -nostdin -i "$out" -f framemd5 -) \
    && echo unchanged || echo patched)
  source=$(ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt -of csv=p=0 "$in")
  if [ "$source" = "$fmt" ] && [ "$got" = "$fmt" ] && [ "$differ" = 0 ] && [ "$inside" = patched ]; then
    echo "$fmt: output $got, 0 of 4 bands outside the rectangle differ, rectangle patched"
  else
    echo "$fmt: FAILED (input $source, output $got, $differ of 4 bands differ, rectangle $inside)"
    status=1
  fi
done
exit $status
