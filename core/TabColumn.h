// One column of tablature: the notes that start together, or a marker.
#pragma once

#include "core/Song.h"

#include <cstdint>

namespace morvel {

constexpr uint8_t NO_FRET = 129;
constexpr uint8_t NO_CHANNEL = 130;
constexpr uint8_t LABEL_EMPTY = 131;
constexpr uint8_t LABEL_NOTES = 132;
constexpr uint8_t LABEL_TOO_LOW = 133;
constexpr uint8_t LABEL_TOO_HIGH = 134;
constexpr uint8_t LABEL_BAR = 135;
constexpr uint8_t LABEL_TRACK_START = 136;
constexpr uint8_t LABEL_TRACK_END = 137;

constexpr int MAX_SEARCH_FRET = 21; // highest fret the string search considers, on every string
constexpr int SEARCH_PASSES = 19;   // widest distance the nearest-fret search accepts

struct TabColumn {
    uint8_t Fret[STRING_COUNT] = {NO_FRET, NO_FRET, NO_FRET, NO_FRET, NO_FRET, NO_FRET};
    uint8_t Label = LABEL_EMPTY;
    uint8_t Channel = NO_CHANNEL;
    char Special = ' ';
    // LABEL_TOO_LOW when the column shows frets yet also holds a note below the lowest string
    // that no string could take (the optimised placement keeps the others); drawn as the
    // column's arrow. LABEL_EMPTY otherwise.
    uint8_t Unplaced = LABEL_EMPTY;

    void Clear() { *this = TabColumn{}; }
};

} // namespace morvel
