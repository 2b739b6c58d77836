#include "export/TrackExport.h"

#include "formats/ScoreFile.h"
#include "formats/StandardTab.h"
#include "io/OutputFile.h"
#include "export/PageSetup.h"
#include "export/TrackRender.h"
#include "measureview/MeasureView.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QPrinter>

#include <filesystem>

namespace morvel {

namespace {

const char* const NO_TRACKS_TO_PRINT = "No Tracks to print!";
const char* const NO_TRACKS_TO_COPY = "No Tracks to copy!";
const char* const NO_TRACKS_TO_SAVE = "No Tracks to save!";
const char* const TEXT_FILTER = "TXT (*.txt)";
const char* const BITMAP_FILTER = "BMP (*.bmp)";
const char* const PDF_FILTER = "PDF (*.pdf)";
const char* const COPY_ITEM = "Copy1"; // the items of the Edit menu
const char* const COPY_STANDARD_TAB_ITEM = "CopyStandardTab1";
const char* const STANDARD_TAB_FOLDER = "--layout standard"; // its key in scoreFolders_

struct Command {
    const char* Name;
    const char* Caption;
    void (TrackExport::*Handler)();
};

const Command Commands[] = {
    {"Save1", "Save Track Text", &TrackExport::Save1Click},
    {"SaveStandardTab1", "Save Standard Tab", &TrackExport::SaveStandardTab1Click},
    {"SaveAllTEXT1", "Save All Text", &TrackExport::SaveAllTEXT1Click},
    {"SaveTabulatureBMP1", "Save Tabulature BMP", &TrackExport::SaveTabulatureBMP1Click},
    {"PrintAllTab1", "Print Track", &TrackExport::PrintAllTab1Click},
    {"PrintSetup1", "Print Setup", &TrackExport::PrintSetup1Click},
    {COPY_ITEM, "Copy Track", &TrackExport::Copy1Click},
    {COPY_STANDARD_TAB_ITEM, "Copy Standard Tab", &TrackExport::CopyStandardTab1Click},
};

// Sends `printer` to the PDF file `path`, keeping its page size, orientation and margins.
void SetPdfOutput(QPrinter& printer, const QString& path) {
    const QPageLayout layout = printer.pageLayout();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageLayout(layout);
    printer.setOutputFileName(path);
}

} // namespace

struct TrackExport::Picture {
    MeasurePaintContext Context;
    int Track = 0;
    std::vector<int> Measures;
    PictureLayout Layout;
    std::vector<PicturePart> Parts;
};

TrackExport::TrackExport(Conversion& conversion, const MeasureView& view, Prompts& prompts,
                         QWidget* window)
    : QObject(window), conv_(conversion), view_(view), prompts_(prompts), window_(window) {}

TrackExport::~TrackExport() = default;

QAction* TrackExport::Action(const QString& objectName) {
    if (actions_.empty()) {
        for (const Command& command : Commands) {
            auto* action = new QAction(command.Caption, window_);
            action->setObjectName(command.Name);
            connect(action, &QAction::triggered, this, command.Handler);
            actions_.push_back(action);
        }
        // One "Save ..." item per score format of the table.
        for (const ScoreFormat& format : ScoreFormats()) {
            auto* action = new QAction(format.MenuText, window_);
            action->setObjectName(format.ObjectName);
            connect(action, &QAction::triggered, this, [this, &format] { SaveScoreClick(format); });
            actions_.push_back(action);
        }
    }
    for (QAction* action : actions_)
        if (action->objectName() == objectName) return action;
    return nullptr;
}

std::vector<QAction*> TrackExport::FileActions() {
    Action(COPY_ITEM); // creates them all
    std::vector<QAction*> items;
    for (QAction* action : actions_)
        if (action->objectName() != COPY_ITEM && action->objectName() != COPY_STANDARD_TAB_ITEM)
            items.push_back(action);
    return items;
}

QMenu* TrackExport::EditMenu() {
    if (!editMenu_) {
        editMenu_ = new QMenu("Edit", window_);
        editMenu_->setObjectName("Edit1");
        editMenu_->menuAction()->setObjectName("Edit1");
        editMenu_->addAction(Action(COPY_ITEM));
        editMenu_->addAction(Action(COPY_STANDARD_TAB_ITEM));
    }
    return editMenu_;
}

QPrinter& TrackExport::Printer() {
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        ApplyPageSetup(*printer_, DEFAULT_PAGE_SIZE);
    }
    return *printer_;
}

