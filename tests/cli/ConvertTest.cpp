// Runs the real morvel-convert on the bundled examples and on files written here.

#include "tests/cli/CliSupport.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace morvel;
using namespace morvel::clitest;
namespace fs = std::filesystem;

namespace {

const char* const EXAMPLES[] = {"melody.mid", "chords.mid", "waltz-3-4.mid", "jig-6-8.mid",
                                "rock-with-bass.mid"};

std::string Example(const std::string& name) {
    return std::string(MORVEL_EXAMPLES_DIR) + "/" + name;
}

// The report split at its separator bytes: [0] the preamble, [k] track k's section.
std::vector<std::string> Sections(const std::string& report) {
    std::vector<std::string> parts(1);
    for (char c : report) {
        if (c == '\xFA')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

::testing::AssertionResult EveryLineEndsInCrLf(const std::string& text) {
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        return ::testing::AssertionFailure() << "the text does not end in CR LF";
    for (size_t i = 0; i < text.size(); ++i) {
        bool lineFeed = text[i] == '\n';
        bool carriageReturn = text[i] == '\r';
        if (lineFeed && (i == 0 || text[i - 1] != '\r'))
            return ::testing::AssertionFailure() << "bare LF at byte " << i;
        if (carriageReturn && (i + 1 == text.size() || text[i + 1] != '\n'))
            return ::testing::AssertionFailure() << "CR without LF at byte " << i;
    }
    return ::testing::AssertionSuccess();
}

// The six string rows of the first staff of a track section, first string first.
std::vector<std::string> FirstStaff(const std::string& section) {
    std::vector<std::string> rows;
    for (const std::string& line : Lines(section)) {
        if (!line.empty() && line[0] == '|')
            rows.push_back(line);
        else if (!rows.empty())
            break;
    }
    return rows;
}

class ConvertTest : public ::testing::Test {
  protected:
    TempDir dir;

    // A one-track file holding `notes` one after another, a quarter note each.
    std::string SongOf(const std::string& name, std::initializer_list<int> notes) {
        test::TrackBuilder track;
        for (int note : notes)
            track.Note(0, note, 96);
        track.End();
        std::string path = (dir / name).string();
        WriteFile(path, test::MidiBuilder(0, 96).Add(track).Bytes());
        return path;
    }

    std::vector<std::string> Staff(const std::vector<std::string>& args) {
        RunResult run = RunConvert(args);
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        std::vector<std::string> rows = FirstStaff(run.Out);
        EXPECT_EQ(rows.size(), 6u) << run.Out;
        rows.resize(6);
        return rows;
    }
};

TEST_F(ConvertTest, TextModesCutTheReportAtItsSeparators) {
    for (const char* name : EXAMPLES) {
        SCOPED_TRACE(name);
        std::string path = Example(name);
        RunResult report = RunConvert({"--report", path});
        ASSERT_EQ(report.ExitCode, 0) << report.Err;
        EXPECT_EQ(report.Err, "");
        std::vector<std::string> sections = Sections(report.Out);
        ASSERT_GE(sections.size(), 2u) << "no track section";
        EXPECT_NE(sections[0].find("Filename:     " + path + "\r\n"), std::string::npos);

        RunResult all = RunConvert({path});
        ASSERT_EQ(all.ExitCode, 0) << all.Err;
        std::string joined;
        for (const std::string& s : sections)
            joined += s;
        EXPECT_EQ(all.Out, joined);
        EXPECT_EQ(all.Out.find('\xFA'), std::string::npos);
        EXPECT_TRUE(EveryLineEndsInCrLf(all.Out));

        for (size_t k = 1; k < sections.size(); ++k) {
            RunResult track = RunConvert({"--track", std::to_string(k), path});
            ASSERT_EQ(track.ExitCode, 0) << track.Err;
            EXPECT_EQ(track.Out, sections[k]) << "track " << k;
        }
    }
}

TEST_F(ConvertTest, NamedTracksOfAFormatOneFileLandInTheirOwnSections) {
    std::string path = Example("rock-with-bass.mid");
    RunResult report = RunConvert({"--report", path});
    ASSERT_EQ(report.ExitCode, 0) << report.Err;
    std::vector<std::string> sections = Sections(report.Out);
    ASSERT_EQ(sections.size(), 4u); // preamble + conductor, guitar, bass
    EXPECT_EQ(sections[1], "");     // the conductor track holds no notes
    EXPECT_NE(sections[2].find("Guitar"), std::string::npos);
    EXPECT_EQ(sections[2].find("Bass"), std::string::npos);
    EXPECT_NE(sections[3].find("Bass"), std::string::npos);
    EXPECT_TRUE(EveryLineEndsInCrLf(sections[2]));
}

TEST_F(ConvertTest, TrackBeyondTheLastFailsNamingTheFile) {
    std::string path = Example("melody.mid");
    RunResult run = RunConvert({"--track", "2", path});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err.rfind(path + ": no track 2", 0), 0u) << run.Err;
}

TEST_F(ConvertTest, TransposeMovesNotesUpTheNeck) {
    // C4 and D3 (MIDI 60 and 50): fret 3 on the fifth string, and below the lowest string.
    std::string path = SongOf("two.mid", {60, 50});
    std::vector<std::string> plain = Staff({path});
    EXPECT_NE(plain[4].find('3'), std::string::npos) << plain[4];
    EXPECT_NE(plain[5].find('?'), std::string::npos) << plain[5];

    std::vector<std::string> up = Staff({"--transpose", "3", path});
    EXPECT_NE(up[3].find('1'), std::string::npos) << up[3]; // D#4: fourth string, fret 1
    EXPECT_EQ(up[4].find('3'), std::string::npos) << up[4];
    EXPECT_NE(up[5].find('1'), std::string::npos) << up[5]; // F3: sixth string, fret 1
    EXPECT_EQ(up[5].find('?'), std::string::npos) << up[5];
}

TEST_F(ConvertTest, MetricsGiveTheFiguresOfEachTrackAndTheRangeHintOnStandardOutput) {
    // A part written at sounding pitch: E2, A2, C3 lie below the open sixth string.
    std::string path = SongOf("low.mid", {40, 45, 48, 55, 59, 64});
    RunResult low = RunConvert({"--metrics", path});
    EXPECT_EQ(low.ExitCode, 0);
    EXPECT_EQ(low.Err, "");
    EXPECT_EQ(Lines(low.Out),
              (std::vector<std::string>{
                  "Track 1: 6 notes, 3 shown as frets, 3 \"?\" columns, 0 chord columns, 0 "
                  "spanning more than 4 frets, mean hand shift 0.50 frets over 2 shifts, 0 shifts "
                  "of more than 4 frets, 0.0 % of frets above 12 (50 % below the low string: try "
                  "Transpose 12)",
                  "Total: 6 notes, 3 shown as frets, 3 \"?\" columns, 0 chord columns, 0 spanning "
                  "more than 4 frets, mean hand shift 0.50 frets over 2 shifts, 0 shifts of more "
                  "than 4 frets, 0.0 % of frets above 12"}));

    RunResult up = RunConvert({"--metrics", "--transpose", "12", "--optimise-fingering", path});
    EXPECT_EQ(up.ExitCode, 0);
    EXPECT_EQ(up.Err, "");
    EXPECT_EQ(up.Out.rfind("Track 1: 6 notes, 6 shown as frets, 0 \"?\" columns", 0), 0u) << up.Out;
    EXPECT_EQ(up.Out.find("try Transpose"), std::string::npos) << up.Out;
}

TEST_F(ConvertTest, TuningPresetAndStringDeltasRetuneTheSixthString) {
    std::string path = SongOf("low-d.mid", {50});
    std::vector<std::string> plain = Staff({path});
    EXPECT_NE(plain[5].find('?'), std::string::npos) << plain[5];

    std::vector<std::string> dropD = Staff({"--tuning", "Drop D", path});
    EXPECT_NE(dropD[5].find('0'), std::string::npos) << dropD[5];
    // --delta1 is the sixth string; a later preset flag does not undo it.
    EXPECT_EQ(Staff({"--delta1", "-2", path}), dropD);
    EXPECT_EQ(Staff({"--delta1", "-2", "--tuning", "Standard", path}), dropD);
    EXPECT_EQ(Staff({"--tuning", "Drop D", "--delta1", "0", path}), plain);
    // The other deltas leave the sixth string alone.
    EXPECT_EQ(Staff({"--delta6", "-2", path})[5], plain[5]);
}

TEST_F(ConvertTest, SwitchesChangeWhatIsWritten) {
    std::string high = SongOf("high-e.mid", {76});
    std::vector<std::string> plain = Staff({high});
    EXPECT_NE(plain[0].find('0'), std::string::npos) << plain[0];
    std::vector<std::string> bass = Staff({"--bass", high});
    EXPECT_EQ(bass[0].find('0'), std::string::npos) << bass[0];
    EXPECT_NE(bass[3].find('2'), std::string::npos) << bass[3]; // an octave down: E4

    std::string chords = Example("chords.mid");
    RunResult without = RunConvert({chords});
    RunResult with = RunConvert({"--show-chords", chords});
    ASSERT_EQ(with.ExitCode, 0) << with.Err;
    EXPECT_EQ(without.Out.find("Chords:"), std::string::npos);
    EXPECT_NE(with.Out.find("Chords:"), std::string::npos);

    RunResult special = RunConvert({"--show-special", chords});
    ASSERT_EQ(special.ExitCode, 0) << special.Err;
    EXPECT_GT(Lines(special.Out).size(), Lines(without.Out).size());
}

TEST_F(ConvertTest, OutputFileHoldsWhatStandardOutputWouldGet) {
    std::string path = Example("waltz-3-4.mid");
    std::string out = (dir / "waltz.txt").string();
    RunResult toFile = RunConvert({"-o", out, path});
    ASSERT_EQ(toFile.ExitCode, 0) << toFile.Err;
    EXPECT_EQ(toFile.Out, "");
    EXPECT_EQ(ReadFile(out), RunConvert({path}).Out);
    // "-" is standard output, not a file named "-".
    RunResult dash = RunConvert({"-o", "-", path});
    EXPECT_EQ(dash.ExitCode, 0) << dash.Err;
    EXPECT_EQ(dash.Out, ReadFile(out));
    EXPECT_FALSE(fs::exists("-"));

    // An --out-dir that is a dangling link says so.
    const std::string dangling = (dir / "gone-folder").string();
    fs::create_symlink(dir / "nowhere", dangling);
    RunResult linked = RunConvert({"--out-dir", dangling, path});
    EXPECT_EQ(linked.ExitCode, 1);
    EXPECT_EQ(linked.Err, dangling + ": is a symbolic link to a folder that does not exist\n");

    std::string nowhere = (dir / "missing-folder" / "x.txt").string();
    RunResult failed = RunConvert({"-o", nowhere, path});
    EXPECT_EQ(failed.ExitCode, 1);
    EXPECT_EQ(failed.Err.rfind(nowhere + ": ", 0), 0u) << failed.Err;

    if (fs::exists("/dev/full")) { // a device that refuses every write: a full disk
        RunResult full = RunConvert({"-o", "/dev/full", path});
        EXPECT_EQ(full.ExitCode, 1);
        EXPECT_EQ(full.Err.rfind("/dev/full: cannot write", 0), 0u) << full.Err;
    }
}

TEST_F(ConvertTest, DamagedFilesFailWithMessagesNamingThem) {
    std::string garbage = (dir / "garbage.mid").string();
    WriteFile(garbage, "this is not a MIDI file at all");
    std::string cut = (dir / "cut.mid").string();
    WriteFile(cut, ReadFile(Example("melody.mid")).substr(0, 10));
    std::string missing = (dir / "missing.mid").string();
    // A line feed or another control byte in a name is shown escaped: it splits no line.
    std::string twoLines = (dir / "two\nlines\x01.mid").string();
    WriteFile(twoLines, "MThd");
    const std::string twoLinesShown = (dir / "two\\nlines\\x01.mid").string();
    // So are C1 controls, a lone byte or in UTF-8 (CSI, NEL); other UTF-8 is kept.
    std::string c1 = (dir / "caf\xc3\xa9\x9b[2J\xc2\x85.mid").string();
    WriteFile(c1, "MThd");
    const std::string c1Shown = (dir / "caf\xc3\xa9\\x9b[2J\\x85.mid").string();

    for (const auto& [path, shown] :
         {std::pair{garbage, garbage}, std::pair{cut, cut}, std::pair{missing, missing},
          std::pair{twoLines, twoLinesShown}, std::pair{c1, c1Shown}}) {
        SCOPED_TRACE(shown);
        RunResult run = RunConvert({path});
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(run.Signal, 0);
        std::vector<std::string> lines = Lines(run.Err);
        ASSERT_GE(lines.size(), 2u);
        for (const std::string& line : lines)
            EXPECT_EQ(line.rfind(shown + ": ", 0), 0u) << line;
    }
}

TEST_F(ConvertTest, OutDirConvertsEveryInputAndSummarisesInOrder) {
    std::string broken = (dir / "broken.mid").string();
    WriteFile(broken, "MThd\x00\x00");
    std::vector<std::string> inputs = {Example("melody.mid"), broken, Example("jig-6-8.mid"),
                                       Example("rock-with-bass.mid")};
    fs::path outDir = dir / "out" / "nested";
    std::vector<std::string> args = {"--out-dir", outDir.string(), "--jobs", "2"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    RunResult run = RunConvert(args);
    EXPECT_EQ(run.ExitCode, 1);

    EXPECT_EQ(ReadFile(outDir / "melody.txt"), RunConvert({inputs[0]}).Out);
    EXPECT_EQ(ReadFile(outDir / "jig-6-8.txt"), RunConvert({inputs[2]}).Out);
    EXPECT_EQ(ReadFile(outDir / "rock-with-bass.txt"), RunConvert({inputs[3]}).Out);

    std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), inputs.size() + 1) << run.Out;
    for (size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(inputs[i] + " -> ", 0), 0u) << lines[i];
        EXPECT_EQ(lines[i].find("FAILED") != std::string::npos, i == 1) << lines[i];
    }
    EXPECT_EQ(lines.back().rfind("4 files, 1 failed, ", 0), 0u) << lines.back();
    for (const std::string& line : Lines(run.Err))
        EXPECT_EQ(line.rfind(broken + ": ", 0), 0u) << line;
}

