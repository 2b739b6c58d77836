#include "core/SettingsFiles.h"
#include "core/Conversion.h"
#include "core/IniFile.h"
#include "core/OptionFile.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace morvel;

// Every allocation of this test program is counted, so a test can see how much memory a step
// takes at its peak.
namespace {
constexpr size_t COUNT_HEADER = 16; // keeps the block's size, and the block aligned
std::atomic<size_t> liveBytes{0};
std::atomic<size_t> peakBytes{0};
} // namespace

void* operator new(size_t size) {
    void* block = std::malloc(size + COUNT_HEADER);
    if (!block) throw std::bad_alloc();
    *static_cast<size_t*>(block) = size;
    const size_t live = liveBytes += size;
    size_t peak = peakBytes;
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
    return static_cast<char*>(block) + COUNT_HEADER;
}
void operator delete(void* memory) noexcept {
    if (!memory) return;
    char* block = static_cast<char*>(memory) - COUNT_HEADER;
    liveBytes -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}
void operator delete(void* memory, size_t) noexcept {
    operator delete(memory);
}

namespace {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "morvel-settings-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Settings in which every stored field differs from its default.
StoredSettings Unusual() {
    StoredSettings s;
    s.Conv.PrintMeasPerWidth = 7;
    s.Conv.PrintMeasPerHeight = 9;
    s.TuningSettings.Transpose = -5;
    s.Display.MeasuresPerPage = 6;
    s.TuningSettings.CustomDelta = {-2, 3, -12, 12, 1, -1};
    s.Conv.ShowSpecial = 1;
    s.Conv.ShowChord = 2;
    s.Conv.ShowMetronome = -1;
    s.Conv.ForceFitFret = 1;
    s.Conv.MaxFret = 27;
    s.Conv.BassMode = 1;
    s.Conv.FollowMusic = 1;
    s.Conv.OptimiseFingering = 1;
    s.Display.TuningName = "Open G";
    s.Display.MidiFileDir = "/home/me/Music/";
    s.Display.NotesColor = 0x112233;
    s.Display.BarColor = 0xFFFFFF;
    s.Display.BackgroundColor = 0x0;
    return s;
}

void ExpectStoredEqual(const StoredSettings& a, const StoredSettings& b) {
    EXPECT_EQ(a.Conv.PrintMeasPerWidth, b.Conv.PrintMeasPerWidth);
    EXPECT_EQ(a.Conv.PrintMeasPerHeight, b.Conv.PrintMeasPerHeight);
    EXPECT_EQ(a.TuningSettings.Transpose, b.TuningSettings.Transpose);
    EXPECT_EQ(a.Display.MeasuresPerPage, b.Display.MeasuresPerPage);
    EXPECT_EQ(a.TuningSettings.CustomDelta, b.TuningSettings.CustomDelta);
    EXPECT_EQ(a.Conv.ShowSpecial, b.Conv.ShowSpecial);
    EXPECT_EQ(a.Conv.ShowChord, b.Conv.ShowChord);
    EXPECT_EQ(a.Conv.ShowMetronome, b.Conv.ShowMetronome);
    EXPECT_EQ(a.Conv.ForceFitFret, b.Conv.ForceFitFret);
    EXPECT_EQ(a.Conv.MaxFret, b.Conv.MaxFret);
    EXPECT_EQ(a.Conv.BassMode, b.Conv.BassMode);
    EXPECT_EQ(a.Conv.FollowMusic, b.Conv.FollowMusic);
    EXPECT_EQ(a.Conv.OptimiseFingering, b.Conv.OptimiseFingering);
    EXPECT_EQ(a.Display.TuningName, b.Display.TuningName);
    EXPECT_EQ(a.Display.MidiFileDir, b.Display.MidiFileDir);
    EXPECT_EQ(a.Display.NotesColor, b.Display.NotesColor);
    EXPECT_EQ(a.Display.BarColor, b.Display.BarColor);
    EXPECT_EQ(a.Display.BackgroundColor, b.Display.BackgroundColor);
}

} // namespace

