#include "formats/MidiTimeline.h"
#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

namespace morvel {
namespace {

namespace fs = std::filesystem;

// Calls `visit(path, bytes)` for every MIDI file of the corpus; returns how many there were.
template <typename Visit> int ForEachCorpusFile(const fs::path& corpus, Visit visit) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() != ".mid") continue;
        ++files;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        visit(entry.path(), bytes.str());
    }
    return files;
}

// Every file of the shared corpus converts under several settings without a crash, and a
// second run gives the same report and messages.
TEST(Corpus, EveryFileConvertsTheSameWayTwice) {
    const fs::path corpus = MORVEL_MIDI_CORPUS;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no MIDI corpus at " << corpus;

    using Configure = void (*)(Conversion&);
    const Configure settings[] = {
        [](Conversion&) {},
        [](Conversion& c) {
            c.Settings.ShowChord = c.Settings.ShowSpecial = c.Settings.ForceFitFret = 1;
            c.Settings.BassMode = 1;
            c.Settings.OptimiseFingering = 1;
            c.TuningSettings.Transpose = 3;
        },
        [](Conversion& c) {
            c.TuningSettings.CustomDelta = {-2, 0, 0, -1, -2, -2};
            c.Settings.MaxFret = 27;
            c.Settings.ShowChord = 1;
        },
    };
    const int files =
        ForEachCorpusFile(corpus, [&](const fs::path& path, const std::string& bytes) {
            for (Configure configure : settings) {
                Conversion conv;
                configure(conv);
                auto first = test::ConvertBytes(conv, bytes, path.filename());
                auto second = test::ConvertBytes(conv, bytes, path.filename());
                EXPECT_EQ(first.report, second.report) << path;
                EXPECT_EQ(first.errors, second.errors) << path;
                // A report is either absent (the file was refused) or complete.
                if (!first.report.empty()) {
                    EXPECT_TRUE(first.report.ends_with("\r\n")) << path;
                }
            }
        });
    EXPECT_GT(files, 0);
}

// Frets the text shows in each written column, in order over all tracks.
std::vector<int> FretsShownPerColumn(Conversion& conv, const std::string& bytes) {
    std::vector<int> shown;
    conv.SetColumnObserver([&](uint32_t, const TabColumn& column) {
        int frets = 0;
        if (column.Label == LABEL_NOTES)
            for (uint8_t fret : column.Fret)
                frets += fret != NO_FRET ? 1 : 0;
        shown.push_back(frets);
    });
    test::ConvertBytes(conv, bytes);
    conv.SetColumnObserver(nullptr);
    return shown;
}

// No written column shows fewer frets with the optimised fingering than without it.
TEST(Corpus, OptimisedFingeringNeverShowsFewerFretsInAColumn) {
    const fs::path corpus = MORVEL_MIDI_CORPUS;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no MIDI corpus at " << corpus;
    using Configure = void (*)(Conversion&);
    const Configure settings[] = {
        [](Conversion&) {},
        [](Conversion& c) { c.TuningSettings.Transpose = 12; },
        [](Conversion& c) { c.Settings.ForceFitFret = c.Settings.BassMode = 1; },
    };
    ForEachCorpusFile(corpus, [&](const fs::path& path, const std::string& bytes) {
        for (Configure configure : settings) {
            Conversion conv;
            configure(conv);
            const std::vector<int> nearest = FretsShownPerColumn(conv, bytes);
            conv.Settings.OptimiseFingering = 1;
            const std::vector<int> optimised = FretsShownPerColumn(conv, bytes);
            ASSERT_EQ(optimised.size(), nearest.size()) << path;
            for (size_t c = 0; c < nearest.size(); ++c)
                ASSERT_GE(optimised[c], nearest[c]) << path << " column " << c;
        }
    });
}

// Every corpus file the timeline reader (a reader of the standard) accepts converts with
// lenient reading without a message, with the note-ons that reader finds; a file the strictRead
// reader reads without a message gives the same report, one it refuses gets the hint.
TEST(Corpus, LenientReadingFindsTheStandardReadersNotes) {
    const fs::path corpus = MORVEL_MIDI_CORPUS;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no MIDI corpus at " << corpus;
    ForEachCorpusFile(corpus, [&](const fs::path& path, const std::string& bytes) {
        const MidiTimeline timeline = ReadMidiTimeline(bytes);
        if (!timeline.Valid) return;
        Conversion strict, conv;
        conv.Settings.LenientReading = 1;
        const test::Converted strictRead = test::ConvertBytes(strict, bytes);
        const test::Converted lenient = test::ConvertBytes(conv, bytes);
        EXPECT_TRUE(lenient.errors.empty()) << path << ": " << lenient.errors.front();
        ASSERT_EQ(conv.TrackList.size(), timeline.Tracks.size()) << path;
        for (size_t t = 0; t < timeline.Tracks.size(); ++t) {
            std::vector<std::tuple<uint64_t, int, int>> read, found;
            uint64_t tick = 0;
            for (const NoteRecord& n : conv.TrackList[t].Notes)
                read.emplace_back(tick += n.DeltaTime, n.Note, n.Channel);
            for (const TimelineNote& n : timeline.Tracks[t].Notes)
                found.emplace_back(n.Start, n.Key, n.Channel);
            EXPECT_TRUE(read == found) << path << " track " << t;
        }
        EXPECT_TRUE(!strictRead.errors.empty() || strictRead.report == lenient.report) << path;
        EXPECT_EQ(strict.OpensWithLenientReading(), !strictRead.errors.empty()) << path;
    });
}

} // namespace
} // namespace morvel
