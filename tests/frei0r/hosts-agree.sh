#!/usr/bin/env bash
# tavrel.so inside FFmpeg's frei0r filter, melt and GStreamer's frei0r element
# must give the very bytes of `delbrin apply` on the same frames, alpha
# included: once with the whole Config line, once with the separate
# parameters. Each host passes its own time (FFmpeg milliseconds, MLT and
# GStreamer seconds), so ranges and fades also check the frame numbers.
#   hosts-agree.sh DELBRIN PLUGIN_DIR WORKDIR
set -euo pipefail
delbrin=$1 plugin_dir=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work"
export FREI0R_PATH=$plugin_dir
# GStreamer keeps what it found in a registry: one of the test's own, so the
# plug-in is looked at afresh.
export GST_REGISTRY=$work/gst-registry.bin

# FFmpeg hands its frames over with their rows padded to 32 or 64 bytes, so
# the width is a multiple of 16; 30 frames at 25 fps, alpha varying.
w=48 h=32
ffmpeg -v error -nostdin -f lavfi -i "testsrc2=s=${w}x${h}:r=25:d=1.2" -f lavfi -i "testsrc=s=${w}x${h}:r=25:d=1.2" \
  -filter_complex "[0]format=bgra[c];[1]format=gray[a];[c][a]alphamerge,format=bgra" -c:v ffv1 -y clip.mkv
ffmpeg -v error -nostdin -i clip.mkv -f rawvideo -pix_fmt bgra -y in.raw
# The clip's own size and rate, so that melt scales nothing (melt crashes on
# a profile without a description).
cat > profile <<PROFILE
description=the test clip
frame_rate_num=25
frame_rate_den=1
width=$w
height=$h
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=$w
display_aspect_den=$h
PROFILE

run_gst=0
if command -v gst-launch-1.0 >/dev/null && gst-inspect-1.0 frei0r-filter-tavrel >/dev/null 2>&1; then
  run_gst=1
else
  echo "GStreamer: no frei0r-filter-tavrel element, not compared"
fi

configs=(
  # feather and fade around two ranges, two edges cancelled
  'Config(21, 13, 7, 4, 1, 1, 1, 0, 0, 1, 4, 2, "2 5, 8 10, ")'
  # no ramps, every frame
  'Config(9, 6, 0, 0, 0, 0, 0, 1, 1, 0, 10, 5, "")'
  # reaching out of the frame, a long fade into a late range
  'Config(30, 20, 25, 20, 1, 1, 0, 0, 0, 0, 3, 6, "20 24")'
)

# The ffmpeg filter graph splits at commas and the frei0r filter at "|":
# a comma inside a value is written "\,".
ffmpeg_escape() { printf '%s' "${1//,/\\,}"; }

# On a loaded machine melt now and then does not quit, or quits with
# success having written no frame at all; it does both without any filter
# too (and the plug-in's update holds one lock and calls nothing back). A
# run that has not quit within two minutes, or that wrote fewer bytes than
# the clip holds, is run again; a run that wrote them all is compared,
# whatever they are.
run_melt() {  # OUTPUT MELT-ARGUMENTS...
  local output=$1 try rc
  shift
  for try in 1 2 3; do
    rm -f "$output"
    rc=0
    timeout 120 melt -silent -quiet -profile profile clip.mkv "$@" \
      -consumer "avformat:$output" real_time=0 f=rawvideo vcodec=rawvideo pix_fmt=bgra an=1 </dev/null 2>/dev/null || rc=$?
    if [ $rc -eq 0 ] && [ "$(stat -c %s "$output" 2>/dev/null)" = "$(stat -c %s in.raw)" ]; then return 0; fi
    [ $rc -eq 0 ] || [ $rc -eq 124 ] || return $rc
    echo "melt did not quit within two minutes, or wrote too few frames (try $try)"
  done
  return 1
}

status=0
compare() {  # NAME FILE
  if cmp -s "$2" cli.raw; then
    echo "same bytes: $1"
  else
    echo "DIFFERENT bytes: $1"
    status=1
  fi
}

for i in "${!configs[@]}"; do
  config=${configs[$i]}
  echo "== $config"
  "$delbrin" apply clip.mkv "cli-$i.mkv" --codec ffv1 --quiet --force --config "$config"
  ffmpeg -v error -nostdin -i "cli-$i.mkv" -f rawvideo -pix_fmt bgra -y cli.raw
  if cmp -s cli.raw in.raw; then
    echo "NOTHING patched by delbrin apply"
    status=1
  fi

  # The Config line's numbers and text as the separate parameters.
  numbers=${config#Config(}
  ranges=${numbers#*\"}
  ranges=${ranges%\"*}
  IFS=', ' read -r -a n <<<"${numbers%%\"*}"
  yn() { [ "$1" -ne 0 ] && echo y || echo n; }
  separate_ff="${n[2]}|${n[3]}|${n[0]}|${n[1]}|$(yn "${n[4]}")|${n[10]}|$(yn "${n[5]}")|${n[11]}|$(yn "${n[6]}")|$(yn "${n[7]}")|$(yn "${n[8]}")|$(yn "${n[9]}")|$(ffmpeg_escape "$ranges")|0.025"
  separate_mlt=(0="${n[2]}" 1="${n[3]}" 2="${n[0]}" 3="${n[1]}" 4="${n[4]}" 5="${n[10]}" 6="${n[5]}" 7="${n[11]}"
                8="${n[6]}" 9="${n[7]}" 10="${n[8]}" 11="${n[9]}" 12="$ranges" 13=25)

  ffmpeg -v error -nostdin -i clip.mkv -vf "frei0r=tavrel:0|0|0|0|n|0|n|0|n|n|n|n||0.025|$(ffmpeg_escape "$config")" \
    -f rawvideo -pix_fmt bgra -y ffmpeg-config.raw
  compare "ffmpeg, Config line" ffmpeg-config.raw
  ffmpeg -v error -nostdin -i clip.mkv -vf "frei0r=tavrel:$separate_ff" -f rawvideo -pix_fmt bgra -y ffmpeg-params.raw
  compare "ffmpeg, separate parameters" ffmpeg-params.raw

  run_melt melt-config.raw -filter frei0r.tavrel "14=$config"
  compare "melt, Config line" melt-config.raw
  run_melt melt-params.raw -filter frei0r.tavrel "${separate_mlt[@]}"
  compare "melt, separate parameters" melt-params.raw

  if [ $run_gst = 1 ]; then
    # GStreamer's numeric properties only take 0...1: the Config line it is.
    gst_config=${config//\"/\\\"}
    gst-launch-1.0 -q filesrc location=in.raw ! rawvideoparse width=$w height=$h format=bgra framerate=25/1 ! \
      frei0r-filter-tavrel "config=\"$gst_config\"" ! filesink location=gst-config.raw
    compare "GStreamer, Config line" gst-config.raw
  fi
done
exit $status
