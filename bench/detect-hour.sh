#!/usr/bin/env bash
# Seconds `delbrin detect` takes on an hour of 576p video, on one core.
#
#   bench/detect-hour.sh [DELBRIN] [CLIP]
#
# DELBRIN defaults to build/cli/delbrin. CLIP defaults to an hour of 720x576
# H.264 at 25 fps (500 kb/s, a keyframe at least every 250 frames, B-frames)
# made on first use and kept in $DELBRIN_BENCH_DIR (default
# ${TMPDIR:-/tmp}/delbrin-bench): a slow pan over a fractal picture with a
# translucent station logo in the top right corner that leaves for two
# minutes at the half hour. Making it takes several minutes. The detection runs pinned to one core (taskset), first
# plain and then with --ranges; each is run RUNS times (default 3) and the
# best time is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
delbrin=${1:-build/cli/delbrin}
dir=${DELBRIN_BENCH_DIR:-${TMPDIR:-/tmp}/delbrin-bench}
clip=${2:-$dir/hour-576p.mp4}
runs=${RUNS:-3}

if [ ! -f "$clip" ]; then
  mkdir -p "$dir"
  echo "making $clip (a few minutes)..." >&2
  ffmpeg -hide_banner -v error -nostdin -y -f lavfi -i "mandelbrot=s=1600x1200:start_scale=1.2" \
    -frames:v 1 "$dir/picture.png"
  logo_on="enable='not(between(t,1800,1920))'"
  ffmpeg -hide_banner -v error -nostdin -y -f lavfi -i \
    "movie=$dir/picture.png,format=yuv420p,loop=-1:1:0,setpts=N/25/TB,
     crop=720:576:x='440+430*sin(t*0.37)':y='312+300*cos(t*0.23)',
     drawbox=x=560:y=28:w=120:h=48:color=white@0.7:t=fill:$logo_on,
     drawbox=x=572:y=38:w=40:h=28:color=red:t=fill:$logo_on" \
    -t 3600 -c:v libx264 -preset superfast -b:v 500k -g 250 -f mp4 "$clip.part"
  mv "$clip.part" "$clip"
fi

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }

for options in "" "--ranges"; do
  best=
  for _ in $(seq "$runs"); do
    t0=$(now)
    taskset -c 0 "$delbrin" detect "$clip" $options --json > "$dir/detect.json"
    t1=$(now)
    t=$(calc "$t1 - $t0")
    if [ -z "$best" ] || [ "$(calc "$t < $best")" = 1 ]; then best=$t; fi
  done
  printf 'delbrin detect %-9s one hour of 576p: %6.2f s (best of %d)\n' "$options" "$best" "$runs"
done
cat "$dir/detect.json"
