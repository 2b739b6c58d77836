#include "tests/core/CoreTestSupport.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include "io/TempFiles.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace morvel {
namespace {

namespace fs = std::filesystem;
using test::ConvertBytes;
using test::Lines;
using test::MidiBuilder;
using test::TrackBuilder;

// The lines of track `section` (1-based) of a report, without its heading.
std::vector<std::string> TabLines(const std::string& report, int section) {
    std::vector<std::string> lines = Lines(ExtractReportText(report, section));
    auto blank = std::find(lines.begin(), lines.end(), "");
    if (blank != lines.end()) lines.erase(lines.begin(), blank + 1);
    return lines;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Report, ChordColumnBarAndHighFretAsText) {
    TrackBuilder t;
    t.NoteOn(0, 60).NoteOn(0, 64).NoteOn(0, 67).NoteOn(0, 72).NoteOn(0, 76).NoteOn(384, 88).End();
    Conversion conv;
    conv.Settings.ShowChord = 1;
    auto out = ConvertBytes(conv, MidiBuilder(0).Add(t).Bytes());
    std::vector<std::string> lines = TabLines(out.report, 1);
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0], "|---0-| |-12--|");
    EXPECT_EQ(lines[1], "|M--1-| |----M|");
    EXPECT_EQ(lines[2], "|O--0-| |----O|");
    EXPECT_EQ(lines[3], "|R--2-| |----R|");
    EXPECT_EQ(lines[4], "|V--3-| |----V|");
    EXPECT_EQ(lines[5], "|-----| |-----|");
    EXPECT_EQ(lines[6], "     C         ");
    EXPECT_EQ(lines[7], "");
    // The chord section lists the chord with its diagram.
    const std::string diagram = "C:\r\no|------\r\n |X-----\r\no|------\r\n |-X----\r\n"
                                " |--X---\r\nx|------\r\n\r\n";
    EXPECT_NE(out.report.find("Chords:\r\n\r\n" + diagram + "\r\n"), std::string::npos);
}

TEST(Report, LongTracksWrapWithTheBarRepeatedOnTheNextLine) {
    TrackBuilder t;
    t.NoteOn(0, 60);
    for (int i = 1; i < 40; ++i)
        t.NoteOn(96, 60);
    t.End();
    auto out = ConvertBytes(MidiBuilder(0).Add(t).Bytes());
    std::vector<std::string> lines = TabLines(out.report, 1);
    ASSERT_GE(lines.size(), 14u);
    EXPECT_EQ(lines[4], "|V--3--3--3--3-| |-3--3--3--3-| |-3--3--3--3-| |-3--3--3--3-| "
                        "|-3--3--3--3-|  ");
    EXPECT_EQ(lines[0].size(), 78u);
    EXPECT_EQ(lines[6], "");
    EXPECT_EQ(lines[11], "  |-3--3--3--3-| |-3--3--3--3-| |-3--3--3--3-| |-3--3--3--3-| "
                         "|-3--3--3--3--V|");
    EXPECT_EQ(lines[7], "  |------------| |------------| |------------| |------------| "
                        "|--------------|");
}

TEST(Report, BarsForEveryMeasureCrossedAndNoneWithoutAMeasureLength) {
    TrackBuilder t;
    t.NoteOn(0, 64).NoteOn(1152, 64).End();
    auto out = ConvertBytes(MidiBuilder(0).Add(t).Bytes());
    EXPECT_EQ(TabLines(out.report, 1)[3], "|R--2-| || || |-2--R|");

    TrackBuilder zero;
    zero.TimeSig(0, 2).NoteOn(0, 64).NoteOn(1152, 64).End();
    out = ConvertBytes(MidiBuilder(0).Add(zero).Bytes());
    EXPECT_EQ(TabLines(out.report, 1)[3], "|R--2--2--R|");
    EXPECT_NE(out.report.find("Time Signature: 0/4."), std::string::npos);
}

