#!/usr/bin/env bash
# How well each way of removing a logo gives back the picture under it,
# measured against the clean original in one run:
#
#   [PICTURES=skimage|mate] bench/deblend-quality.sh [BUILD] [KEEP_DIR]   (BUILD defaults to build)
#
# The clip: photographs shipped in a Debian package (the package file is
# fetched with `apt-get download` and unpacked here, nothing is installed),
# each panned across a 1280x720 frame (SCALE=1: 640x360) for 1.6 s, in turn,
# 25 frames a second. Two sets that share no picture, so that what was tuned
# on one can be checked on the other: PICTURES=skimage (the default), the
# test pictures of python3-skimage; PICTURES=mate, the nature photographs of
# mate-backgrounds. Logos drawn over it by ffmpeg's
# overlay (alpha blended in YUV, chroma with the subsampled alpha), each in a
# clip of its own, encoded with libx264 at CRF 18 in yuv420p:
#   plate      a dark plate of alpha 0.55 with white text of alpha 0.8
#   text       white bold text of alpha 0.65, antialiased
#   watermark  large soft text of alpha 0.25, its edges blurred
#   opaque     a red plate with white text, alpha 1
# For each: the luma and chroma (mean of U and V) PSNR inside the logo's box
# against the clean clip, for the input as it is, ffmpeg's delogo (the box
# and a pixel around it), Tavrel's patch (`delbrin apply --rect`, the box and
# two pixels around it) and de-blending (`delbrin detect --rect ... --mask`,
# then `delbrin apply --deblend`). Every output is lossless (ffv1), so the
# figures are the methods', not a second encoder's. Also writes
# side-by-side.png: one frame of the plate clip around the logo, from the
# left: input, delogo, patch, de-blended, clean.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
delbrin=$build/cli/delbrin
if [ -n "${2:-}" ]; then
  mkdir -p "$2"
  work=$(cd "$2" && pwd)
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
cd "$work"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
s=${SCALE:-2}  # the frame is 640x360 times this
fw=$((640 * s)) fh=$((360 * s))
pictures=${PICTURES:-skimage}
clean=clean-$pictures-${fw}x$fh.mkv
ff() { ffmpeg -nostdin -hide_banner -v error -y "$@"; }

# The photographs.
case $pictures in
  skimage)
    package=python3-skimage from=usr/lib/python3/dist-packages/skimage/data
    files="astronaut.png coffee.png chelsea.png rocket.jpg motorcycle_left.png ihc.png retina.jpg
           hubble_deep_field.jpg motorcycle_right.png" ;;
  mate)
    package=mate-backgrounds from=usr/share/backgrounds/mate/nature
    files="Aqua.jpg Blinds.jpg Dune.jpg FreshFlower.jpg Garden.jpg GreenMeadow.jpg LadyBird.jpg RainDrops.jpg
           Storm.jpg" ;;
  *) echo "PICTURES is skimage or mate" >&2; exit 2 ;;
esac
photos=photos-$pictures
if [ ! -d "$photos" ]; then
  apt-get download "$package" >/dev/null
  dpkg-deb -x "$package"_*.deb "package-$pictures"
  mkdir "$photos"
  for f in $files; do cp "package-$pictures/$from/$f" "$photos/"; done
fi