void TrackExport::Say(const QString& text) {
    prompts_.ShowMessage(text);
}

// A file is open and has at least one track.
bool TrackExport::HasTracks() const {
    return !conv_.MidiFileName.empty() && !conv_.TrackList.empty();
}

// A file is open and the view shows one of its tracks.
bool TrackExport::TrackCondition() const {
    return HasTracks() && view_.ShowsTrack() && view_.SelectedTrack() >= 1 &&
           static_cast<size_t>(view_.SelectedTrack()) <= conv_.TrackList.size();
}

void TrackExport::MarkChords(const ChordFlags& flags) {
    for (size_t i = 0; i < flags.size(); ++i)
        if (flags[i]) conv_.ChordUsed[i] = 1;
}

// Prepares `path` as the next output of `set`: never the open MIDI file, a special file is
// written not replaced. False after saying `failure` with the reason on a second line.
bool TrackExport::AddOutput(OutputSet& set, const QString& path, const QString& failure) {
    std::vector<FileId> refused;
    if (const std::optional<FileId> song = FileIdOf(conv_.MidiFileName)) refused.push_back(*song);
    std::string why;
    const QString refusal = QString("\"%1\" is the open MIDI file; it was left as it is.")
                                .arg(QDir::toNativeSeparators(path));
    if (set.Add(QFile::encodeName(path).toStdString(), refused, SpecialFiles::Stage, why,
                refusal.toStdString()))
        return true;
    Say(failure + "\n" + QString::fromStdString(why));
    return false;
}

// Puts every output of `set` in place. False after saying `failure` with the reason and,
// when some were put in place before the failure, their names.
bool TrackExport::CommitOutputs(OutputSet& set, const QString& failure) {
    std::string why;
    if (set.Commit(why)) return true;
    QString text = failure + "\n" + QString::fromStdString(set.FailedPath() + ": " + why);
    QStringList done;
    for (const std::string& name : set.Committed())
        done << QString::fromStdString(name);
    if (!done.isEmpty()) text += "\nWritten before the failure: " + done.join(", ");
    Say(text);
    return false;
}

QString TrackExport::ChooseFile(const QString& filter, QString& folder) {
    if (folder.isEmpty() && !conv_.MidiFileName.empty())
        folder = QFileInfo(QString::fromStdString(conv_.MidiFileName)).absolutePath();
    const QString chosen = prompts_.ChooseFile({filter, true, folder});
    if (!chosen.isEmpty()) folder = QFileInfo(chosen).absolutePath();
    return chosen;
}

// ---- Printing ----

void TrackExport::PrintAllTab1Click() {
    if (!TrackCondition()) {
        Say(NO_TRACKS_TO_PRINT);
        return;
    }
    const MeasurePaintContext context = view_.PaintContext();
    const int track = view_.SelectedTrack();
    const std::vector<int> measures = DrawnMeasures(context, track);
    if (measures.empty()) {
        Say(NO_TRACKS_TO_PRINT);
        return;
    }
    QPrinter& printer = Printer();
    QString target = printer.printerName();
    const bool toPdf = printer.outputFormat() == QPrinter::PdfFormat || target.isEmpty();
    if (toPdf) {
        // With no printer chosen, pages go to a PDF file: the one named in "Print Setup" for
        // the print that follows it, else one the user names now.
        target = pdfFromSetup_;
        pdfFromSetup_.clear();
        if (target.isEmpty()) target = ChooseFile(PDF_FILTER, pdfFolder_);
        if (target.isEmpty()) return;
    }
    const QString failure = QString("Can't print to %1.").arg(target);
    OutputSet out;
    if (toPdf) {
        if (!AddOutput(out, target, failure)) return;
        SetPdfOutput(printer, QFile::decodeName(out.WritePath(0).c_str()));
    }
    ApplyPageSetup(printer);
    ChordFlags chords{};
    const int64_t pages =
        PrintMeasures(printer, context, track, measures, conv_.Settings.PrintMeasPerWidth,
                      conv_.Settings.PrintMeasPerHeight, &chords);
    MarkChords(chords);
    if (!toPdf) {
        if (pages < 0) Say(failure);
        return;
    }
    printer.setOutputFileName(QString()); // closes the file
    if (pages < 0 || !PdfComplete(QFile::decodeName(out.WritePath(0).c_str()))) {
        Say(failure + "\n" +
            (pages < 0 ? QString("The printer did not start.")
                       : QString("The file was cut short (a full disk or a file-size limit); "
                                 "an existing file is left as it was.")));
        return;
    }
    CommitOutputs(out, failure);
}