TEST(Report, MarkersSpecialLettersAndChordNameSlices) {
    TrackBuilder t;
    // Too low, too high with a controller letter, then C#m7 (C# E G# C) as frets 4 2 5 2.
    t.NoteOn(0, 40).NoteOn(10, 100).Delta(0).Raw({0xB0, 1, 1});
    t.NoteOn(10, 80).NoteOn(0, 73).NoteOn(0, 72).NoteOn(0, 64).End();
    Conversion conv;
    conv.Settings.ShowChord = 1;
    conv.Settings.ShowSpecial = 1;
    auto out = ConvertBytes(conv, MidiBuilder(0).Add(t).Bytes());
    std::vector<std::string> lines = TabLines(out.report, 1);
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines[0], "|------?--4---|");
    EXPECT_EQ(lines[2], "|O--------5--O|");
    EXPECT_EQ(lines[5], "|---?---------|");
    EXPECT_EQ(lines[6], "       C       ");
    EXPECT_EQ(lines[7], "         C#m   ");
    EXPECT_EQ(lines[8], "           7   ");
    EXPECT_EQ(lines[9], "");
}

TEST(Report, PreambleSeparatorsAndEmptyTracks) {
    TrackBuilder a, empty, c;
    a.Name("Lead").NoteOn(0, 64).End();
    empty.Name("Silent").End();
    c.NoteOn(0, 52).End();
    auto out = ConvertBytes(MidiBuilder(1).Add(a).Add(empty).Add(c).Bytes());
    EXPECT_TRUE(out.errors.empty());
    std::vector<std::string> pre = Lines(ExtractReportText(out.report, 0));
    ASSERT_EQ(pre.size(), 9u);
    EXPECT_EQ(pre[1], std::string(40, ' '));
    EXPECT_EQ(pre[4], "Filename:     test.mid");
    EXPECT_EQ(pre[5], "Type:         Multiple Simultaneous Tracks");
    EXPECT_EQ(pre[6], "Tracks:       3");
    EXPECT_EQ(pre[7], "Empty Tracks: 1");
    EXPECT_EQ(pre[8], "");
    EXPECT_NE(out.report.find("\r\n\xFA\xFATrack 3:"), std::string::npos);
    EXPECT_EQ(ExtractReportText(out.report, 2), "");
    EXPECT_TRUE(out.report.ends_with("--|\r\n\r\n\r\n"));
    EXPECT_NE(out.report.find("Track 1:\r\nName: Lead.\r\nTime Signature: 4/4.\r\n\r\n|--"),
              std::string::npos);

    auto none = ConvertBytes(MidiBuilder(0).Announce(0).Bytes());
    EXPECT_EQ(std::count(none.report.begin(), none.report.end(), TRACK_SEPARATOR), 0);
    EXPECT_TRUE(none.report.ends_with("Tracks:       0\r\nEmpty Tracks: 0\r\n\r\n\r\n"));
}

TEST(Report, EveryLineEndsInCarriageReturnLineFeed) {
    TrackBuilder t;
    for (int i = 0; i < 100; ++i)
        t.NoteOn(i % 3 ? 0 : 48, 48 + i % 40);
    t.End();
    Conversion conv;
    conv.Settings.ShowChord = conv.Settings.ShowSpecial = 1;
    auto out = ConvertBytes(conv, MidiBuilder(0).Add(t).Bytes());
    for (size_t i = 0; i < out.report.size(); ++i)
        if (out.report[i] == '\n') {
            ASSERT_TRUE(i > 0 && out.report[i - 1] == '\r') << "at byte " << i;
        }
    EXPECT_EQ(out.report.find("\r\r"), std::string::npos);
}

