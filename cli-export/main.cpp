// morvel-export: writes one track of a MIDI file as the picture "Save Tabulature BMP" saves
// and as the pages "Print Track" prints, with no window and no display, through the same
// drawing and layout code as the program.

#include "cli-export/ExportOptions.h"
#include "core/Conversion.h"
#include "core/SettingsFiles.h"
#include "core/Version.h"
#include "export/PageSetup.h"
#include "export/TrackRender.h"

#include <QApplication>
#include <QPrinter>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace morvel;
using namespace morvel::cliexport;

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

void PrintMessage(const std::string& file, const std::string& text) {
    const bool ended = !text.empty() && text.back() == '\n';
    std::fprintf(stderr, "%s: %s%s", file.c_str(), text.c_str(), ended ? "" : "\n");
}

// INI file first, then the option file, then the flags; false after saying why.
bool LoadSettings(const ExportOptions& options, StoredSettings& stored) {
    const cli::Options& flags = options.Convert;
    std::string error;
    if (!flags.IniFile.empty() && !std::filesystem::exists(flags.IniFile)) {
        PrintMessage(flags.IniFile, "no such file");
        return false;
    }
    if (!flags.IniFile.empty() && !ReadIniSettings(flags.IniFile, stored, error)) {
        PrintMessage("morvel-export", error);
        return false;
    }
    if (!flags.OptionFile.empty() && !ReadOptionFile(flags.OptionFile, stored, error)) {
        PrintMessage("morvel-export", error);
        return false;
    }
    cli::ApplyFlags(flags, stored.Conv, stored.TuningSettings);
    if (options.Across) stored.Conv.PrintMeasPerWidth = static_cast<int16_t>(*options.Across);
    if (options.Down) stored.Conv.PrintMeasPerHeight = static_cast<int16_t>(*options.Down);
    return true;
}

// Writes the picture to `path` (in parts when it is too large); false after saying why.
bool WritePicture(const MeasurePaintContext& context, int track, const std::vector<int>& measures,
                  const ExportOptions& options, const std::string& path,
                  const QByteArray& fallbackFormat) {
    const PictureLayout layout = ComputePictureLayout(
        options.Width.value_or(DEFAULT_WINDOW_WIDTH),
        options.Height.value_or(DEFAULT_WINDOW_HEIGHT), static_cast<int64_t>(measures.size()));
    const std::vector<PicturePart> parts = SplitPicture(layout);
    if (parts.empty()) {
        PrintMessage(path, "a measure would be larger than " + std::to_string(MAX_PICTURE_PIXELS) +
                               " pixels; choose a smaller --width or --height");
        return false;
    }
    QByteArray format = ImageFormatOf(QString::fromStdString(path));
    if (format.isEmpty()) format = fallbackFormat;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string name = PartFileName(path, i);
        const QImage image = RenderPicturePart(context, track, measures, layout, parts[i]);
        QString error;
        if (image.isNull()) {
            PrintMessage(name, "not enough memory for the picture");
            return false;
        }
        if (!WriteImage(image, QString::fromStdString(name), format, error)) {
            PrintMessage(name, "cannot write: " + error.toStdString());
            return false;
        }
    }
    if (parts.size() > 1)
        std::printf("%s: the picture is %lld pixels high, more than %d: written in %zu parts, "
                    "%s to %s\n",
                    path.c_str(), static_cast<long long>(layout.Height()), MAX_PICTURE_PIXELS,
                    parts.size(), path.c_str(), PartFileName(path, parts.size() - 1).c_str());
    return true;
}

bool WritePages(const MeasurePaintContext& context, int track, const std::vector<int>& measures,
                const ExportOptions& options, const ConversionSettings& settings) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(options.Pdf));
    ApplyPageSetup(printer,
                   options.PageSize == PageSizeChoice::Letter ? QPageSize::Letter : QPageSize::A4);
    const int64_t pages = PrintMeasures(printer, context, track, measures,
                                        settings.PrintMeasPerWidth, settings.PrintMeasPerHeight);
    if (pages < 0) {
        PrintMessage(options.Pdf, "cannot write the PDF file");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    ExportOptions options;
    std::string error;
    if (!ParseExportArguments(argc, argv, options, error)) {
        std::fprintf(stderr, "morvel-export: %s\nTry 'morvel-export --help'.\n", error.c_str());
        return EXIT_USAGE;
    }
    if (options.Convert.Version) {
        std::printf("morvel-export %s\n", PROGRAM_VERSION);
        return EXIT_OK;
    }
    if (options.Convert.Help) {
        std::fputs(ExportUsageText().c_str(), stdout);
        return EXIT_OK;
    }
    // No display needed: draw offscreen unless the caller chose a platform.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    StoredSettings stored;
    if (!LoadSettings(options, stored)) return EXIT_USAGE;
    ClampStoredSettings(stored);

    const std::string& input = options.Convert.Inputs.front();
    Conversion conversion;
    conversion.Settings = stored.Conv;
    conversion.TuningSettings = stored.TuningSettings;
    int errors = 0;
    conversion.SetReporter([&](const std::string& text) {
        ++errors;
        PrintMessage(input, text);
    });
    conversion.SetReportSink([](std::string_view) {}); // only the song model is needed
    conversion.MidiFileName = input;
    conversion.ConvertMidiFile();
    conversion.SetReportSink(nullptr);
    if (errors > 0) return EXIT_FAILED;

    const int track = options.Convert.Track;
    const size_t tracks = conversion.TrackList.size();
    if (static_cast<size_t>(track) > tracks) {
        PrintMessage(input, "no track " + std::to_string(track) + ": the file has " +
                                std::to_string(tracks) + (tracks == 1 ? " track" : " tracks"));
        return EXIT_FAILED;
    }
    const MeasureIndex index(conversion.TrackList[size_t(track) - 1], conversion.Header.Division);
    const MeasurePaintContext context = TrackContext(conversion, stored.Display, track, &index);
    const std::vector<int> measures = DrawnMeasures(context, track);
    if (measures.empty()) {
        PrintMessage(input, "track " + std::to_string(track) + " has no notes: nothing to export");
        return EXIT_FAILED;
    }

    bool ok = true;
    if (!options.Png.empty())
        ok = WritePicture(context, track, measures, options, options.Png, "PNG") && ok;
    if (!options.Bmp.empty())
        ok = WritePicture(context, track, measures, options, options.Bmp, "BMP") && ok;
    if (!options.Pdf.empty()) ok = WritePages(context, track, measures, options, stored.Conv) && ok;
    return ok ? EXIT_OK : EXIT_FAILED;
}
