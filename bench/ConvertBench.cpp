// Conversion throughput on large files: bytes and notes per second of a whole conversion
// from bytes in memory, the report streamed to a sink that only counts it.
//
// Files: MORVEL_BENCH_DATA (default: the folder bench/run.sh fills with the generated
// 'dense' and 'long-guitar' files) and the corpus's stress file. A missing file is skipped.

#include "core/Conversion.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace morvel;

std::string DataDir() {
    const char* dir = std::getenv("MORVEL_BENCH_DATA");
    return dir ? dir : MORVEL_BENCH_DEFAULT_DATA;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void Convert(benchmark::State& state, const std::string& path, bool allSwitches) {
    if (!std::filesystem::exists(path)) {
        state.SkipWithError(("missing " + path + " (run bench/run.sh)").c_str());
        return;
    }
    std::string bytes = ReadAll(path);
    Conversion conversion;
    conversion.Settings.ShowChord = allSwitches;
    conversion.Settings.ShowSpecial = allSwitches;
    int errors = 0;
    conversion.SetReporter([&](const std::string&) { ++errors; });
    uint64_t reportBytes = 0;
    conversion.SetReportSink([&](std::string_view chunk) { reportBytes += chunk.size(); });
    uint64_t notes = 0;
    for (auto _ : state) {
        conversion.ConvertMidiBytes(bytes, path);
        notes = 0;
        for (const TrackRecord& track : conversion.TrackList)
            notes += track.Notes.size();
        benchmark::DoNotOptimize(reportBytes);
    }
    if (errors) state.SkipWithError("the conversion reported errors");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.counters["notes/s"] = benchmark::Counter(static_cast<double>(notes),
                                                   benchmark::Counter::kIsIterationInvariantRate);
    state.counters["report MB"] =
        static_cast<double>(reportBytes) / static_cast<double>(state.iterations()) / 1e6;
}

void Dense(benchmark::State& state) {
    Convert(state, DataDir() + "/dense.mid", state.range(0));
}
void LongGuitar(benchmark::State& state) {
    Convert(state, DataDir() + "/long-guitar.mid", state.range(0));
}
void Stress(benchmark::State& state) {
    Convert(state, std::string(MORVEL_MIDI_CORPUS) + "/seq64-b4uacuse-stress.mid", state.range(0));
}

// Argument: 1 with chords and special parameters on, 0 with defaults.
BENCHMARK(Dense)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LongGuitar)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Stress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
