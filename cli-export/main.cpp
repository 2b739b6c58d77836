// morvel-export: writes one track of a MIDI file as the picture "Save Tabulature BMP" saves
// and as the pages "Print Track" prints, with no window and no display, through the same
// drawing and layout code as the program. Every file goes through one OutputSet: every target
// is checked before anything is drawn (an output that is the input or a settings file, and two
// outputs naming one file, parts included, are refused), then the pictures' parts and the PDF
// are written beside their targets and put in place all or none.

#include "cli-export/ExportOptions.h"
#include "cli/ToolCommon.h"
#include "core/Conversion.h"
#include "io/OutputFile.h"
#include "core/SettingsFiles.h"
#include "io/TempFiles.h"
#include "core/Version.h"
#include "export/PageSetup.h"
#include "export/TrackRender.h"
#include "formats/OpenedSong.h"

#include <QApplication>
#include <QPrinter>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace morvel;
using namespace morvel::cliexport;

using cli::EXIT_FAILED;
using cli::EXIT_OK;
using cli::EXIT_USAGE;
using cli::PrintMessage;

// INI file first, then the option file, then the flags; false after saying why.
bool LoadSettings(const ExportOptions& options, StoredSettings& stored) {
    if (!cli::LoadSettings(options.Convert, stored, "morvel-export")) return false;
    if (options.Across) stored.Conv.PrintMeasPerWidth = static_cast<int16_t>(*options.Across);
    if (options.Down) stored.Conv.PrintMeasPerHeight = static_cast<int16_t>(*options.Down);
    return true;
}

// What the command writes, put in place together at the end.
struct Outputs {
    OutputSet Set;
    std::vector<FileId> Refused;    // the files the command reads
    std::vector<std::string> Notes; // printed on standard output once all is in place
};

// One picture to write: its layout and where its parts start in the output set.
struct PicturePlan {
    std::string Path;
    QByteArray Format;
    PictureLayout Layout;
    std::vector<PicturePart> Parts;
    size_t FirstOutput = 0;
};

// Adds every output named `name` (a picture, and each of its parts) to `out`; false after
// saying why. Nothing is drawn yet, so a refused name costs no time.
bool AddOutput(const std::string& name, SpecialFiles special, Outputs& out) {
    std::string why;
    if (out.Set.Add(name, out.Refused, special, why, cli::READ_FILE_REFUSAL)) return true;
    PrintMessage(name, why);
    return false;
}

// Lays out the picture for `path` and adds its parts to `out`; false after saying why.
bool PlanPicture(const std::vector<int>& measures, const ExportOptions& options,
                 const std::string& path, const QByteArray& fallbackFormat, Outputs& out,
                 PicturePlan& plan) {
    plan.Path = path;
    plan.Layout = ComputePictureLayout(options.Width.value_or(DEFAULT_WINDOW_WIDTH),
                                       options.Height.value_or(DEFAULT_WINDOW_HEIGHT),
                                       static_cast<int64_t>(measures.size()));
    plan.Parts = SplitPicture(plan.Layout);
    if (plan.Parts.empty()) {
        PrintMessage(path, "a measure would be larger than " + std::to_string(MAX_PICTURE_PIXELS) +
                               " pixels; choose a smaller --width or --height");
        return false;
    }
    plan.Format = ImageFormatOf(QString::fromStdString(path));
    if (plan.Format.isEmpty()) plan.Format = fallbackFormat;
    plan.FirstOutput = out.Set.Size();
    for (size_t i = 0; i < plan.Parts.size(); ++i)
        if (!AddOutput(PartFileName(path, i), SpecialFiles::Stage, out)) return false;
    return true;
}

