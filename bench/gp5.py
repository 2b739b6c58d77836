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
import bisect
import collections
import glob
import json
import os
import shutil
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


def one_per_value(tempos, bars):
    """The changes alphaTab keeps: in each bar, the first change to each value (it takes a
    later change to a value already set in that bar for the same one)."""
    starts = [b[2] for b in bars]
    kept, seen = [], set()
    for tick, bpm in distinct(tempos):
        bar = max(0, bisect.bisect_right(starts, tick) - 1)
        if (bar, bpm) not in seen:
            seen.add((bar, bpm))
            kept.append((tick, bpm))
    return kept


def sounding(tempos, bars):
    """Per bar: the tempo sounding at its start, the set of tempos sounding in it, and the
    tempo sounding at its end."""
    changes = distinct(tempos)
    at_start, inside, at_end, k, current = [], [], [], 0, None
    for i, bar in enumerate(bars):
        end = bars[i + 1][2] if i + 1 < len(bars) else float("inf")
        while k < len(changes) and changes[k][0] <= bar[2]:
            current = changes[k][1]
            k += 1
        at_start.append(current)
        values = {current}
        while k < len(changes) and changes[k][0] < end:
            current = changes[k][1]
            values.add(current)
            k += 1
        inside.append(values)
        at_end.append(current)
    return at_start, inside, at_end


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
    detail = []
    for path, our in ours.items():
        their = theirs.get(path)
        counts["files"] += 1
        if their is None or their["error"] is not None:
            counts["errors"] += 1
            if their is not None and counts["errors"] <= 3:
                print("  %s: %s: %s" % (reader, os.path.basename(path), their["error"]))
            continue
        counts["read"] += 1
        before = dict(counts)
        counts["tracks ok"] += len(our["tracks"]) == len(their["tracks"])
        counts["tunings"] += len(our["tracks"])
        counts["tunings ok"] += sum(a == b for a, b in zip(our["tracks"], their["tracks"]))
        counts["bar counts ok"] += len(our["bars"]) == len(their["bars"])
        counts["bars"] += len(our["bars"])
        counts["bars ok"] += sum(bar_matches(a, b) for a, b in zip(our["bars"], their["bars"]))
        our_tempos = our["tempos"] if per_bar_tempo else one_per_value(our["tempos"], our["bars"])
        _, ours_inside, ours_end = sounding(our_tempos, our["bars"])
        their_start, _, their_end = sounding(their["tempos"], their["bars"])
        counts["tempo bars"] += len(our["bars"])
        if per_bar_tempo:
            # One tempo per bar: it must be one that sounds in that bar.
            counts["tempo bars ok"] += sum(t in inside for t, inside in zip(their_start, ours_inside))
        else:
            counts["tempo bars ok"] += sum(a == b for a, b in zip(ours_end, their_end))
            theirs_at = set(distinct(their["tempos"]))
            for change in distinct(our_tempos):
                counts["tempo changes"] += 1
                counts["tempo changes in place"] += change in theirs_at
        # Notes: ours by (track, onset, string), theirs likewise.
        index = {}
        for note in their["notes"]:
            index.setdefault((note[0], note[7], note[1], note[3]), []).append(note)
        seen = {}
        colliders = []
        for note in our["notes"]:
            key = (note[0], note[7], note[1], note[3])
            if key in seen:
                # A second note on a string in one beat: the file has room for one there, so
                # another fret is looked for on another string at the same onset.
                if seen[key][4] == note[4]:
                    counts["same string, same fret"] += 1
                else:
                    counts["same string, other fret"] += 1
                    colliders.append(note)
                continue
            seen[key] = note
            counts["notes"] += 1
            found = index.get(key)
            if not found:
                continue
            other = found.pop(0)
            counts["voice+onset+string"] += 1
            counts["fret"] += other[4] == note[4]
            counts["tied, other fret"] += other[4] != note[4] and note[6] == 1
            counts["pitch"] += other[5] == note[5]
            counts["duration"] += other[2] == note[2]
            counts["tie"] += other[6] == note[6]
        for note in colliders:
            for string in range(1, 7):
                found = index.get((note[0], note[7], note[1], string))
                match = [n for n in found or [] if n[5] == note[5] and n[2] == note[2]]
                if match:
                    found.remove(match[0])
                    counts["moved to another string"] += 1
                    break
        counts["extra"] += sum(len(v) for v in index.values())
        counts["left out"] += our["leftout"]
        differs = [k for k in ("tracks ok", "bar counts ok")
                   if counts[k] == before.get(k, 0)]
        differs += [k for k in ("tunings", "bars", "notes", "tempo bars")
                    if counts[k + " ok" if k != "notes" else "voice+onset+string"] - before.get(
                        k + " ok" if k != "notes" else "voice+onset+string", 0) != counts[k] - before.get(k, 0)]
        if differs:
            detail.append("%s (%s)" % (os.path.basename(path), ", ".join(differs)))
    files = counts["files"]
    notes = counts["notes"]
    print("%s: read without an error: %d/%d files" % (reader, counts["read"], files))
    print("%s: track count: %d/%d files" % (reader, counts["tracks ok"], counts["read"]))
    print("%s: tuning: %d/%d tracks" % (reader, counts["tunings ok"], counts["tunings"]))
    print("%s: bar count: %d/%d files" % (reader, counts["bar counts ok"], counts["read"]))
    print("%s: time signature and start: %d/%d bars" % (reader, counts["bars ok"], counts["bars"]))
    if per_bar_tempo:
        print("%s: tempo of the bar (one per bar) among those sounding in it: %d/%d bars" % (
            reader, counts["tempo bars ok"], counts["tempo bars"]))
    else:
        print("%s: tempo sounding at the end of every bar (in a bar, alphaTab keeps the first "
              "change to each value): %d/%d bars" % (
            reader, counts["tempo bars ok"], counts["tempo bars"]))
        print("%s: tempo changes at their own tick: %d/%d (the others on the beat that holds "
              "them)" % (reader, counts["tempo changes in place"], counts["tempo changes"]))
    for what in ("voice+onset+string", "fret", "pitch", "duration", "tie"):
        line = "%s: notes with our %s: %d/%d" % (reader, what, counts[what], notes)
        if what in ("fret", "pitch") and counts["tied, other fret"]:
            line += " (%d of the others are tied notes, whose fret this reader looks up from an " \
                    "earlier note on the string)" % counts["tied, other fret"]
        print(line)
    print("%s: notes we did not write: %d" % (reader, counts["extra"]))
    print("%s: our notes on a string already taken in their beat: %d the same note again (left "
          "out), %d at another fret, of which %d read on another string with their pitch, onset "
          "and duration" % (reader, counts["same string, same fret"],
                            counts["same string, other fret"], counts["moved to another string"]))
    if detail:
        print("%s: files that differ: %s" % (reader, "; ".join(detail)))
    return counts["read"] == files and counts["tempo bars ok"] == counts["tempo bars"] and all(counts[w] == notes for w in ("voice+onset+string", "fret", "pitch", "duration", "tie")) \
        and counts["extra"] == 0


