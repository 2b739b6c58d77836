#include "formats/ScoreFile.h"

#include "formats/OpenedSong.h"

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

bool WriteScoreOfFile(Conversion& conversion, const std::string& path, const ScoreOptions& options,
                      const ScoreWriter& writer, const ScoreSink& sink, ScoreSummary& summary) {
    summary = ScoreSummary{};
    std::string bytes;
    if (!ReadSongForConversion(conversion, path, bytes)) return false;
    return WriteScore(conversion, bytes, path, options, writer, sink, summary);
}

} // namespace morvel
