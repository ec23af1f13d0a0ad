#!/usr/bin/env bash
# Time per frame of ffmpeg's delogo filter against the frame run, on the same
# frame sizes and rectangles, measured in one run:
#
#   bench/delogo-compare.sh [BUILD]        (BUILD defaults to build)
#
# delogo runs on yuv420p frames generated into memory (/dev/shm) and read back
# as raw video, one filter thread, output thrown away (-f null); its cost per
# frame is ffmpeg's user time with -vf delogo less the same command with
# -vf null, over the frames, the best of RUNS (default 3) runs of each. Then
# come the native benchmark (BUILD/bench/frame_run_bench, every set of kernels
# this processor runs) and the 32-bit module through the stand-in host under
# wine (BUILD/win32/module_run_bench.exe, for Delbrin.vdf, which picks AVX2
# where the processor has it, and Delbrin_sse2.vdf, the module built without
# the AVX2 kernels). Every line gives the time
# per frame and per rectangle pixel, the multiple of a copy of the
# rectangle's rows measured by the same program, and how many times faster
# than delogo it is.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
runs=${RUNS:-3}
work=$(mktemp -d /dev/shm/delogo-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT

calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }

# ffmpeg's user time in seconds for one pass over the looped input.
user_time() {
  local size=$1 loops=$2 filter=$3
  ffmpeg -hide_banner -nostdin -benchmark -threads 1 -filter_threads 1 \
    -stream_loop "$loops" -f rawvideo -pix_fmt yuv420p -s "$size" -i "$work/in.yuv" \
    -vf "$filter" -f null - 2>&1 | sed -n 's/.*utime=\([0-9.]*\)s.*/\1/p'
}

# The native and module figures: "native|module32 FWxFH/RWxRH KERNELS MODE
# US NS_PER_PIXEL X_COPY" lines.
"$build/bench/frame_run_bench" --benchmark_min_time=0.2 --benchmark_repetitions=3 2>/dev/null \
  | grep '^summary [0-9]' | sed 's/^summary/native/' >"$work/figures"
prefix="$build/wineprefix"
bash tests/wine/make-prefix.sh "$prefix" >/dev/null
best=sse2
if grep -qw avx2 /proc/cpuinfo; then best=avx2; fi
for module in Delbrin:$best Delbrin_sse2:sse2; do
  tests/wine/run-wine.sh "$prefix" "$build/win32/module_run_bench.exe" \
    "$build/win32/${module%%:*}.vdf" "${module#*:}" | tr -d '\r' | grep '^summary' \
    | sed 's/^summary/module32/' >>"$work/figures"
done

for case in 1920x1080:480x270:30 720x576:144x115:150; do
  IFS=: read -r size rect loops <<<"$case"
  w=${size%x*}; h=${size#*x}; rw=${rect%x*}; rh=${rect#*x}
  x=$((w / 2 - rw / 2)); y=$((h / 2 - rh / 2))
  ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=$size:rate=25" -frames:v 10 \
    -pix_fmt yuv420p -f rawvideo -y "$work/in.yuv"
  frames=$((10 * (loops + 1)))
  best_d=; best_n=
  for _ in $(seq "$runs"); do
    d=$(user_time "$size" "$loops" "delogo=x=$x:y=$y:w=$rw:h=$rh")
    n=$(user_time "$size" "$loops" null)
    if [ -z "$best_d" ] || [ "$(calc "$d < $best_d")" = 1.00 ]; then best_d=$d; fi
    if [ -z "$best_n" ] || [ "$(calc "$n < $best_n")" = 1.00 ]; then best_n=$n; fi
  done
  delogo=$(calc "($best_d - $best_n) * 1e6 / $frames")

  echo
  echo "$size frame, $rect rectangle: ffmpeg delogo $delogo us/frame" \
       "(user time $best_d s with delogo, $best_n s without, $frames frames)"
  printf '  %-16s %-18s %10s %10s %8s %9s\n' program switches us/frame ns/pixel x-copy x-delogo
  while read -r where name kernels mode us ns times; do
    [ "$name" = "$size/$rect" ] || continue
    printf '  %-16s %-18s %10s %10s %8s %9s\n' "$where $kernels" "$mode" "$us" "$ns" "$times" \
      "$(calc "$delogo / $us")"
  done <"$work/figures"
done
