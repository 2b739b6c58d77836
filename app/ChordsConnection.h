// Joins the chord window to the main window: the top-level "Chords" command opens it, and the
// chord view of the Tracks menu draws its diagrams with the same drawing.
#pragma once

#include "chords/ChordDiagram.h"
#include "chords/TChordsForm.h"
#include "view/TabForm.h"

#include <QAction>
#include <QPainter>
#include <QScrollArea>

namespace morvel {

inline void ConnectChords(TTabForm& form, TChordsForm& chords, const Conversion& conversion,
                          const DisplaySettings& display) {
    auto* chordsMenu = new QAction("Chords", &form);
    chordsMenu->setObjectName("ChordsMenu");
    QObject::connect(chordsMenu, &QAction::triggered, &chords,
                     [&chords] { chords.ChordsMenuClick(); });
    form.AddTopItem(chordsMenu);
    form.ChordViewPainter = [&form, &conversion, &display](QPainter& canvas, const QRect& panel) {
        DrawChordView(canvas, display, conversion.ChordUsed, panel, form.TabScroll()->height());
    };
}

} // namespace morvel