def main():
    convert, dump, alphatab, tux_cp, corpus, long_guitar, small = sys.argv[1:8]
    flags = sys.argv[8:]
    work = tempfile.mkdtemp(prefix="morvel-gp5-")
    try:
        return run_checks(convert, dump, alphatab, tux_cp, corpus, long_guitar, small, flags, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run_checks(convert, dump, alphatab, tux_cp, corpus, long_guitar, small, flags, work):
    written, failed = [], []
    leftout = 0
    for midi in sorted(glob.glob(os.path.join(corpus, "*.mid"))):
        out = os.path.join(work, os.path.splitext(os.path.basename(midi))[0] + ".gp5")
        proc = subprocess.run([convert, "--gp5"] + flags + [midi, "-o", out],
                              capture_output=True, text=True, errors="replace")
        if proc.returncode == 0:
            written.append((midi, out))
        else:
            failed.append(os.path.basename(midi))
    print("corpus: %d files written as GP5, %d do not convert%s" % (
        len(written), len(failed), (" (" + ", ".join(failed) + ")") if failed else ""))
    ref = {}
    for midi, _ in written:
        ref.update(parse(subprocess.run([dump] + flags + [midi], capture_output=True, errors="replace",
                                        text=True).stdout))
    ours = {gp5: ref[midi] for midi, gp5 in written if midi in ref and ref[midi]["error"] is None}
    leftout = sum(r["leftout"] for r in ours.values())
    print("our scores: %d notes with string and fret, %d without (left out of the files)" % (
        sum(len(r["notes"]) for r in ours.values()), leftout))
    gp5s = [g for _, g in written]
    at = subprocess.run(["node", os.path.join(HERE, "gp5-alphatab.mjs"), alphatab] + gp5s,
                        capture_output=True, text=True, errors="replace")
    tux = subprocess.run(["java", "-Xmx2g", "-cp", tux_cp, "Gp5TuxDump"] + gp5s,
                         capture_output=True, text=True, errors="replace")
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
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
