#!/usr/bin/env bash
# Time and peak memory of the score formats (Guitar Pro 5, MusicXML) on the 200,000-note
# long-guitar file, against their targets; nothing is installed.
#   bench/score-memory.sh [BUILD_DIR] [CONVERTER FLAGS...]   (default: build --transpose 12)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
build=${1:-build}
shift || true
data="$build/bench-data"

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target morvel-convert
long_guitar_track "$build"
python3 bench/score_memory.py "$build/bin/morvel-convert" "$data/long-guitar.mid" \
    examples/melody.mid "$@"
