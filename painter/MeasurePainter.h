// The measure painter: draws the summary panel and single measures of a track onto any
// QPainter (screen panel, printer page, PDF, picture) at a given origin, size and text unit.
//
// Every function reads only its inputs. Notes are placed with the painter's own anchor, reset
// to fret 0 for every measure, or, with OptimiseFingering on, where the optimised placement of
// the whole track puts them, so drawing never changes the conversion object. Chords named
// while drawing are handed back through `chordsNamed`; the caller marks them used.
#pragma once

#include "core/Conversion.h"
#include "core/DisplaySettings.h"
#include "core/Fingering.h"
#include "core/MeasureIndex.h"
#include "core/Song.h"

#include <QColor>
#include <QFont>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QPainter;

namespace morvel {

// Everything a drawing reads, gathered by its caller. The pointers must outlive the call.
struct MeasurePaintContext {
    const std::vector<TrackRecord>* Tracks = nullptr; // the song; track N is (*Tracks)[N - 1]
    uint32_t Division = 96;
    std::string FileName;     // "MIDI File:" of the summary
    int SelectedTrack = 0;    // "Track:" of the summary
    int64_t MeasureCount = 0; // "Measures:" of the summary
    DisplaySettings Display;  // colours
    ConversionSettings Settings;                         // ShowSpecial, ShowChord, placement
    std::array<int16_t, STRING_COUNT> StringPitch = BaseTuning; // working tuning
    // Index of the track being drawn; when null or describing another track, the painter
    // builds one of its own for the call.
    const MeasureIndex* Index = nullptr;
    // The optimised placement of track SelectedTrack, read when Settings.OptimiseFingering is
    // on. When null, or not of the drawn track, the painter computes one for the call, which
    // costs a search over the whole track: callers that draw often keep one here.
    std::shared_ptr<const TrackFingering> Fingering;
    // Drawn after the "Track:" value of the summary; empty for none (core/Metrics.h RangeHint).
    std::string RangeHint;
    // Receives "Invalid Track!"; may be empty.
    Reporter Report;
};

// The inputs of the painter for `track` (1-based) of `conversion` in the colours of `display`:
// the song, its division, file name, settings and tuning, `index` (may be null) and the track's
// measure count (-1 when there is no such track). What a caller keeps in its own way is left
// empty: the optimised placement, the range hint and the reporter.
MeasurePaintContext BasePaintContext(const Conversion& conversion, const DisplaySettings& display,
                                     int track, const MeasureIndex* index);

// Track `track` (1-based) of `tracks`; nullptr when `tracks` is null or has no such track.
const TrackRecord* TrackAt(const std::vector<TrackRecord>* tracks, int track);

// The measure index of `track` for drawing with `context`: the context's own when it describes
// that track, else one built into `own`. Nullptr when the context has no such track.
const MeasureIndex* IndexFor(const MeasurePaintContext& context, int track,
                             std::optional<MeasureIndex>& own);

// Chords named while drawing: flag i set for chord i.
using ChordFlags = std::array<int32_t, CHORD_COUNT>;

// Draws measure `measure` of track `track` (1-based), or the summary when `measure` is 0, into
// the rectangle (X, Y, X + W, Y + H) with text unit `u`. Returns 1 when it drew, 0 when it drew
// nothing (invalid track, with "Invalid Track!" reported; no notes; no note in the measure).
// `highlighted` fills the panel in HighlightColor instead of BackgroundColor.
int DrawMeasure(QPainter& canvas, const MeasurePaintContext& context, int X, int Y, int W, int H,
                int track, int measure, int u, bool highlighted = false,
                ChordFlags* chordsNamed = nullptr);
// Fills the rectangle and draws the summary text (summary true) or the empty staff.
void DrawMusic(QPainter& canvas, const MeasurePaintContext& context, int X, int Y, int W, int H,
               bool summary, int u, bool highlighted = false);
// Fills the rectangle in the panel colour and sets pen (BarColor, width 3) and font.
void PaintPanelBackground(QPainter& canvas, const DisplaySettings& display, int X, int Y, int W,
                          int H, bool highlighted = false);
// True when no note of the track starts in `measure`. An invalid track reports
// "Invalid Track!" and answers false; a track without notes answers true.
bool IsMeasureEmpty(const MeasurePaintContext& context, int track, int measure);

// Opaque text in NotesColor with its cell's top-left corner at (x, y); the line pen is kept.
void DrawText(QPainter& canvas, const DisplaySettings& display, int x, int y,
              const QString& text);
// Brush and text background `fill`, opaque text, a flat-capped pen in BarColor of `penWidth`,
// no antialiasing: the tools every panel and diagram draws with.
void SetDrawingTools(QPainter& canvas, const DisplaySettings& display, const QColor& fill,
                     int penWidth);

// The font measures are drawn in: "Liberation Mono", fixed pitch, at the size of `base`
// (defined with the shared widgets, widgets/MeasureFont.h).
QFont MeasureFont(const QFont& base);
// 0x00BBGGRR as stored in the INI file, to a colour.
QColor ToColor(uint32_t colorRef);

} // namespace morvel
