// Note-to-string and fret placement.
//
// PlaceNote puts one note into a column: an open string when one sounds the note, otherwise
// the string whose fret is nearest the anchor CurrentFret (a fret one above the anchor counts
// as two away, one below as one away; ties go to the higher string). The playable range is
// StringPitch[5] .. StringPitch[0] + MaxFret; Force Fit folds notes into it by octaves and Bass
// Mode folds them below the second string. A note never removes another from its column: a
// string already used in the column is no candidate, and a pitch the column already sounds is
// not placed twice.
#include "core/Conversion.h"
#include "core/ConversionState.h"

#include <cstdint>

namespace morvel {

namespace {
constexpr int OCTAVE = 12;
constexpr int NOTE_LIMIT = 128; // stored numbers from here on come only from damaged files
} // namespace

void Conversion::PlaceMarker(TabColumn& column, uint8_t label) {
    column.Special = ' ';
    column.Channel = NO_CHANNEL;
    column.Label = label;
}

void Conversion::PlaceNote(TabColumn& column, int note, char special, uint8_t channel) {
    column.Special = special;
    column.Channel = channel;
    if (note >= NOTE_LIMIT || note < 0) {
        column.Label = LABEL_TOO_HIGH;
        return;
    }

    const int lowest = StringPitch[5];
    const int64_t highest = int64_t(StringPitch[0]) + Settings.MaxFret;

    if (Settings.BassMode) {
        while (note >= StringPitch[1])
            note -= OCTAVE;
    }
    if (Settings.ForceFitFret) {
        while (note < lowest)
            note += OCTAVE;
        while (note > highest)
            note -= OCTAVE;
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
        const int fret = note - StringPitch[s];
        if (column.Fret[s] != NO_FRET) {
            if (column.Fret[s] == fret) return; // the column already sounds this pitch
            continue;
        }
        if (fret == 0) {
            if (openString < 0) openString = s;
            continue;
        }
        if (fret < 0 || fret > MAX_SEARCH_FRET) continue;
        const int distance = fret >= CurrentFret ? fret - CurrentFret + 1 : CurrentFret - fret;
        if (distance < bestDistance) {
            bestDistance = distance;
            bestString = s;
            bestFret = fret;
        }
    }
    if (openString >= 0) {
        column.Fret[openString] = 0;
        column.Label = LABEL_NOTES;
        CurrentFret = 0;
        return;
    }
    if (bestString < 0) {
        column.Label = LABEL_TOO_HIGH;
        return;
    }
    column.Fret[bestString] = static_cast<uint8_t>(bestFret);
    CurrentFret = bestFret;
    if (column.Label == LABEL_EMPTY) column.Label = LABEL_NOTES;
}

} // namespace morvel
