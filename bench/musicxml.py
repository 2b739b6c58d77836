#!/usr/bin/env python3
"""MusicXML output checked against MuseScore 3, and its speed and memory.

    python3 bench/musicxml.py CONVERT CORPUS_DIR LONG_GUITAR SMALL_FILE [FLAGS...]

1. Every corpus file with notes: `CONVERT --musicxml` writes it, `mscore3 -o x.mscx` opens it
   without an "Error" line with the same chords and pitches on its TAB staff, and that staff
   holds the string and fret we wrote for every note that has one. A first probe tells
   whether this MuseScore keeps string and fret from MusicXML at all (3.2.3, Debian 12's,
   re-frets every imported note, even in its own MusicXML); if it does not, the share it
   happens to keep is printed but not required.
2. On-grid round trip: a generated file whose notes lie on a sixteenth/triplet grid is written
   as MusicXML, MuseScore exports it as MIDI again, and the onsets, in quarter notes, must be
   the original's.
3. LONG_GUITAR (200,000 notes): best wall time of three runs and the peak memory above the
   base (SMALL_FILE), against 1 s and 100 bytes per note; then MuseScore 3's own MIDI import
   of the same file (mscore3 -o out.musicxml in.mid), timed, for comparison.
4. With NODE_MODULES (Verovio and alphaTab from npm, which musicxml.sh installs into a
   temporary folder), for every corpus file that converts: both import it without an error;
   both show every fretted note on our string and fret; alphaTab draws every track; every
   written onset lies within the tolerance (a sixty-fourth note) of its MIDI onset, track by
   track, and every MIDI onset has a written onset that near; the three bar counts agree.
   One line per check, with counts.
FLAGS go to every CONVERT run (e.g. --transpose 12 --optimise-fingering).
"""
import bisect
import collections
import json
import glob
import os
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from measure import best, peak_kb  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from make_examples import vlq  # noqa: E402

TARGET_SECONDS = 1.0
TARGET_BYTES_PER_NOTE = 100
MSCORE_TIMEOUT = 600
ENV = dict(os.environ, QT_QPA_PLATFORM="offscreen")


def mscore(args, timeout=MSCORE_TIMEOUT):
    """(exit status, output lines) of one MuseScore run; None status on a timeout."""
    try:
        proc = subprocess.run(["mscore3"] + args, env=ENV, capture_output=True, text=True,
                              timeout=timeout)
    except subprocess.TimeoutExpired:
        return None, []
    return proc.returncode, (proc.stdout + proc.stderr).splitlines()


STEPS = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def our_chords(path):
    """Per part, the chords of our TAB staff in order, each a sorted list of
    (pitch, string, fret), string and fret None where we wrote none."""
    parts = []
    for part in ET.parse(path).getroot().iter("part"):
        chords = []
        for note in part.iter("note"):
            if note.findtext("staff") != "2" or note.find("rest") is not None:
                continue
            if note.find("chord") is None:
                chords.append([])
            pitch = note.find("pitch")
            midi = (int(pitch.findtext("octave")) + 1) * 12 + STEPS[pitch.findtext("step")] + \
                int(pitch.findtext("alter") or 0)
            tech = note.find("notations/technical")
            if tech is not None:
                chords[-1].append((midi, int(tech.findtext("string")), int(tech.findtext("fret"))))
            else:
                chords[-1].append((midi, None, None))
        parts.append([sorted(c, key=str) for c in chords])
    return parts


def their_chords(path):
    """The same from MuseScore's file: the second staff of each part (its TAB staff);
    MuseScore counts strings from 0."""
    score = ET.parse(path).getroot().find("Score")
    staffs = score.findall("Staff")
    parts = []
    for index in range(1, len(staffs), 2):
        chords = []
        for chord in staffs[index].iter("Chord"):
            chords.append(sorted(((int(n.findtext("pitch")), int(n.findtext("string")) + 1,
                                   int(n.findtext("fret"))) for n in chord.findall("Note")),
                                 key=str))
        parts.append(chords)
    return parts


