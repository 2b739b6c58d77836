#!/usr/bin/env bash
# Greedy against optimised fingering: playability figures over the classical-guitar files of
# the shared corpus at Transpose 12, and the time and memory of optimising a 200,000-note track.
#   bench/fingering.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
build=${1:-build}
data="$build/bench-data"

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target morvel-convert
long_guitar_track "$build"
python3 bench/fingering.py "$build/bin/morvel-convert" ../shared/midi "$data/long-guitar.mid" \
    examples/melody.mid
