#!/usr/bin/env python3
"""Time and peak memory of writing the 200,000-note long-guitar file in each score format,
without the peer readers that bench/gp5.sh and bench/musicxml.sh install.

    python3 bench/score_memory.py CONVERT LONG_GUITAR SMALL [FLAGS...]

Per format one line: the best wall and CPU time of five runs, the peak resident set size GNU
time reports for one more, and the bytes per note above the base (the peak of writing SMALL).
"""
import json
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from measure import best, peak_kb  # noqa: E402

# format flag, output suffix, target seconds, target bytes per note above the base (those of
# bench/gp5.py and bench/musicxml.py)
FORMATS = [("--gp5", "gp5", 0.5, 60), ("--musicxml", "musicxml", 1.0, 100)]


def main():
    convert, long_guitar, small = sys.argv[1:4]
    flags = sys.argv[4:] or ["--transpose", "12"]
    manifest = os.path.join(os.path.dirname(long_guitar), "manifest.json")
    notes = (json.load(open(manifest))["long-guitar.mid"]["notes"]
             if os.path.exists(manifest) else 200000)
    ok = True
    with tempfile.TemporaryDirectory(prefix="morvel-score-memory-") as work:
        for flag, suffix, seconds, per_note_target in FORMATS:
            cmd = [convert, flag] + flags
            base = peak_kb(cmd + [small, "-o", os.devnull])
            wall, cpu, rss = best(cmd + [long_guitar, "-o", os.path.join(work, "long." + suffix)])
            if rss is None or base is None:
                print("%s: %.3f s wall, %.3f s CPU; peak memory not measured (no GNU time)"
                      % (flag, wall, cpu))
                continue
            per_note = (rss - base) * 1024 / notes
            good = wall <= seconds and per_note <= per_note_target
            ok = ok and good
            print("long-guitar %s: %.3f s wall, %.3f s CPU (target %.1f s), peak %d KB, "
                  "base %d KB, %.1f bytes/note above base (target %d) [%s]"
                  % (flag, wall, cpu, seconds, rss, base, per_note, per_note_target,
                     "ok" if good else "MISSED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
