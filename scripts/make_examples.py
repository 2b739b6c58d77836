#!/usr/bin/env python3
"""Writes the small example MIDI files in examples/ (standard library only, deterministic).

    python3 scripts/make_examples.py [OUTDIR]     # default: examples/ beside this script

melody.mid          format 0, a guitar melody in 4/4
chords.mid          format 0, strummed open chords, one per half bar
waltz-3-4.mid       format 0, 3/4: bass note on beat one, chord on beats two and three
jig-6-8.mid         format 0, 6/8: running eighth notes
rock-with-bass.mid  format 1, named tracks: tempo map, power-chord guitar, bass line;
                    written with running status
"""
import os
import sys

DIVISION = 120  # ticks per quarter note
Q = DIVISION
E = DIVISION // 2
H = DIVISION * 2

NOTE_NAMES = {"C": 0, "C#": 1, "D": 2, "D#": 3, "E": 4, "F": 5, "F#": 6, "G": 7, "G#": 8,
              "A": 9, "A#": 10, "B": 11}


# Guitar and bass music is written an octave above its sound, and tablature reads the written
# note: the files store it, so the open low E string (sounding E2) is note 52.
WRITTEN_OCTAVE = 12


def pitch(name):
    """Sounding name to stored note: 'E2' -> 52, 'C4' (middle C) -> 72."""
    return 12 * (int(name[-1]) + 1) + NOTE_NAMES[name[:-1]] + WRITTEN_OCTAVE


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def meta(kind, data):
    return bytes([0xFF, kind]) + vlq(len(data)) + data


def track_name(text):
    return meta(0x03, text.encode("ascii"))


