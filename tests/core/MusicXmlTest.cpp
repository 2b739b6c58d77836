// The timeline reader and the MusicXML writer on small generated files.
#include "formats/MidiTimeline.h"
#include "formats/MusicXml.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(MidiTimelineTest, PairsNotesFirstInFirstOutAndGathersTheConductorMap) {
    TrackBuilder conductor;
    conductor.Meta(0, 0x51, std::string("\x07\xA1\x20", 3)) // 120 bpm
        .Delta(0).Raw({0xFF, 0x58, 4, 3, 2, 24, 8})          // 3/4
        .Delta(0).Raw({0xFF, 0x59, 2, 0xFE, 1})              // two flats, minor
        .Meta(288, 0x51, std::string("\x0F\x42\x40", 3))     // 60 bpm
        .End();
    // Two overlapping notes on one key, a velocity-0 note-off, a program change, a note that
    // is never ended and a note-off with nothing to end.
    TrackBuilder guitar = TrackOf({{0, 0xC1, 24, 0},
                                   {0, 0x91, 60, 90},
                                   {10, 0x91, 60, 80},
                                   {20, 0x81, 60, 0},
                                   {30, 0x91, 60, 0},
                                   {40, 0x91, 64, 70},
                                   {45, 0x81, 65, 0},
                                   {500, 0, 0, 0}});
    guitar.bytes.insert(guitar.bytes.begin(), {0x00, 0xFF, 0x03, 4, 'L', 'e', 'a', 'd'});
    const std::string bytes = MidiBuilder(1, 96).Add(conductor).Add(guitar).Bytes();
    const MidiTimeline song = ReadMidiTimeline(bytes);
    ASSERT_TRUE(song.Valid) << song.Error;
    ASSERT_EQ(song.Tracks.size(), 2u);
    const TimelineTrack& track = song.Tracks[1];
    EXPECT_EQ(track.Name, "Lead");
    EXPECT_EQ(track.Program, 24);
    ASSERT_EQ(track.Notes.size(), 3u);
    EXPECT_EQ(std::make_tuple(track.Notes[0].Start, track.Notes[0].End), std::make_tuple(0u, 20u));
    EXPECT_EQ(std::make_tuple(track.Notes[1].Start, track.Notes[1].End), std::make_tuple(10u, 30u));
    EXPECT_EQ(std::make_tuple(track.Notes[2].Start, track.Notes[2].End), std::make_tuple(40u, 500u));
    EXPECT_EQ(track.Notes[1].Channel, 1);
    EXPECT_EQ(song.LengthTicks, 500u);
    ASSERT_EQ(song.Tempos.size(), 2u);
    EXPECT_EQ(song.Tempos[1].Tick, 288u);
    EXPECT_EQ(song.Tempos[1].MicrosecondsPerQuarter, 1000000u);
    ASSERT_EQ(song.TimeSignatures.size(), 1u);
    EXPECT_EQ(song.TimeSignatures[0].Numerator, 3);
    EXPECT_EQ(song.TimeSignatures[0].Denominator, 4u);
    ASSERT_EQ(song.KeySignatures.size(), 1u);
    EXPECT_EQ(song.KeySignatures[0].Fifths, -2);
    EXPECT_TRUE(song.KeySignatures[0].Minor);

    // Cut anywhere inside, the file is refused with a reason, never read past its end.
    for (size_t size = 0; size < bytes.size(); ++size) {
        const MidiTimeline cut = ReadMidiTimeline(std::string_view(bytes).substr(0, size));
        EXPECT_FALSE(cut.Valid) << size;
        EXPECT_FALSE(cut.Error.empty()) << size;
    }
}

// Division 96. Measure 1 (4/4, 120 bpm): a chord, an eighth-triplet beat (one onset played
// late), a dotted quarter, an eighth rest. Measure 2 (3/4, 90 bpm): a quarter, a note below
// the low string ("?"), a quarter tied over the barline. Measure 3 (6/8): the tied end, two
// sixteenths, rests.
std::string GoldenSong() {
    TrackBuilder conductor;
    conductor.Meta(0, 0x51, std::string("\x07\xA1\x20", 3))
        .Delta(0).Raw({0xFF, 0x58, 4, 4, 2, 24, 8})
        .Delta(0).Raw({0xFF, 0x59, 2, 1, 0})
        .Delta(384).Raw({0xFF, 0x58, 4, 3, 2, 24, 8})
        .Meta(0, 0x51, std::string("\x0A\x2C\x2B", 3))
        .Delta(288).Raw({0xFF, 0x58, 4, 6, 3, 24, 8})
        .End(288);
    std::vector<std::tuple<uint32_t, int, int, int>> events = {{0, 0xC0, 24, 0}, {960, 0, 0, 0}};
    auto note = [&](uint32_t start, int key, uint32_t length) {
        events.push_back({start, 0x90, key, 100});
        events.push_back({start + length, 0x80, key, 0});
    };
    note(0, 52, 96);
    note(0, 55, 96);
    note(0, 59, 96);
    note(0, 64, 96);
    note(96, 60, 32);
    note(128, 62, 32);
    note(163, 64, 29);
    note(192, 67, 144);
    note(384, 69, 96);
    note(480, 35, 96);
    note(576, 71, 192);
    note(768, 72, 24);
    note(792, 74, 24);
    TrackBuilder guitar = TrackOf(events);
    guitar.bytes.insert(guitar.bytes.begin(), {0x00, 0xFF, 0x03, 6, 'G', 'u', 'i', 't', 'a', 'r'});
    return MidiBuilder(1, 96).Add(conductor).Add(guitar).Bytes();
}