TEST(IniSettings, MissingFileGivesEveryDefault) {
    TempDir dir;
    StoredSettings s = Unusual();
    std::string error;
    ASSERT_TRUE(ReadIniSettings(dir.File("MORVEL.INI"), s, error));
    EXPECT_EQ(s.Conv.PrintMeasPerWidth, 3);
    EXPECT_EQ(s.Conv.PrintMeasPerHeight, 5);
    EXPECT_EQ(s.TuningSettings.Transpose, 0);
    EXPECT_EQ(s.Display.MeasuresPerPage, 3);
    EXPECT_EQ(s.TuningSettings.CustomDelta, (std::array<int16_t, 6>{}));
    EXPECT_EQ(s.Conv.ShowSpecial, 0);
    EXPECT_EQ(s.Conv.ShowChord, 0);
    EXPECT_EQ(s.Conv.BassMode, 0);
    EXPECT_EQ(s.Conv.FollowMusic, 0);
    EXPECT_EQ(s.Conv.MaxFret, 21);
    EXPECT_EQ(s.Conv.ShowMetronome, 0);
    EXPECT_EQ(s.Conv.ForceFitFret, 0);
    EXPECT_EQ(s.Display.MidiFileDir, "");
    EXPECT_EQ(s.Display.TuningName, "Standard");
    EXPECT_EQ(s.Display.NotesColor, 0x800080u);
    EXPECT_EQ(s.Display.BarColor, 0u);
    EXPECT_EQ(s.Display.BackgroundColor, 0x00FFFFu);
    EXPECT_TRUE(error.empty());
}