TEST(Report, RunawayDeltaTimesEndTheTrackWithAMessage) {
    TrackBuilder runaway, next;
    runaway.NoteOn(0, 64).NoteOn(0x0FFFFFFF, 64).End();
    next.NoteOn(0, 52).End();
    auto out = ConvertBytes(MidiBuilder(1, 1).Add(runaway).Add(next).Bytes());
    ASSERT_EQ(out.errors.size(), 1u);
    EXPECT_NE(out.errors[0].find("Track 1 "), std::string::npos) << out.errors[0];
    // The track keeps everything up to a bound of at least a million columns.
    const size_t at = out.errors[0].find("after ");
    ASSERT_NE(at, std::string::npos);
    const unsigned long long columns = std::stoull(out.errors[0].substr(at + 6));
    EXPECT_GE(columns, 1'000'000u);
    EXPECT_LE(columns, MAX_TRACK_COLUMNS);
    EXPECT_LT(out.report.size(), 200'000'000u);
    EXPECT_NE(ExtractReportText(out.report, 2).find("|V-"), std::string::npos)
        << "the next track is still converted";
}

TEST(Report, ManyRunawayTracksStopTheWholeReportWithOneMoreMessage) {
    MidiBuilder song(1, 1);
    for (int i = 0; i < 6; ++i) {
        TrackBuilder runaway;
        runaway.NoteOn(0, 64).NoteOn(0x0FFFFFFF, 64).End();
        song.Add(runaway);
    }
    auto out = ConvertBytes(song.Bytes());
    ASSERT_EQ(out.errors.size(), 2u);
    EXPECT_TRUE(out.errors[0].starts_with("Track 1 is too long")) << out.errors[0];
    EXPECT_TRUE(out.errors[1].starts_with("The tablature of 'test.mid' is too long to write out: "
                                          "it stops in track 2"))
        << out.errors[1];
    // Every track keeps its separator; the tracks after the bound are empty.
    EXPECT_EQ(std::count(out.report.begin(), out.report.end(), TRACK_SEPARATOR), 6);
    EXPECT_EQ(ExtractReportText(out.report, 3), "");
    EXPECT_LT(out.report.size(), MAX_CONVERSION_COLUMNS * 30);
}

TEST(Report, ControlBytesInTheFileNameAreBlankedInTheReportAndEscapedInMessages) {
    TrackBuilder t;
    t.NoteOn(0, 64).End();
    Conversion conv;
    const std::string name = "two\nlines\x01\xFA.mid";
    auto out = ConvertBytes(conv, MidiBuilder(0).Add(t).Bytes(), name);
    EXPECT_NE(out.report.find("\r\nFilename:     two lines  .mid\r\nType:"), std::string::npos)
        << out.report;
    EXPECT_EQ(std::count(out.report.begin(), out.report.end(), TRACK_SEPARATOR), 1);
    EXPECT_EQ(conv.MessageFileName(), "two\\nlines\\x01\xFA.mid");

    out = ConvertBytes(conv, "MThd", name);
    ASSERT_EQ(out.errors.size(), 2u);
    EXPECT_EQ(out.errors[0], "Can't read MIDI file header from 'two\\nlines\\x01\xFA.mid'.");

    // A name of printable text, UTF-8 included, goes into the report as it is.
    out = ConvertBytes(conv, MidiBuilder(0).Add(t).Bytes(), "Chanson d\xC3\xA9t\xC3\xA9.mid");
    EXPECT_NE(out.report.find("Filename:     Chanson d\xC3\xA9t\xC3\xA9.mid\r\n"),
              std::string::npos);
}

TEST(Report, ConvertingTwiceGivesTheSameReportAndSong) {
    TrackBuilder t;
    t.TimeSig(3, 2).Name("Waltz").Note(0, 55, 90).Note(6, 59, 90).Note(6, 62, 90).Note(6, 67, 300);
    t.End();
    std::string bytes = MidiBuilder(0).Add(t).Bytes();
    Conversion conv;
    conv.Settings.ShowChord = 1;
    auto first = ConvertBytes(conv, bytes);
    auto second = ConvertBytes(conv, bytes);
    EXPECT_EQ(first.report, second.report);
    EXPECT_EQ(conv.TrackList.size(), 1u);
    EXPECT_EQ(conv.TrackList[0].Notes.size(), 4u);
}

class ReportFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("morvel-report-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        const char* old = std::getenv("TMPDIR");
        saved = old ? old : "";
        hadTmp = old != nullptr;
        ::setenv("TMPDIR", dir.c_str(), 1);
        TrackBuilder t;
        t.NoteOn(0, 64).End();
        midi = dir / "song.mid";
        std::ofstream(midi, std::ios::binary) << MidiBuilder(0).Add(t).Bytes();
    }
    void TearDown() override {
        if (hadTmp)
            ::setenv("TMPDIR", saved.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        fs::remove_all(dir);
    }
    fs::path dir, midi;
    std::string saved;
    bool hadTmp = false;
};

TEST_F(ReportFileTest, UniquePrivateFileInTheTemporaryFolder) {
    Conversion conv;
    conv.MidiFileName = midi.string();
    conv.ConvertMidiFile();
    fs::path report = conv.TempFileName;
    EXPECT_EQ(report.parent_path(), dir);
    const std::string name = report.filename().string();
    EXPECT_TRUE(name.starts_with("MORVEXX-") && name.ends_with(".TMP")) << name;
    EXPECT_EQ(name.size(), std::string("MORVEXX-XXXXXX.TMP").size());
    struct stat info {};
    ASSERT_EQ(::stat(report.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const std::string text = ReadFile(report);
    EXPECT_NE(text.find("\xFATrack 1:\r\n"), std::string::npos);

    // A second program's conversion gets its own file; a reconversion replaces its own.
    Conversion other;
    other.MidiFileName = midi.string();
    other.ConvertMidiFile();
    EXPECT_NE(other.TempFileName, conv.TempFileName);
    conv.ConvertMidiFile();
    EXPECT_FALSE(fs::exists(report));
    EXPECT_TRUE(fs::exists(conv.TempFileName));
    EXPECT_EQ(ReadFile(conv.TempFileName), text);

    const std::string last = conv.TempFileName;
    conv.DeleteReportFile();
    EXPECT_FALSE(fs::exists(last));
    EXPECT_TRUE(conv.TempFileName.empty());

    // A conversion object takes its report with it.
    std::string gonePath;
    {
        Conversion gone;
        gone.MidiFileName = midi.string();
        gone.ConvertMidiFile();
        gonePath = gone.TempFileName;
        EXPECT_TRUE(fs::exists(gonePath));
    }
    EXPECT_FALSE(fs::exists(gonePath));
}

TEST_F(ReportFileTest, APlantedLinkIsNeverWrittenThrough) {
    fs::path target = dir / "victim.txt";
    std::ofstream(target) << "keep";
    for (const char* name : {"MORVEXX.TMP", "MORVEXX-XXXXXX.TMP"})
        fs::create_symlink(target, dir / name);
    Conversion conv;
    conv.MidiFileName = midi.string();
    conv.ConvertMidiFile();
    EXPECT_EQ(ReadFile(target), "keep");
    EXPECT_FALSE(fs::is_symlink(conv.TempFileName));
    conv.DeleteReportFile();
}

TEST_F(ReportFileTest, AnUnwritableTemporaryFolderIsReported) {
    ::setenv("TMPDIR", (dir / "missing").c_str(), 1);
    Conversion conv;
    std::vector<std::string> errors;
    conv.SetReporter([&](const std::string& text) { errors.push_back(text); });
    conv.MidiFileName = midi.string();
    conv.ConvertMidiFile();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Can't open temporary MIDI output file. No file can be created in the "
                         "folder '" +
                             (dir / "missing").string() + "/': No such file or directory.");
    EXPECT_TRUE(conv.TempFileName.empty());
}

TEST_F(ReportFileTest, ATerminatingSignalRemovesTheReportFirst) {
    GTEST_FLAG_SET(death_test_style, "fast"); // the child keeps this test's TMPDIR
    auto convertUntilKilled = [&] {
        RemoveTemporaryFilesOnSignals();
        Conversion conv;
        // The report is open when the reader's first message comes; the signal comes with it.
        conv.SetReporter([](const std::string&) { std::raise(SIGTERM); });
        conv.MidiFileName = (dir / "missing.mid").string();
        conv.ConvertMidiFile();
    };
    EXPECT_EXIT(convertUntilKilled(), ::testing::KilledBySignal(SIGTERM), "");
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        EXPECT_FALSE(entry.path().filename().string().starts_with("MORVEXX")) << entry.path();
}

// Whole reports compared with golden files; MORVEL_UPDATE_GOLDEN=1 rewrites them.
struct GoldenCase {
    const char* name;
    std::string bytes;
    void (*configure)(Conversion&);
};

std::vector<GoldenCase> GoldenCases() {
    std::vector<GoldenCase> cases;

    TrackBuilder melody;
    melody.Name("Melody").Meta(0, 0x02, "(c) MORVEL tests").Meta(0, 0x04, "Nylon Guitar");
    const int tune[] = {64, 67, 69, 71, 72, 71, 69, 67, 64, 62, 60, 59, 57, 59, 60, 62};
    for (int i = 0; i < 16; ++i)
        melody.Note(i ? 0 : 0, tune[i], 96);
    melody.Delta(0).Raw({0xE0, 0, 0x50}).Note(0, 76, 192).End();
    cases.push_back({"melody", MidiBuilder(0).Add(melody).Bytes(),
                     [](Conversion& c) { c.Settings.ShowSpecial = 1; }});

    TrackBuilder conductor, chords, bass;
    conductor.Name("Conductor").Tempo().TimeSig(6, 3).End();
    chords.Name("Strum");
    const int shapes[4][3] = {{60, 64, 67}, {57, 60, 64}, {62, 65, 69}, {55, 59, 62}};
    for (const auto& shape : shapes) {
        for (int rep = 0; rep < 2; ++rep) {
            chords.NoteOn(rep ? 144 : 0, shape[0]).NoteOn(0, shape[1]).NoteOn(0, shape[2]);
        }
        chords.Delta(144).Raw({0xB0, 64, 0});
    }
    chords.End();
    bass.Name("Bass").Delta(0).Raw({0xC1, 33});
    for (int root : {36, 33, 38, 31})
        bass.Note(0, root, 140, 1).Note(4, root + 7, 140, 1);
    bass.End();
    std::string song = MidiBuilder(1).Add(conductor).Add(chords).Add(bass).Bytes();
    cases.push_back({"band-chords", song, [](Conversion& c) { c.Settings.ShowChord = 1; }});
    cases.push_back({"band-bass-transposed", song, [](Conversion& c) {
                         c.Settings.BassMode = 1;
                         c.Settings.ForceFitFret = 1;
                         c.TuningSettings.Transpose = 3;
                     }});
    cases.push_back({"band-drop-d-maxfret", song, [](Conversion& c) {
                         c.TuningSettings.CustomDelta[0] = -2;
                         c.Settings.MaxFret = 12;
                         c.Settings.ShowChord = 1;
                         c.Settings.ShowSpecial = 1;
                     }});
    cases.push_back({"band-optimised", song, [](Conversion& c) {
                         c.Settings.OptimiseFingering = 1;
                         c.Settings.ShowChord = 1;
                     }});
    return cases;
}

TEST(Golden, ReportsMatchTheirGoldenFiles) {
    const bool update = std::getenv("MORVEL_UPDATE_GOLDEN") != nullptr;
    for (const GoldenCase& c : GoldenCases()) {
        Conversion conv;
        c.configure(conv);
        auto out = ConvertBytes(conv, c.bytes, std::string(c.name) + ".mid");
        EXPECT_TRUE(out.errors.empty()) << c.name;
        fs::path golden = fs::path(MORVEL_GOLDEN_DIR) / (std::string(c.name) + ".txt");
        if (update) {
            std::ofstream(golden, std::ios::binary) << out.report;
            continue;
        }
        ASSERT_TRUE(fs::exists(golden)) << golden;
        EXPECT_EQ(out.report, ReadFile(golden)) << c.name;
    }
}

} // namespace
} // namespace morvel
