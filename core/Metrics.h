// Playability figures of a placement and the range hint of a track.
//
// The figures are read from the columns the text tablature holds, whichever placement filled
// them: every written column of a track passes through PlayabilityCounter::AddColumn in order.
#pragma once

#include "core/Conversion.h"
#include "core/Song.h"
#include "core/TabColumn.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvel {

// Frets a chord may span, and a hand may shift, before they count as wide or long.
constexpr int PLAYABLE_SPAN = 4;
// Written frets above this one count as high.
constexpr int HIGH_FRET = 12;

struct PlayabilityFigures {
    uint64_t Notes = 0;          // note-ons stored in the track
    uint64_t FretsShown = 0;     // frets written; a "?" column shows none
    uint64_t UnknownColumns = 0; // columns written as "?"
    uint64_t ChordColumns = 0;   // columns with two or more frets written
    uint64_t WideChords = 0;     // chord columns whose fretted frets span more than PLAYABLE_SPAN
    uint64_t Shifts = 0;         // hand shifts measured (between consecutive hand positions)
    uint64_t ShiftFrets = 0;     // their summed length in frets
    uint64_t LongShifts = 0;     // shifts longer than PLAYABLE_SPAN
    uint64_t HighFrets = 0;      // written frets above HIGH_FRET

    double MeanShift() const;     // ShiftFrets / Shifts, 0 without shifts
    double HighFretShare() const; // percent of the written frets that are high
    PlayabilityFigures& operator+=(const PlayabilityFigures& other);
};

// Counts the columns of one track. The hand position of a column is its lowest fretted
// (non-open) fret; markers, "?" columns and columns of open strings only have none and are
// skipped when shifts are measured.
class PlayabilityCounter {
  public:
    void AddColumn(const TabColumn& column);
    const PlayabilityFigures& Figures() const { return figures_; }

  private:
    PlayabilityFigures figures_;
    int lastHand_ = -1;
};

struct TrackPlayability {
    int TrackNumber = 0; // 1-based position in the file
    PlayabilityFigures Figures;
    std::string RangeHint; // empty when the track needs none
};

// Converts conversion.MidiFileName with the conversion's settings and reporter, the report
// text discarded, and returns the figures of every track that has notes. Leaves no report
// sink and no column observer set.
std::vector<TrackPlayability> MeasurePlayability(Conversion& conversion);
// The same for a file in memory; `name` stands in for its path.
std::vector<TrackPlayability> MeasurePlayability(Conversion& conversion, std::string_view bytes,
                                                 const std::string& name);

// One line of figures: "<label>: N notes, N shown as frets, ..." without a line end.
std::string FormatPlayability(const std::string& label, const PlayabilityFigures& figures);

// The hint for a track written an octave low: when at least a fifth of its notes lie below
// the lowest string, Force Fit is off, and transposing 12 semitones further up (within the
// options' range) would place at least nine in ten of those notes, a text such as
// "(41 % below the low string: try Transpose 12)"; otherwise empty. `stringPitch` is the
// working tuning the track was converted with, `transpose` the transposition in it.
std::string RangeHint(const TrackRecord& track,
                      const std::array<int16_t, STRING_COUNT>& stringPitch,
                      const ConversionSettings& settings, int transpose);

} // namespace morvel