# The clean clip: each picture scaled to cover 800x520 (times the scale)
# and panned across,
# in a direction of its own.
if [ ! -f "$clean" ]; then
  inputs=() chain="" n=0
  for f in "$photos"/*; do
    case $((n % 4)) in
      0) x='(iw-ow)*t/1.6' y='(ih-oh)*t/1.6' ;;
      1) x='(iw-ow)*(1-t/1.6)' y='(ih-oh)*t/1.6' ;;
      2) x='(iw-ow)*t/1.6' y='(ih-oh)*(1-t/1.6)' ;;
      3) x='(iw-ow)*(1-t/1.6)' y='(ih-oh)*(1-t/1.6)' ;;
    esac
    inputs+=(-loop 1 -framerate 25 -t 1.6 -i "$f")
    chain+="[$n]format=yuv444p,scale=$((800 * s)):$((520 * s)):force_original_aspect_ratio=increase:flags=bicubic,crop=$fw:$fh:x='$x':y='$y',setsar=1,format=yuv420p[v$n];"
    n=$((n + 1))
  done
  concat=""
  for ((k = 0; k < n; k++)); do concat+="[v$k]"; done
  ff "${inputs[@]}" -filter_complex "${chain}${concat}concat=n=$n:v=1:a=0[out]" -map '[out]' -r 25 \
     -c:v ffv1 "$clean"
fi

# A logo: its colour picture and its alpha picture (grey), merged.
make_logo() {  # NAME COLOUR_FILTERS ALPHA_FILTERS
  ff -f lavfi -i "color=black:s=${fw}x$fh,format=rgb24,$2" -f lavfi -i "color=black:s=${fw}x$fh,format=rgb24,$3,format=gray" \
     -filter_complex "[0][1]alphamerge,format=rgba" -frames:v 1 "logo-$1.png"
}
# Sizes and places below are for 640x360, scaled.
text() {  # TEXT SIZE X Y COLOUR
  echo "drawtext=fontfile=$font:text='$1':fontsize=$(($2 * s)):x=$(($3 * s)):y=$(($4 * s)):fontcolor=$5"
}
box() {  # X Y W H COLOUR
  echo "drawbox=x=$(($1 * s)):y=$(($2 * s)):w=$(($3 * s)):h=$(($4 * s)):color=$5:t=fill"
}
make_logo plate "$(box 440 20 180 48 0x101828),$(text 'TV 24' 32 486 28 white)" \
                "$(box 440 20 180 48 0x8C8C8C),$(text 'TV 24' 32 486 28 0xCCCCCC)"
make_logo text "$(text 'NEWS' 40 470 300 white)" "$(text 'NEWS' 40 470 300 0xA6A6A6)"
make_logo watermark "$(text 'SAMPLE' 72 190 140 white)" "$(text 'SAMPLE' 72 190 140 0x404040),gblur=sigma=$((s + 1))"
make_logo opaque "$(box 24 20 120 44 0xC01010),$(text 'LIVE' 30 48 26 white)" "$(box 24 20 120 44 white)"

# The box of a logo: where its alpha is above 0, rounded out to even
# coordinates (the chroma grid), as x y w h.
logo_box() {
  ff -i "logo-$1.png" -vf "alphaextract,format=gray" -f rawvideo alpha.raw
  W=$fw python3 - <<'PY'
import os
data = open("alpha.raw", "rb").read()
w = int(os.environ["W"])
xs = [i % w for i, v in enumerate(data) if v]
ys = [i // w for i, v in enumerate(data) if v]
x0, y0 = min(xs) & ~1, min(ys) & ~1
x1, y1 = (max(xs) + 2) & ~1, (max(ys) + 2) & ~1
print(x0, y0, x1 - x0, y1 - y0)
PY
}

# PSNR of a clip against the clean one inside the box: "luma chroma".
box_psnr() {  # FILE X Y W H
  ffmpeg -nostdin -hide_banner -i "$1" -i "$clean" -lavfi "[0]crop=$4:$5:$2:$3[a];[1]crop=$4:$5:$2:$3[b];[a][b]psnr" \
         -f null - 2>&1 | grep -o 'PSNR y:[0-9.inf]* u:[0-9.inf]* v:[0-9.inf]*' |
    awk '{ split($2, y, ":"); split($3, u, ":"); split($4, v, ":"); printf "%.2f %.2f\n", y[2], (u[2] + v[2]) / 2 }'
}

printf '%-10s %-18s | %-13s | %-13s | %-13s | %-13s\n' logo box input delogo patch de-blended
printf '%-10s %-18s | %-13s | %-13s | %-13s | %-13s\n' "" "" "Y / UV dB" "Y / UV dB" "Y / UV dB" "Y / UV dB"
for name in plate text watermark opaque; do
  read -r x y w h < <(logo_box "$name")
  ff -i "$clean" -i "logo-$name.png" -filter_complex "[0][1]overlay=0:0" -c:v libx264 -crf 18 -pix_fmt yuv420p \
     "in-$name.mp4"
  ff -i "in-$name.mp4" -vf "delogo=x=$((x - 1)):y=$((y - 1)):w=$((w + 2)):h=$((h + 2))" -c:v ffv1 \
     "delogo-$name.mkv"
  "$delbrin" apply "in-$name.mp4" "patch-$name.mkv" --rect "$((x - 2)),$((y - 2)),$((w + 4)),$((h + 4))" \
     --codec ffv1 --force --quiet
  "$delbrin" detect "in-$name.mp4" --rect "$((x - 6)),$((y - 6)),$((w + 12)),$((h + 12))" --mask "mask-$name.png" \
     --force 2>/dev/null
  "$delbrin" apply "in-$name.mp4" "deblend-$name.mkv" --deblend "mask-$name.png" --codec ffv1 --force --quiet
  row=()
  for clip in "in-$name.mp4" "delogo-$name.mkv" "patch-$name.mkv" "deblend-$name.mkv"; do
    read -r luma chroma < <(box_psnr "$clip" "$x" "$y" "$w" "$h")
    row+=("$luma / $chroma")
  done
  printf '%-10s %-18s | %-13s | %-13s | %-13s | %-13s\n' "$name" "${w}x${h}+$x+$y" "${row[@]}"
done

# One frame of the plate clip around the logo, each way, 128 pixels high.
read -r x y w h < <(logo_box plate)
frame=100
crop="crop=$((w + 20 * s)):$((h + 20 * s)):$((x - 10 * s)):$((y - 10 * s)),scale=-2:128:flags=bicubic"
ff -i in-plate.mp4 -i delogo-plate.mkv -i patch-plate.mkv -i deblend-plate.mkv -i "$clean" -filter_complex \
   "[0]select=eq(n\,$frame),$crop[a];[1]select=eq(n\,$frame),$crop[b];[2]select=eq(n\,$frame),$crop[c];[3]select=eq(n\,$frame),$crop[d];[4]select=eq(n\,$frame),$crop[e];[a][b][c][d][e]hstack=5,format=rgb24" \
   -frames:v 1 side-by-side.png
echo "side-by-side.png: input, delogo, patch, de-blended, clean (frame $frame)"