def compare(ours, theirs):
    """(problem or None, positions compared, positions MuseScore kept)."""
    if len(ours) != len(theirs):
        return "%d parts written, MuseScore has %d" % (len(ours), len(theirs)), 0, 0
    compared = kept = 0
    for p, (a, b) in enumerate(zip(ours, theirs)):
        if len(a) != len(b):
            return "part %d: %d chords written, MuseScore has %d" % (p + 1, len(a), len(b)), 0, 0
        for c, (x, y) in enumerate(zip(a, b)):
            if sorted(n[0] for n in x) != sorted(n[0] for n in y):
                return "part %d chord %d: pitches %s, MuseScore has %s" % (
                    p + 1, c + 1, [n[0] for n in x], [n[0] for n in y]), 0, 0
            for note in x:
                if note[1] is not None:
                    compared += 1
                    kept += note in y
    return None, compared, kept


def check_corpus(convert, corpus, flags, work):
    files = sorted(glob.glob(os.path.join(corpus, "*.mid")))
    checked = failed = skipped = compared = kept = 0
    for midi in files:
        name = os.path.splitext(os.path.basename(midi))[0]
        out = os.path.join(work, name + ".musicxml")
        proc = subprocess.run([convert, "--musicxml"] + flags + [midi, "-o", out],
                              capture_output=True, text=True)
        if proc.returncode != 0 or not os.path.exists(out):
            skipped += 1  # no notes, or refused by the converter: nothing to open
            continue
        mscx = os.path.join(work, name + ".mscx")
        status, lines = mscore(["-o", mscx, out])
        errors = [line for line in lines if "Error" in line]
        problem = None
        if status is None:
            problem = "MuseScore did not finish in %d s" % MSCORE_TIMEOUT
        elif status != 0 or errors or not os.path.exists(mscx):
            problem = "MuseScore: status %s %s" % (status, "; ".join(errors[:3]))
        else:
            problem, n, k = compare(our_chords(out), their_chords(mscx))
            compared += n
            kept += k
        checked += 1
        if problem:
            failed += 1
            print("  %s: %s" % (os.path.basename(midi), problem))
    print("corpus: %d files opened, %d failed (an \"Error\" line, or chords or pitches "
          "differing), %d without output" % (checked, failed, skipped))
    print("strings and frets: MuseScore's TAB staff shows ours for %d of %d notes (%.1f %%)" % (
        kept, compared, 100.0 * kept / max(compared, 1)))
    return failed == 0, kept == compared


def check_position_import(work):
    """Whether this MuseScore keeps string and fret from MusicXML at all: a note written on
    the second string, fret 8, read back."""
    path = os.path.join(work, "position.musicxml")
    tuning = "".join(
        '<staff-tuning line="%d"><tuning-step>%s</tuning-step><tuning-octave>%d</tuning-octave>'
        "</staff-tuning>" % (i + 1, s, o)
        for i, (s, o) in enumerate([("E", 2), ("A", 2), ("D", 3), ("G", 3), ("B", 3), ("E", 4)]))
    with open(path, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?><score-partwise version="4.0"><part-list>'
                '<score-part id="P1"><part-name>G</part-name><score-instrument id="P1-I1">'
                "<instrument-name>Guitar</instrument-name></score-instrument></score-part>"
                '</part-list><part id="P1"><measure number="1"><attributes><divisions>1'
                "</divisions><time><beats>4</beats><beat-type>4</beat-type></time><clef><sign>TAB"
                "</sign><line>5</line></clef><staff-details><staff-lines>6</staff-lines>" + tuning +
                "</staff-details></attributes><note><pitch><step>G</step><octave>4</octave>"
                "</pitch><duration>4</duration><voice>1</voice><type>whole</type><notations>"
                "<technical><string>2</string><fret>8</fret></technical></notations></note>"
                "</measure></part></score-partwise>")
    mscx = os.path.join(work, "position.mscx")
    mscore(["-o", mscx, path])
    note = ET.parse(mscx).getroot().find("Score/Staff/Measure//Note")
    kept = note.findtext("string") == "1" and note.findtext("fret") == "8"
    print("this MuseScore %s string and fret on MusicXML import (G4 written on string 2, "
          "fret 8; it shows string %d, fret %s)" % (
              "keeps" if kept else "DISCARDS", int(note.findtext("string")) + 1,
              note.findtext("fret")))
    return kept


# --------------------------------------------------------------------------- on-grid round trip