TEST_F(ConvertTest, OutDirKeepsTheChosenSectionAndRefusesClashingNames) {
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    std::string song = ReadFile(Example("rock-with-bass.mid"));
    WriteFile(dir / "a" / "song.mid", song);
    WriteFile(dir / "b" / "song.mid", song);

    RunResult one = RunConvert(
        {"--track", "3", "--out-dir", (dir / "out").string(), (dir / "a" / "song.mid").string()});
    ASSERT_EQ(one.ExitCode, 0) << one.Err;
    EXPECT_EQ(ReadFile(dir / "out" / "song.txt"),
              RunConvert({"--track", "3", Example("rock-with-bass.mid")}).Out);
    EXPECT_NE(one.Out.find("1 files, 0 failed"), std::string::npos) << one.Out;

    RunResult clash =
        RunConvert({"--out-dir", (dir / "out2").string(), (dir / "a" / "song.mid").string(),
                    (dir / "b" / "song.mid").string()});
    EXPECT_EQ(clash.ExitCode, 2);
    EXPECT_FALSE(fs::exists(dir / "out2" / "song.txt"));
}

TEST_F(ConvertTest, UsageErrorsExitWithTwoAndWriteNothing) {
    std::string song = Example("melody.mid");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--bogus", song},
        {"--transpose", "x", song},
        {"--transpose", "26", song},
        {"--transpose=-26", song},
        {"--delta3", "13", song},
        {"--delta7", "1", song},
        {"--max-fret", "18", song},
        {"--max-fret", "28", song},
        {"--track", "0", song},
        {"--track", "1.5", song},
        {"--tuning", "drop d", song},
        {"--tuning"},
        {"-o", (dir / "x.txt").string(), "--out-dir", dir.Path().string(), song},
        {song, song},
        {"--bass=1", song},
        {"--ini", (dir / "absent.ini").string(), song},
        {"--metrics", "--report", song},
        {"--optimise-fingering=1", song},
    };
    for (const std::vector<std::string>& args : cases) {
        std::string shown;
        for (const std::string& a : args)
            shown += a + " ";
        SCOPED_TRACE(shown);
        RunResult run = RunConvert(args);
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_EQ(run.Out, "");
        EXPECT_NE(run.Err, "");
    }
    EXPECT_FALSE(fs::exists(dir / "x.txt"));
}

