#!/usr/bin/env bash
# Sets up a Debian machine if needed, builds the module for both targets and
# runs the demonstration.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
mkdir -p demo/frame demo/video
./build/tools/frame_demo demo/frame
./build/cli/delbrin demo demo/video
