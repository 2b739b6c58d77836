// Joins the chord window to the main window: the top-level "Chords" command opens it. (The chord
// view of the Tracks menu draws its diagrams with the same drawing, ChordViewDiagrams, given to
// the main window at construction.)
#pragma once

#include "chords/TChordsForm.h"
#include "view/TabForm.h"

#include <QAction>

namespace morvel {

inline void ConnectChords(TTabForm& form, TChordsForm& chords) {
    auto* chordsMenu = new QAction("Chords", &form);
    chordsMenu->setObjectName("ChordsMenu");
    QObject::connect(chordsMenu, &QAction::triggered, &chords,
                     [&chords] { chords.ChordsMenuClick(); });
    form.AddTopItem(chordsMenu);
}

} // namespace morvel
