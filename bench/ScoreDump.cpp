// morvel-score-dump: the quantised score of each MIDI file, as the lines the Guitar Pro
// readers of bench/gp5.sh print, so the bench can hold what they read against what we meant.
//   morvel-score-dump [morvel-convert's settings flags and --track N] FILE.mid...
// Per file: "FILE <path>", then "ERROR <text>" or
//   TRACK <index> <name> | <string pitches, highest first>
//   BAR <index> <numerator>/<denominator> <start> <length>
//   TEMPO <tick> <bpm>
//   NOTE <track> <tick> <duration> <string> <fret> <pitch> <tied 0/1> <voice 0/1>
//   LEFTOUT <count of notes without string and fret>
//   END
// Ticks count 960 per quarter note from the song's start; a tempo's tick is its own place.
#include "cli/Options.h"
#include "cli/ToolCommon.h"
#include "core/Conversion.h"
#include "formats/Score.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using namespace morvel;

constexpr uint64_t TICKS_PER_QUARTER = 960;

void Dump(const Score& score, const ScoreSummary& summary, std::string& out) {
    auto Ticks = [&](uint64_t divisions) {
        return divisions * TICKS_PER_QUARTER / score.Divisions;
    };
    for (size_t p = 0; p < score.Parts.size(); ++p) {
        const ScorePart& part = score.Parts[p];
        std::string name = part.Name;
        for (char& c : name)
            if (static_cast<unsigned char>(c) < 0x20) c = '?';
        out += "TRACK " + std::to_string(p) + " " + name + " |";
        for (int pitch : part.Tuning)
            out += " " + std::to_string(pitch);
        out += "\n";
    }
    uint64_t start = 0;
    std::vector<uint64_t> starts;
    for (size_t m = 0; m < score.Measures.size(); ++m) {
        const ScoreMeasure& measure = score.Measures[m];
        starts.push_back(start);
        out += "BAR " + std::to_string(m) + " " + std::to_string(measure.Numerator) + "/" +
               std::to_string(measure.Denominator) + " " + std::to_string(Ticks(start)) + " " +
               std::to_string(Ticks(measure.Length)) + "\n";
        for (const ScoreTempo& tempo : measure.Tempos)
            out += "TEMPO " + std::to_string(Ticks(start + tempo.Position)) + " " +
                   std::to_string(std::lround(tempo.Bpm())) + "\n";
        start += measure.Length;
    }
    for (size_t p = 0; p < score.Parts.size(); ++p) {
        const ScorePart& part = score.Parts[p];
        for (size_t m = 0; m < part.Bars.size() && m < starts.size(); ++m) {
            for (int v = 0; v < 2; ++v) {
                const std::vector<ScoreBeat>& voice = part.Bars[m].Voices[v];
                for (const ScoreBeat& beat : voice) {
                    for (const ScoreNote& note : part.Bars[m].NotesOf(beat)) {
                        if (note.String == NO_STRING) continue;
                        out += "NOTE " + std::to_string(p) + " " +
                               std::to_string(Ticks(starts[m] + beat.Start)) + " " +
                               std::to_string(Ticks(beat.Duration)) + " " +
                               std::to_string(note.String) + " " + std::to_string(note.Fret) + " " +
                               std::to_string(note.Pitch) + " " + (note.TieStop ? " 1 " : " 0 ") +
                               std::to_string(v) + "\n";
                    }
                }
            }
        }
    }
    out += "LEFTOUT " + std::to_string(summary.NotesWithoutPosition) + "\n";
}

} // namespace

int main(int argc, char** argv) {
    cli::Options options;
    std::string error;
    if (!cli::ParseArguments(argc, argv, options, error)) {
        std::fprintf(stderr, "morvel-score-dump: %s\n", error.c_str());
        return cli::EXIT_USAGE;
    }
    StoredSettings stored;
    if (!cli::LoadSettings(options, stored, "morvel-score-dump")) return cli::EXIT_USAGE;
    for (const std::string& input : options.Inputs) {
        std::string out = "FILE " + input + "\n";
        Conversion conversion;
        conversion.Settings = stored.Conv;
        conversion.TuningSettings = stored.TuningSettings;
        std::string errors;
        conversion.SetReporter([&](const std::string& text) { errors += text + " "; });
        std::string bytes;
        ScoreOptions scoreOptions;
        scoreOptions.WorkTitle = std::filesystem::path(input).filename().string();
        if (options.Mode == cli::OutputMode::Track)
            scoreOptions.Tracks.push_back(static_cast<uint32_t>(options.Track - 1));
        Score score;
        ScoreSummary summary;
        std::ifstream in(input, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            out += "ERROR cannot read the file\n";
        } else if (!BuildScore(conversion, bytes, input, scoreOptions, score, summary)) {
            out += "ERROR " + summary.Error + " " + errors + "\n";
        } else {
            Dump(score, summary, out);
        }
        out += "END\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
    return cli::EXIT_OK;
}