TEST(IniSettings, ReadsMixedCaseHexAndKeepsForeignLinesWhenWrittenBack) {
    TempDir dir;
    const std::string path = dir.File("MORVEL.INI");
    WriteBytes(path, "; written by hand\n"
                     "[Other]\n"
                     "MAXFRET=19\n"
                     "[Params]\n"
                     "maxFret=$18\n"
                     "Transpose=300\n"
                     "CustomDelta1=-2\n"
                     "customdelta6=0xFFFE\n"
                     "NOTESCOLOR=0X0000FF\n"
                     "BarColor=purple\n"
                     "Tuning=Drop D\n"
                     "MidiFileDir=C:\\Music\\\n"
                     "Favourite=yes\n");
    StoredSettings s;
    std::string error;
    ASSERT_TRUE(ReadIniSettings(path, s, error)) << error;
    EXPECT_EQ(s.Conv.MaxFret, 24);
    EXPECT_EQ(s.TuningSettings.Transpose, 44); // 300 kept in 8 bits
    EXPECT_EQ(s.TuningSettings.CustomDelta, (std::array<int16_t, 6>{-2, 0, 0, 0, 0, -2}));
    EXPECT_EQ(s.Display.NotesColor, 0xFFu);
    EXPECT_EQ(s.Display.BarColor, 0u);         // not a number: the default
    EXPECT_EQ(s.Display.TuningName, "Drop D"); // the name alone changes no delta
    EXPECT_EQ(s.Display.MidiFileDir, "C:\\Music\\");

    IniFile ini = IniFile::Parse(ReadBytes(path));
    s.Conv.MaxFret = 20;
    StoreIniSettings(ini, s);
    const std::string text = ini.Text();
    for (const char* kept :
         {"; written by hand\n", "[Other]\nMAXFRET=19\n", "[Params]\n", "maxFret=20\n",
          "Transpose=44\n", "customdelta6=-2\n", "NOTESCOLOR=255\n", "BarColor=0\n",
          "Favourite=yes\n", "MidiFileDir=C:\\Music\\\n"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept << " missing from\n" << text;
    // Keys that were absent are added to the section once each.
    EXPECT_EQ(text.find("PRINTMEASPERWIDTH=3\n"), text.rfind("PRINTMEASPERWIDTH"));
    StoredSettings again;
    ApplyIniSettings(IniFile::Parse(text), again);
    ExpectStoredEqual(again, s);
}

TEST(IniSettings, NewFileListsKeysInSavingOrderAndRoundTrips) {
    IniFile ini;
    StoredSettings s = Unusual();
    StoreIniSettings(ini, s);
    const std::string expected = "[PARAMS]\n"
                                 "PRINTMEASPERWIDTH=7\nPRINTMEASPERHEIGHT=9\nTRANSPOSE=-5\n"
                                 "MEASPERPAGE=6\nCUSTOMDELTA1=-2\nCUSTOMDELTA2=3\n"
                                 "CUSTOMDELTA3=-12\nCUSTOMDELTA4=12\nCUSTOMDELTA5=1\n"
                                 "CUSTOMDELTA6=-1\nSHOWSPECIAL=1\nSHOWCHORD=2\n"
                                 "SHOWMETRONOME=-1\nBASSMODE=1\nFOLLOWMUSIC=1\nMAXFRET=27\n"
                                 "FORCEFITFRET=1\nTUNING=Open G\nMIDIFILEDIR=/home/me/Music/\n"
                                 "NOTESCOLOR=1122867\nBARCOLOR=16777215\nBACKGROUNDCOLOR=0\n"
                                 "OPTIMISEFINGERING=1\n";
    EXPECT_EQ(ini.Text(), expected);
    StoredSettings back;
    ApplyIniSettings(IniFile::Parse(ini.Text()), back);
    ExpectStoredEqual(back, s);
}

TEST(IniSettings, ClampsLayoutValuesAndCutsLongTexts) {
    IniFile ini =
        IniFile::Parse("[PARAMS]\nMEASPERPAGE=0\nPRINTMEASPERWIDTH=65536\n"
                       "PRINTMEASPERHEIGHT=11\nMIDIFILEDIR=" +
                       std::string(400, 'd') + "\nTUNING=" + std::string(250, 't') + "\n");
    StoredSettings s;
    ApplyIniSettings(ini, s);
    EXPECT_EQ(s.Display.MeasuresPerPage, 1);
    EXPECT_EQ(s.Conv.PrintMeasPerWidth, 1); // low 16 bits of 65536 are 0
    EXPECT_EQ(s.Conv.PrintMeasPerHeight, 10);
    EXPECT_EQ(s.Display.MidiFileDir, std::string(299, 'd'));
    EXPECT_EQ(s.Display.TuningName, std::string(199, 't'));

    ApplyIniSettings(IniFile::Parse("[PARAMS]\nMEASPERPAGE=-4\n"), s);
    EXPECT_EQ(s.Display.MeasuresPerPage, 1);
    ApplyIniSettings(IniFile::Parse("[PARAMS]\nMEASPERPAGE=7\n"), s);
    EXPECT_EQ(s.Display.MeasuresPerPage, 6);
}

TEST(IniSettings, ReadingTakesLittleMoreMemoryThanTheFile) {
    TempDir dir;
    const std::string path = dir.File("MORVEL.INI");
    std::string text = "[PARAMS]\nMAXFRET=24\n";
    while (text.size() < (1u << 20))
        text += "\n\nx=1\n"; // many short lines: the costly case for a reader
    WriteBytes(path, text);
    const size_t size = text.size();
    text = std::string();
    StoredSettings s;
    std::string error;
    const size_t before = liveBytes;
    peakBytes = before;
    ASSERT_TRUE(ReadIniSettings(path, s, error)) << error;
    EXPECT_EQ(s.Conv.MaxFret, 24);
    EXPECT_LT(peakBytes - before, 2 * size);
}

TEST(IniSettings, UnreadableFileIsAnErrorNamingIt) {
    TempDir dir;
    const std::string path = dir.File("MORVEL.INI");
    fs::create_directory(path); // exists, but cannot be read as a file
    StoredSettings s;
    std::string error;
    EXPECT_FALSE(ReadIniSettings(path, s, error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
}

TEST(OptionFile, RecordHasTheFixedLayout) {
    StoredSettings s = Unusual();
    OptionFileRecord r = EncodeOptionRecord(s);
    auto at = [&r](size_t offset) {
        return static_cast<int32_t>(r[offset] | r[offset + 1] << 8 | r[offset + 2] << 16 |
                                    static_cast<uint32_t>(r[offset + 3]) << 24);
    };
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data()), 4), std::string("3.0\0", 4));
    EXPECT_EQ(at(4), 0);
    EXPECT_EQ(at(8), 0);
    EXPECT_EQ(at(12), 7);
    EXPECT_EQ(at(16), 9);
    EXPECT_EQ(at(20), -5); // widened with its sign
    EXPECT_EQ(at(24), 6);
    const int32_t deltas[] = {-2, 3, -12, 12, 1, -1};
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(at(28 + 4 * k), deltas[k]);
    EXPECT_EQ(at(52), 1);
    EXPECT_EQ(at(56), 2);
    EXPECT_EQ(at(60), -1);
    EXPECT_EQ(at(64), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 68)), "Open G");
    for (size_t i = 68 + 6; i < 268; ++i)
        ASSERT_EQ(r[i], 0) << i;
    EXPECT_EQ(at(268), 27);
    EXPECT_EQ(at(272), 1);
    EXPECT_EQ(at(276), 1);
    EXPECT_EQ(at(280), 1);
    for (size_t i = 284; i < 768; ++i)
        ASSERT_EQ(r[i], 0) << i;
}

