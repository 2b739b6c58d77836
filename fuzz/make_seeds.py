#!/usr/bin/env python3
"""Writes fuzzer seeds: every .mid file of SRC, prefixed with a few settings bytes (the
fuzz target reads its settings from the first byte and the MIDI file from the rest).

    python3 fuzz/make_seeds.py SRC_DIR OUT_DIR
"""
import os
import sys

# Settings bytes: defaults; chords + special + force fit + bass; chords, transpose +7;
# force fit, transpose -8.
FLAG_BYTES = [0x80, 0x8F, 0xF1, 0x04]


def main():
    src, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    for name in sorted(os.listdir(src)):
        if not name.lower().endswith(".mid"):
            continue
        with open(os.path.join(src, name), "rb") as f:
            data = f.read()
        for flags in FLAG_BYTES:
            with open(os.path.join(out, "%s-%02x" % (name, flags)), "wb") as f:
                f.write(bytes([flags]) + data)


if __name__ == "__main__":
    main()
