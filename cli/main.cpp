// morvel-convert: converts Standard MIDI Files into tablature text without any window.
// One file goes to standard output or -o FILE; with --out-dir, every input becomes
// DIR/<base name>.txt, converted in parallel with one conversion object per thread. An output
// file is replaced only by a conversion that succeeded (see OutputFile); SIGINT, SIGTERM and
// SIGHUP remove the files half written before the process ends.

#include "cli/NoteList.h"
#include "cli/Options.h"
#include "cli/ReportFilter.h"
#include "cli/ToolCommon.h"
#include "core/Conversion.h"
#include "core/Metrics.h"
#include "formats/OpenedSong.h"
#include "formats/ScoreFile.h"
#include "formats/StandardTab.h"
#include "io/OutputFile.h"
#include "core/SettingsFiles.h"
#include "io/TempFiles.h"
#include "core/Version.h"

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace morvel;
using namespace morvel::cli;

struct Settings {
    ConversionSettings Conv;
    Tuning TuningSettings;
};

struct FileResult {
    int Errors = 0; // messages reported for this file: conversion errors and output failures
    size_t Tracks = 0;
    uint64_t Notes = 0;
    double Seconds = 0;
};

// The text tablature of `input` into `out`: the whole text, one track or the raw report.
void ConvertToText(Conversion& conversion, const Options& options, const std::string& input,
                   OutputFile& out, FileResult& result) {
    ReportFilter filter(options.Mode, options.Track,
                        [&](std::string_view kept) { out.Write(kept.data(), kept.size()); });
    conversion.SetReportSink([&](std::string_view chunk) { filter.Feed(chunk); });
    std::string bytes;
    if (ReadSongForConversion(conversion, input, bytes)) conversion.ConvertMidiBytes(bytes, input);
    conversion.SetReportSink(nullptr);

    for (const TrackRecord& track : conversion.TrackList)
        result.Notes += track.Notes.size();
    result.Tracks = conversion.TrackList.size();
    if (options.Mode == OutputMode::Track && result.Errors == 0 &&
        filter.SeparatorsSeen() < options.Track) {
        ++result.Errors;
        int tracks = filter.SeparatorsSeen();
        PrintMessage(input, "no track " + std::to_string(options.Track) + ": the file has " +
                                std::to_string(tracks) + (tracks == 1 ? " track" : " tracks"));
    }
}

// The score of `input` written by `writer` into `out`, with its summary (and any drum tracks
// left out) on standard error.
void ConvertToScore(Conversion& conversion, const Options& options, const ScoreWriter& writer,
                    const std::string& input, OutputFile& out, FileResult& result) {
    ScoreOptions score;
    score.WorkTitle = std::filesystem::path(input).filename().string();
    if (options.Mode == OutputMode::Track)
        score.Tracks.push_back(static_cast<uint32_t>(options.Track - 1));
    ScoreSummary summary;
    std::string bytes;
    const bool written =
        ReadSongForConversion(conversion, input, bytes) &&
        WriteScore(
            conversion, bytes, input, score, writer,
            [&](std::string_view chunk) { out.Write(chunk.data(), chunk.size()); }, summary);
    for (const TrackRecord& track : conversion.TrackList)
        result.Notes += track.Notes.size();
    result.Tracks = conversion.TrackList.size();
    if (!summary.DrumTracks.empty()) {
        std::string list;
        for (uint32_t track : summary.DrumTracks)
            list += (list.empty() ? "" : ", ") + std::to_string(track);
        PrintMessage(input, (summary.DrumTracks.size() == 1 ? "track " : "tracks ") + list +
                                " left out: all notes on channel 10 (drums)");
    }
    if (!written) {
        if (!summary.Error.empty()) {
            ++result.Errors;
            PrintMessage(input, summary.Error);
        }
        result.Errors = std::max(result.Errors, 1);
        return;
    }
    // A file the conversion refused is not written: nothing to sum up.
    if (result.Errors == 0) PrintMessage(input, writer.Summary(summary));
}

// The note list of `input` into `out`.
void ConvertToNoteList(Conversion& conversion, const Options& options, const std::string& input,
                       OutputFile& out, FileResult& result) {
    std::string error;
    std::string bytes;
    const bool written =
        ReadSongForConversion(conversion, input, bytes) &&
        WriteNoteList(
            conversion, bytes, input, options.Mode == OutputMode::Track ? options.Track : 0,
            [&](std::string_view chunk) { out.Write(chunk.data(), chunk.size()); }, error);
    for (const TrackRecord& track : conversion.TrackList)
        result.Notes += track.Notes.size();
    result.Tracks = conversion.TrackList.size();
    if (!error.empty()) {
        ++result.Errors;
        PrintMessage(input, error);
    }
    if (!written) result.Errors = std::max(result.Errors, 1);
}