TEST_F(ConvertTest, HelpDocumentsEveryFlag) {
    RunResult run = RunConvert({"--help"});
    EXPECT_EQ(run.ExitCode, 0);
    for (const char* flag :
         {"--track", "--report", "-o", "--out-dir", "--jobs", "--ini", "--options", "--transpose",
          "--tuning", "--delta1", "--delta6", "--max-fret", "--force-fit", "--bass",
          "--show-chords", "--show-special", "--metrics", "--optimise-fingering", "Exit status"})
        EXPECT_NE(run.Out.find(flag), std::string::npos) << flag;
}

TEST_F(ConvertTest, SettingsFilesApplyInOrderIniOptionsFlags) {
    // A single A3 (MIDI 57): the open fifth string. Transposed by 1, 3 or 5 it lands on
    // fret 1 or 3 of the fifth string, or on the open fourth string.
    std::string path = SongOf("a.mid", {57});
    std::string ini = (dir / "MORVEL.INI").string();
    WriteFile(ini, "[OTHER]\r\nTRANSPOSE=9\r\n[params]\r\ntranspose=3\r\nSHOWCHORD=1\r\n");
    std::string opt = (dir / "five.opt").string();
    std::string record(768, '\0');
    auto put = [&](size_t offset, int32_t value) {
        for (int i = 0; i < 4; ++i)
            record[offset + i] =
                static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF);
    };
    record.replace(0, 4, std::string("3.0\0", 4));
    put(12, 3);
    put(16, 5);
    put(20, 5); // Transpose
    put(24, 3);
    put(268, 21); // MaxFret
    record.replace(68, 8, "Standard");
    WriteFile(opt, record);

    std::vector<std::string> fromIni = Staff({"--ini", ini, path});
    EXPECT_NE(fromIni[4].find('3'), std::string::npos) << fromIni[4];
    RunResult withChords = RunConvert({"--ini", ini, path});
    EXPECT_NE(withChords.Out.find("Chords:"), std::string::npos);
    RunResult chordsOff = RunConvert({"--ini", ini, "--no-show-chords", path});
    EXPECT_EQ(chordsOff.Out.find("Chords:"), std::string::npos);

    std::vector<std::string> fromOpt = Staff({"--ini", ini, "--options", opt, path});
    EXPECT_NE(fromOpt[3].find('0'), std::string::npos) << fromOpt[3];
    std::vector<std::string> fromFlag =
        Staff({"--transpose", "1", "--options", opt, "--ini", ini, path});
    EXPECT_NE(fromFlag[4].find('1'), std::string::npos) << fromFlag[4];

    RunResult noOpt = RunConvert({"--options", (dir / "absent.opt").string(), path});
    EXPECT_EQ(noOpt.ExitCode, 2);
    EXPECT_NE(noOpt.Err.find("absent.opt"), std::string::npos) << noOpt.Err;
}

