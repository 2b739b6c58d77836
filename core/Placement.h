// Note-to-string and fret placement over explicit inputs, so the conversion and the measure
// drawing each place notes with an anchor of their own.
#pragma once

#include "core/Song.h"
#include "core/TabColumn.h"

#include <array>
#include <cstdint>

namespace morvel {

// Places one stored note (0..255) into `column` under `settings` (MaxFret, ForceFitFret,
// BassMode) and the working tuning `stringPitch`, anchored on `anchor`: an open string first,
// else the fret nearest the anchor; `anchor` becomes the fret chosen. A note never removes
// another note from the column; one that finds no free position, or a number of 128 or more,
// is labelled LABEL_TOO_HIGH, one below the lowest string LABEL_TOO_LOW. Every value a
// settings file can hold places in constant time without overflow.
void PlaceNote(TabColumn& column, int note, char special, uint8_t channel,
               const ConversionSettings& settings,
               const std::array<int16_t, STRING_COUNT>& stringPitch, int& anchor);

// Why a stored note has no position, or NOTE_PLACEABLE. NOTE_TOO_HIGH is a pitch above
// StringPitch[0] + MaxFret (Force Fit off), which may still have a position on the strings;
// NOTE_DAMAGED a stored number outside 0..127, which never has one.
enum NoteRange { NOTE_PLACEABLE, NOTE_TOO_LOW, NOTE_TOO_HIGH, NOTE_DAMAGED };

// The pitch a stored note is placed as, after Bass Mode and Force Fit octave folding, and
// whether it lies in the playable range StringPitch[5] .. StringPitch[0] + MaxFret (the
// positions still have to be found on the strings). Bass Mode lowers a note by octaves until
// it lies below StringPitch[1]; Force Fit then raises one below StringPitch[5] and lowers one
// above the bound by octaves, in that order. The folding is computed in 64 bits, not stepped,
// so any settings value folds at once without overflow, to the value the octave-by-octave
// loop would stop at. Both placements fold notes only through this function.
struct FoldedNote {
    int64_t Pitch = 0;
    NoteRange Range = NOTE_PLACEABLE;
};
FoldedNote FoldNote(int note, const std::array<int16_t, STRING_COUNT>& stringPitch,
                    const ConversionSettings& settings);

// True when some string holds `pitch` at a fret from 0 to MAX_SEARCH_FRET.
bool HasPosition(int64_t pitch, const std::array<int16_t, STRING_COUNT>& stringPitch);

} // namespace morvel
