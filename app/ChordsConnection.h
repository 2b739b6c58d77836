// Joins the chord window to the main window: the top-level "Chords" command opens it, and the
// chord view of the Tracks menu draws its diagrams with the same drawing.
#pragma once

#include "chords/ChordDiagram.h"
#include "chords/TChordsForm.h"
#include "view/TabForm.h"

#include <QAction>

namespace morvel {

inline void ConnectChords(TTabForm& form, TChordsForm& chords, const Conversion& conversion,
                          const DisplaySettings& display) {
    auto* chordsMenu = new QAction("Chords", &form);
    chordsMenu->setObjectName("ChordsMenu");
    QObject::connect(chordsMenu, &QAction::triggered, &chords,
                     [&chords] { chords.ChordsMenuClick(); });
    form.AddTopItem(chordsMenu);

    MeasureView* view = form.TabScroll();
    view->ChordViewPainter = [&conversion, &display](QPainter& canvas, const QRect& panel,
                                                     int scrollBoxHeight) {
        DrawChordView(canvas, display, conversion.ChordUsed, panel, scrollBoxHeight);
    };
    view->ChordViewHeight = [&conversion](int scrollBoxHeight) {
        return ChordViewHeight(conversion.ChordUsed, scrollBoxHeight);
    };
}

} // namespace morvel
