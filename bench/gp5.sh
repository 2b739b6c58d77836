#!/usr/bin/env bash
# Guitar Pro 5 output against two independent readers: alphaTab (npm, read in Node) and
# TuxGuitar (Debian, its GP5 reader driven by a small harness on its jars, no window). Every
# corpus file that converts is read by both and held against our quantised score (tracks,
# tuning, bars, time signatures, tempo, and every note's string, fret, pitch, onset,
# duration); then the time and memory of writing the 200,000-note long-guitar file.
# What it installs (tuxguitar with its Java and SoundFont packages, Node when missing,
# alphaTab into a temporary folder) is only for this run and goes again at the end: the
# SoundFont would otherwise become FluidSynth's default, which the player then loads.
#   bench/gp5.sh [BUILD_DIR] [CONVERTER FLAGS...]   (default: build --transpose 12)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
build=${1:-build}
shift || true
flags=("$@")
[ ${#flags[@]} -gt 0 ] || flags=(--transpose 12)
data="$build/bench-data"

work=$(mktemp -d /tmp/morvel-gp5-readers-XXXXXX)
added=""
cleanup() {
    rm -rf "$work"
    if [ -n "$added" ]; then
        echo "Removing what this check installed"
        as_root apt-get purge -y $added >/dev/null
    fi
}
trap cleanup EXIT

need=()
[ -d /usr/share/tuxguitar/lib ] || need+=(tuxguitar)
command -v javac >/dev/null || need+=(default-jdk-headless)
command -v node >/dev/null || need+=(nodejs npm)
if [ ${#need[@]} -gt 0 ]; then
    echo "Installing ${need[*]} for this check"
    before=$(mktemp)
    installed >"$before"
    as_root apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
    added=$(installed | comm -13 "$before" - | tr '\n' ' ')
    rm -f "$before"
fi
alphatab_version=$(npm view @coderline/alphatab version)
echo "Installing alphaTab $alphatab_version into a temporary folder"
(cd "$work" && npm init -y >/dev/null && npm install --no-audit --no-fund \
    "@coderline/alphatab@$alphatab_version" >/dev/null)
tux_jars=/usr/share/tuxguitar/lib/tuxguitar-lib.jar:/usr/share/tuxguitar/plugins/tuxguitar-gtp.jar
javac -d "$work/classes" -cp "$tux_jars" bench/Gp5TuxDump.java
echo "TuxGuitar $(dpkg-query -W -f='${Version}' tuxguitar)"

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target morvel-convert morvel-score-dump
long_guitar_track "$build"
python3 bench/gp5.py "$build/bin/morvel-convert" "$build/bin/morvel-score-dump" "$work" \
    "$tux_jars:$work/classes" ../shared/midi "$data/long-guitar.mid" examples/melody.mid \
    "${flags[@]}"
