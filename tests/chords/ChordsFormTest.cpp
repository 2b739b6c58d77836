#include "app/ChordsConnection.h"
#include "chords/ChordDiagram.h"
#include "chords/TChordsForm.h"
#include "tests/chords/RecordingDevice.h"
#include "tests/support/ScriptedPrompts.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace morvel::chordtest {
namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
  public:
    int Count = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++Count;
        return false;
    }
};

class ChordsFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        form.ChordPaint()->installEventFilter(&paints);
        form.ChordsMenuClick();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        QApplication::processEvents();
    }

    // Types one character into ChordEdit; answers how often the diagram box was painted.
    int Type(char c) {
        paints.Count = 0;
        QTest::keyClick(form.ChordEdit(), c);
        QApplication::processEvents();
        return paints.Count;
    }

    // The texts the diagram box paints now.
    std::vector<DrawnText> BoxTexts() {
        RecordingDevice device(405, 218);
        form.ChordPaint()->render(&device);
        return device.Texts();
    }

    QString ShownName() {
        const std::vector<DrawnText> texts = BoxTexts();
        return texts.empty() ? QString() : texts.back().Text;
    }

    Conversion conversion;
    DisplaySettings display;
    TChordsForm form{display};
    PaintCounter paints;
};

TEST_F(ChordsFormTest, TypingShowsEachTextThatNamesAChord) {
    struct Step {
        char key;
        bool redrawn;
        int chord;
        const char* name;
    };
    const Step steps[] = {{'A', true, 9, "A"},
                          {'m', true, 21, "Am"},
                          {'7', true, 45, "Am7"},
                          {'x', false, 45, "Am7"}};
    for (const Step& step : steps) {
        const int count = Type(step.key);
        if (step.redrawn)
            EXPECT_GE(count, 1) << step.key;
        else
            EXPECT_EQ(count, 0) << step.key;
        EXPECT_EQ(form.CurrentChord(), step.chord) << step.key;
        EXPECT_EQ(ShownName(), step.name) << step.key;
    }
    paints.Count = 0;
    form.ChordEdit()->clear(); // an empty text changes nothing
    QApplication::processEvents();
    EXPECT_EQ(paints.Count, 0);
    EXPECT_EQ(ShownName(), "Am7");

    // "-" after a letter is a flat: "b-" is A#. "bb" names nothing, so "b" (B) stays.
    Type('b');
    EXPECT_EQ(ShownName(), "B");
    EXPECT_GE(Type('-'), 1);
    EXPECT_EQ(ShownName(), "A#");
    form.ChordEdit()->clear();
    Type('b');
    EXPECT_EQ(Type('b'), 0);
    EXPECT_EQ(form.CurrentChord(), 11);
    EXPECT_EQ(ShownName(), "B");
}

TEST_F(ChordsFormTest, ChordsCommandOpensTheWindowCleared) {
    test::ScriptedPrompts prompts;
    TTabForm mainWindow(conversion, display, prompts);
    ConnectChords(mainWindow, form);
    QStringList titles;
    for (QAction* action : mainWindow.menuBar()->actions())
        titles << action->text();
    EXPECT_EQ(titles, QStringList({"File", "Tracks", "Chords", "Help"}));
    QAction* chordsMenu = mainWindow.findChild<QAction*>("ChordsMenu");
    ASSERT_NE(chordsMenu, nullptr);
    EXPECT_EQ(chordsMenu->menu(), nullptr); // a command, not a menu

    EXPECT_EQ(form.windowTitle(), "Chords Form");
    EXPECT_EQ(form.Label1()->text(), "Enter Chord:");
    EXPECT_EQ(form.Button1()->text(), "Close");
    EXPECT_EQ(form.ChordPaint()->accessibleName(), "Chord Diagram");
    EXPECT_EQ(form.ChordPaint()->geometry(), QRect(10, 69, 405, 218));

    QTest::keyClicks(form.ChordEdit(), "C");
    ASSERT_EQ(form.CurrentChord(), 0);
    QTest::mouseClick(form.Button1(), Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.CurrentChord(), 0); // "Close" only hides

    chordsMenu->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.CurrentChord(), -1);
    EXPECT_TRUE(form.ChordEdit()->text().isEmpty());
    EXPECT_TRUE(BoxTexts().empty());
    // Painted again (as when uncovered), the box holds nothing but the background.
    const QImage box = form.ChordPaint()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int other = 0;
    for (int y = 0; y < box.height(); ++y)
        for (int x = 0; x < box.width(); ++x)
            other += box.pixel(x, y) != qRgb(255, 255, 0);
    EXPECT_EQ(other, 0);
}

// The chord view of the main window, as the program joins it: used chords take rows of half the
// scroll box's height, three to a row, and scrolling down brings the last row into view.
TEST(ChordView, EveryRowReachedByScrolling) {
    Conversion conversion;
    DisplaySettings display;
    test::ScriptedPrompts prompts;
    const ChordViewDiagrams chordView(conversion.ChordUsed, display);
    TTabForm mainWindow(conversion, display, prompts, &chordView);
    TChordsForm chords(display, &mainWindow);
    ConnectChords(mainWindow, chords);
    mainWindow.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&mainWindow));
    conversion.Settings.ShowChord = 1;
    MeasureView* scroll = mainWindow.TabScroll();
    const int rowHeight = scroll->height() / 2;
    const int step = rowHeight / 7;

    // Eight chords give three rows, eleven four; the last row holds two diagrams either way.
    const std::vector<int> eight = {0, 2, 4, 7, 9, 16, 21, 33}; // C D E G A Em Am A7
    const std::vector<int> eleven = {5, 11, 19};                // and F B Gm
    for (const auto& [added, rows] : {std::pair{eight, 3}, std::pair{eleven, 4}}) {
        for (int chord : added)
            conversion.ChordUsed[static_cast<size_t>(chord)] = 1;
        mainWindow.BuildTracksMenu();
        mainWindow.TracksMenu()->actions().at(0)->trigger(); // "Chords"
        QApplication::processEvents();
        QWidget* panel = scroll->PanelWidget(-1);
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->accessibleName(), "Chords");
        EXPECT_EQ(panel->height(), rows * rowHeight);

        // String lines of a diagram in column `column` whose top is at viewport row `top`.
        const int width = panel->width() / 3;
        auto hasStrings = [&](const QImage& view, int column, int top) {
            const int x = column * width + width / 2 - 20; // left of the fret numbers
            for (int s = 0; s < 6; ++s)
                if (view.pixel(x, top + step + s * step - 1) != qRgb(0, 0, 0)) return false;
            return true;
        };
        auto grabView = [&] {
            QApplication::processEvents();
            return scroll->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };
        QImage view = grabView();
        for (int column = 0; column < 3; ++column) {
            EXPECT_TRUE(hasStrings(view, column, 0)) << rows << " " << column;
            EXPECT_TRUE(hasStrings(view, column, rowHeight)) << rows << " " << column;
        }

        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        const int offset = scroll->verticalScrollBar()->value();
        EXPECT_EQ(offset, rows * rowHeight - scroll->viewport()->height());
        view = grabView();
        const int lastTop = (rows - 1) * rowHeight - offset;
        EXPECT_TRUE(hasStrings(view, 0, lastTop)) << rows;
        EXPECT_TRUE(hasStrings(view, 1, lastTop)) << rows;
        EXPECT_FALSE(hasStrings(view, 2, lastTop)) << rows;
    }
}

} // namespace
} // namespace morvel::chordtest
