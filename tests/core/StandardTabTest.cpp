// Standard ASCII tab of small generated songs against golden files (MORVEL_UPDATE_GOLDEN=1
// writes them instead), and the layout every system keeps.
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

constexpr uint32_t BAR = 384; // 4/4 at division 96

// Notes of one guitar track: (start, key, length); `keys` start together.
struct Song {
    std::vector<std::tuple<uint32_t, int, int, int>> events;
    void Note(uint32_t start, std::initializer_list<int> keys, uint32_t length) {
        for (int key : keys) {
            events.push_back({start, 0x90, key, 100});
            events.push_back({start + length, 0x80, key, 0});
        }
    }
};

// Writes `song` (ending at tick `end`, notes sounding as written) as standard tab at `width`
// columns and compares it with golden file `name`. Every system has six rows of one length
// within `width`, with their barlines in the same columns.
void ExpectTab(Song song, uint32_t end, Conversion& conversion, int width, const char* name) {
    test::TrackBuilder conductor;
    conductor.Tempo().TimeSig(4, 2).End(end);
    song.events.push_back({end, 0, 0, 0});
    const std::string bytes =
        test::MidiBuilder(1, 96).Add(conductor).Add(test::TrackOf(song.events, "Guitar")).Bytes();
    conversion.SetReporter([](const std::string& text) { ADD_FAILURE() << text; });
    conversion.TuningSettings.Transpose = 12;
    ScoreOptions options;
    options.WorkTitle = "song.mid";
    ScoreSummary summary;
    std::string text;
    ASSERT_TRUE(WriteScore(
        conversion, bytes, "song.mid", options,
        StandardTabWriter(width, conversion.Settings.MaxFret),
        [&](std::string_view chunk) { text.append(chunk); }, summary));

    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    for (size_t i = 0; i + SCORE_STRINGS <= lines.size(); ++i) {
        if (!lines[i].starts_with("e|") && !lines[i].starts_with("e ")) continue;
        for (size_t s = 1; s < SCORE_STRINGS; ++s) {
            const std::string& row = lines[i + s];
            ASSERT_EQ(row.size(), lines[i].size()) << row;
            EXPECT_LE(row.size(), static_cast<size_t>(width)) << row;
            for (size_t c = 2; c < row.size(); ++c)
                EXPECT_EQ(row[c] == '|', lines[i][c] == '|') << "column " << c << ": " << row;
        }
    }

    const std::filesystem::path golden = std::filesystem::path(MORVEL_GOLDEN_DIR) / name;
    if (std::getenv("MORVEL_UPDATE_GOLDEN")) {
        OutputFile out;
        std::string error;
        ASSERT_TRUE(out.Open(golden.string(), {}, error)) << error;
        out.Write(text.data(), text.size());
        ASSERT_TRUE(out.Finish(true, error)) << error;
    }
    std::stringstream expected;
    expected << std::ifstream(golden, std::ios::binary).rdbuf();
    EXPECT_EQ(text, expected.str());
}

// Quarters, eighths, sixteenths, eighth triplets, a half tied over the barline, a note below
// the low string and one above the highest fret, a bar of rest and later two in a row.
TEST(StandardTabTest, MelodySpacesEachBeatByItsRhythmAndListsNotesWithoutAPlace) {
    Song song;
    for (int k = 0; k < 4; ++k)
        song.Note(96 * k, {64 + (k ? 2 * k - 1 : 0)}, 96);
    const int eighths[] = {60, 62, 64, 65, 67, 65, 64, 62};
    for (int k = 0; k < 8; ++k)
        song.Note(BAR + 48 * k, {eighths[k]}, 48);
    for (int k = 0; k < 4; ++k)
        song.Note(2 * BAR + 24 * k, {64 - 2 * k + (k == 3)}, 24);
    song.Note(2 * BAR + 96, {57}, 96);
    song.Note(2 * BAR + 192, {55}, 192);
    for (int k = 0; k < 6; ++k)
        song.Note(3 * BAR + 32 * k, {k % 3 == 0 ? 60 : k % 3 == 1 ? 64 : 67}, 32);
    song.Note(3 * BAR + 192, {72}, 288); // into bar 5
    song.Note(4 * BAR + 192, {33}, 96);  // A1: below the low E
    song.Note(4 * BAR + 288, {110}, 96); // D8: above fret 21 of the high E
    song.Note(6 * BAR, {52}, BAR);
    song.Note(9 * BAR, {52}, BAR);
    Conversion conversion;
    ExpectTab(song, 10 * BAR, conversion, 80, "melody.tab.txt");
}

// Named chords (one struck again in its bar is not named again) and a bass held under moving
// eighths in a second voice.
TEST(StandardTabTest, ChordNamesStandAboveTheirColumns) {
    Song song;
    song.Note(0, {48, 52, 55, 60, 64}, 192);
    song.Note(192, {48, 52, 55, 60, 64}, 192);
    song.Note(BAR, {43, 47, 50, 55, 59, 67}, 192);
    song.Note(BAR + 192, {45, 52, 57, 60, 64}, 192);
    song.Note(2 * BAR, {45}, 192);
    song.Note(2 * BAR + 192, {40}, 192);
    const int over[] = {57, 60, 64, 60, 55, 59, 64, 59};
    for (int k = 0; k < 8; ++k)
        song.Note(2 * BAR + 48 * k, {over[k]}, 48);
    song.Note(3 * BAR, {40, 47, 52, 55, 59, 64}, BAR);
    Conversion conversion;
    conversion.Settings.ShowChord = 1;
    ExpectTab(song, 4 * BAR, conversion, 80, "chords.tab.txt");
}

// Two-digit frets at 40 columns: a run of thirty-seconds makes one bar wider than a line,
// the only bar that is cut, between fret numbers.
TEST(StandardTabTest, TwoDigitFretsAlignAndOnlyABarWiderThanALineIsCut) {
    Song song;
    const int high[] = {76, 79, 81, 83};
    for (int k = 0; k < 4; ++k)
        song.Note(96 * k, {high[k]}, 96);
    const int run[] = {74, 76, 78, 79, 81, 83, 81, 79};
    for (int k = 0; k < 16; ++k)
        song.Note(BAR + 12 * k, {run[k % 8]}, 12);
    song.Note(BAR + 192, {76}, 192);
    song.Note(2 * BAR, {57, 64, 69, 73}, BAR);
    Conversion conversion;
    ExpectTab(song, 3 * BAR, conversion, 40, "high-frets.tab.txt");
}

// Drop D: the header names it, the low string is D, a C#2 below it is listed.
TEST(StandardTabTest, DropDNamesItsTuningAndItsLowString) {
    Song song;
    song.Note(0, {38, 45, 50}, 192);
    const int riff[] = {38, 38, 41, 43};
    for (int k = 0; k < 4; ++k)
        song.Note(192 + 48 * k, {riff[k]}, 48);
    song.Note(BAR, {37}, 96);
    song.Note(BAR + 96, {43, 50, 55}, 288);
    Conversion conversion;
    conversion.TuningSettings.CustomDelta[0] = -2;
    ExpectTab(song, 2 * BAR, conversion, 80, "drop-d.tab.txt");
}

} // namespace
} // namespace morvel
