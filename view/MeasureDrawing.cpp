// Drawing of measure panels: the summary, the staff and the columns of one measure, onto any
// QPainter (panel, printer page or picture) at a given origin, size and text unit.
#include "view/TabForm.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace morvel {

namespace {

// Positions are real values cut toward zero, evaluated in extended precision.
constexpr long double SEVENTH = 1.0L / 7.0L;
constexpr int STAFF_TOP = 20;     // staff line 0 would sit here; line i at S * i / 7 + 20
constexpr int STAFF_MARGIN = 19;  // S = H - this
constexpr int COLUMN_LEFT = 50;   // x-offset of a column on the downbeat
constexpr int COLUMN_MARGIN = 70; // the columns span W - this pixels
constexpr int STAFF_PEN = 3;
constexpr int THIN_PEN = 1;
const char* const StaffLetters[] = {"M", "O", "R", "V", "E"};

int Trunc(long double value) {
    return static_cast<int>(value);
}

} // namespace

QColor TTabForm::ToColor(uint32_t colorRef) {
    return QColor(static_cast<int>(colorRef & 0xFF), static_cast<int>((colorRef >> 8) & 0xFF),
                  static_cast<int>((colorRef >> 16) & 0xFF));
}

QFont TTabForm::MeasureFont(const QFont& base) {
    QFont font = base;
    font.setFamily("Liberation Mono");
    font.setFixedPitch(true);
    return font;
}

// Opaque text in NotesColor with its cell's top-left corner at (x, y); lines keep BarColor.
void TTabForm::DrawText(QPainter& canvas, int x, int y, const QString& text) {
    const QPen linePen = canvas.pen();
    QPen textPen(ToColor(display_.NotesColor));
    canvas.setPen(textPen);
    canvas.drawText(QPoint(x, y + QFontMetrics(canvas.font()).ascent()), text);
    canvas.setPen(linePen);
}

void TTabForm::PaintPanelBackground(QPainter& canvas, int X, int Y, int W, int H) {
    const bool highlighted = PlayingMeasure != -1 && HighlightedCanvas != nullptr &&
                             canvas.device() == HighlightedCanvas;
    const QColor fill = ToColor(highlighted ? display_.HighlightColor : display_.BackgroundColor);
    canvas.setBrush(fill);
    canvas.setBackground(fill);
    canvas.setBackgroundMode(Qt::OpaqueMode);
    QPen pen(ToColor(display_.BarColor));
    pen.setWidth(STAFF_PEN);
    pen.setCapStyle(Qt::FlatCap);
    canvas.setPen(pen);
    canvas.setFont(MeasureFont(canvas.font()));
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.fillRect(QRect(X, Y, std::max(W, 0), std::max(H, 0)), fill);
}

void TTabForm::DrawMusic(QPainter& canvas, int X, int Y, int W, int H, bool summary, int u) {
    PaintPanelBackground(canvas, X, Y, W, H);
    if (summary) {
        const int Q = H / 4;
        DrawText(canvas, X + 10, Y + Q - 5,
                 "MIDI File: " + QString::fromStdString(conv_.MidiFileName));
        DrawText(canvas, X + 10, Y + 2 * Q - 5, QString("Track:     %1").arg(SelectedTrack));
        DrawText(canvas, X + 10, Y + 3 * Q - 5, QString("Measures:  %1").arg(MeasureCount));
        return;
    }
    const int S = H - STAFF_MARGIN;
    const int h = u / 2;
    for (int i = 1; i <= 6; ++i) {
        const int y = Y + Trunc(S * i * SEVENTH + STAFF_TOP);
        canvas.drawLine(X + 10, y, Trunc(static_cast<long double>(X) + W - 10), y);
    }
    QPen pen = canvas.pen();
    pen.setWidth(THIN_PEN);
    canvas.setPen(pen);
    const int barTop = Y + Trunc(S * SEVENTH + 1 + STAFF_TOP);
    const int barBottom = Y + Trunc(6 * S * SEVENTH + STAFF_TOP);
    canvas.drawLine(X + 8, barTop, X + 8, barBottom);
    canvas.drawLine(X + W - 8, barTop, X + W - 8, barBottom);
    for (int i = 1; i <= 5; ++i) {
        const int y =
            Y + Trunc(((S * i * SEVENTH) + (S * (i + 1) * SEVENTH)) * 0.5L - h + STAFF_TOP);
        DrawText(canvas, X + 20, y, StaffLetters[i - 1]);
    }
}

