#!/usr/bin/env bash
# MusicXML output against MuseScore 3: every corpus file opens without an "Error" line and its
# TAB staff holds our strings and frets; an on-grid file comes back with the same onsets; the
# time and memory of writing the 200,000-note long-guitar file, beside MuseScore's own import.
# Installs musescore3 when it is missing (only here: it is no build or test dependency) and
# removes it again afterwards: its SoundFont would otherwise become FluidSynth's default
# (/usr/share/sounds/sf3/default-GM.sf3), which the player then loads on every start.
# Then every written onset against its MIDI onset, and Verovio and alphaTab (from npm, into a
# temporary folder removed at the end: no build or test dependency either) on every corpus
# file: import, strings and frets, alphaTab drawing every track, bar counts.
# MUSESCORE=0 leaves MuseScore out; PEERS=0 leaves Verovio and alphaTab out.
#   bench/musicxml.sh [BUILD_DIR] [CONVERTER FLAGS...]   (default: build --transpose 12)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
build=${1:-build}
shift || true
flags=("$@")
[ ${#flags[@]} -gt 0 ] || flags=(--transpose 12)
data="$build/bench-data"

cleanup=()
trap 'for step in "${cleanup[@]}"; do eval "$step"; done' EXIT
if [ "${MUSESCORE:-1}" != 0 ] && ! command -v mscore3 >/dev/null; then
    echo "Installing musescore3 for this check"
    before=$(mktemp)
    installed >"$before"
    as_root apt-get install -y musescore3 >/dev/null
    # Everything this installed goes again at the end, its SoundFont included.
    added=$(installed | comm -13 "$before" - | tr "\n" " ")
    rm -f "$before"
    cleanup+=("echo 'Removing musescore3 again'; as_root apt-get purge -y $added >/dev/null")
fi
if [ "${PEERS:-1}" != 0 ]; then
    peers=$(mktemp -d)
    cleanup+=("rm -rf '$peers'")
    echo "Installing verovio and @coderline/alphatab from npm into $peers for this check"
    (cd "$peers" && npm init -y >/dev/null &&
        npm install --no-audit --no-fund verovio @coderline/alphatab >/dev/null)
    export NODE_MODULES="$peers/node_modules"
fi
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target morvel-convert
long_guitar_track "$build"
python3 bench/musicxml.py "$build/bin/morvel-convert" ../shared/midi "$data/long-guitar.mid" \
    examples/melody.mid "${flags[@]}"