TEST(SettingsFiles, OptimiseFingeringSitsAtOffset280AndItsKeyIsWrittenWhenOnOrPresent) {
    // Off and absent: the INI file stays as it was, the record keeps its zero area.
    IniFile ini = IniFile::Parse("[PARAMS]\nMAXFRET=21\n");
    StoredSettings s;
    ApplyIniSettings(ini, s);
    EXPECT_EQ(s.Conv.OptimiseFingering, 0);
    StoreIniSettings(ini, s);
    EXPECT_EQ(ini.Text().find("OPTIMISEFINGERING"), std::string::npos) << ini.Text();
    OptionFileRecord r = EncodeOptionRecord(s);
    for (size_t i = 280; i < 284; ++i)
        EXPECT_EQ(r[i], 0) << i;

    // On: written to both files and read back.
    s.Conv.OptimiseFingering = 1;
    StoreIniSettings(ini, s);
    EXPECT_NE(ini.Text().find("\nOPTIMISEFINGERING=1\n"), std::string::npos) << ini.Text();
    r = EncodeOptionRecord(s);
    EXPECT_EQ(std::vector<uint8_t>(r.begin() + 280, r.begin() + 284),
              (std::vector<uint8_t>{1, 0, 0, 0}));
    StoredSettings fromRecord;
    DecodeOptionRecord(r, fromRecord);
    EXPECT_EQ(fromRecord.Conv.OptimiseFingering, 1);
    StoredSettings fromIni;
    ApplyIniSettings(IniFile::Parse(ini.Text()), fromIni);
    EXPECT_EQ(fromIni.Conv.OptimiseFingering, 1);

    // Turned off again: a key already in the file is kept, now saying 0.
    s.Conv.OptimiseFingering = 0;
    StoreIniSettings(ini, s);
    EXPECT_NE(ini.Text().find("\nOPTIMISEFINGERING=0\n"), std::string::npos) << ini.Text();
    DecodeOptionRecord(EncodeOptionRecord(s), fromRecord);
    EXPECT_EQ(fromRecord.Conv.OptimiseFingering, 0);
}

TEST(SettingsFiles, StringsFromChannelsSitsAtOffset284AndItsKeyIsWrittenOnlyWhenOn) {
    IniFile ini = IniFile::Parse("[PARAMS]\nMAXFRET=21\n");
    StoredSettings s;
    ApplyIniSettings(ini, s);
    EXPECT_EQ(s.Conv.StringsFromChannels, 0);
    StoreIniSettings(ini, s);
    EXPECT_EQ(ini.Text().find("STRINGSFROMCHANNELS"), std::string::npos) << ini.Text();

    s.Conv.StringsFromChannels = 1;
    StoreIniSettings(ini, s);
    EXPECT_NE(ini.Text().find("\nSTRINGSFROMCHANNELS=1\n"), std::string::npos) << ini.Text();
    const OptionFileRecord r = EncodeOptionRecord(s);
    EXPECT_EQ(std::vector<uint8_t>(r.begin() + 284, r.begin() + 288),
              (std::vector<uint8_t>{1, 0, 0, 0}));
    StoredSettings fromRecord;
    DecodeOptionRecord(r, fromRecord);
    EXPECT_EQ(fromRecord.Conv.StringsFromChannels, 1);
    StoredSettings fromIni;
    ApplyIniSettings(IniFile::Parse(ini.Text()), fromIni);
    EXPECT_EQ(fromIni.Conv.StringsFromChannels, 1);
}

