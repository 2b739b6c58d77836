// Command line of the batch converter: what to convert, where the text goes, and the
// conversion settings given as flags. Parsing never touches the file system.
#pragma once

#include "core/SettingsTable.h"
#include "core/Song.h"
#include "formats/ScoreWriter.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvel::cli {

enum class OutputMode {
    AllText, // the whole report without separator bytes
    Track,   // one track's section
    Report,  // the raw report, separators included
};

struct Options {
    OutputMode Mode = OutputMode::AllText;
    int Track = 0; // 1-based, with OutputMode::Track
    std::vector<std::string> Inputs;
    std::string OutputFile; // empty or "-": standard output
    std::string OutDir;     // non-empty: one .txt per input in this folder
    unsigned Jobs = 0;      // worker threads for --out-dir; 0: one per core
    bool Help = false;
    bool Version = false; // --version: print the program's name and version
    bool Metrics = false; // print playability figures per track instead of the tablature
    const ScoreFormat* Format = nullptr; // a score format (--musicxml, --gp5) instead of the text
    bool Notes = false;    // write the note list (one line per note) instead of the text
    bool StandardLayout = false; // --layout standard: standard tab instead of the text

    std::string IniFile;
    std::string OptionFile;

    // Settings given as flags, by their row of the settings table; each one present overrides
    // what the files said.
    std::optional<std::array<int16_t, STRING_COUNT>> TuningDelta; // from --tuning
    std::array<std::optional<int64_t>, SETTING_ROWS.size()> SettingFlags;
};

// Reads argv[1..argc-1]. False with `error` set (one line, no trailing newline) on a usage
// error: unknown flag, missing or malformed value, value out of range, bad combination.
bool ParseArguments(int argc, const char* const* argv, Options& options, std::string& error);

// Lays the flags over settings read from files: the tuning preset first, then every other
// setting flag (each --deltaN changes one string of the preset).
void ApplyFlags(const Options& options, ConversionSettings& settings, Tuning& tuning);

// Whole-text decimal integer with an optional sign; nothing else is accepted.
bool ParseInt(std::string_view text, int& value);

// The --help text.
std::string UsageText();

// Ranges the options dialog allows; the flags accept the same.
constexpr int TRANSPOSE_MIN = Setting("TRANSPOSE").Min;
constexpr int TRANSPOSE_MAX = Setting("TRANSPOSE").Max;
constexpr int DELTA_MIN = Setting("CUSTOMDELTA1").Min;
constexpr int DELTA_MAX = Setting("CUSTOMDELTA1").Max;
constexpr int MAX_FRET_MIN = Setting("MAXFRET").Min;
constexpr int MAX_FRET_MAX = Setting("MAXFRET").Max;
constexpr int MAX_TRACK_NUMBER = 1 << 30;
constexpr int MAX_JOBS = 256;

} // namespace morvel::cli
