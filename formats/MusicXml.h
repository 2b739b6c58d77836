// MusicXML 4.0 output: the quantised score (formats/Score.h) as a score a notation program
// can edit.
//
// Contract of MusicXmlWriter::Write:
// - Writes one score-partwise document, version 4.0 with its DOCTYPE, to the sink in chunks:
//   one part per part of the score, each with a notation staff (treble clef an octave down)
//   and a six-line TAB staff tuned to the part's open strings. Names and titles hold only
//   characters XML 1.0 allows.
// - The notation staff shows every note of the score; the TAB staff shows the notes that have
//   a string and fret, with <technical> string and fret (on the TAB staff only), and a rest
//   where a beat has none. Both staves have the same beats, in voices 1 (upper) and 2
//   (lower, only in measures that have one); with two voices the notation staff's stems go
//   up and down, and the lower voice's rests (and then the TAB staff's) are not printed.
// - Beams group the beats of an eighth or less by beat (by the dotted quarter in 6/8, 9/8,
//   12/8), with a second and third beam for sixteenths and thirty-seconds.
// - Tempo (first part only): a metronome mark per change; a ritardando as "rit." at its
//   start, the sound alone at its inner steps and the final metronome mark; a return to the
//   tempo before it as "a tempo". <sound tempo> carries each tempo as exactly as the file
//   gives it. Pitches outside C0..G9 are moved by octaves into that range.
// - Memory beyond the score is a few hundred kilobytes: the text goes out as it is made.
#pragma once

#include "core/Conversion.h"
#include "core/Version.h"
#include "formats/Score.h"
#include "formats/ScoreWriter.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace morvel {

class MusicXmlWriter final : public ScoreWriter {
  public:
    std::string_view Name() const override { return "MusicXML"; }
    std::string_view Suffix() const override { return ".musicxml"; }
    std::string_view Filter() const override { return "MusicXML (*.musicxml)"; }
    bool Write(const Score& score, const ScoreSink& sink, std::string& error) const override;

    static const MusicXmlWriter& Instance();
};

using MusicXmlOptions = ScoreOptions;
using MusicXmlSummary = ScoreSummary;
using TextSink = ScoreSink;

// BuildScore, then MusicXmlWriter::Write: the MusicXML of `bytes` (named `displayName` in
// messages). False with `summary.Error` set when the file cannot be read at all or has no
// track to write; the conversion's own errors go to its reporter as usual.
bool WriteMusicXml(Conversion& conversion, std::string_view bytes, const std::string& displayName,
                   const MusicXmlOptions& options, const TextSink& sink,
                   MusicXmlSummary& summary);

} // namespace morvel
