// The export commands of the main window: "Print Track" and "Print Setup", "Copy Track",
// "Save Tabulature BMP", "Save Track Text" and "Save All Text". They read what the measure
// view shows and the conversion's report file, and draw through the measure painter.
#pragma once

#include "core/Conversion.h"
#include "export/ExportLayout.h"
#include "view/MeasurePainter.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QFileDialog;
class QMenu;
class QPrinter;
class QWidget;

namespace morvel {

class MeasureView;
class OutputSet;

class TrackExport : public QObject {
    Q_OBJECT
  public:
    // `window` owns dialogs and message boxes and gives the picture its size (its size with
    // the menu bar, without the window manager's frame); `view` tells what is shown; `fileDialog`
    // is the main window's one file dialog, reused for saving (may be null: a fresh dialog is used
    // then).
    TrackExport(Conversion& conversion, QWidget* window, std::function<MeasureView*()> view,
                QFileDialog* fileDialog = nullptr);
    ~TrackExport() override;

    // Replaceable; the defaults show real dialogs and message boxes.
    struct DialogSeams {
        // The chosen file for saving, starting in `folder` with an empty name; empty on cancel.
        std::function<QString(const QString& filter, const QString& folder)> ChooseSaveFile;
        // Runs the print dialog on `printer`; true when accepted.
        std::function<bool(QPrinter& printer)> ChoosePrinter;
        std::function<void(const QString& text)> ShowMessage;
    } Seams;

    // Largest picture side written in one image; a larger picture is saved in parts and not
    // copied. A parameter so that tests can split small pictures.
    int PictureLimit = MAX_PICTURE_PIXELS;

    // The menu items, named after their components ("PrintAllTab1" ... "Copy1"), and the
    // Edit menu ("Edit1") that holds "Copy Track". Created on first request, owned by the
    // window; the window puts them at their places.
    QAction* Action(const QString& objectName);
    QMenu* EditMenu();
    static const char* const FileItems[5];

    void PrintAllTab1Click();
    void PrintSetup1Click();
    void Copy1Click();
    void SaveTabulatureBMP1Click();
    void Save1Click();
    void SaveAllTEXT1Click();

    // The picture of the shown track (every non-empty measure, two a row), or a null image
    // after saying why: the track condition failed, there is no measure, or the picture is
    // larger than PictureLimit.
    QImage RenderTrackBitmap();
    // Copies the shown track's section (whole false) or the whole report without separator
    // bytes (whole true) into `fileName`, byte for byte. False after saying why.
    bool SaveTrackText(const QString& fileName, bool whole);

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

    Conversion& conv_;
    QWidget* window_;
    std::function<MeasureView*()> view_;
    QPointer<QFileDialog> fileDialog_;
    std::unique_ptr<QPrinter> printer_;
    QString pdfFromSetup_; // a PDF file named in "Print Setup", used by the next print only
    QString textFolder_;
    QString bitmapFolder_;
    QString pdfFolder_;
    QPointer<QMenu> editMenu_;
    std::vector<QAction*> actions_;
};

} // namespace morvel
