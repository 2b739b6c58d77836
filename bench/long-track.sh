# Sourced by the bench scripts: makes sure "$1/bench-data/long-guitar.mid", the 200,000-note
# guitar track, is there (generated once by the shared generator).
long_guitar_track() {
    local data="$1/bench-data"
    if [ ! -f "$data/long-guitar.mid" ]; then
        echo "Generating long-guitar.mid into $data"
        python3 ../shared/tools/gen_midi.py "$data" --only long-guitar >/dev/null
    fi
}
