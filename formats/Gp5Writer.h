// Guitar Pro 5 output: the quantised score as a .gp5 file (version 5.10), the file tab
// editors, tab sites and learning programs share.
//
// Contract of Gp5Writer::Write:
// - Writes one file, little-endian throughout, in this order: the version block ("FICHIER
//   GUITAR PRO v5.10" in a 30-byte field), the song information (title from Score::Title,
//   the other fields empty), an empty lyrics block, the master effect block, the page set-up
//   (A4, empty header and footer texts), the first tempo, the first key, the 64-entry MIDI
//   channel table (4 ports of 16), no musical directions, then the measure and track counts,
//   one measure header per measure, one track per part, and every measure of every track.
// - A measure header carries the time signature in the first measure and wherever it
//   changes, and the key in the first measure and wherever the score sets one. A measure
//   shorter than its time signature's bar gets a time signature of its own length (and the
//   next measure the signature back), so every reader starts every measure where it starts.
// - A track: the part's name (cut to 40 bytes), six strings tuned to Part::Tuning (string 1
//   the highest), no capo, 24 frets (more when a note lies higher), the part's MIDI program
//   on a channel of its own (channel 10 of each port is never given, it plays drums), shown
//   as tablature and standard notation.
// - A measure of a track: two voices, as Part::Bars holds them; beats with their note value,
//   one dot (a beat of more dots becomes beats tied together), tuplet (3, 5, 6, 7, 9 .. 13
//   in the time of the next lower power of two, as every reader takes them) and rest; a rest
//   filling its measure is written as the fewest rests that fill it exactly. Each note goes
//   on its string and fret; a note tied from the same string and fret in the beat before it
//   is written as tied. A note without string and fret has no place in the format and is
//   left out of its beat (a beat left with no note becomes a rest). A second note on a string
//   that already has one in that beat (two onsets quantised together) moves to the nearest
//   free string that sounds its pitch within the track's frets, else it is left out too. A
//   chord name goes with its beat as the
//   beat's chord (name and the frets of the beat). Every tempo change after the first goes
//   as a mix-table change on the beat of the first track that sounds at its position.
// - Notes carry no dynamic (all play forte): MIDI velocities vary from note to note, and a tab
//   with a dynamic mark at every change is unreadable.
// - Write fails, with nothing promised about what reached the sink, only for a score the
//   format cannot hold: no part, a tuplet ratio it has no code for, a note value shorter than
//   a sixty-fourth, a time signature outside 1..255 / 1..128.
// - Output goes to the sink in chunks of about 64 KiB; memory beyond the score is one chunk
//   and one bar's worth of beats.
#pragma once

#include "formats/ScoreWriter.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace morvel {

class Gp5Writer final : public ScoreWriter {
  public:
    std::string_view Name() const override { return "Guitar Pro 5"; }
    std::string_view Suffix() const override { return ".gp5"; }
    std::string_view Filter() const override { return "Guitar Pro 5 (*.gp5)"; }
    bool Write(const Score& score, const ScoreSink& sink, std::string& error) const override;
    // "N notes written, M without string and fret left out, largest quantisation shift K
    // ticks": the notes the file holds, and those it could not hold.
    std::string Summary(const ScoreSummary& summary) const override;
};

// The writer of the format table's row.
const ScoreWriter& Gp5ScoreWriter();

} // namespace morvel
