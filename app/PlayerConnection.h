// Joins the player window to the main window: "Midifile Player" in the File menu, the
// player prepared when a file is opened and let go when the tabulature is closed, and Space
// and Home reaching the player from the main window.
#pragma once

#include "player/TMidiPlayer.h"
#include "view/TabForm.h"

#include <QAction>
#include <QMenu>

namespace morvel {

inline void ConnectPlayer(TTabForm& form, TMidiPlayer& player) {
    auto* action = new QAction("Midifile Player", &form);
    action->setObjectName("PlayMidifile1");
    QObject::connect(action, &QAction::triggered, &player,
                     [&player] { player.PlayMidifile1Click(); });
    form.AddMenuItem(form.TopMenu("File1"), action);
    QObject::connect(&form, &TTabForm::FileOpened, &player,
                     [&player](SongPointer song) { player.PrepareFile(std::move(song)); });
    QObject::connect(&form, &TTabForm::TabulatureClosed, &player,
                     [&player] { player.FileClosed(); });
    player.InstallKeys(form);
}

} // namespace morvel