def tempo(bpm):
    return meta(0x51, (60_000_000 // bpm).to_bytes(3, "big"))


def time_signature(numerator, denominator):
    return meta(0x58, bytes([numerator, denominator.bit_length() - 1, 24, 8]))


class Track:
    """Events at absolute ticks; note-offs sort before note-ons at the same tick."""

    def __init__(self):
        self.events = []  # (tick, order, bytes)

    def meta(self, tick, data):
        self.events.append((tick, 0, data))

    def program(self, tick, channel, number):
        self.events.append((tick, 1, bytes([0xC0 | channel, number])))

    def note(self, tick, length, channel, notes, velocity=90):
        for n in notes:
            n = pitch(n) if isinstance(n, str) else n
            self.events.append((tick, 2, bytes([0x90 | channel, n, velocity])))
            # A note-on with velocity 0 ends the note (the common running-status form).
            self.events.append((tick + length, 1, bytes([0x90 | channel, n, 0])))

    def chunk(self, running_status=False):
        """With running_status, a channel event repeating the previous status omits it."""
        body = bytearray()
        now = 0
        status = None
        for tick, _, data in sorted(self.events, key=lambda e: (e[0], e[1])):
            if running_status and data[0] < 0xF0 and data[0] == status:
                body += vlq(tick - now) + data[1:]
            else:
                body += vlq(tick - now) + data
            status = data[0] if data[0] < 0xF0 else None
            now = tick
        body += vlq(0) + meta(0x2F, b"")
        return b"MTrk" + len(body).to_bytes(4, "big") + bytes(body)


def solo_track(name, bpm, numerator, denominator, program):
    """A format-0 track: name, tempo, time signature and the instrument on channel 0."""
    t = Track()
    t.meta(0, track_name(name))
    t.meta(0, tempo(bpm))
    t.meta(0, time_signature(numerator, denominator))
    t.program(0, 0, program)
    return t


def midi_file(fmt, tracks, running_status=False):
    header = b"MThd" + (6).to_bytes(4, "big") + fmt.to_bytes(2, "big")
    header += len(tracks).to_bytes(2, "big") + DIVISION.to_bytes(2, "big")
    return header + b"".join(t.chunk(running_status) for t in tracks)


def melody():
    t = solo_track("Melody", 96, 4, 4, 24)  # nylon-string guitar
    tune = [("E4", Q), ("G4", Q), ("A4", Q), ("B4", Q), ("C5", H), ("B4", Q), ("A4", Q),
            ("G4", E), ("A4", E), ("G4", E), ("E4", E), ("D4", H), ("E4", Q), ("G4", Q),
            ("A4", Q + E), ("G4", E), ("E4", Q), ("D4", Q), ("C4", Q), ("D4", Q), ("E4", H + Q),
            ("B3", Q), ("E3", H), ("G3", Q), ("B3", Q), ("E4", H * 2)]
    now = 0
    for name, length in tune:
        t.note(now, length, 0, [name])
        now += length
    return midi_file(0, [t])


OPEN_CHORDS = {
    "C": ["C3", "E3", "G3", "C4", "E4"],
    "G": ["G2", "B2", "D3", "G3", "B3", "G4"],
    "Am": ["A2", "E3", "A3", "C4", "E4"],
    "F": ["F2", "C3", "F3", "A3", "C4", "F4"],
    "D": ["D3", "A3", "D4", "F#4"],
    "Em": ["E2", "B2", "E3", "G3", "B3", "E4"],
    "E7": ["E2", "B2", "D3", "G#3", "B3", "E4"],
    "A": ["A2", "E3", "A3", "C#4", "E4"],
    "Dm": ["D3", "A3", "D4", "F4"],
}


def chords():
    t = solo_track("Chords", 80, 4, 4, 25)  # steel-string guitar
    progression = ["C", "Am", "F", "G", "Em", "A", "Dm", "E7", "D", "G", "C", "C"]
    for i, name in enumerate(progression):
        t.note(i * H, H, 0, OPEN_CHORDS[name])
    return midi_file(0, [t])


def waltz():
    t = solo_track("Waltz", 132, 3, 4, 24)
    bars = [("C3", ["E3", "G3", "C4"]), ("G2", ["D3", "G3", "B3"]), ("G2", ["F3", "G3", "B3"]),
            ("C3", ["E3", "G3", "C4"]), ("A2", ["E3", "A3", "C4"]), ("D3", ["F#3", "A3", "C4"]),
            ("G2", ["D3", "G3", "B3"]), ("C3", ["E3", "G3", "C4"])]
    for bar, (bass, upper) in enumerate(bars):
        start = bar * 3 * Q
        t.note(start, Q, 0, [bass], velocity=100)
        t.note(start + Q, Q, 0, upper, velocity=70)
        t.note(start + 2 * Q, Q, 0, upper, velocity=70)
    return midi_file(0, [t])


def jig():
    t = solo_track("Jig", 112, 6, 8, 24)
    phrase = ["D4", "E4", "F#4", "G4", "F#4", "E4", "D4", "A3", "D4", "F#4", "A4", "F#4",
              "G4", "B4", "G4", "F#4", "A4", "F#4", "E4", "D4", "E4", "D4", "A3", "D4"]
    now = 0
    for round_ in range(2):
        for name in phrase:
            t.note(now, E, 0, [name], velocity=96 if round_ == 0 else 84)
            now += E
    return midi_file(0, [t])


def rock():
    conductor = Track()
    conductor.meta(0, track_name("Rock with bass"))
    conductor.meta(0, tempo(120))
    conductor.meta(0, time_signature(4, 4))
    conductor.meta(0, meta(0x06, b"Verse"))
    conductor.meta(8 * 4 * Q, meta(0x06, b"Ending"))

    guitar = Track()
    guitar.meta(0, track_name("Guitar"))
    guitar.meta(0, meta(0x04, b"Distortion Guitar"))
    guitar.program(0, 0, 30)
    bass = Track()
    bass.meta(0, track_name("Bass"))
    bass.meta(0, meta(0x04, b"Fingered Bass"))
    bass.program(0, 1, 33)

    roots = ["E2", "E2", "G2", "A2", "E2", "E2", "C3", "B2"]
    for bar, root in enumerate(roots):
        start = bar * 4 * Q
        r = pitch(root)
        for beat in range(8):  # power chords in eighth notes
            guitar.note(start + beat * E, E, 0, [r, r + 7, r + 12], velocity=110)
        for beat in range(4):  # bass: root, root, octave, fifth
            step = [0, 0, 12, 7][beat]
            # The bass line sits on the four low strings, read in bass mode.
            bass.note(start + beat * Q, Q - 10, 1, [r + step], velocity=100)
    end = len(roots) * 4 * Q
    guitar.note(end, 4 * Q, 0, ["E2", "B2", "E3", "G#3", "B3", "E4"], velocity=110)
    bass.note(end, 4 * Q, 1, ["E2"], velocity=100)
    return midi_file(1, [conductor, guitar, bass], running_status=True)


EXAMPLES = {
    "melody.mid": melody,
    "chords.mid": chords,
    "waltz-3-4.mid": waltz,
    "jig-6-8.mid": jig,
    "rock-with-bass.mid": rock,
}


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "examples")
    os.makedirs(out_dir, exist_ok=True)
    for name, make in EXAMPLES.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(make())


if __name__ == "__main__":
    main()
