#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the fuzzer need, when any is
# missing. apt runs as root, or through sudo for another user; nothing runs when all are there.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkgconf qt6-base-dev libfluidsynth-dev libasound2-dev timgm6mb-soundfont
    fonts-liberation libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth
    clang libclang-rt-14-dev python3 dpkg-dev file
    desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "These packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
    exit 1
fi
"${sudo[@]}" apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}"
