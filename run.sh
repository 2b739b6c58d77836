#!/usr/bin/env bash
# Installs what is missing, builds, and starts MORVEL. Without a display it converts a
# bundled example with morvel-convert and prints the tablature instead.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build

# --help and --version need no display: the program answers them before opening a window.
case "${1:-}" in
    -h|--help|-v|--version) exec build/bin/morvel "$@" ;;
esac
if [ -x build/bin/morvel ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec build/bin/morvel "$@"
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): showing the converter instead."
else
    echo "The window program is not built yet: showing the converter instead."
fi
echo "build/bin/morvel-convert --show-chords examples/rock-with-bass.mid"
echo
exec build/bin/morvel-convert --show-chords examples/rock-with-bass.mid
