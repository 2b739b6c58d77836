#include "formats/ScoreFile.h"

#include "io/SafeOpen.h"

#include <unistd.h>

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
    std::string why;
    std::string bytes;
    const int fd = OpenRegularFile(path, why);
    bool read = fd >= 0;
    if (read) {
        char buffer[1 << 16];
        ssize_t got = 0;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, static_cast<size_t>(got));
        read = got == 0;
        ::close(fd);
    }
    conversion.MidiFileName = path;
    if (!read) {
        // The conversion says why, in the words it uses for every file it cannot open.
        conversion.SetReportSink([](std::string_view) {});
        conversion.ConvertMidiFile();
        conversion.SetReportSink({});
        return false;
    }
    return WriteScore(conversion, bytes, path, options, writer, sink, summary);
}

} // namespace morvel
