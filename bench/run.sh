#!/usr/bin/env bash
# Builds and runs the benchmarks: morvel-bench (conversion throughput in memory), then the
# converter itself on the generated files (time, peak memory, a 2,000-file folder batch).
#   bench/run.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
data="$build/bench-data"

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target morvel-bench morvel-convert
if [ ! -f "$data/manifest.json" ]; then
    echo "Generating the benchmark files into $data"
    python3 ../shared/tools/gen_midi.py "$data" >/dev/null
fi

MORVEL_BENCH_DATA="$data" "$build/bin/morvel-bench"
echo
python3 bench/measure.py "$build/bin/morvel-convert" "$data" examples/melody.mid \
    ../shared/midi/seq64-b4uacuse-stress.mid
echo
python3 bench/fingering.py "$build/bin/morvel-convert" ../shared/midi "$data/long-guitar.mid" \
    examples/melody.mid
