// Joins the export commands to the main window: the print, save and text items of the File
// menu and the Edit menu with "Copy Track", each at its place in the fixed order; the song
// opened in the window is what the exports write.
#pragma once

#include "export/TrackExport.h"
#include "view/TabForm.h"

#include <QMenu>

namespace morvel {

inline void ConnectExport(TTabForm& form, TrackExport& exporter) {
    QMenu* file = form.TopMenu("File1");
    for (QAction* action : exporter.FileActions())
        form.AddMenuItem(file, action);
    form.AddTopMenu(exporter.EditMenu());
    QObject::connect(&form, &TTabForm::FileOpened, &exporter,
                     [&exporter](SongPointer song) { exporter.SetSong(std::move(song)); });
    QObject::connect(&form, &TTabForm::TabulatureClosed, &exporter,
                     [&exporter] { exporter.SetSong(nullptr); });
}

} // namespace morvel
