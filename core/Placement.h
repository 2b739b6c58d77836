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

} // namespace morvel
