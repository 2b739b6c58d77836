#include "app/ExportConnection.h"
#include "export/PageSetup.h"
#include "export/TrackRender.h"
#include "tests/export/ExportFixture.h"

#include <QMenuBar>
#include <QPainter>

#include <QClipboard>
#include <QDir>
#include <QImageReader>

namespace morvel::exporttest {
namespace {

const QStringList NoMessages;

TEST_F(ExportTest, CommandsRefuseWithoutFileAndInTheChordView) {
    // The items take their places in the File menu; "Copy Track" is in Edit, after File.
    ConnectExport(*form, *exporter);
    QStringList captions;
    for (const QAction* action : form->TopMenu("File1")->actions())
        captions << action->text();
    EXPECT_EQ(captions, QStringList({"Open Midifile", "Save Track Text", "Save Standard Tab",
                                     "Save All Text",
                                     "Save MusicXML", "Save Guitar Pro", "Save Tabulature BMP",
                                     "Close Tabulature",
                                     "Print Track", "Print Setup", "Quit"}));
    EXPECT_EQ(form->menuBar()->actions().at(1)->objectName(), "Edit1");
    ASSERT_NE(form->TopMenu("Edit1"), nullptr);
    EXPECT_EQ(form->TopMenu("Edit1")->actions().at(0)->text(), "Copy Track");
    EXPECT_EQ(form->TopMenu("Edit1")->actions().at(1)->text(), "Copy Standard Tab");

    saveAnswer = Out("out.txt");
    for (const char* item :
         {"PrintAllTab1", "Copy1", "SaveTabulatureBMP1", "Save1", "SaveAllTEXT1",
          "SaveMusicXML1", "SaveGuitarPro1", "SaveStandardTab1", "CopyStandardTab1"})
        form->findChild<QAction*>(item)->trigger();
    EXPECT_EQ(shown, QStringList({"No Tracks to print!", "No Tracks to copy!", "No Tracks to copy!",
                                  "No Tracks to save!", "No Tracks to save!",
                                  "No Tracks to save!", "No Tracks to save!",
                                  "No Tracks to save!", "No Tracks to copy!"}));
    EXPECT_TRUE(saveFilters.empty());

    conv.Settings.ShowChord = 1;
    Show(Song({Measures(2)}), -1);
    ASSERT_FALSE(form->TabScroll()->ShowsTrack());
    shown.clear();
    exporter->PrintAllTab1Click();
    exporter->Copy1Click();
    exporter->SaveTabulatureBMP1Click();
    exporter->Save1Click();
    EXPECT_EQ(shown, QStringList({"No Tracks to print!", "No Tracks to copy!",
                                           "No Tracks to copy!", "No Tracks to save!"}));
    EXPECT_TRUE(saveFilters.empty());
    // "Save All Text" needs only the open file.
    exporter->SaveAllTEXT1Click();
    EXPECT_EQ(saveFilters, QStringList({"TXT (*.txt)"}));
    EXPECT_TRUE(QFile::exists(saveAnswer));

    // A shown track without a note in any measure prints nothing and says so.
    shown.clear();
    saveFilters.clear();
    Track named;
    named.Name("Silent").End();
    Show(Song({named, Measures(1)}), 1);
    exporter->PrintAllTab1Click();
    EXPECT_EQ(shown, QStringList({"No Tracks to print!"}));
    EXPECT_TRUE(saveFilters.empty());
}

TEST_F(ExportTest, PrintedPagesHoldAcrossTimesDownMeasures) {
    // A one-track song exports; 16 measures at 3 x 5 give a full page and a page holding one
    // measure, 15 give exactly one page.
    ASSERT_EQ(conv.Settings.PrintMeasPerWidth, 3);
    ASSERT_EQ(conv.Settings.PrintMeasPerHeight, 5);
    Show(Song({Measures(16)}));
    ASSERT_TRUE(form->TabScroll()->ShowsTrack());
    saveAnswer = Out("sixteen.pdf");
    exporter->PrintAllTab1Click();
    EXPECT_EQ(shown, NoMessages);
    EXPECT_EQ(saveFilters, QStringList({"PDF (*.pdf)"}));
    EXPECT_EQ(PdfPages(saveAnswer), 2);

    Show(Song({Measures(15)}));
    saveAnswer = Out("fifteen.pdf");
    exporter->PrintAllTab1Click();
    EXPECT_EQ(PdfPages(saveAnswer), 1);
    // Every print asks for its file; a cancelled dialog prints nothing.
    EXPECT_EQ(saveFilters.size(), 2);
    saveAnswer.clear();
    exporter->PrintAllTab1Click();
    EXPECT_EQ(saveFilters.size(), 3);
    EXPECT_EQ(shown, NoMessages);

    // A PDF file named in "Print Setup" takes the next print, and only that one.
    const QString chosen = Out("setup.pdf");
    prompts.PrinterAnswer = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(chosen);
        return true;
    };
    exporter->PrintSetup1Click();
    exporter->PrintAllTab1Click();
    EXPECT_EQ(PdfPages(chosen), 1);
    EXPECT_EQ(saveFilters.size(), 3);
    saveAnswer = Out("after.pdf");
    exporter->PrintAllTab1Click();
    EXPECT_EQ(saveFilters.size(), 4);
    EXPECT_EQ(PdfPages(saveAnswer), 1);
}

TEST_F(ExportTest, PictureRowsLeaveNoGapForEmptyMeasures) {
    const QSize outer = form->size();
    const int cellHeight = outer.height() / 2;
    const int cellWidth = static_cast<int>(outer.width() * 0.75);

    Show(Song({Measures(4)}));
    QImage four = exporter->RenderTrackBitmap();
    EXPECT_EQ(four.size(), QSize(static_cast<int>(outer.width() * 1.5), 3 * cellHeight));

    // Measures 5, 6 and 7 hold the notes: they take the first three cells, in two rows.
    Show(Song({Measures(3, 4)}));
    const QImage three = exporter->RenderTrackBitmap();
    ASSERT_EQ(three.height(), 2 * cellHeight);
    const QColor background(255, 255, 0); // BackgroundColor 0x00FFFF
    auto centre = [&](int k) {
        return three.pixelColor((k % 2) * cellWidth + 5, (k / 2) * cellHeight + cellHeight - 3);
    };
    EXPECT_EQ(centre(0), background);
    EXPECT_EQ(centre(1), background);
    EXPECT_EQ(centre(2), background);
    EXPECT_EQ(centre(3), QColor(Qt::white));
    EXPECT_EQ(shown, NoMessages);

    // The clipboard holds the picture; the BMP file loads back at its size.
    exporter->Copy1Click();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), three.size());
    saveAnswer = Out("three.bmp");
    exporter->SaveTabulatureBMP1Click();
    EXPECT_EQ(saveFilters.back(), "BMP (*.bmp)");
    QImageReader reader(saveAnswer);
    EXPECT_EQ(reader.format(), "bmp");
    EXPECT_EQ(reader.read().size(), three.size());
    // A cancelled BMP dialog says so.
    saveAnswer.clear();
    exporter->SaveTabulatureBMP1Click();
    EXPECT_EQ(shown, QStringList({"Error: Can't write BITMAP file."}));
}