// Converts `input` with `conversion`, streams the kept text to `out` and finishes it: the text
// is kept only when the conversion reported no error. `outName` names the output in a write
// failure message.
FileResult ConvertOne(Conversion& conversion, const Options& options, const Settings& settings,
                      const std::string& input, OutputFile& out, const std::string& outName) {
    auto start = std::chrono::steady_clock::now();
    FileResult result;
    conversion.Settings = settings.Conv;
    conversion.TuningSettings = settings.TuningSettings;
    conversion.SetReporter([&](const std::string& text) {
        ++result.Errors;
        PrintMessage(input, text);
    });
    if (options.Format != nullptr) {
        ConvertToScore(conversion, options, options.Format->Writer, input, out, result);
    } else if (options.StandardLayout) {
        const StandardTabWriter writer(settings.Conv.StandardTabWidth, settings.Conv.MaxFret);
        ConvertToScore(conversion, options, writer, input, out, result);
    } else if (options.Notes) {
        ConvertToNoteList(conversion, options, input, out, result);
    } else {
        ConvertToText(conversion, options, input, out, result);
    }
    if (conversion.OpensWithLenientReading()) PrintMessage(input, LENIENT_HINT);
    if (std::string error; !out.Finish(result.Errors == 0, error)) {
        ++result.Errors;
        PrintMessage(outName, error);
    }
    result.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

bool ToStandardOutput(const Options& options) {
    return options.OutputFile.empty() || options.OutputFile == "-";
}

int ConvertSingle(const Options& options, const Settings& settings) {
    const std::string& input = options.Inputs.front();
    OutputFile out;
    std::string outName = "standard output";
    if (ToStandardOutput(options)) {
        out.OpenStandardOutput();
    } else {
        outName = options.OutputFile;
        std::string error;
        if (!out.Open(outName, FileIds(ReadFiles(options)), error, READ_FILE_REFUSAL)) {
            PrintMessage(outName, error);
            return EXIT_FAILED;
        }
    }
    Conversion conversion;
    FileResult result = ConvertOne(conversion, options, settings, input, out, outName);
    return result.Errors == 0 ? EXIT_OK : EXIT_FAILED;
}

// Prints the playability figures of every track with notes and their total.
int MetricsSingle(const Options& options, const Settings& settings) {
    const std::string& input = options.Inputs.front();
    Conversion conversion;
    conversion.Settings = settings.Conv;
    conversion.TuningSettings = settings.TuningSettings;
    int errors = 0;
    conversion.SetReporter([&](const std::string& text) {
        ++errors;
        PrintMessage(input, text);
    });
    std::string bytes;
    std::vector<TrackPlayability> tracks;
    if (ReadSongForConversion(conversion, input, bytes))
        tracks = MeasurePlayability(conversion, bytes, input);
    if (conversion.OpensWithLenientReading()) PrintMessage(input, LENIENT_HINT);

    std::string text;
    PlayabilityFigures total;
    for (const TrackPlayability& track : tracks) {
        text += FormatPlayability("Track " + std::to_string(track.TrackNumber), track.Figures);
        if (!track.RangeHint.empty()) text += " " + track.RangeHint;
        text += '\n';
        total += track.Figures;
    }
    text += FormatPlayability("Total", total) + '\n';

    OutputFile out;
    std::string outName = "standard output";
    std::string error;
    if (ToStandardOutput(options)) {
        out.OpenStandardOutput();
    } else if (outName = options.OutputFile;
               !out.Open(outName, FileIds(ReadFiles(options)), error, READ_FILE_REFUSAL)) {
        PrintMessage(outName, error);
        return EXIT_FAILED;
    }
    out.Write(text.data(), text.size());
    if (!out.Finish(true, error)) {
        PrintMessage(outName, error);
        ++errors;
    }
    return errors == 0 ? EXIT_OK : EXIT_FAILED;
}

std::string OutputPathFor(const std::string& outDir, const std::string& input,
                          const Options& options) {
    std::filesystem::path name = std::filesystem::path(input).stem();
    name += options.Format != nullptr ? std::string(options.Format->Writer.Suffix())
            : options.StandardLayout  ? std::string(StandardTabWriter().Suffix())
            : options.Notes           ? std::string(".tsv")
                                      : std::string(".txt");
    return (std::filesystem::path(outDir) / name).string();
}

int ConvertBatch(const Options& options, const Settings& settings) {
    const std::vector<std::string>& inputs = options.Inputs;
    std::vector<std::string> outputs;
    std::map<std::string, size_t> firstWithOutput;
    for (size_t i = 0; i < inputs.size(); ++i) {
        outputs.push_back(OutputPathFor(options.OutDir, inputs[i], options));
        auto [it, fresh] = firstWithOutput.emplace(outputs.back(), i);
        if (!fresh) {
            std::fprintf(stderr,
                         "morvel-convert: %s and %s would both be written to %s; convert them "
                         "into different folders\n",
                         EscapeControlBytes(inputs[it->second]).c_str(),
                         EscapeControlBytes(inputs[i]).c_str(),
                         EscapeControlBytes(outputs.back()).c_str());
            return EXIT_USAGE;
        }
    }
    struct stat folder;
    if (::lstat(options.OutDir.c_str(), &folder) == 0 && S_ISLNK(folder.st_mode) &&
        ::stat(options.OutDir.c_str(), &folder) != 0) {
        PrintMessage(options.OutDir, errno == ELOOP
                                         ? "is a symbolic link that never reaches a folder (a loop)"
                                         : "is a symbolic link to a folder that does not exist");
        return EXIT_FAILED;
    }
    std::error_code ec;
    if (std::filesystem::exists(options.OutDir, ec) &&
        !std::filesystem::is_directory(options.OutDir, ec)) {
        PrintMessage(options.OutDir, "is not a folder");
        return EXIT_FAILED;
    }
    std::filesystem::create_directories(options.OutDir, ec);
    if (ec) {
        PrintMessage(options.OutDir, "cannot create the folder: " + ec.message());
        return EXIT_FAILED;
    }

    const std::vector<FileId> inputIds = FileIds(ReadFiles(options));
    auto start = std::chrono::steady_clock::now();
    std::vector<FileResult> results(inputs.size());
    std::atomic<size_t> next{0};
    auto worker = [&] {
        Conversion conversion; // one per thread, reused for every file it takes
        for (size_t i = next.fetch_add(1); i < inputs.size(); i = next.fetch_add(1)) {
            OutputFile out;
            std::string error;
            if (!out.Open(outputs[i], inputIds, error, READ_FILE_REFUSAL)) {
                PrintMessage(outputs[i], error);
                results[i].Errors = 1;
                continue;
            }
            results[i] = ConvertOne(conversion, options, settings, inputs[i], out, outputs[i]);
        }
    };
    unsigned jobs = options.Jobs ? options.Jobs : std::max(1u, std::thread::hardware_concurrency());
    jobs = static_cast<unsigned>(std::min<size_t>(jobs, inputs.size()));
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < jobs; ++t)
        threads.emplace_back(worker);
    worker();
    for (std::thread& thread : threads)
        thread.join();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    size_t failures = 0;
    uint64_t notes = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const FileResult& r = results[i];
        notes += r.Notes;
        if (r.Errors) ++failures;
        std::printf("%s -> %s: %s, %zu tracks, %llu notes, %.3f s\n",
                    EscapeControlBytes(inputs[i]).c_str(), EscapeControlBytes(outputs[i]).c_str(),
                    r.Errors ? ("FAILED (" + std::to_string(r.Errors) +
                                (r.Errors == 1 ? " error)" : " errors)"))
                                   .c_str()
                             : "ok",
                    r.Tracks, static_cast<unsigned long long>(r.Notes), r.Seconds);
    }
    std::printf("%zu files, %zu failed, %llu notes, %.3f s\n", inputs.size(), failures,
                static_cast<unsigned long long>(notes), seconds);
    std::fflush(stdout);
    return failures == 0 ? EXIT_OK : EXIT_FAILED;
}

