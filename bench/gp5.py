#!/usr/bin/env python3
"""Guitar Pro 5 output checked with two independent readers, and its speed and memory.

    python3 bench/gp5.py CONVERT DUMP ALPHATAB_DIR TUX_CLASSPATH CORPUS_DIR LONG_GUITAR SMALL [FLAGS...]

1. Every corpus file that converts is written with `CONVERT --gp5 FLAGS`; DUMP (morvel-score-dump)
   prints the quantised score it was made from. alphaTab (Node, bench/gp5-alphatab.mjs) and
   TuxGuitar (its GP5 reader, bench/Gp5TuxDump.java) read every file; per reader one line per
   check, with counts: read without an error, track count, tuning, bar count, time signature
   and start of every bar, tempo, and for every note of ours (a fretted note of the score) the
   same onset, string, fret, pitch, duration and tie; notes a reader has that we did not write.
   TuxGuitar keeps one tempo per bar: its tempo check takes the last change inside each bar.
2. LONG_GUITAR (200,000 notes) written as GP5: best wall time of three runs and the peak memory
   above the base (SMALL), against 0.5 s and 60 bytes per note.
"""
import collections
import glob
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from measure import best, peak_kb  # noqa: E402

TARGET_SECONDS = 0.5
TARGET_BYTES_PER_NOTE = 60
HERE = os.path.dirname(os.path.abspath(__file__))


def parse(text):
    """{path: record} from the dump lines of a reader or of our score."""
    files = {}
    record = None
    for line in text.splitlines():
        word, _, rest = line.partition(" ")
        if word == "FILE":
            record = {"error": None, "tracks": [], "bars": [], "tempos": [], "notes": [],
                      "leftout": 0}
            files[rest] = record
        elif record is None:
            continue
        elif word == "ERROR":
            record["error"] = rest
        elif word == "TRACK":
            _, _, tuning = rest.partition(" | ")
            record["tracks"].append(tuple(int(x) for x in tuning.split()))
        elif word == "BAR":
            fields = rest.split()
            num, den = fields[1].split("/")
            record["bars"].append((int(num), int(den), int(fields[2]),
                                   int(fields[3]) if len(fields) > 3 else None))
        elif word == "TEMPO":
            tick, bpm = rest.split()
            record["tempos"].append((int(tick), round(float(bpm))))
        elif word == "NOTE":
            record["notes"].append(tuple(int(x) for x in rest.split()))
        elif word == "LEFTOUT":
            record["leftout"] = int(rest)
    return files


def distinct(tempos):
    """Tempo changes sorted by tick, the last at a tick kept, repeats of a value dropped."""
    by_tick = {}
    for tick, bpm in sorted(tempos, key=lambda t: t[0]):
        by_tick[tick] = bpm
    out = []
    for tick in sorted(by_tick):
        if not out or out[-1][1] != by_tick[tick]:
            out.append((tick, by_tick[tick]))
    return out


def per_bar(tempos, bars):
    """The tempo sounding at the end of each bar."""
    changes = distinct(tempos)
    out, k, current = [], 0, None
    for i, bar in enumerate(bars):
        end = bars[i + 1][2] if i + 1 < len(bars) else float("inf")
        while k < len(changes) and changes[k][0] < end:
            current = changes[k][1]
            k += 1
        out.append(current)
    return out


def bar_matches(ours, theirs):
    num, den, start, length = ours
    tnum, tden, tstart, _ = theirs
    if tstart != start:
        return False
    if length == 3840 * num // den:
        return (tnum, tden) == (num, den)
    return 3840 * tnum // tden == length


