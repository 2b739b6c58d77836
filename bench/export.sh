#!/usr/bin/env bash
# Benchmark of the track export (not a test): morvel-export writing the pages "Print Track"
# prints and the picture "Save Tabulature BMP" saves, beside musescore3 converting the same
# file to PDF where it can finish. Prints wall time (best of RUNS) and peak memory.
#   bench/export.sh [BUILD_DIR]      (default: build)
# musescore3 is used only when installed (apt-get install musescore3, for this run only).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
data="$build/bench-data/export"
tool="$build/bin/morvel-export"
mkdir -p "$data"
cmake --build "$build" --target morvel-export >/dev/null

# One-track files of N 4/4 measures, four quarter notes each.
python3 - "$data" <<'PY'
import struct, sys
def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, (n & 0x7F) | 0x80)
        n >>= 7
    return bytes(out)
for measures in (200, 1000):
    ev = bytearray(b"\x00\xff\x58\x04\x04\x02\x18\x08\x00\xff\x51\x03\x07\xa1\x20")
    for m in range(measures):
        for beat in range(4):
            note = 60 + (m * 4 + beat) % 12
            ev += b"\x00" + bytes([0x90, note, 100]) + vlq(480) + bytes([0x80, note, 0])
    ev += b"\x00\xff\x2f\x00"
    body = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480) + b"MTrk" + struct.pack(">I", len(ev)) + ev
    open(f"{sys.argv[1]}/measures-{measures}.mid", "wb").write(body)
PY
[ -f "$data/long-guitar.mid" ] || python3 ../shared/tools/gen_midi.py "$data" --only long-guitar >/dev/null

export QT_QPA_PLATFORM=offscreen
python3 - "$tool" "$data" <<'PY'
import os, shutil, subprocess, sys, tempfile, time
tool, data = sys.argv[1], sys.argv[2]
RUNS = 5
def best(cmd, runs=RUNS, timeout=None):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True,
                       timeout=timeout)
        times.append(time.perf_counter() - start)
    return min(times)
def peak_mb(cmd):
    """Peak memory in MB and CPU seconds (user + system) of one run, from GNU time: on a busy
    machine the CPU time says more than the wall time."""
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", report.name] + cmd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        kb, user, system = report.read().split()[-3:]
        return f"peak {int(kb) / 1024:.0f} MB, CPU {float(user) + float(system):.2f} s"
def pages(path):
    return open(path, "rb").read().count(b"/Type /Page\n")
out = tempfile.mkdtemp()
m1000, m200, guitar = (f"{data}/measures-1000.mid", f"{data}/measures-200.mid",
                       f"{data}/long-guitar.mid")

pdf = [tool, "--track", "1", "--pdf", f"{out}/m1000.pdf", m1000]
t = best(pdf)
print(f"Load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
print(f"Print Track, 1,000 measures ({pages(out + '/m1000.pdf')} pages): {t:.3f} s, "
      f"{peak_mb(pdf)}")
mscore = shutil.which("mscore3")
if mscore:
    tm = best([mscore, "-o", f"{out}/mscore.pdf", m1000], runs=3, timeout=600)
    print(f"  musescore3 on the same file: {tm:.3f} s; ratio {t / tm:.2f} (target <= 0.5)")
else:
    print("  musescore3 not installed: no comparison")

pdf = [tool, "--track", "2", "--pdf", f"{out}/guitar.pdf", guitar]
t = best(pdf, runs=2)
print(f"Print Track, long-guitar ({pages(out + '/guitar.pdf')} pages): {t:.2f} s (target 15 s), "
      f"{peak_mb(pdf)}")

png = [tool, "--track", "1", "--png", f"{out}/m200.png", m200]
print(f"Picture of 200 measures to PNG: {best(png):.3f} s (target 0.5 s), "
      f"{peak_mb(png)}")
nothing = [tool, "--track", "9", "--png", f"{out}/none.png", m200]
times = []
for _ in range(RUNS):
    start = time.perf_counter()
    subprocess.run(nothing, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times.append(time.perf_counter() - start)
print(f"  morvel-export starting, converting 200 measures and writing nothing: {min(times):.3f} s")
shutil.rmtree(out)
PY
