// A MIDI file written in any score format of the table: the score built once, then given to
// the format's writer.
#pragma once

#include "core/Conversion.h"
#include "formats/ScoreWriter.h"

#include <string>
#include <string_view>

namespace morvel {

// Builds the score of `bytes` (named `displayName` in messages) and writes it with `writer`.
// False with `summary.Error` set when no score could be made or the format cannot hold it;
// the conversion's own errors go to its reporter as usual.
bool WriteScore(Conversion& conversion, std::string_view bytes, const std::string& displayName,
                const ScoreOptions& options, const ScoreWriter& writer, const ScoreSink& sink,
                ScoreSummary& summary);

} // namespace morvel