// INI file first, then the option file, then the flags.
bool LoadSettings(const Options& options, Settings& settings) {
    StoredSettings stored;
    stored.Conv = settings.Conv;
    stored.TuningSettings = settings.TuningSettings;
    if (!cli::LoadSettings(options, stored, "morvel-convert")) return false;
    settings.Conv = stored.Conv;
    settings.TuningSettings = stored.TuningSettings;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Past a file-size limit a write then fails with EFBIG and is reported like any other
    // write error, instead of the signal ending the process without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    RemoveTemporaryFilesOnSignals();
    Options options;
    std::string error;
    if (!ParseArguments(argc, argv, options, error)) {
        std::fprintf(stderr, "morvel-convert: %s\nTry 'morvel-convert --help'.\n",
                     EscapeControlBytes(error).c_str());
        return EXIT_USAGE;
    }
    if (options.Version) {
        std::printf("morvel-convert %s\n", PROGRAM_VERSION);
        return EXIT_OK;
    }
    if (options.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return EXIT_OK;
    }
    Settings settings;
    if (!LoadSettings(options, settings)) return EXIT_USAGE;
    if (!CheckStandardOutput(ReadFiles(options))) return EXIT_FAILED;
    if (options.Metrics) return MetricsSingle(options, settings);
    if (!options.OutDir.empty()) return ConvertBatch(options, settings);
    return ConvertSingle(options, settings);
}