void TrackExport::PrintSetup1Click() {
    QPrinter& printer = Printer();
    if (!prompts_.ChoosePrinter(printer)) return;
    pdfFromSetup_.clear();
    // The dialog offers a folder as the output file until one is typed: that names no file,
    // and the next print asks for one.
    const QString file = printer.outputFileName();
    if (printer.outputFormat() == QPrinter::PdfFormat && !file.isEmpty() && !file.endsWith('/') &&
        !QFileInfo(file).isDir())
        pdfFromSetup_ = file;
}

// ---- Pictures ----

bool TrackExport::PreparePicture(Picture& picture, const char* refusal) {
    if (!TrackCondition()) {
        Say(refusal);
        return false;
    }
    picture.Context = view_.PaintContext();
    picture.Track = view_.SelectedTrack();
    picture.Measures = DrawnMeasures(picture.Context, picture.Track);
    if (picture.Measures.empty()) {
        Say(refusal);
        return false;
    }
    // The window's size with its menu bar; the window manager's frame around it differs
    // between desktops, and leaving it out lets morvel-export draw the same picture.
    const QSize outer = window_->size();
    picture.Layout = ComputePictureLayout(outer.width(), outer.height(),
                                          static_cast<int64_t>(picture.Measures.size()));
    picture.Parts = SplitPicture(picture.Layout, PictureLimit);
    if (picture.Parts.empty()) {
        Say(QString("A measure of the picture would be %1 x %2 pixels, more than the %3 "
                    "pixels a picture can have. Make the window smaller or use \"Print Track\".")
                .arg(picture.Layout.CellWidth)
                .arg(picture.Layout.CellHeight)
                .arg(PictureLimit));
        return false;
    }
    return true;
}

QImage TrackExport::RenderTrackBitmap() {
    Picture picture;
    if (!PreparePicture(picture, NO_TRACKS_TO_COPY)) return {};
    if (picture.Parts.size() != 1) {
        Say(QString("The picture of this track would be %1 x %2 pixels, more than the %3 pixels "
                    "a picture can have, so it cannot go to the clipboard. Use \"Save Tabulature "
                    "BMP\", which saves it in parts, or \"Print Track\".")
                .arg(picture.Layout.Width)
                .arg(picture.Layout.Height())
                .arg(PictureLimit));
        return {};
    }
    ChordFlags chords{};
    QImage image = RenderPicturePart(picture.Context, picture.Track, picture.Measures,
                                     picture.Layout, picture.Parts.front(), &chords);
    MarkChords(chords);
    if (image.isNull()) Say("Not enough memory for the picture of this track.");
    return image;
}

void TrackExport::Copy1Click() {
    const QImage image = RenderTrackBitmap();
    if (image.isNull()) return;
    QGuiApplication::clipboard()->setImage(image);
}

