// The whole timeline of a Standard MIDI File: every note with its start and end, the tempo
// map, every time-signature and key-signature change, and each track's name and program.
//
// This is the reader for rhythm and playback. The tablature has its own reader (Conversion),
// which keeps note-ons only and one time signature per track; the two never share state.
//
// Contract of ReadMidiTimeline:
// - Reads a Standard MIDI File held in memory with the event walker (formats/EventWalker.h)
//   and its rules: the header chunk, then the number of "MTrk" chunks the header announces;
//   chunks of other kinds are skipped; system-exclusive events are skipped.
// - Note-offs pair with note-ons of the same key and channel, first in first out; a note-on
//   with velocity 0 is a note-off; a note-off with nothing to end is ignored; a note still
//   sounding when its track ends ends at the track's end (its end-of-track event, else its
//   last event).
// - Bounded on any input: every stored item took at least three bytes of the file, so memory
//   grows at most linearly with the file's size, and every loop advances through the bytes.
// - A file is refused (Valid false, Error says why) when it has no header, a division of 0, a
//   chunk that runs past the end of the file, a track that ends inside an event, or an event
//   no Standard MIDI File may hold. These are the files the synthesizer refuses too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace morvel {

struct TimelineNote {
    uint64_t Start = 0; // ticks from the start of the song
    uint64_t End = 0;   // tick of its note-off (or the track's end); never before Start
    uint8_t Key = 0;
    uint8_t Channel = 0;
    uint8_t Velocity = 0;
};

struct TempoChange {
    uint64_t Tick = 0;
    uint32_t MicrosecondsPerQuarter = 0; // never 0
};

struct TimeSignatureChange {
    uint64_t Tick = 0;
    uint8_t Numerator = 4;
    uint32_t Denominator = 4; // a power of two, 1 .. 2^31
};

struct KeySignatureChange {
    uint64_t Tick = 0;
    int8_t Fifths = 0; // -7 .. 7: flats negative, sharps positive
    bool Minor = false;
};

struct TimelineTrack {
    std::string Name;  // the first track-name meta event, as stored in the file
    int Program = -1;  // the first program change, 0..127; -1 none
    uint64_t EndTick = 0;
    std::vector<TimelineNote> Notes; // in the order of their note-ons
};

struct MidiTimeline {
    bool Valid = false;
    std::string Error; // why the file cannot be read; empty when Valid
    int Format = 0;
    uint32_t Division = 0; // ticks per quarter note
    std::vector<TimelineTrack> Tracks; // the "MTrk" chunks, in file order
    // The conductor map, gathered from all tracks and sorted by tick (stable: at one tick, the
    // later event in file order wins when a caller keeps the last).
    std::vector<TempoChange> Tempos;
    std::vector<TimeSignatureChange> TimeSignatures;
    std::vector<KeySignatureChange> KeySignatures;
    uint64_t LengthTicks = 0; // the longest track
};

MidiTimeline ReadMidiTimeline(std::string_view bytes);

// ReadMidiTimeline without the notes: the same result (Valid, Error, conductor map, each
// track's name, program and end) with every track's Notes empty, for a reader that takes the
// notes one track at a time with ForEachTrackNote.
MidiTimeline ReadMidiTimelineWithoutNotes(std::string_view bytes);

// The notes of track chunk `track` (0-based, in file order) of `bytes`, paired as
// ReadMidiTimeline pairs them, handed on instead of kept: `onStart(index, note)` at each
// note-on, `index` counting the track's notes from 0 in note-on order and `note.End` not yet
// known (it equals Start), then `onEnd(index, end)` once for every note, when it ends (at
// the latest at the track's end; in no particular order). False when the file holds no such
// chunk, or it or a chunk before it cannot be read; the notes before the fault are handed on.
bool ForEachTrackNote(std::string_view bytes, uint32_t track,
                      const std::function<void(uint32_t index, const TimelineNote& note)>& onStart,
                      const std::function<void(uint32_t index, uint64_t end)>& onEnd);

} // namespace morvel