TEST(OptionFile, RoundTripsByteForByteAndLeavesColoursAndDirectory) {
    TempDir dir;
    const std::string first = dir.File("a.opt"), second = dir.File("b.opt");
    std::string error;
    ASSERT_TRUE(WriteOptionFile(first, Unusual(), error)) << error;
    EXPECT_EQ(ReadBytes(first).size(), 768u);

    StoredSettings loaded; // defaults: colours and directory must stay so
    loaded.Display.MidiFileDir = "/kept/";
    ASSERT_TRUE(ReadOptionFile(first, loaded, error)) << error;
    StoredSettings expected = Unusual();
    expected.Display.MidiFileDir = "/kept/";
    expected.Display.NotesColor = 0x800080;
    expected.Display.BarColor = 0;
    expected.Display.BackgroundColor = 0x00FFFF;
    ExpectStoredEqual(loaded, expected);

    ASSERT_TRUE(WriteOptionFile(second, loaded, error)) << error;
    EXPECT_EQ(ReadBytes(second), ReadBytes(first));
}

TEST(OptionFile, ShortFileReadsMissingBytesAsZero) {
    TempDir dir;
    const std::string path = dir.File("short.opt");
    OptionFileRecord full = EncodeOptionRecord(Unusual());
    // Cut inside the tuning name: everything from MaxFret on is missing.
    WriteBytes(path, std::string(reinterpret_cast<const char*>(full.data()), 71));
    StoredSettings s = Unusual();
    std::string error;
    ASSERT_TRUE(ReadOptionFile(path, s, error)) << error;
    EXPECT_EQ(s.Conv.PrintMeasPerWidth, 7);
    EXPECT_EQ(s.Conv.ForceFitFret, 1);
    EXPECT_EQ(s.Display.TuningName, "Ope");
    EXPECT_EQ(s.Conv.MaxFret, 0);
    EXPECT_EQ(s.Conv.BassMode, 0);
    EXPECT_EQ(s.Conv.FollowMusic, 0);

    WriteBytes(path, ""); // nothing at all: zeros, with the layout values made usable
    ASSERT_TRUE(ReadOptionFile(path, s, error)) << error;
    EXPECT_EQ(s.Display.MeasuresPerPage, 1);
    EXPECT_EQ(s.Conv.PrintMeasPerWidth, 1);
    EXPECT_EQ(s.Conv.PrintMeasPerHeight, 1);
    EXPECT_EQ(s.TuningSettings.CustomDelta, (std::array<int16_t, 6>{}));
    EXPECT_EQ(s.Display.TuningName, "");
}

