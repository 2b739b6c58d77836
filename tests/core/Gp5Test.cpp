// The Guitar Pro 5 writer: a small generated song against its golden file, the same file from
// two spellings of one score, what the format cannot hold, and every corpus file.
#include "formats/Gp5Writer.h"
#include "formats/ScoreFile.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <tuple>

namespace morvel {
namespace {

using test::MidiBuilder;
using test::TrackBuilder;
using test::TrackOf;

// Division 96. Measure 1 (4/4, 120 bpm): a C major chord (named with Show Chords), an
// eighth-triplet beat, a quarter rest, a quarter tied over the barline. Measure 2 (3/4, 90 bpm
// from its second beat): the tied end, a note below the low string ("?"), a quarter. A bass
// track under it on program 33.
std::string GoldenSong() {
    TrackBuilder conductor;
    conductor.Meta(0, 0x51, std::string("\x07\xA1\x20", 3))
        .Delta(0)
        .Raw({0xFF, 0x58, 4, 4, 2, 24, 8})
        .Delta(384)
        .Raw({0xFF, 0x58, 4, 3, 2, 24, 8})
        .Meta(96, 0x51, std::string("\x0A\x2C\x2B", 3))
        .End(192);
    std::vector<std::tuple<uint32_t, int, int, int>> guitar = {{0, 0xC0, 25, 0}, {672, 0, 0, 0}};
    std::vector<std::tuple<uint32_t, int, int, int>> bass = {{0, 0xC1, 33, 0}, {672, 0, 0, 0}};
    auto note = [](auto& events, int channel, uint32_t start, int key, uint32_t length,
                   int velocity) {
        events.push_back({start, 0x90 | channel, key, velocity});
        events.push_back({start + length, 0x80 | channel, key, 0});
    };
    for (int key : {48, 52, 55, 60})
        note(guitar, 0, 0, key, 96, 100);
    note(guitar, 0, 96, 60, 32, 100);
    note(guitar, 0, 128, 62, 32, 70);
    note(guitar, 0, 160, 64, 32, 40);
    note(guitar, 0, 288, 67, 192, 100);
    note(guitar, 0, 480, 30, 96, 100);
    note(guitar, 0, 576, 69, 96, 100);
    for (uint32_t start : {0u, 192u, 384u, 576u})
        note(bass, 1, start, 40, 96, 90);
    return MidiBuilder(1, 96)
        .Add(conductor)
        .Add(TrackOf(guitar, "Guitar"))
        .Add(TrackOf(bass, "Bass"))
        .Bytes();
}

std::string Write(const Score& score) {
    std::string bytes, error;
    EXPECT_TRUE(Gp5ScoreWriter().Write(
        score, [&](std::string_view c) { bytes.append(c); }, error))
        << error;
    return bytes;
}

TEST(Gp5Test, SmallSongMatchesTheGoldenFile) {
    Conversion conversion;
    conversion.SetReporter([](const std::string& text) { ADD_FAILURE() << text; });
    conversion.Settings.ShowChord = 1;
    conversion.TuningSettings.Transpose = 12; // the notes sound as written
    std::string gp5;
    ScoreSummary summary;
    ScoreOptions options;
    options.WorkTitle = "golden.mid";
    ASSERT_TRUE(WriteScore(
        conversion, GoldenSong(), "golden.mid", options, Gp5ScoreWriter(),
        [&](std::string_view chunk) { gp5.append(chunk); }, summary))
        << summary.Error;
    EXPECT_EQ(summary.Parts, (std::vector<uint32_t>{2, 3}));
    EXPECT_EQ(summary.NotesWithoutPosition, 1u); // the "?" note, left out of the file
    EXPECT_EQ(Gp5ScoreWriter().Summary(summary),
              std::to_string(summary.NotesWritten - 1) +
                  " notes written, 1 without string and fret left out, largest quantisation "
                  "shift 0 ticks");
    ASSERT_GT(gp5.size(), 31u);
    EXPECT_EQ(gp5.substr(0, 25), std::string("\x18") + "FICHIER GUITAR PRO v5.10");

    namespace fs = std::filesystem;
    const fs::path golden = fs::path(MORVEL_GOLDEN_DIR) / "small.gp5";
    if (std::getenv("MORVEL_UPDATE_GOLDEN")) std::ofstream(golden, std::ios::binary) << gp5;
    std::ifstream in(golden, std::ios::binary);
    ASSERT_TRUE(in) << golden;
    const std::string expected((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    EXPECT_EQ(gp5, expected);
}

// A beat of a test bar with its notes.
struct NotedBeat {
    ScoreBeat Beat;
    std::vector<ScoreNote> Notes;
};

// One bar of one part in a 24-division score.
Score OneBar(uint32_t numerator, std::vector<NotedBeat> beats) {
    Score score;
    score.Divisions = 24;
    ScoreMeasure measure;
    measure.Numerator = numerator;
    measure.Length = 24 * numerator;
    measure.KeyChange = true;
    score.Measures = {measure};
    ScorePart part;
    part.Name = "Gtr";
    part.Tuning = {64, 59, 55, 50, 45, 40};
    part.Bars.resize(1);
    for (NotedBeat& beat : beats) {
        part.Bars[0].SetNotes(beat.Beat, beat.Notes);
        part.Bars[0].Voices[0].push_back(beat.Beat);
    }
    score.Parts = {part};
    return score;
}

NotedBeat Beat(uint32_t start, uint32_t duration, NoteValue value, uint8_t dots,
               std::vector<ScoreNote> notes) {
    ScoreBeat beat;
    beat.Start = start;
    beat.Duration = duration;
    beat.Value = value;
    beat.Dots = dots;
    beat.Rest = notes.empty();
    return {beat, std::move(notes)};
}

TEST(Gp5Test, WhatTheFormatHasNoCodeForIsWrittenAsWhatMeansTheSame) {
    const ScoreNote a{57, 3, 2, 95};
    ScoreNote tied = a;
    tied.TieStop = true;
    // A double-dotted quarter is a dotted quarter tied to a sixteenth.
    EXPECT_EQ(Write(OneBar(3, {Beat(0, 42, NoteValue::Quarter, 2, {a}),
                               Beat(42, 30, NoteValue::Quarter, 0, {})})),
              Write(OneBar(3, {Beat(0, 36, NoteValue::Quarter, 1, {a}),
                               Beat(36, 6, NoteValue::Sixteenth, 0, {tied}),
                               Beat(42, 30, NoteValue::Quarter, 0, {})})));
    // A rest filling a 3/4 bar is a dotted half rest.
    NotedBeat whole = Beat(0, 72, NoteValue::Whole, 0, {});
    whole.Beat.WholeMeasureRest = true;
    EXPECT_EQ(Write(OneBar(3, {whole})), Write(OneBar(3, {Beat(0, 72, NoteValue::Half, 1, {})})));
    // A note without string and fret is left out: its beat is a rest; a name ends at NUL.
    Score unplaced =
        OneBar(4, {Beat(0, 96, NoteValue::Whole, 0, {ScoreNote{30, NO_STRING, 0, 95}})});
    unplaced.Parts[0].Name = std::string("Gtr\0\x01", 5);
    EXPECT_EQ(Write(unplaced), Write(OneBar(4, {Beat(0, 96, NoteValue::Whole, 0, {})})));
    // A tie is written only to the same string and fret.
    ScoreNote moved = tied;
    moved.Fret = 3;
    moved.Pitch = 58;
    ScoreNote fresh = moved;
    fresh.TieStop = false;
    EXPECT_EQ(Write(OneBar(2, {Beat(0, 24, NoteValue::Quarter, 0, {a}),
                               Beat(24, 24, NoteValue::Quarter, 0, {moved})})),
              Write(OneBar(2, {Beat(0, 24, NoteValue::Quarter, 0, {a}),
                               Beat(24, 24, NoteValue::Quarter, 0, {fresh})})));
    EXPECT_NE(Write(OneBar(2, {Beat(0, 24, NoteValue::Quarter, 0, {a}),
                               Beat(24, 24, NoteValue::Quarter, 0, {tied})})),
              Write(OneBar(2, {Beat(0, 24, NoteValue::Quarter, 0, {a}),
                               Beat(24, 24, NoteValue::Quarter, 0, {a})})));

    // What it cannot hold at all is refused with a reason.
    NotedBeat septuplet = Beat(0, 24, NoteValue::Eighth, 0, {a});
    septuplet.Beat.Tuplet = {7, 6};
    std::string error;
    EXPECT_FALSE(Gp5ScoreWriter().Write(
        OneBar(1, {septuplet}), [](std::string_view) {}, error));
    EXPECT_EQ(error, "a 7:6 tuplet, which the format cannot hold");
    EXPECT_FALSE(Gp5ScoreWriter().Write(
        Score{}, [](std::string_view) {}, error));
}

#ifdef MORVEL_MIDI_CORPUS
TEST(Gp5Test, EveryCorpusFileWithAScoreIsWritten) {
    namespace fs = std::filesystem;
    const fs::path corpus(MORVEL_MIDI_CORPUS);
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    int written = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() != ".mid") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        Conversion conversion;
        conversion.SetReporter([](const std::string&) {});
        Score score;
        ScoreSummary summary;
        if (!BuildScore(conversion, bytes, entry.path().string(), {}, score, summary)) continue;
        size_t size = 0;
        std::string error;
        EXPECT_TRUE(Gp5ScoreWriter().Write(
            score, [&](std::string_view c) { size += c.size(); }, error))
            << entry.path() << ": " << error;
        EXPECT_GT(size, 0u);
        ++written;
    }
    EXPECT_GT(written, 0);
}
#endif

} // namespace
} // namespace morvel
