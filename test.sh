#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the full build and all its tests through CTest;
#   1b. the Debian package, unpacked into a temporary folder, its converter run from there;
#   2. every target (core, converter, window, export, player, chords) and the whole test suite
#      once more under AddressSanitizer and UBSan, optimised at -O1 so that the suite stays
#      within minutes; the benchmarks are left out there;
#   3. the fuzzers for FUZZ_SECONDS (default 60) together, half each: the conversion seeded
#      from examples/ and fuzz/convert-seeds/ (inputs once found slow), the settings files
#      (INI and option record) from fuzz/settings-seeds/.
# Stops at the first failure with a non-zero status.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

scripts/install-deps.sh
# No display on test machines: Qt tests draw offscreen unless a test says otherwise.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

echo "== Build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
ctest --test-dir build --output-on-failure --timeout 600

echo "== Debian package: built, unpacked, its converter run from the unpacked tree"
rm -f build/morvel_*.deb
(cd build && cpack -G DEB)
deb=$(ls build/morvel_*.deb)
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
test "$("$unpacked/usr/bin/morvel-convert" --version)" = "morvel-convert $version"
"$unpacked/usr/bin/morvel-convert" --track 1 examples/melody.mid -o "$unpacked/melody.txt"
grep -q . "$unpacked/melody.txt"
rm -rf "$unpacked"
trap - EXIT

echo "== Every target under AddressSanitizer and UBSan"
sanitize_start=$(date +%s)
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
    -DMORVEL_CORE_ONLY=OFF -DMORVEL_SANITIZE=ON -DMORVEL_BENCH=OFF
cmake --build build-sanitize
# Leaks inside the system's font and sound libraries are theirs (scripts/lsan.supp).
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0" \
    ctest --test-dir build-sanitize --output-on-failure --timeout 900 -j2
echo "== Sanitizer build and tests took $(( $(date +%s) - sanitize_start )) s"

fuzz_seconds=${FUZZ_SECONDS:-60}
echo "== Fuzzing the conversion and the settings files for ${fuzz_seconds} s"
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORVEL_CORE_ONLY=ON -DMORVEL_FUZZ=ON -DMORVEL_BENCH=OFF
cmake --build build-fuzz --target fuzz_convert fuzz_settings
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
python3 fuzz/make_seeds.py examples "$corpus/seeds"
mkdir "$corpus/new" "$corpus/settings"
build-fuzz/bin/fuzz_convert -max_total_time="$((fuzz_seconds / 2))" -rss_limit_mb=2048 \
    -artifact_prefix="$root/build-fuzz/" "$corpus/new" "$corpus/seeds" fuzz/convert-seeds
build-fuzz/bin/fuzz_settings -max_total_time="$((fuzz_seconds - fuzz_seconds / 2))" \
    -rss_limit_mb=2048 -dict=fuzz/settings.dict -artifact_prefix="$root/build-fuzz/settings-" \
    "$corpus/settings" fuzz/settings-seeds
echo "== All tests passed"