TEST(OptionFile, NarrowFieldsKeepLowBitsAndUnterminatedNameIsCut) {
    OptionFileRecord r{};
    auto put = [&r](size_t offset, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            r[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(OptionOffset::Transpose, 300);
    put(OptionOffset::CustomDelta, 0x0001FFFF); // low 16 bits: -1
    put(OptionOffset::MeasuresPerPage, 0x00010004);
    put(OptionOffset::PrintMeasPerWidth, 0xFFFF0002);
    for (size_t i = 0; i < OptionOffset::TuningNameSize; ++i)
        r[OptionOffset::TuningName + i] = 'x';
    StoredSettings s;
    DecodeOptionRecord(r, s);
    EXPECT_EQ(s.TuningSettings.Transpose, 44);
    EXPECT_EQ(s.TuningSettings.CustomDelta[0], -1);
    EXPECT_EQ(s.Display.MeasuresPerPage, 4);
    EXPECT_EQ(s.Conv.PrintMeasPerWidth, 2);
    EXPECT_EQ(s.Display.TuningName, std::string(199, 'x'));

    s.Display.TuningName = std::string(300, 'y'); // saved name is cut so its NUL fits
    OptionFileRecord saved = EncodeOptionRecord(s);
    EXPECT_EQ(saved[OptionOffset::TuningName + 198], 'y');
    EXPECT_EQ(saved[OptionOffset::TuningName + 199], 0);
}

TEST(OptionFile, FilesThatCannotBeOpenedAreErrors) {
    TempDir dir;
    StoredSettings s = Unusual();
    std::string error;
    EXPECT_FALSE(ReadOptionFile(dir.File("missing.opt"), s, error));
    EXPECT_NE(error.find("missing.opt"), std::string::npos) << error;
    EXPECT_EQ(s.Conv.MaxFret, 27); // untouched
    error.clear();
    EXPECT_FALSE(WriteOptionFile(dir.File("no/such/dir.opt"), s, error));
    EXPECT_NE(error.find("dir.opt"), std::string::npos) << error;
}

TEST(SettingsFiles, HostileValuesAreKeptWhereTheTuningArithmeticCannotWrap) {
    StoredSettings s;
    ApplyIniSettings(IniFile::Parse("[PARAMS]\nMAXFRET=0x7FFFFFFF\nCUSTOMDELTA1=32767\n"
                                    "CUSTOMDELTA6=-32768\nTRANSPOSE=-128\nBARCOLOR=-1\n"),
                     s);
    EXPECT_EQ(s.Conv.MaxFret, 255);
    EXPECT_EQ(s.TuningSettings.CustomDelta[0], 127);
    EXPECT_EQ(s.TuningSettings.CustomDelta[5], -127);
    EXPECT_EQ(s.TuningSettings.Transpose, -128);
    EXPECT_EQ(s.Display.BarColor, 0xFFFFFFFFu);

    OptionFileRecord r = EncodeOptionRecord(s);
    for (size_t i = 0; i < 4; ++i)
        r[OptionOffset::CustomDelta + 4 + i] = i == 3 ? 0x80 : 0; // INT32_MIN, low 16 bits 0
    for (size_t i = 0; i < 4; ++i)
        r[268 + i] = i == 3 ? 0x80 : 0; // MaxFret INT32_MIN
    StoredSettings loaded;
    DecodeOptionRecord(r, loaded);
    EXPECT_EQ(loaded.Conv.MaxFret, -255);
    EXPECT_EQ(loaded.TuningSettings.CustomDelta[1], 0);

    // The open strings come out as the plain sums: 52 + 127 + 128 and 76 - 127 + 128.
    Conversion conv;
    conv.SetReporter([](const std::string&) {});
    conv.SetReportSink([](std::string_view) {});
    conv.Settings = s.Conv;
    conv.TuningSettings = s.TuningSettings;
    test::TrackBuilder track;
    track.Note(0, 0, 96).Note(0, 127, 96).End();
    conv.ConvertMidiBytes(test::MidiBuilder(0).Add(track).Bytes(), "hostile.mid");
    EXPECT_EQ(conv.StringPitch[5], 307);
    EXPECT_EQ(conv.StringPitch[0], 77);
}

TEST(SettingsFiles, StandardTabWidthIsAnIniKeyWrittenOnlyWhenNotItsDefault) {
    IniFile ini = IniFile::Parse("[PARAMS]\nMAXFRET=21\n");
    StoredSettings s;
    ApplyIniSettings(ini, s);
    StoreIniSettings(ini, s);
    EXPECT_EQ(ini.Text().find("STANDARDTABWIDTH"), std::string::npos) << ini.Text();
    const OptionFileRecord before = EncodeOptionRecord(s);
    s.Conv.StandardTabWidth = 100;
    StoreIniSettings(ini, s);
    EXPECT_NE(ini.Text().find("\nSTANDARDTABWIDTH=100\n"), std::string::npos) << ini.Text();
    EXPECT_EQ(EncodeOptionRecord(s), before); // the option record has no field for it
    ApplyIniSettings(IniFile::Parse("[PARAMS]\nSTANDARDTABWIDTH=7\n"), s);
    EXPECT_EQ(s.Conv.StandardTabWidth, 40);
}
