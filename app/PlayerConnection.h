// Joins the player window to the main window: "Midifile Player" in the File menu, and the
// player prepared when a file is opened and let go when the tabulature is closed.
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
                     [&player](const QString& path) { player.PrepareFile(path); });
    QObject::connect(&form, &TTabForm::TabulatureClosed, &player,
                     [&player] { player.FileClosed(); });
}

} // namespace morvel