void TrackExport::SaveTabulatureBMP1Click() {
    Picture picture;
    if (!PreparePicture(picture, NO_TRACKS_TO_COPY)) return;
    const QString fileName = ChooseFile(BITMAP_FILTER, bitmapFolder_);
    if (fileName.isEmpty()) {
        Say("Error: Can't write BITMAP file.");
        return;
    }
    QStringList written;
    ChordFlags chords{};
    OutputSet out;
    for (size_t i = 0; i < picture.Parts.size(); ++i) {
        const QString name = QString::fromStdString(PartFileName(fileName.toStdString(), i));
        const QString failure = QString("Cannot create file %1").arg(name);
        if (!AddOutput(out, name, failure)) return;
        const QImage image = RenderPicturePart(picture.Context, picture.Track, picture.Measures,
                                               picture.Layout, picture.Parts[i], &chords);
        QString error;
        if (image.isNull()) error = "Not enough memory for the picture.";
        if (image.isNull() || !WriteImage(image, out.Descriptor(i), "BMP", error)) {
            Say(failure + "\n" + error);
            return;
        }
        written << QFileInfo(name).fileName();
    }
    if (!CommitOutputs(out, QString("Cannot create file %1").arg(fileName))) return;
    MarkChords(chords);
    if (written.size() > 1) {
        // Say what made the cut: the height, or the memory one picture may take.
        const QString why =
            picture.Layout.Height() > PictureLimit
                ? QString("%1 pixels high, more than the %2 pixels one picture can have")
                      .arg(picture.Layout.Height())
                      .arg(PictureLimit)
                : QString("%1 x %2 pixels, more than the %3 MiB one picture may take")
                      .arg(picture.Layout.Width)
                      .arg(picture.Layout.Height())
                      .arg(MAX_PICTURE_PART_BYTES >> 20);
        Say(QString("The picture of this track is %1, so it was saved in %2 parts, cut between "
                    "rows of measures: %3.")
                .arg(why)
                .arg(written.size())
                .arg(written.size() > 2
                         ? written.first() + ", " + written.at(1) + " ... " + written.last()
                         : written.join(", ")));
    }
}

// ---- Text ----

void TrackExport::Save1Click() {
    if (!TrackCondition()) {
        Say(NO_TRACKS_TO_SAVE);
        return;
    }
    const QString fileName = ChooseFile(TEXT_FILTER, textFolder_);
    if (fileName.isEmpty()) return;
    SaveTrackText(fileName, false);
}

void TrackExport::SaveAllTEXT1Click() {
    if (!HasTracks()) {
        Say(NO_TRACKS_TO_SAVE);
        return;
    }
    const QString fileName = ChooseFile(TEXT_FILTER, textFolder_);
    if (fileName.isEmpty()) return;
    SaveTrackText(fileName, true);
}

bool TrackExport::SaveTrackText(const QString& fileName, bool whole) {
    QFile report(QString::fromStdString(conv_.TempFileName));
    if (conv_.TempFileName.empty() || !report.open(QIODevice::ReadOnly)) {
        Say("Can't read Temporary File!");
        return false;
    }
    const QByteArray bytes = report.readAll();
    report.close();
    int section = -1;
    if (!whole) section = view_.SelectedTrack();
    const std::string text =
        ExtractReportText(std::string_view(bytes.constData(), bytes.size()), section);
    // A track shown although the file's reading stopped before its section has no text.
    if (!whole && text.empty()) {
        Say(QString("Track %1 has no tablature text to save.").arg(section));
        return false;
    }
    const QString failure("Can't write TAB output file!");
    OutputSet out;
    if (!AddOutput(out, fileName, failure)) return false;
    QFile file;
    if (!file.open(out.Descriptor(0), QIODevice::WriteOnly, QFileDevice::DontCloseHandle) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.flush()) {
        Say(failure + "\n" + file.errorString());
        return false;
    }
    file.close();
    return CommitOutputs(out, failure);
}

// ---- Score formats (MusicXML, Guitar Pro) ----

void TrackExport::SaveMusicXML1Click() {
    SaveScoreClick(*FindScoreFormat("--musicxml"));
}

bool TrackExport::SaveMusicXml(const QString& fileName, int track) {
    return SaveScore(*FindScoreFormat("--musicxml"), fileName, track);
}

void TrackExport::SaveScoreClick(const ScoreFormat& format) {
    if (!TrackCondition()) {
        Say(NO_TRACKS_TO_SAVE);
        return;
    }
    const QString filter = QString::fromUtf8(format.Writer.Filter().data(),
                                             static_cast<qsizetype>(format.Writer.Filter().size()));
    const QString fileName = ChooseFile(filter, scoreFolders_[format.Flag]);
    if (fileName.isEmpty()) return;
    SaveScore(format, fileName, view_.SelectedTrack());
}

bool TrackExport::SaveScore(const ScoreFormat& format, const QString& fileName, int track) {
    return SaveWithWriter(format.Writer, fileName, track);
}