// Names of the entries of `folder` that begin with a dot: the converter's temporary files.
std::vector<std::string> HiddenEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".")) names.push_back(entry.path());
    return names;
}

TEST_F(ConvertTest, AnOutputFileIsReplacedOnlyByASuccessfulConversion) {
    const std::string song = (dir / "song.mid").string();
    const std::string midi = ReadFile(Example("melody.mid"));
    WriteFile(song, midi);
    const std::string text = RunConvert({song}).Out;
    ASSERT_FALSE(text.empty());
    const std::string existing = (dir / "existing.txt").string();
    WriteFile(existing, "old");
    fs::permissions(existing, fs::perms(0640));

    // An output reaching an input by its own name, a hard link or --out-dir is refused.
    fs::create_hard_link(song, dir / "alias.txt");
    for (const std::string& out : {song, (dir / "alias.txt").string()}) {
        RunResult run = RunConvert({"-o", out, song});
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(run.Err, out + ": is one of the files this command reads; it is left as it is\n");
    }
    fs::create_directories(dir / "in");
    WriteFile(dir / "in" / "tune.txt", midi);
    RunResult batch =
        RunConvert({"--out-dir", (dir / "in").string(), (dir / "in" / "tune.txt").string()});
    EXPECT_EQ(batch.ExitCode, 1);
    EXPECT_NE(batch.Out.find("FAILED"), std::string::npos) << batch.Out;
    EXPECT_EQ(ReadFile(dir / "in" / "tune.txt"), midi);
    EXPECT_EQ(ReadFile(song), midi);

    // A failed conversion leaves the existing output alone.
    RunResult failed = RunConvert({"-o", existing, (dir / "missing.mid").string()});
    EXPECT_EQ(failed.ExitCode, 1);
    EXPECT_EQ(ReadFile(existing), "old");

    // A successful one replaces it, keeping its permissions.
    RunResult done = RunConvert({"-o", existing, song});
    ASSERT_EQ(done.ExitCode, 0) << done.Err;
    EXPECT_EQ(ReadFile(existing), text);
    EXPECT_EQ(fs::status(existing).permissions(), fs::perms(0640));
    EXPECT_EQ(HiddenEntries(dir.Path()), std::vector<std::string>{});

    // Special files are written, never replaced: a pipe keeps its reader, /dev/null stays.
    const std::string pipePath = (dir / "pipe").string();
    ASSERT_EQ(mkfifo(pipePath.c_str(), 0600), 0);
    int reader = open(pipePath.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    RunResult piped = RunConvert({"-o", pipePath, song});
    EXPECT_EQ(piped.ExitCode, 0) << piped.Err;
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
        got.append(buffer, static_cast<size_t>(n));
    close(reader);
    EXPECT_EQ(got, text);
    EXPECT_TRUE(fs::is_fifo(pipePath));
    RunResult nowhere = RunConvert({"-o", "/dev/null", song});
    EXPECT_EQ(nowhere.ExitCode, 0) << nowhere.Err;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(ConvertTest, AFileSizeLimitIsAWriteErrorLikeAnyOther) {
    const std::string song = Example("melody.mid");
    const std::string out = (dir / "out.txt").string();
    WriteFile(out, "old");
    constexpr long LIMIT = 400;
    ASSERT_GT(RunConvert({song}).Out.size(), static_cast<size_t>(LIMIT));

    RunResult single = RunConvert({"-o", out, song}, 60, LIMIT);
    EXPECT_EQ(single.Signal, 0);
    EXPECT_EQ(single.ExitCode, 1);
    EXPECT_EQ(single.Err, out + ": cannot write: " + std::strerror(EFBIG) + "\n");
    EXPECT_EQ(ReadFile(out), "old");

    RunResult batch = RunConvert({"--out-dir", (dir / "tabs").string(), song}, 60, LIMIT);
    EXPECT_EQ(batch.Signal, 0);
    EXPECT_EQ(batch.ExitCode, 1);
    EXPECT_NE(batch.Out.find("1 files, 1 failed"), std::string::npos) << batch.Out;
    EXPECT_FALSE(fs::exists(dir / "tabs" / "melody.txt"));
    EXPECT_EQ(HiddenEntries(dir / "tabs"), std::vector<std::string>{});
    EXPECT_EQ(HiddenEntries(dir.Path()), std::vector<std::string>{});
}

TEST_F(ConvertTest, ATerminatingSignalRemovesTheHalfWrittenOutput) {
    const std::string out = (dir / "out.txt").string();
    WriteFile(out, "old");
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        // Standard error is a full pipe: the converter stops at its first message, with its
        // temporary output open, until the signal comes.
        int errPipe[2];
        ASSERT_EQ(pipe2(errPipe, O_CLOEXEC), 0);
        fcntl(errPipe[1], F_SETFL, O_NONBLOCK);
        const std::string filler(4096, 'x');
        while (write(errPipe[1], filler.data(), filler.size()) > 0) {
        }
        fcntl(errPipe[1], F_SETFL, 0);
        int pid = StartConvert({"-o", out, (dir / "missing.mid").string()}, errPipe[1]);
        close(errPipe[1]);

        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (HiddenEntries(dir.Path()).empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(HiddenEntries(dir.Path()).size(), 1u);
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0);
        close(errPipe[0]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
        EXPECT_EQ(HiddenEntries(dir.Path()), std::vector<std::string>{});
        EXPECT_EQ(ReadFile(out), "old");
    }
}

TEST_F(ConvertTest, SpecialFilesAreRefusedNotWaitedFor) {
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = (dir / "folder.mid").string();
    fs::create_directories(folder);
    const std::string song = Example("melody.mid");

    RunResult midi = RunConvert({fifo}, 20);
    EXPECT_FALSE(midi.TimedOut);
    EXPECT_EQ(midi.ExitCode, 1);
    EXPECT_EQ(midi.Err, fifo + ": Can't open MIDI file '" + fifo + "'.\n" + fifo +
                            ": It is not a regular file.\n");
    RunResult directory = RunConvert({folder}, 20);
    EXPECT_EQ(directory.ExitCode, 1);
    EXPECT_NE(directory.Err.find(folder + ": It is a directory.\n"), std::string::npos)
        << directory.Err;

    for (const char* flag : {"--ini", "--options"}) {
        SCOPED_TRACE(flag);
        RunResult run = RunConvert({flag, fifo, song}, 20);
        EXPECT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_NE(run.Err.find("\"" + fifo + "\": is not a regular file"), std::string::npos)
            << run.Err;
    }

    // In a batch the refused file fails alone.
    RunResult batch =
        RunConvert({"--out-dir", (dir / "tabs").string(), "--jobs", "1", fifo, song}, 20);
    EXPECT_FALSE(batch.TimedOut);
    EXPECT_EQ(batch.ExitCode, 1);
    EXPECT_EQ(ReadFile(dir / "tabs" / "melody.txt"), RunConvert({song}).Out);
    EXPECT_NE(batch.Out.find("2 files, 1 failed"), std::string::npos) << batch.Out;
}

} // namespace

TEST_F(ConvertTest, MusicXmlLeavesOutDrumsAndSaysWhatItWrote) {
    test::TrackBuilder guitar, drums;
    guitar.Name("Lead").Note(0, 64, 96).Note(0, 30, 96).End(); // the second is below the strings
    drums.Note(0, 36, 96, 9).End();
    const std::string path = (dir / "band.mid").string();
    WriteFile(path, test::MidiBuilder(1, 96).Add(guitar).Add(drums).Bytes());

    RunResult all = RunConvert({"--musicxml", path});
    ASSERT_EQ(all.ExitCode, 0) << all.Err;
    EXPECT_EQ(all.Err, path + ": track 2 left out: all notes on channel 10 (drums)\n" + path +
                           ": 2 notes written, 1 without string and fret, largest quantisation "
                           "shift 0 ticks\n");
    EXPECT_EQ(all.Out.rfind("<?xml", 0), 0u);
    EXPECT_NE(all.Out.find("<part-name>Lead</part-name>"), std::string::npos);
    EXPECT_EQ(all.Out.find("<score-part id=\"P2\""), std::string::npos);

    // Asked for, the drum track is written; --out-dir names the file NAME.musicxml.
    RunResult drumsOnly = RunConvert({"--musicxml", "--track", "2", "--out-dir",
                                      (dir / "out").string(), path});
    ASSERT_EQ(drumsOnly.ExitCode, 0) << drumsOnly.Err;
    EXPECT_NE(ReadFile(dir / "out" / "band.musicxml").find("<midi-channel>10</midi-channel>"),
              std::string::npos);
    EXPECT_EQ(RunConvert({"--musicxml", "--report", path}).ExitCode, 2);
}

TEST_F(ConvertTest, NotesListEveryNoteWithTheStringAndFretTheTextShows) {
    test::TrackBuilder guitar;
    guitar.Chord(0, {60, 64, 67}, 96).Note(0, 40, 48).Note(0, 69, 96).End();
    test::TrackBuilder bass;
    bass.Note(0, 57, 192).Note(0, 59, 96).End();
    const std::string path = (dir / "two.mid").string();
    WriteFile(path, test::MidiBuilder(1, 96).Add(guitar).Add(bass).Bytes());

    // Note 40 lies below the lowest string: its column is a "?", without string and fret.
    const std::string golden = "track\ttick\tduration\tnote\tstring\tfret\n"
                               "1\t0\t96\t60\t5\t3\n"
                               "1\t0\t96\t64\t4\t2\n"
                               "1\t0\t96\t67\t3\t0\n"
                               "1\t96\t48\t40\t\t\n"
                               "1\t144\t96\t69\t3\t2\n"
                               "2\t0\t192\t57\t5\t0\n"
                               "2\t192\t96\t59\t5\t2\n";
    RunResult all = RunConvert({"--notes", path});
    ASSERT_EQ(all.ExitCode, 0) << all.Err;
    EXPECT_EQ(all.Out, golden);

    RunResult second = RunConvert({"--notes", "--track", "2", path});
    ASSERT_EQ(second.ExitCode, 0) << second.Err;
    EXPECT_EQ(second.Out, "track\ttick\tduration\tnote\tstring\tfret\n"
                          "2\t0\t192\t57\t5\t0\n"
                          "2\t192\t96\t59\t5\t2\n");

    // The settings flags apply: an octave lower on every string moves every fret up 12.
    RunResult transposed = RunConvert({"--notes", "--transpose", "12", "--track", "1", path});
    ASSERT_EQ(transposed.ExitCode, 0) << transposed.Err;
    EXPECT_NE(transposed.Out.find("1\t96\t48\t40\t6\t0\n"), std::string::npos) << transposed.Out;

    RunResult batch = RunConvert({"--notes", "--out-dir", (dir / "lists").string(), path});
    ASSERT_EQ(batch.ExitCode, 0) << batch.Err;
    EXPECT_EQ(ReadFile(dir / "lists" / "two.tsv"), golden);

    RunResult missing = RunConvert({"--notes", "--track", "3", path});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.Err.find("no track 3: the file has 2 tracks"), std::string::npos)
        << missing.Err;
}