TEST_F(ExportTest, PicturesAndTheExportToolDrawTheOptimisedFingering) {
    // A descending scale from C6: placed measure by measure it slides down the first string;
    // the whole-track search keeps it in one position.
    Track scale;
    scale.Note(0, 84, 240);
    for (int note : {83, 81, 79, 77, 76, 74, 72})
        scale.Note(0, note, 240);
    scale.End();
    Show(Song({scale}));
    const QImage plain = exporter->RenderTrackBitmap();
    conv.Settings.OptimiseFingering = 1;
    Show(Song({scale}));
    const QImage optimised = exporter->RenderTrackBitmap();
    ASSERT_FALSE(optimised.isNull());
    EXPECT_NE(optimised, plain);

    // The converter's context (no view) draws the measure as the window's does.
    const MeasurePaintContext tool = TrackContext(conv, display, 1, nullptr);
    ASSERT_TRUE(tool.Fingering);
    auto draw = [this](const MeasurePaintContext& context) {
        QImage image(550, 117, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.setFont(form->font());
        EXPECT_EQ(DrawMeasure(painter, context, 0, 0, 550, 117, 1, 1, 10), 1);
        return image;
    };
    EXPECT_EQ(draw(tool), draw(form->TabScroll()->PaintContext()));
    conv.Settings.OptimiseFingering = 0;
    EXPECT_NE(draw(TrackContext(conv, display, 1, nullptr)), draw(tool));
}

TEST_F(ExportTest, LargePictureIsSavedInPartsAndNotCopied) {
    // A narrow window, so that the limit cuts the height only.
    form->resize(250, form->height());
    const int cellHeight = form->height() / 2;
    Show(Song({Measures(9)})); // 5 rows
    exporter->PictureLimit = 2 * cellHeight + 1;
    saveAnswer = Out("long.bmp");
    exporter->SaveTabulatureBMP1Click();
    const QStringList names = {"long.bmp", "long-2.bmp", "long-3.bmp"};
    for (int i = 0; i < names.size(); ++i) {
        const QImage part(Out(names[i]));
        EXPECT_EQ(part.height(), (i < 2 ? 2 : 1) * cellHeight) << names[i].toStdString();
    }
    EXPECT_FALSE(QFile::exists(Out("long-4.bmp")));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains("3 parts")) << shown[0].toStdString();

    shown.clear();
    QGuiApplication::clipboard()->clear();
    exporter->Copy1Click();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QString::number(2 * cellHeight + 1)));
    EXPECT_TRUE(shown[0].contains("Save Tabulature BMP"));
    EXPECT_TRUE(QGuiApplication::clipboard()->image().isNull());
}

