#!/usr/bin/env bash
# Frames per second of `delbrin apply` against ffmpeg's own delogo filter on
# the same inputs, with the same rectangle and the same encoder settings.
#
#   bench/cli-vs-ffmpeg.sh [DELBRIN] [SECONDS]
#
# DELBRIN defaults to build/cli/delbrin, SECONDS (clip length) to 8. Each
# size is run RUNS times (default 3) alternating the two tools, and the best
# time of each is kept, so that a busy machine hurts both alike.
set -euo pipefail
cd "$(dirname "$0")/.."
delbrin=${1:-build/cli/delbrin}
seconds=${2:-8}
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

encoder=(-c:v libx264 -crf 18 -preset medium -pix_fmt yuv420p)

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }

printf '%-6s %-8s %8s %10s %10s\n' size frames tool seconds fps
for size in 1920x1080 720x576; do
  w=${size%x*}; h=${size#*x}
  in="$work/in-$h.mp4"
  ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=$size:rate=25:duration=$seconds" \
    -f lavfi -i "sine=frequency=440:duration=$seconds" -c:v libx264 -crf 18 -pix_fmt yuv420p \
    -c:a aac -shortest -y "$in"
  frames=$((25 * seconds))
  # A logo-sized rectangle in the top right corner, inside the frame as
  # delogo requires.
  rw=$((w / 8)); rh=$((h / 10)); rx=$((w - rw - w / 20)); ry=$((h / 20))
  best_d=; best_f=
  for _ in $(seq "$runs"); do
    t0=$(now)
    "$delbrin" apply "$in" "$work/d.mp4" --rect "$rx,$ry,$rw,$rh" --codec libx264 --crf 18 \
      --pix-fmt yuv420p --force --quiet
    t1=$(now)
    ffmpeg -v error -nostdin -i "$in" -vf "delogo=x=$rx:y=$ry:w=$rw:h=$rh" "${encoder[@]}" \
      -c:a copy -y "$work/f.mp4"
    t2=$(now)
    d=$(calc "$t1 - $t0"); f=$(calc "$t2 - $t1")
    if [ -z "$best_d" ] || [ "$(calc "$d < $best_d")" = 1 ]; then best_d=$d; fi
    if [ -z "$best_f" ] || [ "$(calc "$f < $best_f")" = 1 ]; then best_f=$f; fi
  done
  fps_d=$(calc "$frames / $best_d"); fps_f=$(calc "$frames / $best_f")
  printf '%-6s %-8s %8s %10.2f %10.1f\n' "${h}p" "$frames" delbrin "$best_d" "$fps_d"
  printf '%-6s %-8s %8s %10.2f %10.1f\n' "${h}p" "$frames" delogo "$best_f" "$fps_f"
  printf '%-6s delbrin/delogo fps ratio %.2f\n' "${h}p" "$(calc "$fps_d / $fps_f")"
done