def grid_file(path, division=480):
    """Two bars of sixteenths, two of eighth triplets, a chord, rests: (bytes, onsets)."""
    events = []  # (tick, order, bytes)
    onsets = []
    tick = 0
    pitches = [52, 55, 57, 59, 60, 62, 64, 65]
    for bar in range(4):
        step = division // 4 if bar % 2 == 0 else division // 3
        count = 16 if bar % 2 == 0 else 12
        for k in range(count):
            if k % 5 == 4:
                continue  # a rest now and then
            at = bar * 4 * division + k * step
            key = pitches[(bar + k) % len(pitches)]
            events.append((at, 1, bytes([0x90, key, 90])))
            events.append((at + step, 0, bytes([0x80, key, 0])))
            onsets.append(at)
    at = 4 * 4 * division
    for key in (52, 59, 64):
        events.append((at, 1, bytes([0x90, key, 90])))
        events.append((at + 2 * division, 0, bytes([0x80, key, 0])))
    onsets.append(at)
    events.sort()
    track = b"\x00\xff\x58\x04\x04\x02\x18\x08\x00\xff\x51\x03\x07\xa1\x20"
    last = 0
    for at, _, data in events:
        track += vlq(at - last) + data
        last = at
    track += b"\x00\xff\x2f\x00"
    data = b"MThd" + struct.pack(">IHHH", 6, 0, 1, division)
    data += b"MTrk" + struct.pack(">I", len(track)) + track
    with open(path, "wb") as f:
        f.write(data)
    return sorted(set(o / division for o in onsets))


def read_vlq(body, i):
    """(value, next index) of the variable-length quantity at body[i]."""
    value = 0
    while True:
        b = body[i]
        i += 1
        value = (value << 7) | (b & 0x7F)
        if b < 0x80:
            return value, i


def midi_onsets(path):
    """Onsets (in quarter notes) of every note-on of a MIDI file, all tracks."""
    _, tracks = track_onsets(path)
    return sorted({onset for track in tracks for onset in track})


def check_round_trip(convert, flags, work):
    src = os.path.join(work, "grid.mid")
    expected = grid_file(src)
    xml = os.path.join(work, "grid.musicxml")
    subprocess.run([convert, "--musicxml"] + flags + [src, "-o", xml], check=True,
                   capture_output=True)
    back = os.path.join(work, "grid-back.mid")
    status, _ = mscore(["-o", back, xml])
    got = midi_onsets(back) if status == 0 and os.path.exists(back) else None
    ok = got is not None and [round(x, 6) for x in got] == [round(x, 6) for x in expected]
    print("on-grid round trip: %d onsets, %s" % (len(expected), "same" if ok else "DIFFERENT"))
    if not ok and got is not None:
        print("  expected %s\n  got      %s" % (expected[:20], got[:20]))
    return ok


def check_speed(convert, flags, long_guitar, small, work):
    notes = 200000
    cmd = [convert, "--musicxml"] + flags
    base_rss = peak_kb(cmd + [small, "-o", os.devnull])
    wall, _, rss = best(cmd + [long_guitar, "-o", os.path.join(work, "long.musicxml")], 3)
    per_note = None if rss is None or base_rss is None else (rss - base_rss) * 1024 / notes
    print("long-guitar as MusicXML: %.3f s (target %.1f s: %s), peak %s KB, base %s KB, "
          "%s bytes per note above the base (target %d: %s)" % (
              wall, TARGET_SECONDS, "ok" if wall <= TARGET_SECONDS else "MISSED", rss,
              base_rss, "?" if per_note is None else "%.0f" % per_note, TARGET_BYTES_PER_NOTE,
              "ok" if per_note is not None and per_note <= TARGET_BYTES_PER_NOTE else "MISSED"))
    start = time.perf_counter()
    status, _ = mscore(["-o", os.path.join(work, "long-mscore.musicxml"), long_guitar])
    took = time.perf_counter() - start
    if status is None:
        print("MuseScore 3 import of the same file: not finished in %d s" % MSCORE_TIMEOUT)
    else:
        print("MuseScore 3 import of the same file: %.1f s (status %d)" % (took, status))
    return wall <= TARGET_SECONDS and per_note is not None and per_note <= TARGET_BYTES_PER_NOTE


# --------------------------------------------------------------------------- Verovio, alphaTab

TOLERANCE_QUARTERS = 1.0 / 16
PEERS_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "musicxml_peers.cjs")


