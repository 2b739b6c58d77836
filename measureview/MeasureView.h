// The measure view: the scroll box that shows one track as a summary panel and one panel per
// measure in which a note starts, or the chord view. It owns what it shows (the selected
// track, the panel records and their layout, the panel widgets that exist at the moment) and
// the highlight of the measure being played. Other windows use its functions and signals.
//
// Panels are records (tag and geometry); a panel widget exists only while its panel is
// within or near the visible part, so a track of any length opens and scrolls at the cost of
// the few panels on screen.
#pragma once

#include "core/Conversion.h"
#include "core/DisplaySettings.h"
#include "core/MeasureIndex.h"
#include "painter/MeasurePainter.h"

#include <QScrollArea>

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace morvel {

class TMeasurePanel;

// A panel of the view whether or not its widget exists: tag 0 = summary, N = measure N,
// -1 = chord view.
struct PanelRecord {
    int Tag = 0;
    QRect Geometry;
};

// What the view needs to show the chord view (tag -1): given by the chord subsystem, which
// draws its diagrams. Without one the chord view is an empty panel as high as the scroll box.
class ChordViewDrawing {
  public:
    virtual ~ChordViewDrawing() = default;
    // Height of the chord-view panel for a scroll box of `scrollBoxHeight` pixels.
    virtual int Height(int scrollBoxHeight) const = 0;
    // Draws into the panel `panel`, already filled in the panel colour.
    virtual void Paint(QPainter& painter, const QRect& panel, int scrollBoxHeight) const = 0;
};

class MeasureView : public QScrollArea {
    Q_OBJECT
  public:
    // The view reads the song, settings and tuning of `conversion` and the colours of
    // `display`; it writes nothing but the ChordUsed flags of chords its drawing names.
    // `chordView` (may be null) draws the chord view and must outlive the view.
    MeasureView(Conversion& conversion, const DisplaySettings& display,
                const ChordViewDrawing* chordView = nullptr, QWidget* parent = nullptr);
    ~MeasureView() override;

    // ---- What is shown ----
    // Shows `track` (1..N), the chord view (-1) or nothing (0), rebuilding every panel.
    void ShowTrack(int track);
    // Empties the view (SelectedTrack 0) and forgets the measure index.
    void Clear();
    // Removes every panel, the measure count and the highlight, and forgets the measure index,
    // but keeps SelectedTrack: the tabulature was closed, and the number chosen stays until
    // another track is chosen.
    void Close();
    // The song changed (a reconversion): drops the measure index; callers then ShowTrack.
    void SongChanged();
    int SelectedTrack() const;
    int64_t MeasureCount() const;
    int PanelCount() const;
    const std::vector<PanelRecord>& Panels() const;
    // True when a track (not the chord view, not nothing) is shown.
    bool ShowsTrack() const;
    // EndTime / MeasureTicks + 1 of the track at 1-based position `track` of the song (1
    // without a measure length); -1 when there is no such track.
    int64_t TrackMeasureCount(int track) const;

    // ---- Drawing ----
    void DrawAllMeasures(); // repaints every existing panel widget
    void LayoutMeasurePanels();
    // The inputs of the painter as the view uses them, for printing and pictures.
    MeasurePaintContext PaintContext() const;
    // Index of the shown track; nullptr when no track is shown.
    const MeasureIndex* Index() const;

    // ---- Highlight of the measure being played (-1 none) ----
    void HighlightMeasure(int measure);
    void UnhighlightMeasure(int measure);
    void ScrollToMeasure(int measure);
    int PlayingMeasure() const;

    // ---- The practice loop's mark ----
    // Marks measures `from` .. `to` (1-based) as the loop; 0, 0 marks none.
    void SetLoopMarks(int from, int to);
    std::pair<int, int> LoopMarks() const;

    // ---- Panel widgets ----
    // The widget showing `tag`, created (and scrolled into view) on request; nullptr when the
    // view has no panel with that tag.
    QWidget* PanelWidget(int tag, bool scrollIntoView = false);
    std::vector<QWidget*> PanelWidgets() const;

  signals:
    // What the view shows changed (track, panels, measure count).
    void ShownChanged();
    // The panel of measure `measure` (1-based) of the shown track was double-clicked.
    void MeasureDoubleClicked(int measure);
    // A measure panel was clicked and another (or the same) shift-clicked: measures `from`
    // .. `to`, from <= to.
    void MeasureRangeChosen(int from, int to);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    friend class TMeasurePanel;
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace morvel
