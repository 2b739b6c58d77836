// The export commands of the main window: "Print Track" and "Print Setup", "Copy Track",
// "Save Tabulature BMP", "Save Track Text", "Save All Text", "Save Standard Tab" and "Copy
// Standard Tab", and one "Save ..." per score format of the table ("Save MusicXML", "Save
// Guitar Pro"). They read
// what the measure view shows and the conversion's report file, draw through the measure
// painter, and ask the user through the prompts they are given.
#pragma once

#include "core/Conversion.h"
#include "export/ExportLayout.h"
#include "formats/OpenedSong.h"
#include "formats/ScoreWriter.h"
#include "painter/MeasurePainter.h"
#include "widgets/Prompts.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QPrinter;
class QWidget;

namespace morvel {

class MeasureView;
class OutputSet;

class TrackExport : public QObject {
    Q_OBJECT
  public:
    // `view` tells what is shown; `prompts` shows the messages and the file and print dialogs;
    // `window` owns the commands and gives the picture its size (its size with the menu bar,
    // without the window manager's frame). All must outlive the commands.
    TrackExport(Conversion& conversion, const MeasureView& view, Prompts& prompts,
                QWidget* window);
    ~TrackExport() override;

    // Largest picture side written in one image; a larger picture is saved in parts and not
    // copied. A parameter so that tests can split small pictures.
    int PictureLimit = MAX_PICTURE_PIXELS;

    // The menu items, named after their components ("PrintAllTab1" ... "Copy1"), and the
    // Edit menu ("Edit1") that holds "Copy Track" and "Copy Standard Tab". Created on first
    // request, owned by the window; the window puts them at their places.
    QAction* Action(const QString& objectName);
    QMenu* EditMenu();
    // The items of the File menu: every item but those of the Edit menu.
    std::vector<QAction*> FileActions();

    void PrintAllTab1Click();
    void PrintSetup1Click();
    void Copy1Click();
    void SaveTabulatureBMP1Click();
    void Save1Click();
    void SaveAllTEXT1Click();
    void SaveMusicXML1Click();
    void SaveStandardTab1Click();
    void CopyStandardTab1Click();
    // A score format's "Save ..." item: the shown track into a file the user names.
    void SaveScoreClick(const ScoreFormat& format);

    // The picture of the shown track (every non-empty measure, two a row), or a null image
    // after saying why: the track condition failed, there is no measure, or the picture is
    // larger than PictureLimit.
    QImage RenderTrackBitmap();
    // Copies the shown track's section (whole false) or the whole report without separator
    // bytes (whole true) into `fileName`, byte for byte. False after saying why.
    bool SaveTrackText(const QString& fileName, bool whole);

    // The song the window opened (its bytes as read), or null when none is open: what
    // "Save MusicXML" writes. The file itself is never read again.
    void SetSong(SongPointer song) { song_ = std::move(song); }

    // Writes track `track` (1-based) of the open song as MusicXML into `fileName`, with the
    // strings and frets the text shows; an existing file is replaced only when all went well.
    // Says so when a note could not be given a string and fret, or why nothing was written.
    bool SaveMusicXml(const QString& fileName, int track);
    // The same in any score format of the table; the message names the format.
    bool SaveScore(const ScoreFormat& format, const QString& fileName, int track);
    // Writes track `track` (1-based) of the open song as standard tab, lines as wide as the
    // settings say, into `fileName`; otherwise as SaveScore.
    bool SaveStandardTab(const QString& fileName, int track);
    // The standard tab of track `track` of the open song as text, or a null string after
    // saying why there is none.
    QString StandardTabText(int track);

    // The printer the next "Print Track" uses; set up with the shared page set-up.
    QPrinter& Printer();

  private:
    bool HasTracks() const;
    bool TrackCondition() const;
    struct Picture;
    bool PreparePicture(Picture& picture, const char* refusal);
    QString ChooseFile(const QString& filter, QString& folder);
    void Say(const QString& text);
    void MarkChords(const ChordFlags& flags);
    bool AddOutput(OutputSet& set, const QString& path, const QString& failure);
    bool CommitOutputs(OutputSet& set, const QString& failure);
    bool SaveWithWriter(const ScoreWriter& writer, const QString& fileName, int track);
    bool WriteTrackScore(const ScoreWriter& writer, int track, const ScoreSink& sink,
                         ScoreSummary& summary, QString& why);

    Conversion& conv_;
    const MeasureView& view_;
    Prompts& prompts_;
    QWidget* window_;
    SongPointer song_;
    std::unique_ptr<QPrinter> printer_;
    QString pdfFromSetup_; // a PDF file named in "Print Setup", used by the next print only
    QString textFolder_;
    std::map<std::string, QString> scoreFolders_; // by the format's flag
    QString bitmapFolder_;
    QString pdfFolder_;
    QPointer<QMenu> editMenu_;
    std::vector<QAction*> actions_;
};

} // namespace morvel
