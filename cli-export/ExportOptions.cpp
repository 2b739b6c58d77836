#include "cli-export/ExportOptions.h"

#include <charconv>
#include <string_view>
#include <vector>

namespace morvel::cliexport {

namespace {

using cli::ParseInt;

enum class Flag { Png, Bmp, Pdf, Width, Height, PageSize, Across, Down };

struct OwnFlag {
    std::string_view Name;
    Flag Kind;
};

constexpr OwnFlag OwnFlags[] = {
    {"--png", Flag::Png},       {"--bmp", Flag::Bmp},       {"--pdf", Flag::Pdf},
    {"--width", Flag::Width},   {"--height", Flag::Height}, {"--page-size", Flag::PageSize},
    {"--across", Flag::Across}, {"--down", Flag::Down},
};

bool Fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

bool TakeInt(std::string_view flag, std::string_view text, int low, int high,
             std::optional<int>& target, std::string& error) {
    int value = 0;
    if (!ParseInt(text, value))
        return Fail(error,
                    std::string(flag) + ": '" + std::string(text) + "' is not a whole number");
    if (value < low || value > high)
        return Fail(error, std::string(flag) + ": " + std::to_string(value) + " is out of range " +
                               std::to_string(low) + ".." + std::to_string(high));
    target = value;
    return true;
}

bool Apply(Flag kind, std::string_view flag, std::string_view value, ExportOptions& options,
           std::string& error) {
    auto name = [&](std::string& target) {
        if (value.empty()) return Fail(error, std::string(flag) + " needs a file name");
        target = value;
        return true;
    };
    switch (kind) {
    case Flag::Png:
        return name(options.Png);
    case Flag::Bmp:
        return name(options.Bmp);
    case Flag::Pdf:
        return name(options.Pdf);
    case Flag::Width:
        return TakeInt(flag, value, WIDTH_MIN, WIDTH_MAX, options.Width, error);
    case Flag::Height:
        return TakeInt(flag, value, HEIGHT_MIN, HEIGHT_MAX, options.Height, error);
    case Flag::Across:
        return TakeInt(flag, value, PRINT_MEASURES_MIN, PRINT_MEASURES_MAX, options.Across, error);
    case Flag::Down:
        return TakeInt(flag, value, PRINT_MEASURES_MIN, PRINT_MEASURES_MAX, options.Down, error);
    case Flag::PageSize:
        if (value == "A4" || value == "a4") {
            options.PageSize = PageSizeChoice::A4;
            return true;
        }
        if (value == "Letter" || value == "letter") {
            options.PageSize = PageSizeChoice::Letter;
            return true;
        }
        return Fail(error, "--page-size: '" + std::string(value) + "' is not A4 or Letter");
    }
    return false;
}

} // namespace

bool ParseExportArguments(int argc, const char* const* argv, ExportOptions& options,
                          std::string& error) {
    // Our own flags are taken out here; everything else goes to the converter's parser.
    std::vector<const char*> rest{argc > 0 ? argv[0] : "morvel-export"};
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg(argv[i]);
        if (onlyFiles || arg == "--") {
            onlyFiles = true;
            rest.push_back(argv[i]);
            continue;
        }
        std::string_view flag = arg;
        std::optional<std::string_view> inlineValue;
        if (size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            flag = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        const OwnFlag* own = nullptr;
        for (const OwnFlag& f : OwnFlags)
            if (flag == f.Name) own = &f;
        if (!own) {
            rest.push_back(argv[i]);
            continue;
        }
        std::string_view value;
        if (inlineValue) {
            value = *inlineValue;
        } else {
            if (i + 1 >= argc) return Fail(error, std::string(flag) + " needs a value");
            value = argv[++i];
        }
        if (!Apply(own->Kind, flag, value, options, error)) return false;
    }

    cli::Options& convert = options.Convert;
    if (!cli::ParseArguments(static_cast<int>(rest.size()), rest.data(), convert, error))
        return false;
    if (convert.Help || convert.Version) return true;
    if (convert.Mode == cli::OutputMode::Report)
        return Fail(error,
                    "--report is for morvel-convert; morvel-export writes pictures and pages");
    if (!convert.OutputFile.empty())
        return Fail(error, "-o is not used here: name the output with --png, --bmp or --pdf");
    if (convert.StandardLayout)
        return Fail(error,
                    "--layout is for morvel-convert; morvel-export writes pictures and pages");
    if (!convert.OutDir.empty() || convert.Jobs != 0)
        return Fail(error, "--out-dir and --jobs are for morvel-convert");
    if (convert.Inputs.size() != 1) return Fail(error, "give exactly one MIDI file");
    if (convert.Mode != cli::OutputMode::Track)
        return Fail(error, "--track N is needed: the track to export");
    if (options.Png.empty() && options.Bmp.empty() && options.Pdf.empty())
        return Fail(error, "nothing to write: give --png FILE, --bmp FILE or --pdf FILE");
    return true;
}

std::string ExportUsageText() {
    return R"(Usage: morvel-export --track N [--png FILE] [--bmp FILE] [--pdf FILE] [OPTIONS] FILE.mid

Writes track N of a Standard MIDI File as the program's "Save Tabulature BMP" picture and as
the pages its "Print Track" prints, without any window.

What is written (at least one):
  --track N          the track (N from 1, its place in the file)
  --png FILE         the picture, in the format of FILE's suffix (png, bmp, jpg ...; PNG
                     when the suffix names no format Qt writes)
  --bmp FILE         the picture, likewise (BMP when the suffix names no format)
                     A picture higher than 32767 pixels is written in parts, cut between
                     rows of measures: FILE, then NAME-2.EXT, NAME-3.EXT ...
  --pdf FILE         the printed pages as a PDF file

Layout:
  --width W          outer width of the main window the picture is computed from
                     (100..20000; default 575): two measures a row, W x 1.5 wide
  --height H         outer height of the window (40..20000; default 380): rows H / 2 high
  --page-size SIZE   A4 (default) or Letter
  --across N         measures across a printed page (1..10; default from the settings, 3)
  --down N           measures down a printed page (1..10; default from the settings, 5)

Settings, as morvel-convert takes them (--ini, then --options, then the flags):
  --ini FILE  --options FILE  --transpose T  --tuning NAME  --delta1 N ... --delta6 N
  --max-fret N  --[no-]force-fit  --[no-]bass  --[no-]show-chords  --[no-]show-special
  --[no-]optimise-fingering  --[no-]strings-from-channels  --[no-]lenient
  The INI file also gives the colours and the measures across and down a page.
  -h, --help         show this text
  --version          show the program's version

Exit status: 0 when everything was written, 1 when the file could not be converted, the
track does not exist or has no notes, or an output could not be written, 2 on a usage error.
)";
}

} // namespace morvel::cliexport
