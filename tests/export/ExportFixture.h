// A main window with the export commands joined to it, their dialogs and messages answered
// and collected by the test.
#pragma once

#include "export/TrackExport.h"
#include "tests/view/ViewFixture.h"
#include "measureview/MeasureView.h"

#include <QFile>
#include <QPrinter>
#include <QRegularExpression>

namespace morvel::exporttest {

using viewtest::Song;
using viewtest::Track;

// A track of `measures` 4/4 measures of four quarter notes (division 480), after `emptyFirst`
// measures without notes.
inline Track Measures(int measures, int emptyFirst = 0) {
    Track track;
    uint32_t delta = static_cast<uint32_t>(emptyFirst) * 1920;
    for (int m = 0; m < measures; ++m)
        for (int beat = 0; beat < 4; ++beat) {
            track.Note(delta, 60 + beat, 480);
            delta = 0;
        }
    return track.End();
}

// Pages of a PDF file as its page objects count them.
inline int PdfPages(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    static const QRegularExpression page("/Type\\s*/Page(?![a-zA-Z])");
    return static_cast<int>(QString::fromLatin1(file.readAll()).count(page));
}

class ExportTest : public viewtest::ViewTest {
  protected:
    void SetUp() override {
        ViewTest::SetUp();
        exporter = new TrackExport(conv, *form->TabScroll(), prompts, form.get());
        QObject::connect(form.get(), &TTabForm::FileOpened, exporter,
                         [this](SongPointer song) { exporter->SetSong(std::move(song)); });
    }

    // Opens `bytes` and shows `track`.
    void Show(const QByteArray& bytes, int track = 1) {
        Open(bytes);
        form->TrackMenuClick(track);
    }

    QString Out(const QString& name) const { return dir.filePath(name); }

    TrackExport* exporter = nullptr; // owned by the window
    QStringList& saveFilters = prompts.SaveFilters;
    QString& saveAnswer = prompts.SaveAnswer;
    QStringList& shown = prompts.Messages;
};

} // namespace morvel::exporttest
