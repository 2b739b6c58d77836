// Chord diagrams: a horizontal string chart of one chord (six string lines, the fret to press
// written on each string, "X" for a string not played, "O" for an open one, and the chord's
// name underneath), and the chart of every used chord, three diagrams to a row.
//
// One drawing serves the chord window and the main window's chord view, on any QPainter.
#pragma once

#include "core/DisplaySettings.h"
#include "painter/MeasurePainter.h"
#include "measureview/MeasureView.h"

#include <QFont>

class QPainter;
class QRect;

namespace morvel {

// The diagram font: the fixed-pitch measure face at 5 points of the 120-dots-per-inch design
// (8 pixels), so that a character is about 5 pixels wide, which the name centring expects.
QFont ChordFont();

// Fills `box` in BackgroundColor and sets brush, pen (BarColor, width 2), opaque text and font
// for diagrams.
void PrepareChordBox(QPainter& canvas, const DisplaySettings& display, const QRect& box);

// Draws the diagram of chord `chord` (0..47) into the rectangle with left x0, top y0 and the
// given width and height. Nothing for any other index (-1 is "no chord").
//
// With step = height / 7: string s is a line from x0 + 0.1 width to x0 + 0.9 width at
// y0 + (s + 1) step (pen 2), two vertical lines (pen 1) close the box, each string's mark
// ("X", "O" at x0 + 0.05 width, or the fret number at x0 + 0.5 width) has its top 5 pixels above
// the line, and the name is centred at y0 + 6 step + 10. Positions are cut toward zero.
void DrawChordBox(QPainter& canvas, const DisplaySettings& display, int x0, int y0, int width,
                  int height, int chord);

// Number of set flags.
int UsedChordCount(const ChordFlags& used);

// Height of the chord-view panel: rows of three diagrams, each row half of the scroll box's
// height, and never less than the scroll box, so every used chord is on the panel.
int ChordViewHeight(const ChordFlags& used, int scrollBoxHeight);

// Draws the chord view into `panel`: the background, then the used chords in index order, the
// k-th at column k mod 3 and row k / 3, each a third of the panel wide and half of the scroll
// box's height tall.
void DrawChordView(QPainter& canvas, const DisplaySettings& display, const ChordFlags& used,
                   const QRect& panel, int scrollBoxHeight);

// The main window's chord view drawn from the used chords of `used` in the colours of
// `display`: what the measure view is given at construction. Both must outlive it.
class ChordViewDiagrams : public ChordViewDrawing {
  public:
    ChordViewDiagrams(const ChordFlags& used, const DisplaySettings& display)
        : used_(used), display_(display) {}
    int Height(int scrollBoxHeight) const override {
        return ChordViewHeight(used_, scrollBoxHeight);
    }
    void Paint(QPainter& painter, const QRect& panel, int scrollBoxHeight) const override {
        DrawChordView(painter, display_, used_, panel, scrollBoxHeight);
    }

  private:
    const ChordFlags& used_;
    const DisplaySettings& display_;
};

} // namespace morvel
