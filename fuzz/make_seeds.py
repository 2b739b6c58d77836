#!/usr/bin/env python3
"""Writes fuzzer seeds: every .mid file of SRC, prefixed with a few settings blocks (the fuzz
target reads its settings from the first 18 bytes and the MIDI file from the rest).

    python3 fuzz/make_seeds.py SRC_DIR OUT_DIR
"""
import os
import struct
import sys

SWITCH_CHORDS, SWITCH_SPECIAL, SWITCH_FORCE_FIT, SWITCH_BASS, SWITCH_OPTIMISE = 1, 2, 4, 8, 16
SWITCH_LENIENT = 128
# bits 5-6 choose the writer on top of the conversion
WRITE_MUSICXML, WRITE_GP5, WRITE_STANDARD_TAB = 32, 64, 96


def settings(switches=0, max_fret=21, deltas=(0,) * 6, transpose=0):
    """The 18 settings bytes: switches, MaxFret, CustomDelta[0..5], Transpose."""
    return struct.pack("<Bi6hb", switches, max_fret, *deltas, transpose)


SETTINGS = [
    ("defaults", settings()),
    ("all-switches", settings(SWITCH_CHORDS | SWITCH_SPECIAL | SWITCH_FORCE_FIT | SWITCH_BASS)),
    ("chords-up", settings(SWITCH_CHORDS, transpose=7)),
    ("optimised", settings(SWITCH_CHORDS | SWITCH_OPTIMISE, transpose=12)),
    ("lenient", settings(SWITCH_LENIENT | SWITCH_CHORDS)),
    ("musicxml", settings(WRITE_MUSICXML | SWITCH_CHORDS)),
    ("gp5", settings(WRITE_GP5 | SWITCH_OPTIMISE, transpose=12)),
    ("standard-tab", settings(WRITE_STANDARD_TAB | SWITCH_CHORDS, transpose=12)),
    ("drop-d-fit", settings(SWITCH_FORCE_FIT, max_fret=24, deltas=(-2, 0, 0, 0, 0, 0),
                            transpose=-8)),
    ("extremes", settings(SWITCH_FORCE_FIT | SWITCH_BASS, max_fret=-2**31,
                          deltas=(32767, -32768, 12, -12, 32767, -32768), transpose=-128)),
]


def main():
    src, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    for name in sorted(os.listdir(src)):
        if not name.lower().endswith(".mid"):
            continue
        with open(os.path.join(src, name), "rb") as f:
            data = f.read()
        for label, prefix in SETTINGS:
            with open(os.path.join(out, "%s-%s" % (name, label)), "wb") as f:
                f.write(prefix + data)


if __name__ == "__main__":
    main()
