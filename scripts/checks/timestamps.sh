#!/usr/bin/env bash
# Timestamp target: the output's video packet pts list equals the input's for
# a variable-rate clip (30, 10 and 60 fps pieces joined) in Matroska and in
# MP4, both starting late (the video 0.25 s after the audio), and the audio's
# packets are the same.
#
#   scripts/checks/timestamps.sh [DELBRIN]
set -euo pipefail
delbrin=${1:-build/cli/delbrin}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

pts() { ffprobe -v error -select_streams "$2" -show_entries packet=pts -of csv=p=0 "$1" | sort -n; }
status=0
for ext in mkv mp4; do
  in="$work/vfr.$ext" out="$work/out.$ext"
  ffmpeg -v error -nostdin \
    -f lavfi -i "testsrc2=size=320x240:rate=30:duration=1" -f lavfi -i "testsrc2=size=320x240:rate=10:duration=1" \
    -f lavfi -i "testsrc2=size=320x240:rate=60:duration=1" -f lavfi -i "sine=duration=3.25" \
    -filter_complex "[0][1][2]concat=n=3:v=1:a=0,setpts=PTS+0.25/TB[v]" -map "[v]" -map 3 \
    -c:v libx264 -c:a aac -fps_mode vfr -y "$in"
  "$delbrin" apply "$in" "$out" --rect 10,10,60,40 --quiet --force
  frames=$(pts "$in" v:0 | wc -l)
  if [ "$(pts "$in" v:0)" = "$(pts "$out" v:0)" ] && [ "$(pts "$in" a:0)" = "$(pts "$out" a:0)" ]; then
    echo "$ext: $frames video packet pts equal, audio packet pts equal"
  else
    echo "$ext: FAILED: the pts lists differ"
    diff <(pts "$in" v:0) <(pts "$out" v:0) | head -5 || true
    status=1
  fi
done
exit $status