TEST_F(ConvertTest, Gp5LeavesOutDrumsAndNotesWithoutStringAndSaysSo) {
    test::TrackBuilder guitar, drums;
    guitar.Name("Lead").Note(0, 64, 96).Note(0, 30, 96).End(); // the second is below the strings
    drums.Note(0, 36, 96, 9).End();
    const std::string path = (dir / "band.mid").string();
    WriteFile(path, test::MidiBuilder(1, 96).Add(guitar).Add(drums).Bytes());

    RunResult all = RunConvert({"--gp5", path, "-o", (dir / "band.gp5").string()});
    ASSERT_EQ(all.ExitCode, 0) << all.Err;
    EXPECT_EQ(all.Err, path + ": track 2 left out: all notes on channel 10 (drums)\n" + path +
                           ": 1 notes written, 1 without string and fret left out, largest "
                           "quantisation shift 0 ticks\n");
    const std::string gp5 = ReadFile(dir / "band.gp5");
    EXPECT_EQ(gp5.rfind("\x18" "FICHIER GUITAR PRO v5.10", 0), 0u);
    EXPECT_NE(gp5.find("\x04Lead"), std::string::npos);

    // --out-dir names the file NAME.gp5; one score format at a time.
    RunResult out =
        RunConvert({"--gp5", "--track", "1", "--out-dir", (dir / "out").string(), path});
    ASSERT_EQ(out.ExitCode, 0) << out.Err;
    EXPECT_EQ(ReadFile(dir / "out" / "band.gp5"), gp5);
    RunResult both = RunConvert({"--gp5", "--musicxml", path});
    EXPECT_EQ(both.ExitCode, 2);
    EXPECT_NE(both.Err.find("--gp5 and --musicxml cannot be used together"), std::string::npos);
}

