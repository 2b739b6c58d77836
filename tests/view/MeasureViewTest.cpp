#include "tests/view/ViewFixture.h"

#include <QScrollBar>

#include <map>

namespace morvel::viewtest {
namespace {

// Every panel that meets the visible part of the view has a shown widget at its place.
::testing::AssertionResult VisiblePanelsHaveWidgets(MeasureView* view) {
    const int top = view->verticalScrollBar()->value();
    const QRect visible(0, top, view->viewport()->width(), view->viewport()->height());
    std::map<int, QWidget*> byTag;
    for (QWidget* widget : view->PanelWidgets())
        byTag[widget->property("Tag").toInt()] = widget;
    int seen = 0;
    for (const PanelRecord& panel : view->Panels()) {
        if (!panel.Geometry.intersects(visible)) continue;
        ++seen;
        auto it = byTag.find(panel.Tag);
        if (it == byTag.end() || !it->second->isVisible() ||
            it->second->geometry() != panel.Geometry)
            return ::testing::AssertionFailure()
                   << "panel " << panel.Tag << " has no widget at scroll position " << top
                   << " in a viewport " << visible.width() << "x" << visible.height();
    }
    if (seen == 0) return ::testing::AssertionFailure() << "no panel in view at " << top;
    return ::testing::AssertionSuccess();
}

class MeasureViewTest : public ViewTest {
  protected:
    // One track with a note in each of `measures` measures (4/4 at 480).
    void OpenLongTrack(int measures) {
        Track t;
        for (int i = 0; i < measures; ++i)
            t.Note(i == 0 ? 0 : 1680, 64 + i % 5, 240);
        t.End();
        Open(Song({t}));
        form->show();
        form->TrackMenuClick(1);
        QApplication::processEvents();
    }
    void ResizeTo(int width, int height) {
        form->resize(width, height);
        QApplication::processEvents();
    }
    QScrollBar* Bar() const { return View()->verticalScrollBar(); }
};

TEST_F(MeasureViewTest, EveryResizeAndScrollGivesTheVisiblePanelsTheirWidgets) {
    OpenLongTrack(1539);
    ASSERT_EQ(View()->PanelCount(), 1540);
    // Enlarged while scrolled near the end, after being made tiny.
    ResizeTo(575, 380);
    Bar()->setValue(Bar()->maximum() - 50);
    QApplication::processEvents();
    EXPECT_TRUE(VisiblePanelsHaveWidgets(View()));
    for (QSize size : {QSize(100, 90), QSize(1200, 1000)}) {
        const int position = Bar()->value();
        ResizeTo(size.width(), size.height());
        EXPECT_EQ(Bar()->value(), std::min(position, Bar()->maximum())) << size.width();
        EXPECT_TRUE(VisiblePanelsHaveWidgets(View())) << size.width();
    }
    // Six measures a page, enlarged from the end of the track.
    display.MeasuresPerPage = 6;
    ResizeTo(575, 380);
    Bar()->setValue(Bar()->maximum());
    QApplication::processEvents();
    ResizeTo(900, 700);
    EXPECT_TRUE(VisiblePanelsHaveWidgets(View()));
    // Back to the top: the summary panel is there again.
    Bar()->setValue(0);
    QApplication::processEvents();
    EXPECT_TRUE(VisiblePanelsHaveWidgets(View()));
    ASSERT_NE(View()->PanelWidgets().front(), nullptr);
    EXPECT_EQ(View()->PanelWidgets().front()->accessibleName(), "Summary");
    // A change of layout alone, without a resize.
    Bar()->setValue(Bar()->maximum() / 2);
    display.MeasuresPerPage = 1;
    View()->LayoutMeasurePanels();
    EXPECT_TRUE(VisiblePanelsHaveWidgets(View()));
}

TEST_F(MeasureViewTest, ScrollingToAMeasureBringsItsPanelIntoViewAndTheHighlightFollowsTheTag) {
    OpenLongTrack(60);
    View()->HighlightMeasure(40);
    View()->ScrollToMeasure(40);
    QApplication::processEvents();
    QWidget* forty = View()->PanelWidget(40);
    ASSERT_NE(forty, nullptr);
    const int top = Bar()->value();
    EXPECT_GE(forty->geometry().top(), top);
    EXPECT_LE(forty->geometry().bottom(), top + View()->viewport()->height());
    EXPECT_TRUE(VisiblePanelsHaveWidgets(View()));
    // The widget of the playing measure is made again when it scrolls back into view, still
    // in the highlight colour.
    Bar()->setValue(0);
    QApplication::processEvents();
    View()->ScrollToMeasure(40);
    QApplication::processEvents();
    EXPECT_EQ(View()->PanelWidget(40)->grab().toImage().pixel(300, 10), qRgb(255, 0, 0));
    // A new track clears the highlight.
    form->TrackMenuClick(1);
    EXPECT_EQ(View()->PlayingMeasure(), -1);
}

} // namespace
} // namespace morvel::viewtest
