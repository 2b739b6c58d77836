#include "formats/ScoreFile.h"

namespace morvel {

bool WriteScore(Conversion& conversion, std::string_view bytes, const std::string& displayName,
                const ScoreOptions& options, const ScoreWriter& writer, const ScoreSink& sink,
                ScoreSummary& summary) {
    Score score;
    if (!BuildScore(conversion, bytes, displayName, options, score, summary)) return false;
    std::string error;
    if (writer.Write(score, sink, error)) return true;
    summary.Error = error;
    return false;
}

} // namespace morvel
