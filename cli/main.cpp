// morvel-convert: converts Standard MIDI Files into tablature text without any window.
// One file goes to standard output or -o FILE; with --out-dir, every input becomes
// DIR/<base name>.txt, converted in parallel with one conversion object per thread.

#include "cli/Options.h"
#include "cli/ReportFilter.h"
#include "core/Conversion.h"
#include "core/Metrics.h"
#include "core/SettingsFiles.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace morvel;
using namespace morvel::cli;

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr size_t OUTPUT_BUFFER_BYTES = 1 << 16;

// Messages of all threads go out whole, one line each, never interleaved.
std::mutex messageMutex;

void PrintMessage(const std::string& file, const std::string& text) {
    std::lock_guard<std::mutex> lock(messageMutex);
    bool ended = !text.empty() && text.back() == '\n';
    std::fprintf(stderr, "%s: %s%s", file.c_str(), text.c_str(), ended ? "" : "\n");
}

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

// Converts `input` with `conversion` and streams the kept text to `out`, which stays open.
// `outName` names the output in a write failure message.
FileResult ConvertOne(Conversion& conversion, const Options& options, const Settings& settings,
                      const std::string& input, std::FILE* out, const std::string& outName) {
    auto start = std::chrono::steady_clock::now();
    FileResult result;
    bool writeFailed = false;
    conversion.Settings = settings.Conv;
    conversion.TuningSettings = settings.TuningSettings;
    conversion.SetReporter([&](const std::string& text) {
        ++result.Errors;
        PrintMessage(input, text);
    });
    ReportFilter filter(options.Mode, options.Track, [&](std::string_view kept) {
        if (!writeFailed && std::fwrite(kept.data(), 1, kept.size(), out) != kept.size())
            writeFailed = true;
    });
    conversion.SetReportSink([&](std::string_view chunk) { filter.Feed(chunk); });
    conversion.MidiFileName = input;
    conversion.ConvertMidiFile();
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
    if (std::fflush(out) != 0 || std::ferror(out) || writeFailed) {
        ++result.Errors;
        PrintMessage(outName, std::string("cannot write: ") + std::strerror(errno));
    }
    result.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

int ConvertSingle(const Options& options, const Settings& settings) {
    const std::string& input = options.Inputs.front();
    std::FILE* out = stdout;
    std::string outName = "standard output";
    if (!options.OutputFile.empty()) {
        outName = options.OutputFile;
        out = std::fopen(outName.c_str(), "wb");
        if (!out) {
            PrintMessage(outName, std::string("cannot create: ") + std::strerror(errno));
            return EXIT_FAILED;
        }
    }
    std::setvbuf(out, nullptr, _IOFBF, OUTPUT_BUFFER_BYTES);
    Conversion conversion;
    FileResult result = ConvertOne(conversion, options, settings, input, out, outName);
    if (out != stdout && std::fclose(out) != 0) {
        PrintMessage(outName, std::string("cannot write: ") + std::strerror(errno));
        ++result.Errors;
    }
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
    conversion.MidiFileName = input;
    const std::vector<TrackPlayability> tracks = MeasurePlayability(conversion);

    std::string text;
    PlayabilityFigures total;
    for (const TrackPlayability& track : tracks) {
        text += FormatPlayability("Track " + std::to_string(track.TrackNumber), track.Figures);
        if (!track.RangeHint.empty()) text += " " + track.RangeHint;
        text += '\n';
        total += track.Figures;
    }
    text += FormatPlayability("Total", total) + '\n';

    std::FILE* out = stdout;
    std::string outName = "standard output";
    if (!options.OutputFile.empty()) {
        outName = options.OutputFile;
        out = std::fopen(outName.c_str(), "wb");
        if (!out) {
            PrintMessage(outName, std::string("cannot create: ") + std::strerror(errno));
            return EXIT_FAILED;
        }
    }
    bool failed = std::fwrite(text.data(), 1, text.size(), out) != text.size();
    failed = std::fflush(out) != 0 || failed;
    if (out != stdout) failed = std::fclose(out) != 0 || failed;
    if (failed) {
        PrintMessage(outName, std::string("cannot write: ") + std::strerror(errno));
        ++errors;
    }
    return errors == 0 ? EXIT_OK : EXIT_FAILED;
}

std::string OutputPathFor(const std::string& outDir, const std::string& input) {
    std::filesystem::path name = std::filesystem::path(input).stem();
    name += ".txt";
    return (std::filesystem::path(outDir) / name).string();
}

int ConvertBatch(const Options& options, const Settings& settings) {
    const std::vector<std::string>& inputs = options.Inputs;
    std::vector<std::string> outputs;
    std::map<std::string, size_t> firstWithOutput;
    for (size_t i = 0; i < inputs.size(); ++i) {
        outputs.push_back(OutputPathFor(options.OutDir, inputs[i]));
        auto [it, fresh] = firstWithOutput.emplace(outputs.back(), i);
        if (!fresh) {
            std::fprintf(stderr,
                         "morvel-convert: %s and %s would both be written to %s; convert them "
                         "into different folders\n",
                         inputs[it->second].c_str(), inputs[i].c_str(), outputs.back().c_str());
            return EXIT_USAGE;
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(options.OutDir, ec);
    if (ec) {
        PrintMessage(options.OutDir, "cannot create the folder: " + ec.message());
        return EXIT_FAILED;
    }

    auto start = std::chrono::steady_clock::now();
    std::vector<FileResult> results(inputs.size());
    std::atomic<size_t> next{0};
    auto worker = [&] {
        Conversion conversion; // one per thread, reused for every file it takes
        for (size_t i = next.fetch_add(1); i < inputs.size(); i = next.fetch_add(1)) {
            std::FILE* out = std::fopen(outputs[i].c_str(), "wb");
            if (!out) {
                PrintMessage(outputs[i], std::string("cannot create: ") + std::strerror(errno));
                results[i].Errors = 1;
                continue;
            }
            std::setvbuf(out, nullptr, _IOFBF, OUTPUT_BUFFER_BYTES);
            results[i] = ConvertOne(conversion, options, settings, inputs[i], out, outputs[i]);
            if (std::fclose(out) != 0) {
                PrintMessage(outputs[i], std::string("cannot write: ") + std::strerror(errno));
                ++results[i].Errors;
            }
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
        std::printf(
            "%s -> %s: %s, %zu tracks, %llu notes, %.3f s\n", inputs[i].c_str(), outputs[i].c_str(),
            r.Errors
                ? ("FAILED (" + std::to_string(r.Errors) + (r.Errors == 1 ? " error)" : " errors)"))
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
    std::string error;
    // The reader takes a missing INI file for "all defaults"; a file named on the command
    // line that is not there is a mistake worth saying.
    if (!options.IniFile.empty() && !std::filesystem::exists(options.IniFile)) {
        PrintMessage(options.IniFile, "no such file");
        return false;
    }
    if (!options.IniFile.empty() && !ReadIniSettings(options.IniFile, stored, error)) {
        PrintMessage("morvel-convert", error); // the text names the file itself
        return false;
    }
    if (!options.OptionFile.empty() && !ReadOptionFile(options.OptionFile, stored, error)) {
        PrintMessage("morvel-convert", error);
        return false;
    }
    settings.Conv = stored.Conv;
    settings.TuningSettings = stored.TuningSettings;
    ApplyFlags(options, settings.Conv, settings.TuningSettings);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!ParseArguments(argc, argv, options, error)) {
        std::fprintf(stderr, "morvel-convert: %s\nTry 'morvel-convert --help'.\n", error.c_str());
        return EXIT_USAGE;
    }
    if (options.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return EXIT_OK;
    }
    Settings settings;
    if (!LoadSettings(options, settings)) return EXIT_USAGE;
    if (options.Metrics) return MetricsSingle(options, settings);
    if (!options.OutDir.empty()) return ConvertBatch(options, settings);
    return ConvertSingle(options, settings);
}
