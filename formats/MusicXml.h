// MusicXML 4.0 output: the tablature as a score a notation program can edit.
//
// Contract of WriteMusicXml:
// - Converts the MIDI file in `bytes` with `conversion` (its Settings and TuningSettings as
//   the caller set them) exactly as the text tablature is made, and reads the same bytes
//   with the timeline reader for note ends, tempos, time and key signatures and programs.
// - Writes one score-partwise document, version 4.0 with its DOCTYPE, to `sink` in chunks:
//   one part per exported track, each with a notation staff (treble clef an octave down) and
//   a six-line TAB staff tuned to the sounding pitches of the working strings (the program's
//   string pitches less 12, Transpose left out).
// - Every note carries the string and fret the text tablature shows for it, and the pitch
//   that string and fret sound; a note the tablature shows as "?" (or not at all) is written
//   at its own pitch (note number plus Transpose, less 12) without string and fret. No note
//   is dropped.
// - Rhythm: onsets and ends are snapped per beat (a quarter note) to sixteenths or to
//   eighth-note triplets, whichever lies nearer that beat's events; notes that start together
//   form one chord, which lasts to its own end or the next onset, whichever comes first;
//   rests fill the gaps; notes crossing a barline are split and tied. Measures follow every
//   time-signature change, tempo marks every tempo change (first part only), the key
//   signature every key change.
// - Memory beyond the song itself is a few bytes per note: the text goes out as it is made.
#pragma once

#include "core/Conversion.h"
#include "core/Version.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace morvel {

struct MusicXmlOptions {
    std::string WorkTitle;            // usually the file name without its folder
    std::vector<uint32_t> Tracks;     // 0-based tracks to write; empty: every track with notes
    bool LeaveOutDrums = true;        // with Tracks empty: skip tracks all on channel 10
};

struct MusicXmlSummary {
    uint64_t NotesWritten = 0;
    uint64_t NotesWithoutPosition = 0; // written without string and fret
    uint64_t LargestShift = 0;         // in ticks, over onsets and ends
    std::vector<uint32_t> DrumTracks;  // 1-based tracks left out as drums
    std::vector<uint32_t> Parts;       // 1-based tracks written, in order
    std::string Error;                 // why nothing was written; empty on success
};

using TextSink = std::function<void(std::string_view chunk)>;

// Writes the MusicXML of `bytes` (named `displayName` in messages). False with
// `summary.Error` set when the file cannot be read at all or has no track to write; the
// conversion's own errors go to its reporter as usual. The conversion's report sink and
// column observer are used during the call and cleared after it.
bool WriteMusicXml(Conversion& conversion, std::string_view bytes, const std::string& displayName,
                   const MusicXmlOptions& options, const TextSink& sink,
                   MusicXmlSummary& summary);

// The same for the MIDI file at `path` (a regular file). A file that cannot be read is
// reported through the conversion's reporter, with the conversion's own message, and false is
// returned with `summary.Error` empty.
bool WriteMusicXmlOfFile(Conversion& conversion, const std::string& path,
                         const MusicXmlOptions& options, const TextSink& sink,
                         MusicXmlSummary& summary);

// "N notes written, M without string and fret, largest quantisation shift K ticks".
std::string FormatMusicXmlSummary(const MusicXmlSummary& summary);

} // namespace morvel
