# Sourced by the bench scripts (from the project's root).

# Makes sure "$1/bench-data/long-guitar.mid", the 200,000-note guitar track, is there
# (generated once by the shared generator).
long_guitar_track() {
    local data="$1/bench-data"
    if [ ! -f "$data/long-guitar.mid" ]; then
        echo "Generating long-guitar.mid into $data"
        python3 ../shared/tools/gen_midi.py "$data" --only long-guitar >/dev/null
    fi
}

# Runs a command as the superuser: directly when we are root, else through sudo.
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# The installed Debian packages, one a line, sorted (to remove afterwards what a check added).
installed() { dpkg-query -W -f='${Package}\n' | sort; }