// Builds the score of track `track` of the open song, under the shown conversion's settings,
// and writes it with `writer` to `sink`. False with `why` set (the conversion's errors, or why
// no score was made).
bool TrackExport::WriteTrackScore(const ScoreWriter& writer, int track, const ScoreSink& sink,
                                  ScoreSummary& summary, QString& why) {
    // A conversion of its own, under the settings of the shown one, so the window's song and
    // report stay as they are.
    Conversion conversion;
    conversion.Settings = conv_.Settings;
    conversion.TuningSettings = conv_.TuningSettings;
    QStringList errors;
    conversion.SetReporter(
        [&errors](const std::string& text) { errors << QString::fromStdString(text); });
    ScoreOptions options;
    options.WorkTitle = std::filesystem::path(song_->Path).filename().string();
    options.Tracks = {static_cast<uint32_t>(track - 1)};
    if (WriteScore(conversion, song_->Bytes, song_->Path, options, writer, sink, summary))
        return true;
    if (!summary.Error.empty()) errors << QString::fromStdString(summary.Error);
    why = errors.join(" ");
    return false;
}

bool TrackExport::SaveWithWriter(const ScoreWriter& writer, const QString& fileName, int track) {
    if (!song_) {
        Say(NO_TRACKS_TO_SAVE);
        return false;
    }
    const QString name = QString::fromUtf8(writer.Name().data(),
                                           static_cast<qsizetype>(writer.Name().size()));
    const QString failure = "Can't write " + name + " file " + fileName + ".";
    OutputSet out;
    if (!AddOutput(out, fileName, failure)) return false;
    QFile file;
    if (!file.open(out.Descriptor(0), QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
        Say(failure + "\n" + file.errorString());
        return false;
    }
    bool written = true;
    ScoreSummary summary;
    QString why;
    const bool made = WriteTrackScore(
        writer, track,
        [&](std::string_view chunk) {
            written = written && file.write(chunk.data(), static_cast<qint64>(chunk.size())) ==
                                     static_cast<qint64>(chunk.size());
        },
        summary, why);
    if (!made) {
        Say("Can't write " + name + " file " + fileName + ": " + why);
        return false;
    }
    if (!written || !file.flush()) {
        Say(failure + "\n" + file.errorString());
        return false;
    }
    file.close();
    if (!CommitOutputs(out, failure)) return false;
    if (summary.NotesWithoutPosition > 0)
        Say(QString("%1 file %2 written: %3.")
                .arg(name, fileName, QString::fromStdString(writer.Summary(summary))));
    return true;
}

// ---- Standard tab ----

void TrackExport::SaveStandardTab1Click() {
    if (!TrackCondition()) {
        Say(NO_TRACKS_TO_SAVE);
        return;
    }
    const StandardTabWriter writer;
    const QString filter = QString::fromUtf8(writer.Filter().data(),
                                             static_cast<qsizetype>(writer.Filter().size()));
    const QString fileName = ChooseFile(filter, scoreFolders_[STANDARD_TAB_FOLDER]);
    if (fileName.isEmpty()) return;
    SaveStandardTab(fileName, view_.SelectedTrack());
}

bool TrackExport::SaveStandardTab(const QString& fileName, int track) {
    const StandardTabWriter writer(conv_.Settings.StandardTabWidth, conv_.Settings.MaxFret);
    return SaveWithWriter(writer, fileName, track);
}

QString TrackExport::StandardTabText(int track) {
    if (!song_) {
        Say(NO_TRACKS_TO_COPY);
        return {};
    }
    const StandardTabWriter writer(conv_.Settings.StandardTabWidth, conv_.Settings.MaxFret);
    std::string text;
    ScoreSummary summary;
    QString why;
    if (!WriteTrackScore(writer, track, [&](std::string_view chunk) { text.append(chunk); },
                         summary, why)) {
        Say("Can't copy the standard tab of track " + QString::number(track) + ": " + why);
        return {};
    }
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void TrackExport::CopyStandardTab1Click() {
    if (!TrackCondition()) {
        Say(NO_TRACKS_TO_COPY);
        return;
    }
    const QString text = StandardTabText(view_.SelectedTrack());
    if (!text.isNull()) QGuiApplication::clipboard()->setText(text);
}

} // namespace morvel
