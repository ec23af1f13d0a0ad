#!/usr/bin/env bash
# Frames per second of `delbrin apply` against ffmpeg's own delogo filter on
# the same inputs, with the same rectangle and the same encoder settings, in
# one run: libx264 CRF 18 preset medium (the encoder bounds both, so parity
# is the target) and ffv1 (a cheap encoder, where the pipeline itself shows:
# the target is 1.1 times ffmpeg's rate), at 1080p and 576p.
#
#   bench/cli-vs-ffmpeg.sh [DELBRIN] [SECONDS]
#
# DELBRIN defaults to build/cli/delbrin, SECONDS (clip length) to 4. Each
# case is run RUNS times (default 3), alternating the two tools; the best
# time of each is shown with their ratio, and beside it the median of the
# pairs' ratios, which holds better when other work comes and goes.
#
# Figures from one run (RUNS=5, 4 s clips, 2 cores shared with other work,
# load average near 20), fps ratio delbrin/delogo:
#
#   case          best times   median of pairs
#   1080p x264    1.05         0.94
#   1080p ffv1    1.27         1.27
#   576p  x264    1.40         1.27
#   576p  ffv1    1.95         1.45
#
# libx264 bounds both tools at 1080p and its ratio moves with the machine's
# load: 0.85 to 1.13 over four runs of the day (whole-process timings of 3
# to 5 alternating pairs gave 1.11 and 1.13). Decoding, patching and
# encoding in three threads made 1080p ffv1 1.15 times as fast as the same
# build taking them in turn, for 28 MiB more at the peak (434 MiB against
# 407 MiB): the frames in the queues.
set -euo pipefail
cd "$(dirname "$0")/.."
delbrin=${1:-build/cli/delbrin}
seconds=${2:-4}
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }

printf '%-6s %-7s %-7s %8s %9s %8s\n' size encoder tool frames seconds fps
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
  for encoder in x264 ffv1; do
    case $encoder in
      x264) ours=(--codec libx264 --crf 18); theirs=(-c:v libx264 -crf 18 -preset medium); ext=mp4 ;;
      ffv1) ours=(--codec ffv1); theirs=(-c:v ffv1); ext=mkv ;;
    esac
    best_d=; best_f=; ratios=()
    for _ in $(seq "$runs"); do
      t0=$(now)
      "$delbrin" apply "$in" "$work/d.$ext" --rect "$rx,$ry,$rw,$rh" "${ours[@]}" --force --quiet
      t1=$(now)
      ffmpeg -v error -nostdin -i "$in" -vf "delogo=x=$rx:y=$ry:w=$rw:h=$rh" "${theirs[@]}" \
        -c:a copy -y "$work/f.$ext"
      t2=$(now)
      d=$(calc "$t1 - $t0"); f=$(calc "$t2 - $t1")
      ratios+=("$(calc "$f / $d")")
      if [ -z "$best_d" ] || [ "$(calc "$d < $best_d")" = 1 ]; then best_d=$d; fi
      if [ -z "$best_f" ] || [ "$(calc "$f < $best_f")" = 1 ]; then best_f=$f; fi
    done
    fps_d=$(calc "$frames / $best_d"); fps_f=$(calc "$frames / $best_f")
    printf '%-6s %-7s %-7s %8s %9.2f %8.1f\n' "${h}p" "$encoder" delbrin "$frames" "$best_d" "$fps_d"
    printf '%-6s %-7s %-7s %8s %9.2f %8.1f\n' "${h}p" "$encoder" delogo "$frames" "$best_f" "$fps_f"
    median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{ r[NR] = $1 } END { print (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }')
    printf '%-6s %-7s delbrin/delogo fps ratio %.2f (best times), %.2f (median of pairs)\n' "${h}p" "$encoder" \
      "$(calc "$fps_d / $fps_f")" "$median"
  done
done
