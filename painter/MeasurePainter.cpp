// The measure painter: the summary, the staff and the columns of one measure, onto any
// QPainter (panel, printer page, PDF or picture) at a given origin, size and text unit.
#include "painter/MeasurePainter.h"

#include "core/Chords.h"
#include "core/Placement.h"
#include "widgets/ColorRef.h"
#include "widgets/MeasureFont.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QHash>
#include <QPainter>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QTextLayout>
#include <QThread>

#include <algorithm>
#include <optional>

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
const char* const INVALID_TRACK = "Invalid Track!";

int Trunc(long double value) {
    return static_cast<int>(value);
}

void ReportInvalidTrack(const MeasurePaintContext& context) {
    if (context.Report) context.Report(INVALID_TRACK);
}



// Draws one column at x-offset xc: its special letter, fret numbers with their 'U'/'D'
// strokes, the arrow of a note that could not be placed, and its chord name.
void DrawColumn(QPainter& canvas, const MeasurePaintContext& context, int X, int Y, int S, int u,
                int xc, const TabColumn& column, bool lastColumn, ChordFlags* chordsNamed) {
    const DisplaySettings& display = context.Display;
    const int h = u / 2;
    const int f = u / 5;
    const int q = (3 * u) / 4;
    auto row = [&](int t) { return Trunc(((t + 1) * S) * SEVENTH - h + STAFF_TOP); };

    if (context.Settings.ShowSpecial) {
        const QString letter = QString(QChar::fromLatin1(column.Special));
        if (!lastColumn && column.Special != ' ')
            DrawText(canvas, display, X + xc, Y + Trunc(S * SEVENTH - h + STAFF_TOP - u - h),
                     letter);
        else if (lastColumn)
            DrawText(canvas, display, X + xc, Y + Trunc(S * SEVENTH - h + STAFF_TOP - u), letter);
    }
    for (int t = 0; t < STRING_COUNT; ++t) {
        if (column.Fret[t] != NO_FRET) {
            const int r = Y + row(t);
            if (column.Special == 'U')
                canvas.drawLine(X + xc + h, r - f - 1, X + xc + h + q, r - f - 1 - q);
            else if (column.Special == 'D')
                canvas.drawLine(X + xc + h, r + u + f + 1, X + xc + h + q, r + u + f + 1 + q);
            DrawText(canvas, display, X + xc, r, QString::number(column.Fret[t]));
        }
        const uint8_t mark =
            column.Label == LABEL_TOO_LOW || column.Label == LABEL_TOO_HIGH ? column.Label
                                                                            : column.Unplaced;
        if (t == STRING_COUNT - 1 && (mark == LABEL_TOO_LOW || mark == LABEL_TOO_HIGH)) {
            const int C = X + xc + h;
            const int D = Y + Trunc(6 * S * SEVENTH + STAFF_TOP + h);
            canvas.drawLine(C, D, C, D + q);
            if (mark == LABEL_TOO_LOW) {
                canvas.drawLine(C, D + q, C - h, D + q - h);
                canvas.drawLine(C, D + q, C + h, D + q - h);
            } else {
                canvas.drawLine(C, D + q, C - h, D + q + h);
                canvas.drawLine(C, D + q, C + h, D + q + h);
            }
        }
    }
    if (context.Settings.ShowChord) {
        const int chord = ChordIndexOfColumn(column);
        if (chord >= 0) {
            if (chordsNamed) (*chordsNamed)[static_cast<size_t>(chord)] = 1;
            const std::string_view name = ChordNameOfColumn(column);
            if (name.find_first_not_of(' ') != std::string_view::npos) {
                const int length = static_cast<int>(name.size());
                DrawText(canvas, display, X + xc + 2 - (5 * length) / 2, Y + row(5) + u + h,
                         QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
            }
        }
    }
}

} // namespace

QColor ToColor(uint32_t colorRef) {
    return ColorFromRef(colorRef);
}

