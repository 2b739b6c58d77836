// Optimised fingering: strings and frets for a whole track at once.
//
// Contract of OptimiseTrackFingering:
// - Assigns every note of the track a string and a fret, column by column (a column is a note
//   with a delta time above 0 and the notes of delta time 0 after it), or marks its column "?".
// - Candidates are exactly the positions the nearest-fret placement may use: the same working
//   tuning, Bass Mode and Force Fit octave folding, the pitch bound StringPitch[0] + MaxFret and
//   frets 0..MAX_SEARCH_FRET on every string. Only the choice among them differs.
// - A voicing of a column holds each distinct pitch on its own string (a pitch sounded twice is
//   played once), and its fretted notes (open strings aside) span at most MAX_CHORD_STRETCH
//   frets.
// - It minimises, over the whole track, the sum of: the moves of the hand (the index
//   finger's fret; the fingers reach three frets above it, a fourth with a stretch; the hand
//   stays put over columns of open strings only), dearer when the columns follow each other
//   quickly and much dearer for jumps longer than a hand's reach; the distance from the hand
//   to a column's lowest fretted note; the span of each chord; a light cost for high frets;
//   less a small bonus for open strings. The search is a shortest path over hand positions,
//   so its time and memory grow linearly with the track, whatever the settings.
// - It refuses nothing silently: a column with a note below the lowest string (Force Fit off)
//   is marked too low, one with a note that has no candidate position, lies above the pitch
//   bound, or cannot be held together with the others by any voicing is marked too high. Every
//   note of such a column carries the mark, so the column is written as "?".
#pragma once

#include "core/Song.h"
#include "core/TabColumn.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvel {

// Widest distance between the lowest and highest fretted fret of one chord.
constexpr int MAX_CHORD_STRETCH = 4;

// The optimised placement of one track: one position per note of its note list.
class TrackFingering {
  public:
    // Position codes: string (0..5) in the high bits, fret (0..21) in the low five bits; or
    // one of the two column marks.
    static constexpr uint8_t COLUMN_TOO_LOW = 0xFE;
    static constexpr uint8_t COLUMN_TOO_HIGH = 0xFF;
    static constexpr int STRING_SHIFT = 5;
    static constexpr uint8_t FRET_MASK = 0x1F;

    TrackFingering() = default;
    explicit TrackFingering(std::vector<uint8_t> positions) : positions_(std::move(positions)) {}

    // Puts note `noteIndex` into `column` as PlaceNote would, with the optimised position:
    // its fret on its string, LABEL_NOTES for a column that was empty, or the column's "?"
    // label. Special and Channel are set from the note. An index past the track is too high.
    void PlaceNote(TabColumn& column, size_t noteIndex, char special, uint8_t channel) const;

    size_t NoteCount() const { return positions_.size(); }
    // The position code of a note (COLUMN_TOO_HIGH for an index past the track).
    uint8_t Position(size_t noteIndex) const {
        return noteIndex < positions_.size() ? positions_[noteIndex] : COLUMN_TOO_HIGH;
    }

  private:
    std::vector<uint8_t> positions_;
};

// The optimised placement of `track` under the working tuning `stringPitch` and `settings`
// (ForceFitFret, BassMode, MaxFret). `division` (ticks per quarter) scales the time between
// columns.
TrackFingering OptimiseTrackFingering(const TrackRecord& track,
                                      const std::array<int16_t, STRING_COUNT>& stringPitch,
                                      const ConversionSettings& settings, uint32_t division);

// Why a stored note has no position, or NOTE_PLACEABLE.
enum NoteRange { NOTE_PLACEABLE, NOTE_TOO_LOW, NOTE_TOO_HIGH };

// The pitch a stored note is placed as, after Bass Mode and Force Fit folding, and whether it
// lies in the playable range (the candidates still have to be found on the strings).
struct FoldedNote {
    int64_t Pitch = 0;
    NoteRange Range = NOTE_PLACEABLE;
};
FoldedNote FoldNote(int note, const std::array<int16_t, STRING_COUNT>& stringPitch,
                    const ConversionSettings& settings);

// True when some string holds `pitch` at a fret from 0 to MAX_SEARCH_FRET.
bool HasPosition(int64_t pitch, const std::array<int16_t, STRING_COUNT>& stringPitch);

} // namespace morvel
