// Every file of the shared MIDI corpus, real and damaged alike, converts without a crash or
// a hang, ends with status 0 or 1, and converts to the same bytes when run again.

#include "tests/cli/CliSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace morvel::clitest;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> files;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(MORVEL_MIDI_CORPUS, ec)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (entry.is_regular_file() && (ext == ".mid" || ext == ".kar" || ext == ".midi"))
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void ConvertCorpus(const std::vector<std::string>& flags) {
    std::vector<std::string> files = CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "no MIDI corpus at " << MORVEL_MIDI_CORPUS;
    int failed = 0;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::vector<std::string> args = flags;
        args.push_back("--report");
        args.push_back(file);
        RunResult first = RunConvert(args);
        ASSERT_FALSE(first.TimedOut);
        ASSERT_EQ(first.Signal, 0) << first.Err;
        ASSERT_TRUE(first.ExitCode == 0 || first.ExitCode == 1) << "exit " << first.ExitCode << "\n"
                                                                << first.Err;
        EXPECT_EQ(first.ExitCode == 1, !first.Err.empty()) << first.Err;
        failed += first.ExitCode;

        RunResult second = RunConvert(args);
        EXPECT_EQ(second.ExitCode, first.ExitCode);
        EXPECT_TRUE(second.Out == first.Out) << "the report differs on a second run";
        EXPECT_EQ(second.Err, first.Err);
    }
    // The corpus is mostly sound music: most files must convert.
    EXPECT_LT(failed, static_cast<int>(files.size()) / 2);
}

TEST(CorpusTest, DefaultSettings) {
    ConvertCorpus({});
}

TEST(CorpusTest, EverySwitchOnAndTransposed) {
    ConvertCorpus({"--show-chords", "--show-special", "--force-fit", "--bass", "--transpose", "3"});
}

} // namespace