namespace {

// A text laid out once: its glyphs as QPainter::drawText would place them, and the cell its
// opaque background fills.
struct LaidOutText {
    QList<QGlyphRun> Runs;
    qreal Width = 0;
};

// What drawing a text needs besides the text, kept from one text to the next: the font's
// ascent and descent, its texts laid out (shaping a text costs more than drawing it), and
// the pen of the notes colour.
class TextTools {
  public:
    static constexpr int MAX_TEXTS = 1024; // laid-out texts kept for one font

    void Use(const QFont& font) {
        if (hasFont_ && font == font_) return;
        font_ = font;
        hasFont_ = true;
        const QFontMetricsF metrics(font);
        ascent_ = metrics.ascent();
        descent_ = metrics.descent();
        baselineOffset_ = QFontMetrics(font).ascent();
        texts_.clear();
    }
    qreal Ascent() const { return ascent_; }
    // The ascent in whole pixels: the baseline's offset from a cell's top.
    int BaselineOffset() const { return baselineOffset_; }
    qreal Descent() const { return descent_; }

    const LaidOutText& Text(const QString& text) {
        auto found = texts_.find(text);
        if (found != texts_.end()) return found.value();
        if (texts_.size() >= MAX_TEXTS) texts_.clear();
        LaidOutText laid;
        QTextLayout layout(text, font_);
        layout.setCacheEnabled(true);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        layout.endLayout();
        if (line.isValid()) {
            laid.Width = line.horizontalAdvance();
            // Glyph positions relative to the baseline at x 0.
            for (QGlyphRun run : layout.glyphRuns()) {
                QList<QPointF> positions = run.positions();
                for (QPointF& at : positions)
                    at.ry() -= line.ascent();
                run.setPositions(positions);
                laid.Runs.push_back(run);
            }
        }
        return texts_.insert(text, laid).value();
    }

    const QPen& PenOf(uint32_t color) {
        if (!hasPen_ || color != color_) {
            pen_ = QPen(ToColor(color));
            color_ = color;
            hasPen_ = true;
        }
        return pen_;
    }

  private:
    QFont font_;
    bool hasFont_ = false;
    qreal ascent_ = 0;
    qreal descent_ = 0;
    int baselineOffset_ = 0;
    QHash<QString, LaidOutText> texts_;
    uint32_t color_ = 0;
    QPen pen_;
    bool hasPen_ = false;
};

// The application thread's text tools; they go with the application object, before the
// fonts they hold. Null on any other thread, which draws its texts with drawText.
TextTools* ApplicationTextTools() {
    static TextTools* tools = nullptr;
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) return nullptr;
    if (!tools) {
        tools = new TextTools;
        qAddPostRoutine([] {
            delete tools;
            tools = nullptr;
        });
    }
    return tools;
}

// Pictures drawn by Qt's raster engine, where glyphs laid out once draw as QPainter::drawText
// draws them. Widgets (whose painter may be shared with other widgets of the window, offset
// to each in turn), printers, PDF files and any other engine get drawText.
bool IsPixelSurface(QPainter& canvas) {
    const QPaintEngine* engine = canvas.paintEngine();
    const QPaintDevice* device = canvas.device();
    return engine && engine->type() == QPaintEngine::Raster && device &&
           device->devType() == QInternal::Image &&
           canvas.worldTransform().type() <= QTransform::TxTranslate;
}

} // namespace

