#include "chords/ChordDiagram.h"

#include "core/Chords.h"
#include "painter/MeasurePainter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>

#include <algorithm>
#include <cstring>

namespace morvel {

namespace {

constexpr int CHORD_FONT_PIXELS = 8;
constexpr int STRING_PEN = 2;
constexpr int SIDE_PEN = 1;
constexpr int STEPS_PER_BOX = 7;   // six strings with a step above the first and below the last
constexpr double LEFT_END = 0.1;   // strings start here, in box widths
constexpr double RIGHT_END = 0.9;  // and end here
constexpr double MARK_X = 0.05;    // "X" and "O" left of the strings
constexpr double FRET_X = 0.5;     // fret numbers on the middle of the string
constexpr int MARK_RISE = 5;       // a mark's top is this far above its string
constexpr int NAME_GAP = 10;       // the name's top is this far below the last string
constexpr int NAME_SHIFT = 2;      // the name starts this far right of the centre ...
constexpr int NAME_CHAR_WIDTH = 5; // ... less half its length at this width per character
constexpr int DIAGRAMS_PER_ROW = 3;

int Trunc(double value) {
    return static_cast<int>(value);
}

void SetPenWidth(QPainter& canvas, int width) {
    QPen pen = canvas.pen();
    pen.setWidth(width);
    canvas.setPen(pen);
}


// Brush and text background in BackgroundColor, pen in BarColor, the diagram font.
void SetChordTools(QPainter& canvas, const DisplaySettings& display, int penWidth) {
    SetDrawingTools(canvas, display, ToColor(display.BackgroundColor), penWidth);
    canvas.setFont(ChordFont());
}

} // namespace

QFont ChordFont() {
    QFont font = MeasureFont(QFont());
    font.setPixelSize(CHORD_FONT_PIXELS);
    return font;
}

void PrepareChordBox(QPainter& canvas, const DisplaySettings& display, const QRect& box) {
    SetChordTools(canvas, display, STRING_PEN);
    canvas.fillRect(box, ToColor(display.BackgroundColor));
}

void DrawChordBox(QPainter& canvas, const DisplaySettings& display, int x0, int y0, int width,
                  int height, int chord) {
    if (chord < 0 || chord >= CHORD_COUNT) return;
    const int step = height / STEPS_PER_BOX;
    const int xl = Trunc(x0 + LEFT_END * width);
    const int xr = Trunc(x0 + RIGHT_END * width);
    const int xm = Trunc(x0 + MARK_X * width);
    const int xf = Trunc(x0 + FRET_X * width);
    auto stringY = [&](int s) { return y0 + step + s * step; };

    SetChordTools(canvas, display, STRING_PEN);
    for (int s = 0; s < STRING_COUNT; ++s)
        canvas.drawLine(xl, stringY(s), xr, stringY(s));
    SetPenWidth(canvas, SIDE_PEN);
    const int lastString = stringY(STRING_COUNT - 1);
    canvas.drawLine(xl, stringY(0), xl, lastString);
    canvas.drawLine(xr, stringY(0), xr, lastString);

    const auto& fingering = ChordFingerings[static_cast<size_t>(chord)];
    for (int s = 0; s < STRING_COUNT; ++s) {
        const int fret = fingering[static_cast<size_t>(s)];
        const int y = stringY(s) - MARK_RISE;
        if (fret == -1)
            DrawText(canvas, display, xm, y, "X");
        else if (fret == 0)
            DrawText(canvas, display, xm, y, "O");
        else
            DrawText(canvas, display, xf, y, QString::number(fret));
    }

    const char* name = ChordNames[static_cast<size_t>(chord)];
    const int length = static_cast<int>(std::strlen(name));
    const int nameX = Trunc(x0 + NAME_SHIFT + FRET_X * width - (NAME_CHAR_WIDTH * length) / 2);
    DrawText(canvas, display, nameX, lastString + NAME_GAP, QString::fromLatin1(name));
}

int UsedChordCount(const ChordFlags& used) {
    return static_cast<int>(std::count_if(used.begin(), used.end(), [](int32_t f) { return f; }));
}

int ChordViewHeight(const ChordFlags& used, int scrollBoxHeight) {
    const int rows = (UsedChordCount(used) + DIAGRAMS_PER_ROW - 1) / DIAGRAMS_PER_ROW;
    return std::max(scrollBoxHeight, rows * (scrollBoxHeight / 2));
}

void DrawChordView(QPainter& canvas, const DisplaySettings& display, const ChordFlags& used,
                   const QRect& panel, int scrollBoxHeight) {
    PrepareChordBox(canvas, display, panel);
    const int width = panel.width() / DIAGRAMS_PER_ROW;
    const int height = scrollBoxHeight / 2;
    int k = 0;
    for (int chord = 0; chord < CHORD_COUNT; ++chord) {
        if (!used[static_cast<size_t>(chord)]) continue;
        DrawChordBox(canvas, display, panel.x() + (k % DIAGRAMS_PER_ROW) * width,
                     panel.y() + (k / DIAGRAMS_PER_ROW) * height, width, height, chord);
        ++k;
    }
}

} // namespace morvel
