// The converter's report filter and argument parser, without running the binary.

#include "cli/Options.h"
#include "cli/ReportFilter.h"
#include "core/Conversion.h"

#include <gtest/gtest.h>

using namespace morvel;
using namespace morvel::cli;

namespace {

std::string Filter(const std::string& report, OutputMode mode, int track, size_t chunkSize,
                   int* separators = nullptr) {
    std::string out;
    ReportFilter filter(mode, track, [&](std::string_view kept) { out += kept; });
    for (size_t at = 0; at < report.size(); at += chunkSize)
        filter.Feed(std::string_view(report).substr(at, chunkSize));
    if (separators) *separators = filter.SeparatorsSeen();
    return out;
}

TEST(ReportFilterTest, AnyChunkingGivesTheSameTextAsTheWholeReport) {
    const std::string report = "banner\r\n\r\n\xFA"
                               "one\r\n\xFA\xFA"
                               "three\r\n|--0--|\r\n\xFA\r\nChords:\r\n";
    for (size_t chunk = 1; chunk <= report.size(); ++chunk) {
        SCOPED_TRACE(chunk);
        int separators = 0;
        EXPECT_EQ(Filter(report, OutputMode::AllText, 0, chunk, &separators),
                  ExtractReportText(report, -1));
        EXPECT_EQ(separators, 4);
        EXPECT_EQ(Filter(report, OutputMode::Report, 0, chunk), report);
        for (int track = 1; track <= 5; ++track)
            EXPECT_EQ(Filter(report, OutputMode::Track, track, chunk),
                      ExtractReportText(report, track))
                << "track " << track;
    }
    EXPECT_EQ(Filter(report, OutputMode::Track, 3, 5), "three\r\n|--0--|\r\n");
    EXPECT_EQ(Filter(report, OutputMode::Track, 4, 2), "\r\nChords:\r\n");
    EXPECT_EQ(Filter(report, OutputMode::Track, 2, 1), "");
}

bool Parse(std::vector<const char*> args, Options& options, std::string& error) {
    args.insert(args.begin(), "morvel-convert");
    return ParseArguments(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(OptionsTest, FlagsOverrideOnlyWhatTheyName) {
    Options options;
    std::string error;
    ASSERT_TRUE(Parse({"--tuning=Open D", "--delta4", "+3", "--transpose=-25", "--max-fret", "27",
                       "--no-show-chords", "--force-fit", "--", "--odd-name.mid"},
                      options, error))
        << error;
    ASSERT_EQ(options.Inputs, std::vector<std::string>{"--odd-name.mid"});

    ConversionSettings settings;
    settings.ShowChord = 1; // as an INI file might have set them
    settings.ShowSpecial = 1;
    settings.BassMode = 1;
    Tuning tuning;
    tuning.CustomDelta = {5, 5, 5, 5, 5, 5};
    ApplyFlags(options, settings, tuning);
    EXPECT_EQ(tuning.CustomDelta, (std::array<int16_t, STRING_COUNT>{-2, 0, 0, 3, -2, -2}));
    EXPECT_EQ(tuning.Transpose, -25);
    EXPECT_EQ(settings.MaxFret, 27);
    EXPECT_EQ(settings.ShowChord, 0);
    EXPECT_EQ(settings.ForceFitFret, 1);
    EXPECT_EQ(settings.ShowSpecial, 1);
    EXPECT_EQ(settings.BassMode, 1);

    Options shortForms;
    ASSERT_TRUE(Parse({"-j3", "-oout.txt", "a.mid"}, shortForms, error)) << error;
    EXPECT_EQ(shortForms.Jobs, 3u);
    EXPECT_EQ(shortForms.OutputFile, "out.txt");
}

TEST(OptionsTest, ErrorsNameTheFlagAndTheRange) {
    Options options;
    std::string error;
    EXPECT_FALSE(Parse({"--delta2", "-13", "a.mid"}, options, error));
    EXPECT_EQ(error, "--delta2: -13 is out of range -12..12");
    EXPECT_FALSE(Parse({"a.mid", "--max-fret"}, options, error));
    EXPECT_EQ(error, "--max-fret needs a value");
    EXPECT_FALSE(Parse({"--transpose", "2x", "a.mid"}, options, error));
    EXPECT_EQ(error, "--transpose: '2x' is not a whole number");
}

} // namespace
