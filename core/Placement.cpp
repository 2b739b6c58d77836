// Note-to-string and fret placement.
//
// PlaceNote puts one note into a column: an open string when one sounds the note, otherwise
// the string whose fret is nearest the anchor (a fret one above the anchor counts as two away,
// one below as one away; ties go to the higher string). The playable range is
// StringPitch[5] .. StringPitch[0] + MaxFret; Force Fit folds notes into it by octaves and Bass
// Mode folds them below the second string. A note never removes another from its column: a
// string already used in the column is no candidate, and a pitch the column already sounds is
// not placed twice.
#include "core/Placement.h"

#include "core/Conversion.h"

namespace morvel {

namespace {
constexpr int64_t OCTAVE = 12;
constexpr int NOTE_LIMIT = 128; // stored numbers from here on come only from damaged files

// Octaves needed to cover `gap` (> 0) semitones: ceil(gap / 12).
int64_t OctavesFor(int64_t gap) {
    return (gap + OCTAVE - 1) / OCTAVE;
}
} // namespace

void PlaceNote(TabColumn& column, int storedNote, char special, uint8_t channel,
               const ConversionSettings& settings,
               const std::array<int16_t, STRING_COUNT>& stringPitch, int& anchor) {
    column.Special = special;
    column.Channel = channel;
    if (storedNote >= NOTE_LIMIT || storedNote < 0) {
        column.Label = LABEL_TOO_HIGH;
        return;
    }

    // The folding is computed rather than stepped, in 64 bits: the pitches are 16-bit and
    // MaxFret 32-bit, so no sum or multiple of octaves can overflow and any setting folds at
    // once. Each fold ends on the first value the step-by-step octave loop would stop at.
    int64_t note = storedNote;
    const int64_t lowest = stringPitch[5];
    const int64_t highest = int64_t(stringPitch[0]) + settings.MaxFret;

    if (settings.BassMode && note >= stringPitch[1])
        note -= OCTAVE * (OctavesFor(note - stringPitch[1] + 1));
    if (settings.ForceFitFret) {
        if (note < lowest) note += OCTAVE * OctavesFor(lowest - note);
        if (note > highest) note -= OCTAVE * OctavesFor(note - highest);
    } else {
        if (note < lowest) {
            column.Label = LABEL_TOO_LOW;
            return;
        }
        if (note > highest) column.Label = LABEL_TOO_HIGH;
    }

    // One pass over the strings: a string already sounding the note ends the placement; else
    // the first free open string wins; else the free string whose fret is nearest the anchor.
    int openString = -1;
    int bestString = -1;
    int bestFret = 0;
    int bestDistance = SEARCH_PASSES + 1;
    for (int s = 0; s < STRING_COUNT; ++s) {
        const int64_t fret64 = note - stringPitch[s];
        if (column.Fret[s] != NO_FRET) {
            if (column.Fret[s] == fret64) return; // the column already sounds this pitch
            continue;
        }
        if (fret64 == 0) {
            if (openString < 0) openString = s;
            continue;
        }
        if (fret64 < 0 || fret64 > MAX_SEARCH_FRET) continue;
        const int fret = static_cast<int>(fret64);
        const int distance = fret >= anchor ? fret - anchor + 1 : anchor - fret;
        if (distance < bestDistance) {
            bestDistance = distance;
            bestString = s;
            bestFret = fret;
        }
    }
    if (openString >= 0) {
        column.Fret[openString] = 0;
        column.Label = LABEL_NOTES;
        anchor = 0;
        return;
    }
    if (bestString < 0) {
        column.Label = LABEL_TOO_HIGH;
        return;
    }
    column.Fret[bestString] = static_cast<uint8_t>(bestFret);
    anchor = bestFret;
    if (column.Label == LABEL_EMPTY) column.Label = LABEL_NOTES;
}

void Conversion::PlaceMarker(TabColumn& column, uint8_t label) {
    column.Special = ' ';
    column.Channel = NO_CHANNEL;
    column.Label = label;
}

void Conversion::PlaceNote(TabColumn& column, int note, char special, uint8_t channel) {
    morvel::PlaceNote(column, note, special, channel, Settings, StringPitch, CurrentFret);
}

} // namespace morvel