// A file the strict reader refuses (running status across a meta event): its messages,
// then a hint naming --lenient; with --lenient it converts. A file that converts gets no hint.
TEST_F(ConvertTest, LenientReadsARefusedFileAndTheRefusalSaysSo) {
    test::TrackBuilder track;
    track.NoteOn(0, 64).Meta(0, 0x06, "A").Delta(96).Raw({67, 100}).End();
    const std::string path = (dir / "meta.mid").string();
    WriteFile(path, test::MidiBuilder(0).Add(track).Bytes());
    EXPECT_EQ(RunConvert({path}).Err, path + ": Unknown system command '43'.\n" + path +
                                          ": Premature end of track: 5 bytes to go.\n" + path +
                                          ": This file opens with --lenient.\n");
    RunResult lenient = RunConvert({"--lenient", "--notes", path});
    EXPECT_EQ(lenient.Err, "");
    EXPECT_NE(lenient.Out.find("\n1\t96\t0\t67\t"), std::string::npos) << lenient.Out;
    EXPECT_EQ(RunConvert({Example("melody.mid")}).Err, "");
}

TEST_F(ConvertTest, StandardLayoutWritesTabWithinTheWidthFromFlagOrIni) {
    test::TrackBuilder guitar, drums;
    guitar.Name("Lead");
    for (int k = 0; k < 32; ++k) // four bars of eighths, 18 columns each
        guitar.Note(0, 64 + k % 7, 48);
    guitar.Note(0, 30, 96).End(); // below the low string
    drums.Note(0, 36, 96, 9).End();
    const std::string path = (dir / "band.mid").string();
    WriteFile(path, test::MidiBuilder(1, 96).Add(guitar).Add(drums).Bytes());
    const auto systems = [](const std::string& text) {
        size_t count = 0;
        for (size_t at = text.find("\ne|"); at != std::string::npos; at = text.find("\ne|", at + 1))
            ++count;
        return count;
    };

    RunResult narrow = RunConvert({"--layout", "standard", "--width", "40", path});
    ASSERT_EQ(narrow.ExitCode, 0) << narrow.Err;
    EXPECT_EQ(narrow.Err, path + ": track 2 left out: all notes on channel 10 (drums)\n" + path +
                              ": 33 notes written, 1 without string and fret, listed under "
                              "their systems\n");
    EXPECT_EQ(narrow.Out.rfind("Title: band.mid\nTuning: E A D G B E\nTempo: 120 bpm\n\n"
                               "Track 1: Lead\n",
                               0),
              0u);
    EXPECT_NE(narrow.Out.find("\nbar 5: F#0 below the lowest string\n"), std::string::npos);
    EXPECT_EQ(systems(narrow.Out), 3u); // two bars to a line of 40

    // The width from an INI file, then the flag over it; --out-dir writes DIR/NAME.tab.txt.
    const fs::path ini = dir / "wide.ini";
    WriteFile(ini, "[PARAMS]\r\nSTANDARDTABWIDTH=120\r\n");
    RunResult wide = RunConvert({"--layout=standard", "--ini", ini.string(), path});
    EXPECT_EQ(systems(wide.Out), 1u);
    RunResult batch = RunConvert({"--layout", "standard", "--ini", ini.string(), "--width", "40",
                                  "--out-dir", (dir / "out").string(), path});
    ASSERT_EQ(batch.ExitCode, 0) << batch.Err;
    EXPECT_EQ(ReadFile(dir / "out" / "band.tab.txt"), narrow.Out);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--layout", "columns", path},
          {"--layout", "standard", "--musicxml", path},
          {"--width", "39", path}})
        EXPECT_EQ(RunConvert(args).ExitCode, 2) << args[0] << " " << args[1];
}
