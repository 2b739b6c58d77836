#!/usr/bin/env python3
"""Greedy against optimised fingering: playability figures over the classical-guitar files of
the corpus, and the time and peak memory of optimising a 200,000-note track.

    python3 bench/fingering.py CONVERT CORPUS_DIR LONG_GUITAR SMALL_FILE

CONVERT is morvel-convert; the figures come from its --metrics output (the columns the text
tablature holds), at Transpose 12, for every cgm-*.mid file of CORPUS_DIR. LONG_GUITAR is the
generated long-guitar.mid; SMALL_FILE gives the converter's fixed memory base.
"""
import glob
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from measure import peak_kb  # noqa: E402

RUNS = 3
FIELDS = [("notes", r"(\d+) notes"), ("frets", r"(\d+) shown as frets"),
          ("unknown", r"(\d+) \"\?\" columns"), ("chords", r"(\d+) chord columns"),
          ("wide", r"(\d+) spanning more than"), ("mean", r"mean hand shift ([\d.]+) frets"),
          ("shifts", r"over (\d+) shifts"), ("long", r"(\d+) shifts of more than"),
          ("high", r"([\d.]+) % of frets above")]


def figures(convert, path, optimise):
    cmd = [convert, "--metrics", "--transpose", "12", path]
    if optimise:
        cmd.insert(1, "--optimise-fingering")
    out = subprocess.run(cmd, capture_output=True, text=True).stdout
    total = [line for line in out.splitlines() if line.startswith("Total:")]
    if not total:
        return None
    values = {}
    for name, pattern in FIELDS:
        values[name] = float(re.search(pattern, total[0]).group(1))
    # Summed shift length, so means can be combined over files.
    values["shift_sum"] = values["mean"] * values["shifts"]
    return values


def best_wall(cmd):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    convert, corpus, long_guitar, small = sys.argv[1:5]
    files = sorted(glob.glob(os.path.join(corpus, "cgm-*.mid")))
    totals = {False: {}, True: {}}
    fewer = []  # files where the optimised text shows fewer frets than the greedy one
    print("%-48s %6s %6s %4s %6s %5s %6s %5s %6s" % (
        "file (greedy / optimised)", "notes", "frets", "?", "chords", "wide", "shift", ">4",
        ">12 %"))
    for path in files:
        rows = {}
        for optimise in (False, True):
            rows[optimise] = figures(convert, path, optimise)
        if rows[False] is None or rows[False]["notes"] == 0:
            print("%-48s not converted" % os.path.basename(path))
            continue
        if rows[True]["frets"] < rows[False]["frets"]:
            fewer.append(os.path.basename(path))
        for optimise in (False, True):
            r = rows[optimise]
            for key, value in r.items():
                totals[optimise][key] = totals[optimise].get(key, 0) + value
            print("%-48s %6d %6d %4d %6d %5d %6.2f %5d %6.1f" % (
                ("  " if optimise else os.path.basename(path))[:48], r["notes"], r["frets"],
                r["unknown"], r["chords"], r["wide"], r["mean"], r["long"], r["high"]))

    g, o = totals[False], totals[True]
    gmean = g["shift_sum"] / g["shifts"]
    omean = o["shift_sum"] / o["shifts"]
    print()
    print("%-34s %10s %10s" % ("all files at Transpose 12", "greedy", "optimised"))
    print("%-34s %10d %10d" % ("notes", g["notes"], o["notes"]))
    print("%-34s %10d %10d" % ("notes shown as frets", g["frets"], o["frets"]))
    print("%-34s %9.1f%% %9.1f%%" % ("  share", 100 * g["frets"] / g["notes"],
                                     100 * o["frets"] / o["notes"]))
    print("%-34s %10d %10d" % ("\"?\" columns", g["unknown"], o["unknown"]))
    print("%-34s %10d %10d" % ("chord columns", g["chords"], o["chords"]))
    print("%-34s %10d %10d" % ("  spanning more than 4 frets", g["wide"], o["wide"]))
    print("%-34s %10.2f %10.2f" % ("mean hand shift (frets)", gmean, omean))
    print("%-34s %10d %10d" % ("shifts measured", g["shifts"], o["shifts"]))
    print("%-34s %10d %10d" % ("  of more than 4 frets", g["long"], o["long"]))

    def verdict(ok):
        return "ok" if ok else "MISSED"
    print()
    print("frets shown >= greedy in every file: %s%s" % (
        verdict(not fewer), " (" + ", ".join(fewer) + ")" if fewer else ""))
    print("wide chords <= greedy / 20: %s (%d <= %.2f)" % (
        verdict(o["wide"] <= g["wide"] / 20), o["wide"], g["wide"] / 20))
    # The optimised placement follows the fingerings guitarists write, which shift the hand
    # about as often and as far (bench/fingering-truth compares them): figures, not targets.
    print("mean shift: %.1f %% of greedy; shifts of more than 4 frets: %d against %d" % (
        100 * omean / gmean, o["long"], g["long"]))

    if not os.path.exists(long_guitar):
        print("%s: missing, skipped" % long_guitar)
        return
    plain = [convert, long_guitar, "-o", os.devnull]
    optimised = [convert, "--optimise-fingering", long_guitar, "-o", os.devnull]
    base = peak_kb([convert, small, "-o", os.devnull])
    wall_plain = best_wall(plain)
    wall_opt = best_wall(optimised)
    notes = 200000
    print()
    print("long-guitar: conversion %.3f s greedy, %.3f s optimised (search and text: "
          "%.3f s more) [time %s: target 0.3 s]" % (
              wall_plain, wall_opt, wall_opt - wall_plain, verdict(wall_opt <= 0.3)))
    rss = peak_kb(optimised)
    if base is not None and rss is not None:
        per_note = (rss - base) * 1024 / notes
        print("long-guitar optimised: peak %d KB, base %d KB = %.1f bytes/note above base "
              "[memory %s: target 30]" % (rss, base, per_note, verdict(per_note <= 30)))


if __name__ == "__main__":
    main()
