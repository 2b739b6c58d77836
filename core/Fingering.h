// Optimised fingering: strings and frets for a whole track at once.
//
// Contract of OptimiseTrackFingering:
// - Column by column (a column is a note with a delta time above 0 and the notes of delta time
//   0 after it), gives every note that a string can hold a string and a fret. A pitch sounded
//   twice in a column is played once, on one string.
// - Candidates are the positions the nearest-fret placement may use: the same working tuning,
//   Bass Mode and Force Fit octave folding (FoldNote) and frets 0..MAX_SEARCH_FRET on every
//   string; with MaxFret above MAX_SEARCH_FRET, frets up to MaxFret (at most
//   MAX_OPTIMISED_FRET) as well. Only the choice among them differs.
// - A voicing of a column puts each distinct pitch on its own string and places as many of the
//   column's pitches as any assignment of pitches to strings can (so a column never shows
//   fewer notes than the nearest-fret placement gives it). Its fretted notes (open strings
//   aside) span at most MAX_CHORD_STRETCH frets whenever some such voicing exists; otherwise
//   the wider voicings are allowed at a heavy cost per fret beyond.
// - The column's label: LABEL_NOTES when it places a note within the playable range. A column
//   that places nothing is marked: too low when it holds a note below the lowest string (Force
//   Fit off), else too high. A column whose only placed notes lie above StringPitch[0] +
//   MaxFret is marked too high with their frets recorded, as the nearest-fret placement does.
//   Notes left out (below the lowest string, without any position, or beyond what a voicing
//   holds) carry no fret.
// - It minimises, over the whole track, the sum of the costs of core/FingeringWeights.h: the
//   hand sits in a position (the index finger at a fret, the hand over four frets, a finger
//   reaching one fret further at a cost, a chord spanning five frets or more only with a
//   stretch, cheaper higher up the neck); a shift of the position costs once and per fret,
//   dearer when the columns follow each other quickly; a fretted note costs by itself and per
//   fret up to the index finger, then a weight of its own per fret to the finger that stops
//   it (per fret of the note where a finger reaches or the chord stretches), so the hand
//   stays low on the neck; an open string costs nothing but a little more the higher the hand
//   sits, more in a chord, and more again when the next thicker string could sound it under
//   the hand.
//   Notes still sounding from earlier columns (the track's Durations, when it has one per
//   note: at most 2 distinct pitches among the 16 notes before the column) belong to the
//   column's hand shape: each takes a string the column's own notes leave free, its fret
//   counted in the shape's span and fit to the hand (not in the per-note costs), or it is cut
//   short at a cost. Which string holds it is chosen anew for every column.
//   FingeringCost gives that sum for any placement (with the best hand positions for it).
//   The search is a shortest path over hand positions, so its time and memory grow linearly
//   with the track, whatever the settings.
// - With StringsFromChannels on, a track written string by string keeps its strings instead:
//   when its notes use four to six MIDI channels and, under one numbering of them (channel N
//   names string N, counted from the first (highest) or from the sixth string, the first
//   channel being 0 or 1), every note is playable on the string its channel names within the
//   frets above and no two pitches of one column name one string. Of several numberings that
//   fit, the one with the lowest frets in total is taken.
#pragma once

#include "core/Placement.h"
#include "core/Song.h"
#include "core/TabColumn.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvel {

// Widest distance between the lowest and highest fretted fret of one chord.
constexpr int MAX_CHORD_STRETCH = 4;
// The highest fret the optimised placement uses, with Max Fret at least this high; with a
// lower Max Fret it uses frets up to MAX_SEARCH_FRET, as the nearest-fret placement does.
constexpr int MAX_OPTIMISED_FRET = 24;

// The optimised placement of one track: one position and one column label per note of its
// note list.
class TrackFingering {
  public:
    // Position codes: string (0..5) in the high bits, fret (0..24) in the low five bits; or,
    // for a note left out, why: below the lowest string, or any other reason.
    static constexpr uint8_t COLUMN_TOO_LOW = 0xFE;
    static constexpr uint8_t COLUMN_TOO_HIGH = 0xFF;
    static constexpr int STRING_SHIFT = 5;
    static constexpr uint8_t FRET_MASK = 0x1F;

    TrackFingering() = default;
    // `labels` holds, per note, the label of its column (LABEL_NOTES, LABEL_TOO_LOW or
    // LABEL_TOO_HIGH); it has the size of `positions`.
    TrackFingering(std::vector<uint8_t> positions, std::vector<uint8_t> labels)
        : positions_(std::move(positions)), labels_(std::move(labels)) {}

    // Puts note `noteIndex` into `column` with its optimised position (a note left out writes
    // no fret) and gives the column its label. Special and Channel are set from the note. An
    // index past the track is too high.
    void PlaceNote(TabColumn& column, size_t noteIndex, char special, uint8_t channel) const;

    size_t NoteCount() const { return positions_.size(); }
    // The position code of a note (COLUMN_TOO_HIGH for an index past the track).
    uint8_t Position(size_t noteIndex) const {
        return noteIndex < positions_.size() ? positions_[noteIndex] : COLUMN_TOO_HIGH;
    }
    // The label of the note's column (LABEL_TOO_HIGH for an index past the track).
    uint8_t Label(size_t noteIndex) const {
        return noteIndex < labels_.size() ? labels_[noteIndex] : LABEL_TOO_HIGH;
    }

  private:
    std::vector<uint8_t> positions_;
    std::vector<uint8_t> labels_;
};

// The optimised placement of `track` under the working tuning `stringPitch` and `settings`
// (ForceFitFret, BassMode, MaxFret). `division` (ticks per quarter) scales the time between
// columns.
TrackFingering OptimiseTrackFingering(const TrackRecord& track,
                                      const std::array<int16_t, STRING_COUNT>& stringPitch,
                                      const ConversionSettings& settings, uint32_t division);

// The cost the search minimises, of any placement of `track` (one position code per note;
// notes left out add nothing) under the working tuning `stringPitch` and `settings` (which
// fold the notes still sounding, as for the search). A column holding one string twice counts
// its last fret.
double FingeringCost(const TrackRecord& track, const TrackFingering& placement,
                     const std::array<int16_t, STRING_COUNT>& stringPitch,
                     const ConversionSettings& settings, uint32_t division);

} // namespace morvel