TEST_F(ExportTest, TextFilesAreTheReportSectionsByteForByte) {
    Track first = Measures(1), second = Measures(2), third = Measures(3);
    second.Name("Second");
    Show(Song({first, second, third}), 2);
    QFile reportFile(QString::fromStdString(conv.TempFileName));
    ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
    const QByteArray report = reportFile.readAll();
    ASSERT_EQ(report.count('\xFA'), 3);
    const qsizetype second_ = report.indexOf('\xFA', report.indexOf('\xFA') + 1);
    const qsizetype third_ = report.indexOf('\xFA', second_ + 1);

    auto saved = [this](const QString& name, void (*command)(TrackExport&)) {
        saveAnswer = Out(name);
        command(*exporter);
        QFile file(saveAnswer);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    const QByteArray two = saved("two.txt", [](TrackExport& e) { e.Save1Click(); });
    EXPECT_EQ(two, report.mid(second_ + 1, third_ - second_ - 1));
    EXPECT_TRUE(two.contains("Second"));
    EXPECT_TRUE(two.contains("\r\n"));
    form->TrackMenuClick(3);
    EXPECT_EQ(saved("three.txt", [](TrackExport& e) { e.Save1Click(); }),
              report.mid(third_ + 1));
    const QByteArray all = saved("all.txt", [](TrackExport& e) { e.SaveAllTEXT1Click(); });
    EXPECT_FALSE(all.contains('\xFA'));
    EXPECT_EQ(all, QByteArray(report).replace('\xFA', QByteArray()));
    EXPECT_EQ(saveFilters, QStringList(3, "TXT (*.txt)"));
    EXPECT_EQ(shown, NoMessages);

    // An output that cannot be written, and a report that is gone, are said.
    saveAnswer = Out("no-such-folder/x.txt");
    exporter->Save1Click();
    conv.DeleteReportFile();
    saveAnswer = Out("gone.txt");
    exporter->SaveAllTEXT1Click();
    EXPECT_EQ(shown, QStringList({"Can't write TAB output file!\ncannot create: No such file or "
                                  "directory",
                                  "Can't read Temporary File!"}));
    EXPECT_FALSE(QFile::exists(saveAnswer));
}

TEST_F(ExportTest, ATrackWithoutItsReportSectionIsRefusedAndNoFileWritten) {
    Show(Song({Measures(1), Measures(2), Measures(3)}), 3);
    // The report ends before the third track's section, as when the reading stopped there.
    QFile reportFile(QString::fromStdString(conv.TempFileName));
    ASSERT_TRUE(reportFile.open(QIODevice::ReadWrite));
    const QByteArray report = reportFile.readAll();
    ASSERT_TRUE(reportFile.resize(report.lastIndexOf('\xFA')));
    reportFile.close();
    saveAnswer = Out("three.txt");
    exporter->Save1Click();
    EXPECT_EQ(shown, QStringList({"Track 3 has no tablature text to save."}));
    EXPECT_FALSE(QFile::exists(saveAnswer));
}

} // namespace
} // namespace morvel::exporttest
