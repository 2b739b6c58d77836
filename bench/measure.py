#!/usr/bin/env python3
"""Measures morvel-convert as a user runs it: wall and CPU time, throughput, peak memory
and the time of a whole folder batch, against the project's targets.

    python3 bench/measure.py CONVERT DATA_DIR SMALL_FILE STRESS_FILE

DATA_DIR holds what ../shared/tools/gen_midi.py writes (dense.mid, long-guitar.mid,
many-small/, manifest.json). Peak memory is the maximum resident set size GNU time reports;
the fixed base is the peak of converting SMALL_FILE.
"""
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

RUNS = 5
TARGET_DENSE_SECONDS = 0.10
TARGET_BYTES_PER_NOTE = 40
TARGET_BATCH_SECONDS = 0.5


GNU_TIME = "/usr/bin/time"


def peak_kb(cmd):
    """Peak resident set size of cmd in KB, from GNU time; None without it. (A child's
    ru_maxrss seen from Python also counts the Python process it was forked from.)"""
    if not os.path.exists(GNU_TIME):
        return None
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run([GNU_TIME, "-f", "%M", "-o", report.name] + cmd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(report.read().split()[-1])


def run(cmd):
    """(wall seconds, CPU seconds, exit status) of one run."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    return wall, usage.ru_utime + usage.ru_stime, os.waitstatus_to_exitcode(status)


def best(cmd, runs=RUNS):
    """Best wall and CPU time of several runs, and the peak memory of one more."""
    results = [run(cmd) for _ in range(runs)]
    if any(r[2] != 0 for r in results):
        print("  warning: exit status %s for %s" % (results[0][2], " ".join(cmd)))
    return min(r[0] for r in results), min(r[1] for r in results), peak_kb(cmd)


def verdict(ok):
    return "ok" if ok else "MISSED"


def main():
    convert, data, small, stress = sys.argv[1:5]
    manifest = json.load(open(os.path.join(data, "manifest.json")))
    flags = ["--report", "--show-chords", "--show-special"]

    base_wall, _, base_rss = best([convert, small, "-o", os.devnull])
    print("base (%s): %.3f s, peak %s KB" % (os.path.basename(small), base_wall, base_rss))
    if base_rss is None:
        print("  peak memory not measured: %s (package 'time') is missing" % GNU_TIME)

    files = [("dense.mid", os.path.join(data, "dense.mid"), manifest["dense.mid"]["notes"]),
             ("long-guitar.mid", os.path.join(data, "long-guitar.mid"),
              manifest["long-guitar.mid"]["notes"]),
             ("stress", stress, None)]
    for name, path, notes in files:
        if not os.path.exists(path):
            print("%s: missing, skipped" % name)
            continue
        size = os.path.getsize(path)
        wall, cpu, rss = best([convert] + flags + [path, "-o", os.devnull])
        line = "%s: %.3f s wall, %.3f s CPU, %.1f MB/s" % (name, wall, cpu, size / wall / 1e6)
        if notes and rss is not None:
            per_note = (rss - base_rss) * 1024 / notes
            line += ", %.2f M notes/s, peak %d KB = %.1f bytes/note above base" % (
                notes / wall / 1e6, rss, per_note)
            line += " [memory %s]" % verdict(per_note < TARGET_BYTES_PER_NOTE)
        if name == "dense.mid":
            line += " [time %s: target %.2f s]" % (verdict(wall <= TARGET_DENSE_SECONDS),
                                                   TARGET_DENSE_SECONDS)
        print(line)

    small_files = sorted(glob.glob(os.path.join(data, "many-small", "*.mid")))
    # The batch writes 2,000 files: on a disk file system the kernel's file creation can
    # outweigh the conversion (ext4 slows down after many deletions), so the batch is timed
    # into memory (/dev/shm) as well as into the temporary folder.
    places = [("temporary folder", None)]
    if os.path.isdir("/dev/shm"):
        places.append(("/dev/shm", "/dev/shm"))
    for label, where in places if small_files else []:
        # Each run writes into a folder of its own, all removed at the end.
        top = tempfile.mkdtemp(prefix="morvel-batch-", dir=where)
        try:
            results = [run([convert, "--out-dir", os.path.join(top, str(k))] + small_files)
                       for k in range(3)]
        finally:
            shutil.rmtree(top, ignore_errors=True)
        wall = min(r[0] for r in results)
        cpu = min(r[1] for r in results)
        print("many-small (%d files into %s): %.3f s wall, %.3f s CPU [time %s: target %.1f s]"
              % (len(small_files), label, wall, cpu, verdict(wall <= TARGET_BATCH_SECONDS),
                 TARGET_BATCH_SECONDS))


if __name__ == "__main__":
    main()