// Draws one column at x-offset xc: its special letter, fret numbers with their 'U'/'D'
// strokes, the arrow of a note that could not be placed, and its chord name.
void TTabForm::DrawColumn(QPainter& canvas, int X, int Y, int S, int u, int xc,
                          const TabColumn& column, bool lastColumn) {
    const int h = u / 2;
    const int f = u / 5;
    const int q = (3 * u) / 4;
    auto row = [&](int t) { return Trunc(((t + 1) * S) * SEVENTH - h + STAFF_TOP); };

    if (conv_.Settings.ShowSpecial) {
        const QString letter = QString(QChar::fromLatin1(column.Special));
        if (!lastColumn && column.Special != ' ')
            DrawText(canvas, X + xc, Y + Trunc(S * SEVENTH - h + STAFF_TOP - u - h), letter);
        else if (lastColumn)
            DrawText(canvas, X + xc, Y + Trunc(S * SEVENTH - h + STAFF_TOP - u), letter);
    }
    for (int t = 0; t < STRING_COUNT; ++t) {
        if (column.Fret[t] != NO_FRET) {
            const int r = Y + row(t);
            if (column.Special == 'U')
                canvas.drawLine(X + xc + h, r - f - 1, X + xc + h + q, r - f - 1 - q);
            else if (column.Special == 'D')
                canvas.drawLine(X + xc + h, r + u + f + 1, X + xc + h + q, r + u + f + 1 + q);
            DrawText(canvas, X + xc, r, QString::number(column.Fret[t]));
        }
        if (t == STRING_COUNT - 1 &&
            (column.Label == LABEL_TOO_LOW || column.Label == LABEL_TOO_HIGH)) {
            const int C = X + xc + h;
            const int D = Y + Trunc(6 * S * SEVENTH + STAFF_TOP + h);
            canvas.drawLine(C, D, C, D + q);
            if (column.Label == LABEL_TOO_LOW) {
                canvas.drawLine(C, D + q, C - h, D + q - h);
                canvas.drawLine(C, D + q, C + h, D + q - h);
            } else {
                canvas.drawLine(C, D + q, C - h, D + q + h);
                canvas.drawLine(C, D + q, C + h, D + q + h);
            }
        }
    }
    if (conv_.Settings.ShowChord) {
        const std::string name = conv_.ColumnChordName(column);
        if (name.find_first_not_of(' ') != std::string::npos) {
            const int length = static_cast<int>(name.size());
            DrawText(canvas, X + xc + 2 - (5 * length) / 2, Y + row(5) + u + h,
                     QString::fromStdString(name));
        }
    }
}

int TTabForm::DrawMeasure(QPainter& canvas, int X, int Y, int W, int H, int track, int measure,
                          int u) {
    conv_.CurrentFret = 0;
    if (measure == 0) {
        DrawMusic(canvas, X, Y, W, H, true, u);
        return 1;
    }
    const TrackRecord* record = TrackAt(track);
    if (!record) {
        conv_.ReportError("Invalid Track!");
        return 0;
    }
    if (record->Notes.empty()) return 0;
    const MeasureIndex* index = IndexOf(track);
    const MeasureEntry* entry = index->Find(measure);
    if (!entry) return 0;

    DrawMusic(canvas, X, Y, W, H, false, u);
    DrawText(canvas, X + 10, Y + 5, QString("Track #%1, Measure #%2:").arg(track).arg(measure));

    // Columns: notes that start together share one column; a column is drawn once the next
    // onset is known, at x = onset * (W - 70) / length + 50.
    const std::vector<NoteRecord>& notes = record->Notes;
    const uint64_t limit = index->HasMeasureTicks() ? index->MeasureTicks() : UINT64_MAX;
    const uint64_t length = index->DrawLength();
    const uint64_t span = static_cast<uint64_t>(std::max(W - COLUMN_MARGIN, 1));
    const int S = H - STAFF_MARGIN;
    auto xOffset = [&](uint64_t onset) {
        return static_cast<int>(onset * span / length) + COLUMN_LEFT;
    };

    TabColumn column;
    bool pending = false;
    uint64_t r = entry->Offset;
    size_t s = entry->FirstNote;
    while (s < notes.size() && r < limit) {
        if (notes[s].DeltaTime > 0 && pending) {
            DrawColumn(canvas, X, Y, S, u, xOffset(r - notes[s].DeltaTime), column, false);
            column.Clear();
        }
        pending = true;
        conv_.PlaceNote(column, notes[s].Note, notes[s].Special, notes[s].Channel);
        ++s;
        if (s < notes.size()) r += notes[s].DeltaTime;
    }
    if (pending) {
        if (s < notes.size()) r -= notes[s].DeltaTime;
        DrawColumn(canvas, X, Y, S, u, xOffset(r), column, true);
    }
    return 1;
}

} // namespace morvel
