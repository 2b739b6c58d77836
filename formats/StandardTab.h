// Standard ASCII tablature over the quantised score (formats/Score.h): the plain-text tab
// guitarists post and print, one line per string and several bars to a system.
//
// Contract of StandardTabWriter::Write:
// - A header: "Title: " and the score's title; "Tuning: " and the open strings' note names
//   low to high, followed, when the tuning is not standard, by the name of the tuning preset
//   it matches and the six offsets from standard tuning, low string first ("Tuning: D A D G B E
//   (Drop D: -2 0 0 0 0 0)"); "Tempo: N bpm", the song's first tempo. Then per part a blank
//   line and "Track N: name" (N from 1), its own "Tuning:" line when it differs from the
//   header's, and its systems; a legend ends the text.
// - A system is six lines, highest string first, each the string's note name (the highest in
//   lower case, all padded to one width) and "|", then its bars, each closed by "|". A system
//   takes bars while its lines stay within Width columns; two or more bars in a row without a
//   note (not even a tied one) are drawn as one empty bar with "[N bars rest]" above it. A bar
//   wider than a line on its own is the only one cut: into pieces of at most Width columns,
//   cut between fret numbers and chord names where possible, each piece a system of its own
//   whose lines after the first piece start with the name and a space instead of "|".
// - Above each system one line with the number of its first bar (from 1) at the left and the
//   chord names Show Chords gave, each starting in its chord's column (a chord struck again in
//   its bar is not named again); the names go on a line of their own when they would touch
//   the number.
// - In a bar, time runs left to right: after a leading "-", each beat (the time signature's
//   unit) takes a whole number of columns and its onsets lie in proportion to their time
//   within it (rounded down). A beat takes the fewest columns that give every sixteenth at
//   least one and every onset room for its widest fret number (and its chord name before the
//   next one) and a "-" before the next onset; the bar ends one "-" after its last fret number
//   at the earliest. Frets of one onset start in its column; "-" fills the rest. Both voices
//   share the lines; a tied continuation and a rest add nothing.
// - Nothing is dropped in silence: a note without string and fret, and a note whose string
//   already sounds a fret at that moment, is listed under its system, one line per bar and
//   reason: "bar 12: A1 below the lowest string" (sounding pitch names, sharps, middle C C4).
// - Lines end in a line feed; names are valid UTF-8 (other bytes read as Latin-1, control
//   characters as spaces). The text goes to the sink a system at a time.
#pragma once

#include "core/Song.h"
#include "formats/Score.h"
#include "formats/ScoreWriter.h"

#include <string>
#include <string_view>

namespace morvel {

class StandardTabWriter final : public ScoreWriter {
  public:
    // Lines of at most `width` columns (brought into STANDARD_TAB_MIN_WIDTH ..
    // STANDARD_TAB_MAX_WIDTH); `maxFret` (0 .. 255) is the highest fret the conversion used,
    // named when a note lies above it.
    explicit StandardTabWriter(int width = STANDARD_TAB_WIDTH, int maxFret = 21);

    std::string_view Name() const override { return "Standard tab"; }
    // Its own suffix, so that it never takes the place of the text output of the same song.
    std::string_view Suffix() const override { return ".tab.txt"; }
    std::string_view Filter() const override { return "Standard tab (*.txt)"; }
    bool Write(const Score& score, const ScoreSink& sink, std::string& error) const override;
    std::string Summary(const ScoreSummary& summary) const override;

    int Width() const { return width_; }

  private:
    int width_;
    int maxFret_;
};

} // namespace morvel
