#!/usr/bin/env bash
# `delbrin detect` judged on clips it has never seen, drawn at random:
#
#   bench/detect-unseen.sh [BUILD] [SEED] [COUNT] [DELBRIN]
#
# BUILD (default build) holds bench/detect_unseen, which draws, makes and
# judges the clips (see its opening comment), and cli/delbrin, the command
# judged unless DELBRIN names another. SEED defaults to 1, COUNT to 30.
#
# The pictures are ones detect's tests never use: the photographs and
# digital paintings of plasma-workspace-wallpapers (for each, its landscape
# size nearest above 1920 pixels wide) and the photographs of
# python3-skimage. The package files are fetched with `apt-get download`
# and unpacked in $DELBRIN_BENCH_DIR (default ${TMPDIR:-/tmp}/delbrin-bench)
# /unseen; nothing is installed. The clips are kept there too, so another
# run with the same seed, or of another delbrin, judges the very same clips
# without making them again. The commands that make each clip judged wrong
# are written to unseen/clips/wrong.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
seed=${2:-1}
count=${3:-30}
delbrin=$(realpath "${4:-$build/cli/delbrin}")
dir=${DELBRIN_BENCH_DIR:-${TMPDIR:-/tmp}/delbrin-bench}/unseen
mkdir -p "$dir/clips"
cd "$dir"

if [ ! -d pictures ]; then
  rm -rf packages pictures.part
  mkdir -p packages pictures.part
  (cd packages && apt-get download plasma-workspace-wallpapers python3-skimage >/dev/null)
  for p in packages/*.deb; do dpkg-deb -x "$p" packages/tree; done
  for wallpaper in packages/tree/usr/share/wallpapers/*/; do
    name=$(basename "$wallpaper")
    # Sizes are the files' names: WIDTHxHEIGHT.png or .jpg.
    best=$(ls "$wallpaper/contents/images" | awk -F'[x.]' '$1 > $2 && $1 >= 1920 { print $1, $0 }' |
           sort -n | head -1 | cut -d' ' -f2)
    [ -n "$best" ] && cp "$wallpaper/contents/images/$best" "pictures.part/$name.${best##*.}"
  done
  for f in astronaut.png coffee.png chelsea.png rocket.jpg motorcycle_left.png; do
    cp packages/tree/usr/lib/python3/dist-packages/skimage/data/$f pictures.part/
  done
  rm -rf packages
  mv pictures.part pictures
fi

echo "delbrin: $delbrin; $(ls pictures | wc -l) pictures; seed $seed, $count clips"
"$build/bench/detect_unseen" "$delbrin" "$dir/pictures" "$dir/clips" "$seed" "$count"