// Draws the parts of `plan` into their outputs; false after saying why.
bool WritePicture(const MeasurePaintContext& context, int track, const std::vector<int>& measures,
                  const PicturePlan& plan, Outputs& out) {
    for (size_t i = 0; i < plan.Parts.size(); ++i) {
        const std::string name = PartFileName(plan.Path, i);
        const QImage image = RenderPicturePart(context, track, measures, plan.Layout, plan.Parts[i]);
        QString error;
        if (image.isNull()) {
            PrintMessage(name, "not enough memory for the picture");
            return false;
        }
        if (!WriteImage(image, out.Set.Descriptor(plan.FirstOutput + i), plan.Format, error)) {
            PrintMessage(name, "cannot write: " + error.toStdString());
            return false;
        }
    }
    if (plan.Parts.size() > 1) {
        const PictureLayout& layout = plan.Layout;
        const std::string size = std::to_string(layout.Width) + " x " +
                                 std::to_string(layout.Height()) + " pixels";
        const std::string reason =
            layout.Height() > MAX_PICTURE_PIXELS
                ? "more than " + std::to_string(MAX_PICTURE_PIXELS) + " pixels high"
                : "more than the " + std::to_string(MAX_PICTURE_PART_BYTES >> 20) +
                      " MiB one picture may take";
        out.Notes.push_back(plan.Path + ": the picture is " + size + ", " + reason +
                            ": written in " + std::to_string(plan.Parts.size()) + " parts, " +
                            plan.Path + " to " + PartFileName(plan.Path, plan.Parts.size() - 1));
    }
    return true;
}

// Prints the pages into output `index` of `out`, added for options.Pdf.
bool WritePages(const MeasurePaintContext& context, int track, const std::vector<int>& measures,
                const ExportOptions& options, const ConversionSettings& settings, size_t index,
                Outputs& out) {
    const QString written = QString::fromStdString(out.Set.WritePath(index));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(written);
    ApplyPageSetup(printer,
                   options.PageSize == PageSizeChoice::Letter ? QPageSize::Letter : QPageSize::A4);
    const int64_t pages = PrintMeasures(printer, context, track, measures,
                                        settings.PrintMeasPerWidth, settings.PrintMeasPerHeight);
    printer.setOutputFileName(QString()); // closes the file
    if (pages < 0 || !PdfComplete(written)) {
        PrintMessage(options.Pdf, "cannot write the PDF file" +
                                      std::string(pages < 0 ? ": the printer did not start"
                                                            : ": it was cut short (a full disk "
                                                              "or a file-size limit)"));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    ExportOptions options;
    std::string error;
    if (!ParseExportArguments(argc, argv, options, error)) {
        std::fprintf(stderr, "morvel-export: %s\nTry 'morvel-export --help'.\n",
                     EscapeControlBytes(error).c_str());
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
    // Half-written outputs are removed when a signal ends the export.
    RemoveTemporaryFilesOnSignals();

    StoredSettings stored;
    if (!LoadSettings(options, stored)) return EXIT_USAGE;
    if (!cli::CheckStandardOutput(cli::ReadFiles(options.Convert))) return EXIT_FAILED;
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
    if (std::string bytes; ReadSongForConversion(conversion, input, bytes))
        conversion.ConvertMidiBytes(bytes, input);
    conversion.SetReportSink(nullptr);
    if (conversion.OpensWithLenientReading()) PrintMessage(input, cli::LENIENT_HINT);
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

    // Every output is checked, and two naming one file refused, before anything is drawn.
    Outputs out;
    out.Refused = FileIds(cli::ReadFiles(options.Convert));
    PicturePlan png, bmp;
    size_t pdfOutput = 0;
    bool ok = (options.Png.empty() || PlanPicture(measures, options, options.Png, "PNG", out, png)) &&
              (options.Bmp.empty() || PlanPicture(measures, options, options.Bmp, "BMP", out, bmp));
    if (ok && !options.Pdf.empty()) {
        pdfOutput = out.Set.Size();
        ok = AddOutput(options.Pdf, SpecialFiles::Stage, out);
    }
    if (ok && !options.Png.empty()) ok = WritePicture(context, track, measures, png, out);
    if (ok && !options.Bmp.empty()) ok = WritePicture(context, track, measures, bmp, out);
    if (ok && !options.Pdf.empty())
        ok = WritePages(context, track, measures, options, stored.Conv, pdfOutput, out);
    if (!ok) {
        out.Set.Discard(); // every existing file stays as it was
        return EXIT_FAILED;
    }
    if (!out.Set.Commit(error)) {
        PrintMessage(out.Set.FailedPath(), error);
        const std::vector<std::string>& done = out.Set.Committed();
        std::string list;
        for (const std::string& name : done)
            list += (list.empty() ? "" : ", ") + name;
        PrintMessage("morvel-export", done.empty() ? "every old file is left as it was"
                                                   : "written before the failure: " + list);
        return EXIT_FAILED;
    }
    for (const std::string& note : out.Notes)
        std::printf("%s\n", EscapeControlBytes(note).c_str());
    return EXIT_OK;
}