void DrawText(QPainter& canvas, const DisplaySettings& display, int x, int y,
              const QString& text) {
    const QPen linePen = canvas.pen();
    TextTools* tools = ApplicationTextTools();
    if (!tools) {
        canvas.setPen(ToColor(display.NotesColor));
        canvas.drawText(QPoint(x, y + QFontMetrics(canvas.font()).ascent()), text);
        canvas.setPen(linePen);
        return;
    }
    canvas.setPen(tools->PenOf(display.NotesColor));
    tools->Use(canvas.font());
    const QPointF baseline(x, y + tools->BaselineOffset());
    if (!IsPixelSurface(canvas)) {
        canvas.drawText(baseline, text);
    } else {
        // What drawText does: the cell in the background brush when opaque, then the glyphs.
        const LaidOutText& laid = tools->Text(text);
        if (canvas.backgroundMode() == Qt::OpaqueMode)
            canvas.fillRect(QRectF(baseline.x(), baseline.y() - tools->Ascent(), laid.Width,
                                   tools->Ascent() + tools->Descent()),
                            canvas.background());
        for (const QGlyphRun& run : laid.Runs)
            canvas.drawGlyphRun(baseline, run);
    }
    canvas.setPen(linePen);
}

void SetDrawingTools(QPainter& canvas, const DisplaySettings& display, const QColor& fill,
                     int penWidth) {
    canvas.setBrush(fill);
    canvas.setBackground(fill);
    canvas.setBackgroundMode(Qt::OpaqueMode);
    QPen pen(ToColor(display.BarColor));
    pen.setWidth(penWidth);
    pen.setCapStyle(Qt::FlatCap);
    canvas.setPen(pen);
    canvas.setRenderHint(QPainter::Antialiasing, false);
}

void PaintPanelBackground(QPainter& canvas, const DisplaySettings& display, int X, int Y, int W,
                          int H, bool highlighted) {
    const QColor fill = ToColor(highlighted ? display.HighlightColor : display.BackgroundColor);
    SetDrawingTools(canvas, display, fill, STAFF_PEN);
    canvas.setFont(MeasureFont(canvas.font()));
    canvas.fillRect(QRect(X, Y, std::max(W, 0), std::max(H, 0)), fill);
}

void DrawMusic(QPainter& canvas, const MeasurePaintContext& context, int X, int Y, int W, int H,
               bool summary, int u, bool highlighted) {
    const DisplaySettings& display = context.Display;
    PaintPanelBackground(canvas, display, X, Y, W, H, highlighted);
    if (summary) {
        const int Q = H / 4;
        DrawText(canvas, display, X + 10, Y + Q - 5,
                 "MIDI File: " + QString::fromStdString(context.FileName));
        const QString trackLine = QString("Track:     %1").arg(context.SelectedTrack);
        DrawText(canvas, display, X + 10, Y + 2 * Q - 5, trackLine);
        if (!context.RangeHint.empty()) {
            const int after = QFontMetrics(canvas.font()).horizontalAdvance(trackLine + "  ");
            DrawText(canvas, display, X + 10 + after, Y + 2 * Q - 5,
                     QString::fromStdString(context.RangeHint));
        }
        DrawText(canvas, display, X + 10, Y + 3 * Q - 5,
                 QString("Measures:  %1").arg(context.MeasureCount));
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
        DrawText(canvas, display, X + 20, y, StaffLetters[i - 1]);
    }
}

const TrackRecord* TrackAt(const std::vector<TrackRecord>* tracks, int track) {
    if (!tracks || track < 1 || static_cast<size_t>(track) > tracks->size()) return nullptr;
    return &(*tracks)[static_cast<size_t>(track) - 1];
}

const MeasureIndex* IndexFor(const MeasurePaintContext& context, int track,
                             std::optional<MeasureIndex>& own) {
    const TrackRecord* record = TrackAt(context.Tracks, track);
    if (!record) return nullptr;
    if (context.Index && context.Index->Describes(*record, context.Division)) return context.Index;
    own.emplace(*record, context.Division);
    return &*own;
}

MeasurePaintContext BasePaintContext(const Conversion& conversion, const DisplaySettings& display,
                                     int track, const MeasureIndex* index) {
    MeasurePaintContext context;
    context.Tracks = &conversion.TrackList;
    context.Division = conversion.Header.Division;
    context.FileName = conversion.MidiFileName;
    context.SelectedTrack = track;
    const TrackRecord* record = TrackAt(&conversion.TrackList, track);
    context.MeasureCount = record ? TrackMeasureCount(*record, context.Division) : -1;
    context.Display = display;
    context.Settings = conversion.Settings;
    context.StringPitch = conversion.StringPitch;
    context.Index = index;
    return context;
}

