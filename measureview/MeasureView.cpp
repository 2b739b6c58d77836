#include "measureview/MeasureView.h"

#include "core/Metrics.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>

#include <algorithm>

namespace morvel {

namespace {

constexpr int SCROLL_BAR_ROOM = 23; // panel width = scroll box width - this
constexpr int HEIGHT_MARGIN = 5;    // panel height = (scroll box height - this) / per page
constexpr int PANEL_GAP = 1;
constexpr int SCREEN_TEXT_UNIT = 10;
constexpr int REALIZE_MARGIN = 2; // panel widgets kept beyond each end of the visible range
constexpr int LOOP_MARK_HEIGHT = 5;            // the band across the top of a measure in the loop
constexpr uint32_t LoopMarkColor = 0x00C07000; // a blue, as 0x00BBGGRR

} // namespace

// One panel widget of the view: tag 0 = summary, N = measure N, -1 = chord view. It draws
// through the view on every paint; nothing is cached.
class TMeasurePanel : public QWidget {
  public:
    TMeasurePanel(MeasureView* view, int tag, QWidget* parent)
        : QWidget(parent), view_(view), tag_(tag) {
        setObjectName(QString("MeasurePanel%1").arg(tag));
        setProperty("Tag", tag);
        if (tag > 0)
            setAccessibleName(QString("Measure %1").arg(tag));
        else if (tag == 0)
            setAccessibleName("Summary");
        else
            setAccessibleName("Chords");
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    int Tag() const { return tag_; }

  protected:
    void paintEvent(QPaintEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (tag_ > 0 && event->button() == Qt::LeftButton) emit view_->MeasureDoubleClicked(tag_);
        QWidget::mouseDoubleClickEvent(event);
    }
    // A click remembers the measure; a shift-click chooses the range from the one remembered
    // (a shift-click with none remembered starts a range, as a click does).
    void mousePressEvent(QMouseEvent* event) override;

  private:
    MeasureView* view_;
    int tag_;
};

struct MeasureView::Impl {
    Impl(MeasureView* owner, Conversion& conversion, const DisplaySettings& displaySettings,
         const ChordViewDrawing* chords)
        : view(owner), conv(conversion), display(displaySettings), chordView(chords) {}

    MeasureView* view;
    Conversion& conv;
    const DisplaySettings& display;
    const ChordViewDrawing* chordView;
    QWidget* canvas = nullptr; // content of the scroll box: holds the panel widgets

    int selectedTrack = 0;
    int64_t measureCount = 0;
    std::vector<PanelRecord> panels;
    std::map<int, TMeasurePanel*> widgets; // panel index -> widget
    std::unique_ptr<MeasureIndex> index;   // of selectedTrack while a track is shown
    int panelHeight = 1;
    int playingMeasure = -1;
    std::string rangeHint; // of selectedTrack, found when it was shown
    int anchor = 0;        // the measure last clicked, 0 none
    int loopFrom = 0, loopTo = 0;

    TMeasurePanel* Realize(int j) {
        auto found = widgets.find(j);
        if (found != widgets.end()) return found->second;
        const PanelRecord& record = panels[static_cast<size_t>(j)];
        auto* widget = new TMeasurePanel(view, record.Tag, canvas);
        widget->setGeometry(record.Geometry);
        widget->show();
        widgets[j] = widget;
        return widget;
    }

    void FreePanels() {
        for (auto& [j, widget] : widgets)
            delete widget;
        widgets.clear();
        panels.clear();
        canvas->resize(0, 0);
    }

