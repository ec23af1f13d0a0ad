#!/usr/bin/env bash
# Installs what building and testing Delbrin needs on a Debian 12 machine,
# skipping what is already there. Runs as root, or through sudo.
set -euo pipefail

packages=(
  # native build, unit tests, benchmarks
  cmake g++ make pkg-config python3 libgtest-dev libbenchmark-dev
  # the 32-bit and the 64-bit Windows module
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  # running the modules and their dialog for real, in 32-bit and 64-bit wine
  wine wine32:i386 wine64 xvfb xauth fonts-wqy-microhei imagemagick
  # the delbrin command: the FFmpeg libraries it links (Debian's bring the
  # libx265 and libvpx encoders and decoders the command chooses for HEVC,
  # VP8 and VP9), and the ffmpeg and ffprobe programs its tests and
  # benchmarks use
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg
  # the frei0r effect, and the hosts its tests run it in
  frei0r-plugins-dev melt gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad
  # detect's test clips: photographs to pan, zoom and cut, and a font for
  # logos (the de-blending benchmark draws its logos' text with it too)
  mate-backgrounds fonts-dejavu-core
  # fuzzing and sanitizers
  clang libclang-rt-14-dev
  # the dialog template keeps its class names as written
  llvm
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "installing: ${missing[*]}"
$sudo dpkg --add-architecture i386
# A mirror caught mid-sync can fail one index while the rest are fine:
# install from what the update did fetch, and let apt-get install say so
# if a package is really out of reach.
$sudo apt-get update -qq || echo "apt-get update failed in part; installing from the lists it fetched" >&2
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