TEST(MusicXmlTest, SmallSongMatchesTheGoldenScore) {
    Conversion conversion;
    conversion.SetReporter([](const std::string& text) { ADD_FAILURE() << text; });
    conversion.Settings.ShowChord = 1;
    conversion.TuningSettings.Transpose = 12; // the notes sound as written
    std::string xml;
    MusicXmlSummary summary;
    MusicXmlOptions options;
    options.WorkTitle = "golden.mid";
    ASSERT_TRUE(WriteMusicXml(conversion, GoldenSong(), "golden.mid", options,
                              [&](std::string_view chunk) { xml.append(chunk); }, summary))
        << summary.Error;
    EXPECT_EQ(summary.NotesWritten, 13u);
    EXPECT_EQ(summary.NotesWithoutPosition, 1u); // the note below the low string
    EXPECT_EQ(summary.LargestShift, 3u);         // the late triplet onset
    EXPECT_EQ(summary.Parts, std::vector<uint32_t>{2});

    namespace fs = std::filesystem;
    const fs::path golden = fs::path(MORVEL_GOLDEN_DIR) / "small.musicxml";
    if (std::getenv("MORVEL_UPDATE_GOLDEN")) std::ofstream(golden, std::ios::binary) << xml;
    std::ifstream in(golden, std::ios::binary);
    ASSERT_TRUE(in) << golden;
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(xml, expected.str());
}

// Division 96. Measure 1 (4/4, 100 bpm): a run of eight thirty-seconds, a beat of sixteenth
// triplets, four eighths. Measure 2: a bass held for two beats under moving eighths, twice,
// while the tempo falls in four steps (96, 92, 88, 84). Measure 3 (6/8, back to 100): six
// eighths.
std::string RhythmSong() {
    const auto tempo = [](uint32_t us) {
        return std::string{static_cast<char>(us >> 16), static_cast<char>(us >> 8),
                           static_cast<char>(us)};
    };
    TrackBuilder conductor;
    conductor.Meta(0, 0x51, tempo(600000))
        .Delta(0).Raw({0xFF, 0x58, 4, 4, 2, 24, 8})
        .Meta(384, 0x51, tempo(625000))
        .Meta(96, 0x51, tempo(652174))
        .Meta(96, 0x51, tempo(681818))
        .Meta(96, 0x51, tempo(714286))
        .Meta(96, 0x51, tempo(600000))
        .Delta(0).Raw({0xFF, 0x58, 4, 6, 3, 24, 8})
        .End(288);
    std::vector<std::tuple<uint32_t, int, int, int>> events = {{1056, 0, 0, 0}};
    auto note = [&](uint32_t start, int key, uint32_t length) {
        events.push_back({start, 0x90, key, 100});
        events.push_back({start + length, 0x80, key, 0});
    };
    const int run[] = {64, 65, 67, 69, 71, 72, 74, 76};
    for (int k = 0; k < 8; ++k)
        note(12 * k, run[k], 12);
    for (int k = 0; k < 6; ++k)
        note(96 + 16 * k, run[7 - k], 16);
    for (int k = 0; k < 4; ++k)
        note(192 + 48 * k, 67 + 2 * k, 48);
    note(384, 40, 192);
    note(576, 45, 192);
    for (int k = 0; k < 8; ++k)
        note(384 + 48 * k, k % 2 ? 67 : 64, 48);
    for (int k = 0; k < 6; ++k)
        note(768 + 48 * k, 60 + k, 48);
    TrackBuilder guitar = TrackOf(events);
    return MidiBuilder(1, 96).Add(conductor).Add(guitar).Bytes();
}

// Compares `xml` with the golden file `name` (MORVEL_UPDATE_GOLDEN=1 writes it instead).
void ExpectGolden(const std::string& xml, const char* name) {
    namespace fs = std::filesystem;
    const fs::path golden = fs::path(MORVEL_GOLDEN_DIR) / name;
    if (std::getenv("MORVEL_UPDATE_GOLDEN")) std::ofstream(golden, std::ios::binary) << xml;
    std::ifstream in(golden, std::ios::binary);
    ASSERT_TRUE(in) << golden;
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(xml, expected.str());
}

