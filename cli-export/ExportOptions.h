// Command line of morvel-export: the converter's flags (track, settings files, settings) plus
// what to write for the track: its picture and its printed pages.
#pragma once

#include "cli/Options.h"

#include <optional>
#include <string>

namespace morvel::cliexport {

enum class PageSizeChoice { A4, Letter };

struct ExportOptions {
    cli::Options Convert;      // --track N, --ini, --options and the settings flags
    std::string Png;           // --png FILE: the picture, in the format of FILE's suffix (else PNG)
    std::string Bmp;           // --bmp FILE: the picture, in the format of FILE's suffix (else BMP)
    std::string Pdf;           // --pdf FILE: the printed pages
    std::optional<int> Width;  // outer window width the picture is computed from
    std::optional<int> Height; // outer window height
    PageSizeChoice PageSize = PageSizeChoice::A4;
    std::optional<int> Across; // printed measures across a page (PrintMeasPerWidth)
    std::optional<int> Down;   // printed measures down a page (PrintMeasPerHeight)
};

// Window sizes accepted by --width and --height, and measures across and down a page (the
// range the options dialog allows).
constexpr int WIDTH_MIN = 100;
constexpr int WIDTH_MAX = 20000;
constexpr int HEIGHT_MIN = 40;
constexpr int HEIGHT_MAX = 20000;
constexpr int PRINT_MEASURES_MIN = 1;
constexpr int PRINT_MEASURES_MAX = 10;

// Reads argv[1..argc-1]. False with `error` (one line) on a usage error: an unknown flag or a
// bad value, no or several MIDI files, no --track, nothing to write, or a converter flag that
// names text output (-o, --out-dir, --report, --jobs).
bool ParseExportArguments(int argc, const char* const* argv, ExportOptions& options,
                          std::string& error);

// The --help text.
std::string ExportUsageText();

} // namespace morvel::cliexport