def written(path):
    """Per part: the measure count, per measure a Counter of (string, fret) of the TAB staff's
    notes, and the sorted onsets (in quarter notes) of the notation staff's notes."""
    parts = []
    divisions = 1
    for part in ET.parse(path).getroot().iter("part"):
        frets = []
        onsets = set()
        start = 0.0  # of the measure, in quarters
        for measure in part.iter("measure"):
            divs = measure.find("attributes/divisions")
            if divs is not None:
                divisions = int(divs.text)
            counter = collections.Counter()
            cursor = extent = last = 0
            for item in measure:
                if item.tag == "backup":
                    cursor -= int(item.findtext("duration"))
                elif item.tag == "forward":
                    cursor += int(item.findtext("duration"))
                elif item.tag == "note":
                    at = last if item.find("chord") is not None else cursor
                    if item.find("chord") is None:
                        cursor += int(item.findtext("duration"))
                    extent = max(extent, cursor)
                    last = at
                    if item.find("rest") is not None:
                        continue
                    if item.findtext("staff") == "1" and item.find("tie[@type='stop']") is None:
                        onsets.add(round(start + at / divisions, 9))
                    tech = item.find("notations/technical")
                    if item.findtext("staff") == "2" and tech is not None:
                        counter[(int(tech.findtext("string")), int(tech.findtext("fret")))] += 1
            frets.append(counter)
            start += extent / divisions
        parts.append((len(frets), frets, sorted(onsets)))
    return parts


def track_onsets(path):
    """(division, per MTrk chunk the sorted onsets of its note-ons in quarter notes)."""
    data = open(path, "rb").read()
    if len(data) < 14 or data[:4] != b"MThd":
        return None, []
    division = struct.unpack(">H", data[12:14])[0]
    if division == 0 or division & 0x8000:
        return None, []
    at = 8 + struct.unpack(">I", data[4:8])[0]
    tracks = []
    while at + 8 <= len(data):
        kind, length = data[at:at + 4], struct.unpack(">I", data[at + 4:at + 8])[0]
        body = data[at + 8:at + 8 + length]
        at += 8 + length
        if kind != b"MTrk":
            continue
        onsets = set()
        i = tick = running = 0
        try:
            while i < len(body):
                delta, i = read_vlq(body, i)
                tick += delta
                status = body[i]
                if status >= 0x80:
                    i += 1
                else:
                    status = running
                if status in (0xFF, 0xF0, 0xF7):
                    if status == 0xFF:
                        i += 1
                    length, i = read_vlq(body, i)
                    i += length
                    continue
                running = status
                if status & 0xF0 == 0x90 and body[i + 1] > 0:
                    onsets.add(tick / division)
                i += 1 if status & 0xF0 in (0xC0, 0xD0) else 2
        except IndexError:
            pass
        tracks.append(sorted(onsets))
    return division, tracks


def far(values, targets):
    """How many of `values` lie further than the tolerance from every one of `targets`."""
    count = 0
    for v in values:
        k = bisect.bisect_left(targets, v)
        near = min((abs(targets[j] - v) for j in (k - 1, k) if 0 <= j < len(targets)),
                   default=float("inf"))
        count += near > TOLERANCE_QUARTERS + 1e-6
    return count


def kept(ours, theirs):
    """Fretted notes of `ours` (per part, per measure Counters) that `theirs` (a list of
    [part, measure, string, fret]) shows on the same string and fret in the same measure."""
    seen = collections.Counter((p, m, s, f) for p, m, s, f in theirs)
    count = 0
    for p, (_, measures, _) in enumerate(ours):
        for m, counter in enumerate(measures):
            for (s, f), n in counter.items():
                count += min(n, seen[(p, m, s, f)])
    return count