TEST(MusicXmlTest, RhythmBeamsVoicesAndTempoMatchTheGoldenScore) {
    Conversion conversion;
    conversion.SetReporter([](const std::string& text) { ADD_FAILURE() << text; });
    conversion.TuningSettings.Transpose = 12;
    std::string xml;
    MusicXmlSummary summary;
    MusicXmlOptions options;
    options.WorkTitle = "rhythm.mid";
    ASSERT_TRUE(WriteMusicXml(conversion, RhythmSong(), "rhythm.mid", options,
                              [&](std::string_view chunk) { xml.append(chunk); }, summary))
        << summary.Error;
    EXPECT_EQ(summary.NotesWritten, 34u);
    EXPECT_EQ(summary.LargestShift, 0u); // every onset and end lies on its beat's grid
    ExpectGolden(xml, "rhythm.musicxml");
}

// The same note twice at one time is one note; with the optimised fingering every other note
// keeps a string, and names holding characters XML does not allow still give a document.
TEST(MusicXmlTest, DuplicatesMergeNoNoteIsLostAndNamesStayXml) {
    std::vector<std::tuple<uint32_t, int, int, int>> events = {{300, 0, 0, 0}};
    for (int key : {52, 52, 59, 64}) {
        events.push_back({0, 0x90, key, 100});
        events.push_back({96, 0x80, key, 0});
    }
    events.push_back({96, 0x90, 76, 100});
    events.push_back({192, 0x80, 76, 0});
    TrackBuilder guitar = TrackOf(events);
    const std::string name("Lead \xEF\xBF\xBE\xEF\xBF\xBF \xED\xA0\x80 \x01", 15);
    guitar.bytes.insert(guitar.bytes.begin(), name.begin(), name.end());
    guitar.bytes.insert(guitar.bytes.begin(), {0x00, 0xFF, 0x03, static_cast<uint8_t>(name.size())});
    const std::string bytes = MidiBuilder(1, 96).Add(guitar).Bytes();
    for (int optimise = 0; optimise < 2; ++optimise) {
        Conversion conversion;
        conversion.SetReporter([](const std::string& text) { ADD_FAILURE() << text; });
        conversion.TuningSettings.Transpose = 12;
        conversion.Settings.OptimiseFingering = optimise;
        std::string xml;
        MusicXmlSummary summary;
        ASSERT_TRUE(WriteMusicXml(conversion, bytes, "dup.mid", {},
                                  [&](std::string_view chunk) { xml.append(chunk); }, summary));
        EXPECT_EQ(summary.NotesWritten, 4u) << optimise;
        EXPECT_EQ(summary.NotesWithoutPosition, 0u) << optimise;
        // Each note once on each staff; on the TAB staff each on a string of its own.
        size_t notes = 0, strings = 0;
        for (size_t at = 0; (at = xml.find("<pitch>", at)) != std::string::npos; ++at) ++notes;
        for (size_t at = 0; (at = xml.find("<string>", at)) != std::string::npos; ++at) ++strings;
        EXPECT_EQ(notes, 8u) << optimise;
        EXPECT_EQ(strings, 4u) << optimise;
        EXPECT_NE(xml.find("<part-name>Lead \xEF\xBF\xBD\xEF\xBF\xBD \xC3\xAD"), std::string::npos)
            << xml.substr(0, 600);
        EXPECT_EQ(xml.find("\xEF\xBF\xBE"), std::string::npos);
        EXPECT_EQ(xml.find('\x01'), std::string::npos);
    }
}

TEST(MusicXmlTest, TracksToWriteAndDrumsLeftOut) {
    TrackBuilder guitar, drums;
    guitar.Note(0, 64, 96).End();
    drums.Note(0, 36, 96, 9).Note(0, 38, 96, 9).End();
    const std::string bytes = MidiBuilder(1, 96).Add(guitar).Add(drums).Bytes();
    Conversion conversion;
    conversion.SetReporter([](const std::string&) {});
    MusicXmlSummary summary;
    std::string xml;
    auto sink = [&](std::string_view chunk) { xml.append(chunk); };
    ASSERT_TRUE(WriteMusicXml(conversion, bytes, "d.mid", {}, sink, summary));
    EXPECT_EQ(summary.Parts, std::vector<uint32_t>{1});
    EXPECT_EQ(summary.DrumTracks, std::vector<uint32_t>{2});
    // Asked for by number, the drum track is written; a track without notes is refused.
    MusicXmlOptions second;
    second.Tracks = {1};
    ASSERT_TRUE(WriteMusicXml(conversion, bytes, "d.mid", second, sink, summary));
    EXPECT_EQ(summary.Parts, std::vector<uint32_t>{2});
    second.Tracks = {5};
    EXPECT_FALSE(WriteMusicXml(conversion, bytes, "d.mid", second, sink, summary));
    EXPECT_EQ(summary.Error, "track 6 has no notes");
}

} // namespace
} // namespace morvel