def check(reader, ours, theirs, per_bar_tempo):
    counts = collections.Counter()
    for path, our in ours.items():
        their = theirs.get(path)
        counts["files"] += 1
        if their is None or their["error"] is not None:
            counts["errors"] += 1
            if their is not None and counts["errors"] <= 3:
                print("  %s: %s: %s" % (reader, os.path.basename(path), their["error"]))
            continue
        counts["read"] += 1
        counts["tracks ok"] += len(our["tracks"]) == len(their["tracks"])
        counts["tunings"] += len(our["tracks"])
        counts["tunings ok"] += sum(a == b for a, b in zip(our["tracks"], their["tracks"]))
        counts["bar counts ok"] += len(our["bars"]) == len(their["bars"])
        counts["bars"] += len(our["bars"])
        counts["bars ok"] += sum(bar_matches(a, b) for a, b in zip(our["bars"], their["bars"]))
        if per_bar_tempo:
            same = per_bar(our["tempos"], our["bars"]) == per_bar(their["tempos"], their["bars"])
        else:
            same = [bpm for _, bpm in distinct(our["tempos"])] == \
                   [bpm for _, bpm in distinct(their["tempos"])]
        counts["tempo ok"] += same
        # Notes: ours by (track, onset, string), theirs likewise.
        index = {}
        for note in their["notes"]:
            index.setdefault((note[0], note[1], note[3]), []).append(note)
        for note in our["notes"]:
            counts["notes"] += 1
            found = index.get((note[0], note[1], note[3]))
            if not found:
                continue
            other = found.pop(0)
            counts["onset+string"] += 1
            counts["fret"] += other[4] == note[4]
            counts["pitch"] += other[5] == note[5]
            counts["duration"] += other[2] == note[2]
            counts["tie"] += other[6] == note[6]
        counts["extra"] += sum(len(v) for v in index.values())
        counts["left out"] += our["leftout"]
    files = counts["files"]
    notes = counts["notes"]
    print("%s: read without an error: %d/%d files" % (reader, counts["read"], files))
    print("%s: track count: %d/%d files" % (reader, counts["tracks ok"], counts["read"]))
    print("%s: tuning: %d/%d tracks" % (reader, counts["tunings ok"], counts["tunings"]))
    print("%s: bar count: %d/%d files" % (reader, counts["bar counts ok"], counts["read"]))
    print("%s: time signature and start: %d/%d bars" % (reader, counts["bars ok"], counts["bars"]))
    print("%s: tempo%s: %d/%d files" % (reader, " (per bar)" if per_bar_tempo else "",
                                         counts["tempo ok"], counts["read"]))
    for what in ("onset+string", "fret", "pitch", "duration", "tie"):
        print("%s: notes with our %s: %d/%d" % (reader, what, counts[what], notes))
    print("%s: notes we did not write: %d" % (reader, counts["extra"]))
    return counts["read"] == files and all(counts[w] == notes for w in ("onset+string", "fret", "pitch", "duration", "tie")) \
        and counts["extra"] == 0


def main():
    convert, dump, alphatab, tux_cp, corpus, long_guitar, small = sys.argv[1:8]
    flags = sys.argv[8:]
    work = tempfile.mkdtemp(prefix="morvel-gp5-")
    written, failed = [], []
    leftout = 0
    for midi in sorted(glob.glob(os.path.join(corpus, "*.mid"))):
        out = os.path.join(work, os.path.splitext(os.path.basename(midi))[0] + ".gp5")
        proc = subprocess.run([convert, "--gp5"] + flags + [midi, "-o", out],
                              capture_output=True, text=True)
        if proc.returncode == 0:
            written.append((midi, out))
        else:
            failed.append(os.path.basename(midi))
    print("corpus: %d files written as GP5, %d do not convert%s" % (
        len(written), len(failed), (" (" + ", ".join(failed) + ")") if failed else ""))
    ref = parse(subprocess.run([dump] + flags + [m for m, _ in written], capture_output=True,
                               text=True).stdout)
    ours = {gp5: ref[midi] for midi, gp5 in written if midi in ref and ref[midi]["error"] is None}
    leftout = sum(r["leftout"] for r in ours.values())
    print("our scores: %d notes with string and fret, %d without (left out of the files)" % (
        sum(len(r["notes"]) for r in ours.values()), leftout))
    gp5s = [g for _, g in written]
    at = subprocess.run(["node", os.path.join(HERE, "gp5-alphatab.mjs"), alphatab] + gp5s,
                        capture_output=True, text=True)
    tux = subprocess.run(["java", "-Xmx2g", "-cp", tux_cp, "Gp5TuxDump"] + gp5s,
                         capture_output=True, text=True)
    ok = check("alphaTab", ours, parse(at.stdout), False)
    ok = check("TuxGuitar", ours, parse(tux.stdout), True) and ok

    cmd = [convert, "--gp5"] + flags
    base_rss = peak_kb(cmd + [small, "-o", os.devnull])
    wall, _, rss = best(cmd + [long_guitar, "-o", os.path.join(work, "long.gp5")], 3)
    manifest = os.path.join(os.path.dirname(long_guitar), "manifest.json")
    notes = json.load(open(manifest))["long-guitar.mid"]["notes"] if os.path.exists(manifest) else 200000
    per_note = None if rss is None or base_rss is None else (rss - base_rss) * 1024 / notes
    print("long-guitar as GP5: %.3f s (target %.1f s: %s), peak %s KB, base %s KB, %s bytes/note "
          "above base (target %d: %s)" % (
              wall, TARGET_SECONDS, "ok" if wall <= TARGET_SECONDS else "MISSED", rss, base_rss,
              "?" if per_note is None else "%.0f" % per_note, TARGET_BYTES_PER_NOTE,
              "ok" if per_note is not None and per_note <= TARGET_BYTES_PER_NOTE else "MISSED"))
    subprocess.run(["rm", "-rf", work])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
