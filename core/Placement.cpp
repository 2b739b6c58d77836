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

FoldedNote FoldNote(int note, const std::array<int16_t, STRING_COUNT>& stringPitch,
                    const ConversionSettings& settings) {
    FoldedNote folded;
    if (note < 0 || note >= NOTE_LIMIT) {
        folded.Range = NOTE_DAMAGED;
        return folded;
    }
    int64_t pitch = note;
    const int64_t lowest = stringPitch[5];
    const int64_t highest = int64_t(stringPitch[0]) + settings.MaxFret;
    if (settings.BassMode && pitch >= stringPitch[1])
        pitch -= OCTAVE * OctavesFor(pitch - stringPitch[1] + 1);
    if (settings.ForceFitFret) {
        if (pitch < lowest) pitch += OCTAVE * OctavesFor(lowest - pitch);
        if (pitch > highest) pitch -= OCTAVE * OctavesFor(pitch - highest);
    } else if (pitch < lowest) {
        folded.Range = NOTE_TOO_LOW;
    } else if (pitch > highest) {
        folded.Range = NOTE_TOO_HIGH;
    }
    folded.Pitch = pitch;
    return folded;
}

bool HasPosition(int64_t pitch, const std::array<int16_t, STRING_COUNT>& stringPitch) {
    for (int16_t open : stringPitch)
        if (pitch >= open && pitch - open <= MAX_SEARCH_FRET) return true;
    return false;
}

void PlaceNote(TabColumn& column, int storedNote, char special, uint8_t channel,
               const ConversionSettings& settings,
               const std::array<int16_t, STRING_COUNT>& stringPitch, int& anchor) {
    column.Special = special;
    column.Channel = channel;
    const FoldedNote folded = FoldNote(storedNote, stringPitch, settings);
    switch (folded.Range) {
    case NOTE_DAMAGED:
        column.Label = LABEL_TOO_HIGH;
        return;
    case NOTE_TOO_LOW:
        column.Label = LABEL_TOO_LOW;
        return;
    case NOTE_TOO_HIGH:
        column.Label = LABEL_TOO_HIGH; // still placed where a string holds it
        break;
    case NOTE_PLACEABLE:
        break;
    }
    const int64_t note = folded.Pitch;

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