bool IsMeasureEmpty(const MeasurePaintContext& context, int track, int measure) {
    const TrackRecord* record = TrackAt(context.Tracks, track);
    if (!record) {
        ReportInvalidTrack(context);
        return false;
    }
    if (record->Notes.empty()) return true;
    std::optional<MeasureIndex> own;
    return IndexFor(context, track, own)->Find(measure) == nullptr;
}

int DrawMeasure(QPainter& canvas, const MeasurePaintContext& context, int X, int Y, int W, int H,
                int track, int measure, int u, bool highlighted, ChordFlags* chordsNamed) {
    if (measure == 0) {
        DrawMusic(canvas, context, X, Y, W, H, true, u, highlighted);
        return 1;
    }
    const TrackRecord* record = TrackAt(context.Tracks, track);
    if (!record) {
        ReportInvalidTrack(context);
        return 0;
    }
    if (record->Notes.empty()) return 0;
    std::optional<MeasureIndex> own;
    const MeasureIndex& index = *IndexFor(context, track, own);
    const MeasureEntry* entry = index.Find(measure);
    if (!entry) return 0;

    DrawMusic(canvas, context, X, Y, W, H, false, u, highlighted);
    DrawText(canvas, context.Display, X + 10, Y + 5,
             QString("Track #%1, Measure #%2:").arg(track).arg(measure));

    // Columns: notes that start together share one column; a column is drawn once the next
    // onset is known, at x = onset * (W - 70) / length + 50. Every measure is placed on its
    // own, from fret 0, with an anchor of this call; with OptimiseFingering on, each note
    // takes its position in the optimised placement of the whole track, as the text does.
    const TrackFingering* fingering = nullptr;
    std::optional<TrackFingering> ownFingering;
    if (context.Settings.OptimiseFingering) {
        if (context.Fingering && track == context.SelectedTrack &&
            context.Fingering->NoteCount() == record->Notes.size()) {
            fingering = context.Fingering.get();
        } else {
            ownFingering = OptimiseTrackFingering(*record, context.StringPitch, context.Settings,
                                                  context.Division);
            fingering = &*ownFingering;
        }
    }
    const std::vector<NoteRecord>& notes = record->Notes;
    const uint64_t limit = index.HasMeasureTicks() ? index.MeasureTicks() : UINT64_MAX;
    const uint64_t length = index.DrawLength();
    const uint64_t span = static_cast<uint64_t>(std::max(W - COLUMN_MARGIN, 1));
    const int S = H - STAFF_MARGIN;
    auto xOffset = [&](uint64_t onset) {
        return static_cast<int>(onset * span / length) + COLUMN_LEFT;
    };

    int anchor = 0;
    TabColumn column;
    bool pending = false;
    uint64_t r = entry->Offset;
    size_t s = entry->FirstNote;
    while (s < notes.size() && r < limit) {
        if (notes[s].DeltaTime > 0 && pending) {
            DrawColumn(canvas, context, X, Y, S, u, xOffset(r - notes[s].DeltaTime), column,
                       false, chordsNamed);
            column.Clear();
        }
        pending = true;
        if (fingering)
            fingering->PlaceNote(column, s, notes[s].Special, notes[s].Channel);
        else
            PlaceNote(column, notes[s].Note, notes[s].Special, notes[s].Channel,
                      context.Settings, context.StringPitch, anchor);
        ++s;
        if (s < notes.size()) r += notes[s].DeltaTime;
    }
    if (pending) {
        if (s < notes.size()) r -= notes[s].DeltaTime;
        DrawColumn(canvas, context, X, Y, S, u, xOffset(r), column, true, chordsNamed);
    }
    return 1;
}

} // namespace morvel
