// The note list: one tab-separated line per note, for aligning the tablature with other data.
//
// Contract of WriteNoteList:
// - Converts the MIDI file in `bytes` with `conversion` (its Settings and TuningSettings as the
//   caller set them) exactly as the text tablature is made, so every setting applies.
// - Writes a header line, then one line per stored note of every track (or of track `track`,
//   1-based, when it is above 0), track by track in file order, each note in the order read:
//   track number (from 1), onset tick, duration in ticks, note number as read, string (1 = the
//   highest string of the tuning) and fret. String and fret are those the text tablature shows
//   for the note; both are empty for a note it shows as "?" or leaves out. The duration comes
//   from the note's note-off; it is empty when the file's note-offs cannot be paired one for
//   one with the notes as read (a damaged track).
// - Fields are separated by one tab, lines end in a line feed.
#pragma once

#include "core/Conversion.h"

#include <functional>
#include <string>
#include <string_view>

namespace morvel::cli {

// The first line of every note list.
constexpr const char* NOTE_LIST_HEADER = "track\ttick\tduration\tnote\tstring\tfret\n";

// Writes the note list of `bytes` (named `displayName` in messages) to `sink`. False with
// `error` set when track `track` does not exist; the conversion's own errors go to its
// reporter as usual. The conversion's report sink and column observer are used during the
// call and cleared after it.
bool WriteNoteList(Conversion& conversion, std::string_view bytes, const std::string& displayName,
                   int track, const std::function<void(std::string_view)>& sink,
                   std::string& error);

} // namespace morvel::cli
