// The 48 chords the program knows (major, minor, "7" and "m7" on twelve roots) and the
// lookups over them: naming the chord a tablature column forms and finding a chord by name.
#pragma once

#include "core/Song.h"
#include "core/TabColumn.h"

#include <array>
#include <string>
#include <string_view>

namespace morvel {

// Chord index i = 12 x quality + root; roots C, C#, ..., B; qualities major, minor, 7, m7.
extern const std::array<const char*, CHORD_COUNT> ChordNames;
// Twelve characters per chord: 'X' where pitch class p (0 = C) belongs to the chord.
extern const std::array<const char*, CHORD_COUNT> ChordTemplates;
// Fingering per string (first string first): -1 not played, 0 open, 1..5 fret.
extern const std::array<std::array<int32_t, STRING_COUNT>, CHORD_COUNT> ChordFingerings;

// Index of the chord whose template equals the pitch classes the column's frets sound in
// standard tuning (BaseTuning), or -1. The column's label is not consulted.
int ChordIndexOfColumn(const TabColumn& column);
// The name of the chord the column's frets form (as ChordIndexOfColumn), or "   " when they form
// none. Marks nothing used: callers that name a chord for the reader mark it themselves.
std::string_view ChordNameOfColumn(const TabColumn& column);

// Index of the chord named by `text` (spaces and case ignored, "-" after a letter is a flat),
// or -1. `text` is changed in place by the trimming and the flat-to-sharp rewrite.
int FindChordByName(std::string& text);
bool NamesMatch(const char* a, const char* b);
void FlatToSharp(std::string& text);

} // namespace morvel
