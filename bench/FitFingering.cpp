// fit-fingering-eval: tab accuracy of the optimised fingering under weights read from
// standard input, for bench/fit-fingering. Not installed; the programs use the fitted weights.
//
//   fit-fingering-eval MANIFEST
//
// MANIFEST has one line per piece: the MIDI file, its written fingering (one line per note:
// tick, note number, string with 1 the highest, fret; blank-separated) and the six string
// offsets (--delta1 .. --delta6), tab-separated. Each piece is read once, at Transpose 12 and
// Max Fret 24. Then every line of standard input holding the weights (in the order of
// FingeringWeights) gets one line back: for every piece, the written notes the placement
// matches, in manifest order. Notes are matched by onset tick and note number, in order.
#include "core/Conversion.h"
#include "core/FingeringWeights.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace morvel;

struct Piece {
    Conversion conversion;
    size_t track = 0;
    // Per written note: the index of the note read, or -1; and the code it should have.
    std::vector<long> noteIndex;
    std::vector<uint8_t> code;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool Load(const std::string& line, Piece& piece) {
    std::istringstream fields(line);
    std::string midi, truth, deltas;
    if (!std::getline(fields, midi, '\t') || !std::getline(fields, truth, '\t') ||
        !std::getline(fields, deltas))
        return false;
    std::istringstream d(deltas);
    for (int k = 0; k < STRING_COUNT; ++k)
        d >> piece.conversion.TuningSettings.CustomDelta[static_cast<size_t>(k)];
    piece.conversion.TuningSettings.Transpose = 12;
    piece.conversion.Settings.MaxFret = MAX_OPTIMISED_FRET;
    piece.conversion.Settings.OptimiseFingering = 1; // the reader then keeps the durations
    piece.conversion.SetReportSink([](std::string_view) {});
    piece.conversion.SetReporter([](const std::string&) {});
    piece.conversion.ConvertMidiBytes(ReadAll(midi), midi);
    const std::vector<TrackRecord>& tracks = piece.conversion.TrackList;
    while (piece.track < tracks.size() && tracks[piece.track].Notes.empty())
        ++piece.track;
    if (piece.track == tracks.size()) return false;

    std::map<std::pair<uint64_t, int>, std::vector<long>> byOnset;
    uint64_t tick = 0;
    const std::vector<NoteRecord>& notes = tracks[piece.track].Notes;
    for (size_t i = 0; i < notes.size(); ++i) {
        tick += notes[i].DeltaTime;
        byOnset[{tick, notes[i].Note}].push_back(static_cast<long>(i));
    }
    std::map<std::pair<uint64_t, int>, size_t> taken;
    std::ifstream written(truth);
    uint64_t at = 0;
    int note = 0, string = 0, fret = 0;
    while (written >> at >> note >> string >> fret) {
        const std::pair<uint64_t, int> key{at, note};
        size_t& used = taken[key];
        const auto found = byOnset.find(key);
        piece.noteIndex.push_back(
            found != byOnset.end() && used < found->second.size() ? found->second[used++] : -1);
        piece.code.push_back(
            static_cast<uint8_t>((string - 1) << TrackFingering::STRING_SHIFT | fret));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fit-fingering-eval MANIFEST\n");
        return 2;
    }
    std::vector<std::unique_ptr<Piece>> pieces;
    std::ifstream manifest(argv[1]);
    for (std::string line; std::getline(manifest, line);) {
        auto piece = std::make_unique<Piece>();
        if (!Load(line, *piece)) {
            std::fprintf(stderr, "fit-fingering-eval: cannot read %s\n", line.c_str());
            return 1;
        }
        pieces.push_back(std::move(piece));
    }
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream in(line);
        FingeringWeights w{};
        in >> w.Fret >> w.Fretted >> w.OpenAway >> w.Stretch >> w.Shift >> w.ShiftOnce >> w.Quick >>
            w.Reach >> w.Finger >> w.OpenUnder >> w.ChordOpenAway >> w.StretchHigh >> w.Cut;
        if (!in) {
            std::fprintf(stderr, "fit-fingering-eval: thirteen weights needed per line\n");
            return 2;
        }
        std::string out;
        for (const auto& piece : pieces) {
            const Conversion& c = piece->conversion;
            const TrackFingering placed = OptimiseTrackFingering(
                c.TrackList[piece->track], c.StringPitch, c.Settings, c.Header.Division, w);
            long hits = 0;
            for (size_t i = 0; i < piece->code.size(); ++i)
                if (piece->noteIndex[i] >= 0 &&
                    placed.Position(static_cast<size_t>(piece->noteIndex[i])) == piece->code[i])
                    ++hits;
            out += std::to_string(hits) + ' ';
        }
        out.back() = '\n';
        std::fputs(out.c_str(), stdout);
        std::fflush(stdout);
    }
    return 0;
}