def check_peers(convert, corpus, flags, work, modules):
    files = sorted(glob.glob(os.path.join(corpus, "*.mid")))
    outputs = {}
    for midi in files:
        out = os.path.join(work, os.path.splitext(os.path.basename(midi))[0] + ".peer.musicxml")
        proc = subprocess.run([convert, "--musicxml"] + flags + [midi, "-o", out],
                              capture_output=True, text=True)
        if proc.returncode == 0 and os.path.exists(out):
            outputs[midi] = out
    # One process per file: a file too large for Verovio's WebAssembly memory would otherwise
    # leave it unable to read the files after it.
    results = {}
    for out in outputs.values():
        proc = subprocess.run(["node", PEERS_SCRIPT, modules, out], capture_output=True,
                              text=True)
        for line in proc.stdout.splitlines():
            entry = json.loads(line)
            results[entry["file"]] = entry
    imported = {"verovio": 0, "alphatab": 0}
    frets = {"verovio": 0, "alphatab": 0}
    fretted = drawn = tracks = bars_same = 0
    problems = []
    for midi, out in outputs.items():
        name = os.path.basename(midi)
        entry = results.get(out)
        ours = written(out)
        mine = sum(sum(sum(c.values()) for c in measures) for _, measures, _ in ours)
        fretted += mine
        if entry is None:
            problems.append("%s: the peers script gave no answer" % name)
            continue
        v, a = entry["verovio"], entry["alphatab"]
        if v["ok"] and not v["errors"]:
            imported["verovio"] += 1
        else:
            problems.append("%s: Verovio: %s" % (name, "; ".join(v["errors"]) or "not loaded"))
        if a["ok"]:
            imported["alphatab"] += 1
        else:
            problems.append("%s: alphaTab: %s" % (name, a["error"]))
        for peer, got in (("verovio", v), ("alphatab", a)):
            k = kept(ours, got["frets"])
            frets[peer] += k
            if k != mine:
                problems.append("%s: %s shows %d of our %d fretted notes" % (name, peer, k, mine))
        tracks += a["tracks"]
        drawn += a["drawn"]
        problems += ["%s: alphaTab cannot draw %s" % (name, e) for e in a["drawErrors"]]
        counts = {len(ours and ours[0][1]), v["measures"], a["measures"]}
        if len(counts) == 1:
            bars_same += 1
        else:
            problems.append("%s: bars: ours %d, Verovio %d, alphaTab %d" % (
                name, len(ours[0][1]) if ours else 0, v["measures"], a["measures"]))
    n = len(outputs)
    for problem in problems[:60]:
        print("  " + problem)
    if len(problems) > 60:
        print("  ... %d more" % (len(problems) - 60))
    print("import: Verovio %d of %d files without an error, alphaTab %d of %d" % (
        imported["verovio"], n, imported["alphatab"], n))
    print("strings and frets: Verovio shows %d of %d fretted notes on our string and fret, "
          "alphaTab %d of %d" % (frets["verovio"], fretted, frets["alphatab"], fretted))
    print("alphaTab draws %d of %d tracks without an error" % (drawn, tracks))
    print("bars: the three counts agree for %d of %d files" % (bars_same, n))
    return not problems


def check_onsets(convert, corpus, flags, work):
    """Every track of every corpus file on its own: each MIDI onset has a written onset within
    the tolerance, and each written onset a MIDI onset."""
    onsets = onsets_far = invented = tracks = 0
    problems = []
    for midi in sorted(glob.glob(os.path.join(corpus, "*.mid"))):
        name = os.path.basename(midi)
        division, midi_tracks = track_onsets(midi)
        for t, expected in enumerate(midi_tracks):
            if not expected:
                continue
            one = os.path.join(work, "track.musicxml")
            proc = subprocess.run([convert, "--musicxml", "--track", str(t + 1)] + flags +
                                  [midi, "-o", one], capture_output=True, text=True)
            if proc.returncode != 0 or not os.path.exists(one):
                continue
            got = written(one)[0][2]
            os.remove(one)
            tracks += 1
            onsets += len(expected)
            missed = far(expected, got)
            extra = far(got, expected)
            onsets_far += missed
            invented += extra
            if missed or extra:
                problems.append("%s track %d: %d MIDI onsets without a written onset within "
                                "the tolerance, %d written onsets far from every MIDI onset" % (
                                    name, t + 1, missed, extra))
    for problem in problems[:40]:
        print("  " + problem)
    print("onsets: %d MIDI onsets in %d tracks, %d without a written onset within 1/16 quarter, "
          "%d written onsets far from every MIDI onset" % (onsets, tracks, onsets_far, invented))
    return not problems


def main():
    convert, corpus, long_guitar, small = sys.argv[1:5]
    flags = sys.argv[5:]
    modules = os.environ.get("NODE_MODULES")
    mscore_too = os.environ.get("MUSESCORE", "1") != "0"
    ok = True
    with tempfile.TemporaryDirectory() as work:
        if mscore_too:
            keeps_positions = check_position_import(work)
            opened, positions = check_corpus(convert, corpus, flags, work)
            # A MuseScore that re-frets every imported note cannot show ours; then only the
            # opening, the chords and the pitches are checked.
            ok = opened and (positions or not keeps_positions)
            ok = check_round_trip(convert, flags, work) and ok
            ok = check_speed(convert, flags, long_guitar, small, work) and ok
        ok = check_onsets(convert, corpus, flags, work) and ok
        if modules:
            ok = check_peers(convert, corpus, flags, work, modules) and ok
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
