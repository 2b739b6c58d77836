#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace morvel {
namespace {

namespace fs = std::filesystem;

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
    int files = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() != ".mid") continue;
        ++files;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        for (Configure configure : settings) {
            Conversion conv;
            configure(conv);
            auto first = test::ConvertBytes(conv, bytes.str(), entry.path().filename());
            auto second = test::ConvertBytes(conv, bytes.str(), entry.path().filename());
            EXPECT_EQ(first.report, second.report) << entry.path();
            EXPECT_EQ(first.errors, second.errors) << entry.path();
            // A report is either absent (the file was refused) or complete.
            if (!first.report.empty()) {
                EXPECT_TRUE(first.report.ends_with("\r\n")) << entry.path();
            }
        }
    }
    EXPECT_GT(files, 0);
}

} // namespace
} // namespace morvel