    // Creates the widgets of the panels within (or near) the visible part of the scroll box
    // and removes the others. Panels are stacked at a fixed pitch, so the range is found by
    // division from the scroll position and the viewport's present height.
    void RealizeVisiblePanels() {
        if (panels.empty()) return;
        const int pitch = panelHeight + PANEL_GAP;
        const int top = view->verticalScrollBar()->value();
        const int bottom = top + std::max(view->viewport()->height(), 1);
        const int count = static_cast<int>(panels.size());
        // The last panel stays whatever the position: the chord view's one panel is taller
        // than the pitch and is in view far below the first pitch.
        const int first = std::clamp(top / pitch - REALIZE_MARGIN, 0, count - 1);
        const int last = std::min(bottom / pitch + REALIZE_MARGIN, count - 1);
        for (auto it = widgets.begin(); it != widgets.end();) {
            if (it->first < first || it->first > last) {
                delete it->second;
                it = widgets.erase(it);
            } else {
                ++it;
            }
        }
        for (int j = first; j <= last; ++j)
            Realize(j);
    }

    void RepaintTag(int tag) {
        for (auto& [j, widget] : widgets)
            if (widget->Tag() == tag) widget->update();
    }

    void PanelPaint(TMeasurePanel* panel) {
        QPainter painter(panel);
        if (panel->Tag() == -1) {
            PaintPanelBackground(painter, display, 0, 0, panel->width(), panel->height());
            if (chordView) chordView->Paint(painter, panel->rect(), view->height());
            return;
        }
        ChordFlags named{};
        const MeasurePaintContext context = view->PaintContext();
        DrawMeasure(painter, context, 0, 0, panel->width(), panel->height(), selectedTrack,
                    panel->Tag(), SCREEN_TEXT_UNIT,
                    playingMeasure != -1 && panel->Tag() == playingMeasure, &named);
        if (loopFrom > 0 && panel->Tag() >= loopFrom && panel->Tag() <= loopTo)
            painter.fillRect(0, 0, panel->width(), LOOP_MARK_HEIGHT, ToColor(LoopMarkColor));
        for (size_t i = 0; i < named.size(); ++i)
            if (named[i]) conv.ChordUsed[i] = 1;
    }
};

void TMeasurePanel::paintEvent(QPaintEvent*) {
    view_->d_->PanelPaint(this);
}

void TMeasurePanel::mousePressEvent(QMouseEvent* event) {
    if (tag_ > 0 && event->button() == Qt::LeftButton) {
        int& anchor = view_->d_->anchor;
        if ((event->modifiers() & Qt::ShiftModifier) && anchor > 0)
            emit view_->MeasureRangeChosen(std::min(anchor, tag_), std::max(anchor, tag_));
        else
            anchor = tag_;
    }
    QWidget::mousePressEvent(event);
}

MeasureView::MeasureView(Conversion& conversion, const DisplaySettings& display,
                         const ChordViewDrawing* chordView, QWidget* parent)
    : QScrollArea(parent), d_(std::make_unique<Impl>(this, conversion, display, chordView)) {
    setObjectName("TabScroll");
    setAccessibleName("Measures");
    setWidgetResizable(false);
    setFrameShape(QFrame::NoFrame);
    d_->canvas = new QWidget;
    d_->canvas->setObjectName("TabCanvas");
    d_->canvas->resize(0, 0);
    setWidget(d_->canvas);
    viewport()->installEventFilter(this);
    QScrollBar* bar = verticalScrollBar();
    bar->setTracking(true);
    connect(bar, &QScrollBar::valueChanged, this, [this] { d_->RealizeVisiblePanels(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this] { d_->RealizeVisiblePanels(); });
}

MeasureView::~MeasureView() {
    // Panel widgets reach d_ while they are destroyed with the canvas; free them first.
    d_->FreePanels();
}

// ---- What is shown ----

void MeasureView::ShowTrack(int track) {
    d_->FreePanels();
    d_->index.reset();
    d_->selectedTrack = track;
    d_->measureCount = 0;
    d_->rangeHint.clear();
    d_->playingMeasure = -1;
    d_->anchor = 0;
    if (track == -1) {
        d_->panels.push_back({-1, QRect()});
    } else if (const TrackRecord* record = TrackAt(&d_->conv.TrackList, track)) {
        const uint32_t division = d_->conv.Header.Division;
        d_->measureCount = morvel::TrackMeasureCount(*record, division);
        d_->index = std::make_unique<MeasureIndex>(*record, division);
        d_->rangeHint = RangeHint(*record, d_->conv.StringPitch, d_->conv.Settings,
                                  d_->conv.TuningSettings.Transpose);
        d_->panels.reserve(d_->index->Entries().size() + 1);
        d_->panels.push_back({0, QRect()});
        for (const MeasureEntry& entry : d_->index->Entries()) {
            if (static_cast<int64_t>(entry.Measure) > d_->measureCount ||
                entry.Measure > static_cast<uint32_t>(INT32_MAX))
                break;
            d_->panels.push_back({static_cast<int>(entry.Measure), QRect()});
        }
    } else if (track != 0) {
        // A number with no track behind it: the summary alone, counting -1 measures.
        d_->measureCount = -1;
        d_->panels.push_back({0, QRect()});
    }
    LayoutMeasurePanels();
    emit ShownChanged();
}

void MeasureView::Clear() {
    d_->selectedTrack = 0;
    Close();
}

void MeasureView::Close() {
    d_->FreePanels();
    d_->index.reset();
    d_->measureCount = 0;
    d_->playingMeasure = -1;
    d_->rangeHint.clear();
    emit ShownChanged();
}

void MeasureView::SongChanged() {
    d_->index.reset();
}

int MeasureView::SelectedTrack() const {
    return d_->selectedTrack;
}

int64_t MeasureView::MeasureCount() const {
    return d_->measureCount;
}

int MeasureView::PanelCount() const {
    return static_cast<int>(d_->panels.size());
}

const std::vector<PanelRecord>& MeasureView::Panels() const {
    return d_->panels;
}

bool MeasureView::ShowsTrack() const {
    return d_->selectedTrack >= 1 && !d_->panels.empty();
}

int64_t MeasureView::TrackMeasureCount(int track) const {
    const TrackRecord* record = TrackAt(&d_->conv.TrackList, track);
    if (!record) return -1;
    return morvel::TrackMeasureCount(*record, d_->conv.Header.Division);
}

// ---- Drawing ----

void MeasureView::DrawAllMeasures() {
    for (auto& [j, widget] : d_->widgets)
        widget->update();
}

void MeasureView::LayoutMeasurePanels() {
    const int perPage = std::max<int>(d_->display.MeasuresPerPage, 1);
    d_->panelHeight = std::max((height() - HEIGHT_MARGIN) / perPage, 1);
    const int width = std::max(this->width() - SCROLL_BAR_ROOM, 1);
    int64_t y = 0;
    int64_t bottom = 0;
    for (PanelRecord& panel : d_->panels) {
        int panelHeight = d_->panelHeight;
        if (panel.Tag == -1)
            panelHeight =
                std::max(d_->chordView ? d_->chordView->Height(height()) : height(), 1);
        const int top = static_cast<int>(std::min<int64_t>(y, QWIDGETSIZE_MAX));
        panel.Geometry = QRect(0, top, width, panelHeight);
        bottom = y + panelHeight;
        y = y + d_->panelHeight + PANEL_GAP;
    }
    d_->canvas->resize(width, static_cast<int>(std::min<int64_t>(bottom, QWIDGETSIZE_MAX)));
    for (auto& [j, widget] : d_->widgets)
        widget->setGeometry(d_->panels[static_cast<size_t>(j)].Geometry);
    d_->RealizeVisiblePanels();
}

MeasurePaintContext MeasureView::PaintContext() const {
    const Conversion& conv = d_->conv;
    MeasurePaintContext context = BasePaintContext(conv, d_->display, d_->selectedTrack, Index());
    context.MeasureCount = d_->measureCount; // 0 with nothing shown, as the summary says
    if (conv.Settings.OptimiseFingering && ShowsTrack() && context.Index) {
        // The conversion keeps the placement until it converts again; the context only
        // refers to it.
        const TrackFingering& placed =
            d_->conv.OptimisedFingering(static_cast<uint32_t>(d_->selectedTrack - 1));
        context.Fingering = std::shared_ptr<const TrackFingering>(std::shared_ptr<void>(), &placed);
    }
    context.RangeHint = d_->rangeHint;
    Conversion* reporter = &d_->conv;
    context.Report = [reporter](const std::string& text) { reporter->ReportError(text); };
    return context;
}

const MeasureIndex* MeasureView::Index() const {
    const TrackRecord* record = TrackAt(&d_->conv.TrackList, d_->selectedTrack);
    if (!record) return nullptr;
    const uint32_t division = d_->conv.Header.Division;
    // The song can be converted again under a shown view; the index then follows it.
    if (!d_->index || !d_->index->Describes(*record, division))
        d_->index = std::make_unique<MeasureIndex>(*record, division);
    return d_->index.get();
}

// ---- Highlight ----

void MeasureView::HighlightMeasure(int measure) {
    const int previous = d_->playingMeasure;
    d_->playingMeasure = measure;
    if (previous != -1 && previous != measure) d_->RepaintTag(previous);
    d_->RepaintTag(measure);
}

void MeasureView::UnhighlightMeasure(int measure) {
    if (d_->playingMeasure == measure) d_->playingMeasure = -1;
    d_->RepaintTag(measure);
}

void MeasureView::ScrollToMeasure(int measure) {
    if (measure < 1) return;
    PanelWidget(measure, true);
}

int MeasureView::PlayingMeasure() const {
    return d_->playingMeasure;
}

void MeasureView::SetLoopMarks(int from, int to) {
    if (from < 1 || to < from) from = to = 0;
    if (from == d_->loopFrom && to == d_->loopTo) return;
    d_->loopFrom = from;
    d_->loopTo = to;
    DrawAllMeasures();
}

std::pair<int, int> MeasureView::LoopMarks() const {
    return {d_->loopFrom, d_->loopTo};
}

// ---- Panel widgets ----

QWidget* MeasureView::PanelWidget(int tag, bool scrollIntoView) {
    const auto& panels = d_->panels;
    auto it = std::find_if(panels.begin(), panels.end(),
                           [tag](const PanelRecord& p) { return p.Tag == tag; });
    if (it == panels.end()) return nullptr;
    const int j = static_cast<int>(it - panels.begin());
    // The margin rounds up: ensureVisible keeps rows up to centre + margin - 1 in view, and
    // the panel's last row is top + height - 1.
    if (scrollIntoView)
        ensureVisible(0, it->Geometry.top() + it->Geometry.height() / 2, 0,
                      (it->Geometry.height() + 1) / 2);
    return d_->Realize(j);
}

std::vector<QWidget*> MeasureView::PanelWidgets() const {
    std::vector<QWidget*> widgets;
    widgets.reserve(d_->widgets.size());
    for (const auto& [j, widget] : d_->widgets)
        widgets.push_back(widget);
    return widgets;
}

// ---- Events ----

// On every size change the panels are laid out for the new size and the pixel scroll position
// is restored (the viewport can clamp it while the old layout is still in place); then the
// panels now visible get their widgets.
void MeasureView::resizeEvent(QResizeEvent* event) {
    QScrollBar* bar = verticalScrollBar();
    const int position = bar->value();
    QScrollArea::resizeEvent(event);
    LayoutMeasurePanels();
    bar->setValue(position);
    d_->RealizeVisiblePanels();
}

bool MeasureView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewport() && event->type() == QEvent::Resize) d_->RealizeVisiblePanels();
    return QScrollArea::eventFilter(watched, event);
}

} // namespace morvel
