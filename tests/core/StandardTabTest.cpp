// Standard ASCII tab of small generated songs, compared with golden files
// (MORVEL_UPDATE_GOLDEN=1 writes them instead), and the layout rules every system keeps.
#include "formats/StandardTab.h"
#include "formats/ScoreFile.h"
#include "io/OutputFile.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

namespace morvel {
namespace {

using test::MidiBuilder;
using test::TrackBuilder;
using test::TrackOf;

// Division 96, 4/4 at 120 bpm: a conductor track and one guitar track of the notes added.
class SongMaker {
  public:
    void Note(uint32_t start, int key, uint32_t length) {
        events_.push_back({start, 0x90, key, 100});
        events_.push_back({start + length, 0x80, key, 0});
    }
    void Chord(uint32_t start, std::initializer_list<int> keys, uint32_t length) {
        for (int key : keys)
            Note(start, key, length);
    }
    std::string Bytes(uint32_t end) const {
        TrackBuilder conductor;
        conductor.Tempo().TimeSig(4, 2).End(end);
        auto events = events_;
        events.push_back({end, 0, 0, 0});
        return MidiBuilder(1, 96).Add(conductor).Add(TrackOf(events, "Guitar")).Bytes();
    }

  private:
    std::vector<std::tuple<uint32_t, int, int, int>> events_;
};

constexpr uint32_t BAR = 384;

// The standard tab of `bytes` at `width` columns; notes sound as written.
std::string TabOf(const std::string& bytes, int width, Conversion& conversion) {
    conversion.SetReporter([](const std::string& text) { ADD_FAILURE() << text; });
    conversion.TuningSettings.Transpose = 12;
    ScoreOptions options;
    options.WorkTitle = "song.mid";
    ScoreSummary summary;
    std::string text;
    EXPECT_TRUE(WriteScore(
        conversion, bytes, "song.mid", options,
        StandardTabWriter(width, conversion.Settings.MaxFret),
        [&](std::string_view chunk) { text.append(chunk); }, summary))
        << summary.Error;
    return text;
}

// Every system: six rows of one length within `width`, their barlines in the same columns,
// each row starting with its string's name; only a bar wider than a line is cut.
void ExpectSystemsKeepTheLayout(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    int systems = 0;
    for (size_t i = 0; i + SCORE_STRINGS <= lines.size(); ++i) {
        if (lines[i].size() < 2 || (lines[i][1] != '|' && lines[i][1] != ' ') ||
            lines[i].find('-') == std::string::npos)
            continue;
        ++systems;
        for (size_t s = 0; s < SCORE_STRINGS; ++s) {
            const std::string& row = lines[i + s];
            EXPECT_EQ(row.size(), lines[i].size()) << row;
            EXPECT_LE(row.size(), width) << row;
            for (size_t c = 2; c < row.size(); ++c)
                EXPECT_EQ(row[c] == '|', lines[i][c] == '|') << "column " << c << ": " << row;
        }
        i += SCORE_STRINGS - 1;
    }
    EXPECT_GT(systems, 0);
}

void ExpectGolden(const std::string& text, const char* name) {
    namespace fs = std::filesystem;
    const fs::path golden = fs::path(MORVEL_GOLDEN_DIR) / name;
    if (std::getenv("MORVEL_UPDATE_GOLDEN")) {
        OutputFile out;
        std::string error;
        ASSERT_TRUE(out.Open(golden.string(), {}, error)) << error;
        out.Write(text.data(), text.size());
        ASSERT_TRUE(out.Finish(true, error)) << error;
    }
    std::ifstream in(golden, std::ios::binary);
    ASSERT_TRUE(in) << golden;
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(text, expected.str());
}

// Quarters, eighths, sixteenths, eighth triplets, a half tied over the barline, a note below
// the low string and one above the highest fret, a bar of rest and later two in a row.
TEST(StandardTabTest, MelodySpacesEachBarByItsRhythmAndListsNotesWithoutAPlace) {
    SongMaker song;
    const int quarters[] = {64, 65, 67, 69};
    for (int k = 0; k < 4; ++k)
        song.Note(96 * k, quarters[k], 96);
    const int eighths[] = {60, 62, 64, 65, 67, 65, 64, 62};
    for (int k = 0; k < 8; ++k)
        song.Note(BAR + 48 * k, eighths[k], 48);
    const int sixteenths[] = {64, 62, 60, 59};
    for (int k = 0; k < 4; ++k)
        song.Note(2 * BAR + 24 * k, sixteenths[k], 24);
    song.Note(2 * BAR + 96, 57, 96);
    song.Note(2 * BAR + 192, 55, 192);
    for (int k = 0; k < 6; ++k)
        song.Note(3 * BAR + 32 * k, k % 3 == 0 ? 60 : k % 3 == 1 ? 64 : 67, 32);
    song.Note(3 * BAR + 192, 72, 288); // into bar 5
    song.Note(4 * BAR + 192, 33, 96);  // A1: below the low E
    song.Note(4 * BAR + 288, 110, 96); // D8: above fret 21 of the high E
    song.Note(6 * BAR, 52, BAR);
    song.Note(9 * BAR, 52, BAR);
    Conversion conversion;
    const std::string tab = TabOf(song.Bytes(10 * BAR), 80, conversion);
    ExpectSystemsKeepTheLayout(tab, 80);
    ExpectGolden(tab, "melody.tab.txt");
}

// Named chords (a chord struck again in its bar not named again), a bass held under moving
// eighths in a second voice.
TEST(StandardTabTest, ChordNamesStandAboveTheirColumns) {
    SongMaker song;
    const std::initializer_list<int> c = {48, 52, 55, 60, 64}, g = {43, 47, 50, 55, 59, 67},
                                     am = {45, 52, 57, 60, 64}, em = {40, 47, 52, 55, 59, 64};
    song.Chord(0, c, 192);
    song.Chord(192, c, 192);
    song.Chord(BAR, g, 192);
    song.Chord(BAR + 192, am, 192);
    song.Note(2 * BAR, 45, 192);
    song.Note(2 * BAR + 192, 40, 192);
    const int over[] = {57, 60, 64, 60, 55, 59, 64, 59};
    for (int k = 0; k < 8; ++k)
        song.Note(2 * BAR + 48 * k, over[k], 48);
    song.Chord(3 * BAR, em, BAR);
    Conversion conversion;
    conversion.Settings.ShowChord = 1;
    const std::string tab = TabOf(song.Bytes(4 * BAR), 80, conversion);
    ExpectSystemsKeepTheLayout(tab, 80);
    ExpectGolden(tab, "chords.tab.txt");
}

// Two-digit frets high on the neck at 40 columns: a run of thirty-seconds makes one bar wider
// than a line, the only bar that is cut.
TEST(StandardTabTest, TwoDigitFretsAlignAndOnlyABarWiderThanALineIsCut) {
    SongMaker song;
    const int high[] = {76, 79, 81, 83};
    for (int k = 0; k < 4; ++k)
        song.Note(96 * k, high[k], 96);
    const int run[] = {74, 76, 78, 79, 81, 83, 81, 79};
    for (int k = 0; k < 16; ++k)
        song.Note(BAR + 12 * k, run[k % 8], 12);
    song.Note(BAR + 192, 76, 192);
    song.Chord(2 * BAR, {57, 64, 69, 73}, BAR);
    Conversion conversion;
    const std::string tab = TabOf(song.Bytes(3 * BAR), 40, conversion);
    ExpectSystemsKeepTheLayout(tab, 40);
    ExpectGolden(tab, "high-frets.tab.txt");
}

// Drop D: the header names it, the low string is D, a C#2 below it is listed.
TEST(StandardTabTest, DropDNamesItsTuningAndItsLowString) {
    SongMaker song;
    song.Chord(0, {38, 45, 50}, 192);
    song.Note(192, 38, 48);
    song.Note(240, 38, 48);
    song.Note(288, 41, 48);
    song.Note(336, 43, 48);
    song.Note(BAR, 37, 96);
    song.Chord(BAR + 96, {43, 50, 55}, 288);
    Conversion conversion;
    conversion.TuningSettings.CustomDelta[0] = -2;
    const std::string tab = TabOf(song.Bytes(2 * BAR), 80, conversion);
    ExpectSystemsKeepTheLayout(tab, 80);
    ExpectGolden(tab, "drop-d.tab.txt");
}

} // namespace
} // namespace morvel
