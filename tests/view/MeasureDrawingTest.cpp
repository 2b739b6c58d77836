#include "tests/chords/RecordingDevice.h"
#include "tests/view/ViewFixture.h"
#include "painter/MeasurePainter.h"

#include <QFontInfo>
#include <QPainter>

#include <algorithm>
#include <filesystem>
#include <map>

namespace morvel::viewtest {
namespace {

const QRgb YELLOW = qRgb(255, 255, 0);
const QRgb BLACK = qRgb(0, 0, 0);

// Text pixels: neither the panel fill nor the line colour.
bool IsInk(const QImage& image, int x, int y) {
    const QRgb c = image.pixel(x, y) & 0xFFFFFF;
    return c != (YELLOW & 0xFFFFFF) && c != (BLACK & 0xFFFFFF);
}

// Leftmost x in [x0, x1) with ink in rows [y0, y1), or -1.
int LeftmostInk(const QImage& image, int x0, int x1, int y0, int y1) {
    for (int x = x0; x < x1; ++x)
        for (int y = y0; y < y1; ++y)
            if (IsInk(image, x, y)) return x;
    return -1;
}

bool AnyInk(const QImage& image, int x0, int x1, int y0, int y1) {
    return LeftmostInk(image, x0, x1, y0, y1) >= 0;
}

class DrawingTest : public ViewTest {
  protected:
    // Shows track 1 with panels 550 x 117 (the screen example) and grabs measure `measure`.
    QImage GrabMeasure(const QByteArray& song, int measure) {
        Open(song);
        ShowWithScrollSize(573, 356);
        form->TrackMenuClick(1);
        QWidget* panel = View()->PanelWidget(measure, true);
        EXPECT_NE(panel, nullptr);
        if (!panel) return QImage();
        EXPECT_EQ(panel->size(), QSize(550, 117));
        return panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
};

// The painter alone: a conversion in memory, no window. The text font is the screen's, 14
// pixels high, as the panels inherit it from the main window.
class PainterTest : public ::testing::Test {
  protected:
    void Convert(const QByteArray& song) {
        conv.SetReporter([this](const std::string& text) { messages.push_back(text); });
        conv.SetReportSink([](std::string_view) {});
        conv.ConvertMidiBytes(song.toStdString(), "song.mid");
    }
    MeasurePaintContext Context() const {
        MeasurePaintContext context;
        context.Tracks = &conv.TrackList;
        context.Division = conv.Header.Division;
        context.Settings = conv.Settings;
        context.StringPitch = conv.StringPitch;
        context.Report = [this](const std::string& text) { messages.push_back(text); };
        return context;
    }
    static QFont ScreenFont() {
        QFont font = QApplication::font();
        font.setPixelSize(14);
        return font;
    }
    QImage Paint(int measure, int W = 550, int H = 117, ChordFlags* named = nullptr) {
        QImage image(W, H, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setFont(ScreenFont());
        EXPECT_EQ(DrawMeasure(painter, Context(), 0, 0, W, H, 1, measure, 10, false, named), 1);
        return image;
    }

    Conversion conv;
    mutable std::vector<std::string> messages;
};

TEST_F(PainterTest, WorkedExamplePixels) {
    // 4/4 at 480 ticks a quarter; open first-string notes (fret 0) on every beat of measure 1.
    Track t;
    t.Note(0, 76, 240).Note(240, 76, 240).Note(240, 76, 240).Note(240, 76, 240).End();
    Convert(Song({t}));
    const QImage image = Paint(1);

    // Staff lines, 3 pixels thick around 34, 48, ..., 104, from x 10 to 540.
    for (int y : {34, 48, 62, 76, 90, 104}) {
        for (int x : {10, 200, 539}) {
            EXPECT_EQ(image.pixel(x, y - 1), BLACK) << x << "," << y;
            EXPECT_EQ(image.pixel(x, y), BLACK) << x << "," << y;
            EXPECT_EQ(image.pixel(x, y + 1), BLACK) << x << "," << y;
        }
        EXPECT_EQ(image.pixel(200, y - 2), YELLOW) << y;
        EXPECT_EQ(image.pixel(200, y + 2), YELLOW) << y;
        EXPECT_EQ(image.pixel(545, y), YELLOW) << y;
    }
    // Bar lines at x 8 and 542 from 35 to 104, one pixel wide.
    for (int x : {8, 542}) {
        EXPECT_EQ(image.pixel(x, 41), BLACK);
        EXPECT_EQ(image.pixel(x, 97), BLACK);
        EXPECT_EQ(image.pixel(x - 1, 41), YELLOW);
        EXPECT_EQ(image.pixel(x + 1, 41), YELLOW);
        EXPECT_EQ(image.pixel(x, 30), YELLOW);
        EXPECT_EQ(image.pixel(x, 110), YELLOW);
    }
    // Columns at x 50, 170, 290 and 410, on the top string's text row (29).
    for (int xc : {50, 170, 290, 410}) {
        const int left = LeftmostInk(image, xc - 15, xc + 15, 29, 45);
        EXPECT_GE(left, xc) << xc;
        EXPECT_LE(left, xc + 3) << xc;
        EXPECT_FALSE(AnyInk(image, xc - 15, xc + 15, 46, 100)) << xc; // other strings unplayed
    }
    // Staff letters in the gaps, and the caption at (10, 5).
    EXPECT_TRUE(AnyInk(image, 20, 30, 36, 48));
    EXPECT_TRUE(AnyInk(image, 20, 30, 92, 104));
    EXPECT_TRUE(AnyInk(image, 10, 200, 5, 20));
    EXPECT_FALSE(AnyInk(image, 0, 10, 0, 117));
}

TEST_F(PainterTest, DrawingLeavesTheConversionAloneAndPlacesEachMeasureFromFretZero) {
    // 69 alone is string 2 fret 2 from anchor 0, string 3 fret 7 from anchor 7.
    Track t;
    t.Note(0, 69, 240).End();
    Convert(Song({t}));
    conv.CurrentFret = 0;
    const QImage fromZero = Paint(1);
    conv.CurrentFret = 7;
    const QImage fromSeven = Paint(1);
    EXPECT_EQ(conv.CurrentFret, 7);
    EXPECT_EQ(fromZero, fromSeven);
    EXPECT_TRUE(AnyInk(fromZero, 50, 60, 57, 70));  // string 2
    EXPECT_FALSE(AnyInk(fromZero, 50, 60, 72, 85)); // not string 3
}

TEST_F(DrawingTest, MeasureFontIsLiberationMono) {
    QFont base = form->font();
    const QFont font = MeasureFont(base);
    EXPECT_EQ(QFontInfo(font).family(), "Liberation Mono");
    EXPECT_TRUE(QFontInfo(font).fixedPitch());
    EXPECT_EQ(QFontInfo(font).pixelSize(), 14);
}

TEST_F(DrawingTest, FretNumbersAreOpaque) {
    Track t;
    t.Note(0, 76, 240).End();
    const QImage image = GrabMeasure(Song({t}), 1);
    ASSERT_FALSE(image.isNull());
    // The staff line around 34 runs through the "0" cell at x 50..57: the cell blanks it,
    // so the glyph's hole shows the fill; the line goes on right beside the cell.
    for (int y = 33; y <= 35; ++y) {
        EXPECT_EQ(image.pixel(45, y), BLACK);
        EXPECT_EQ(image.pixel(60, y), BLACK);
        for (int x = 50; x <= 57; ++x)
            EXPECT_NE(image.pixel(x, y), BLACK) << x << "," << y;
    }
    EXPECT_EQ(image.pixel(53, 34), YELLOW);

    // The panel shows exactly what the painter draws on a picture of the same size.
    QImage painted(550, 117, QImage::Format_RGB32);
    QPainter painter(&painted);
    painter.setFont(form->font());
    ASSERT_EQ(DrawMeasure(painter, View()->PaintContext(), 0, 0, 550, 117, 1, 1, 10), 1);
    painter.end();
    EXPECT_EQ(painted, image);
}

TEST_F(DrawingTest, ChordNotesShareOneColumnAndTheLastColumnStaysAtItsOnset) {
    // An E minor shape 0-0-0 on strings 0..2 at 0, then a note at 960; the next note lies in
    // measure 2 and must not pull the last column of measure 1 along.
    Track t;
    t.Chord(0, {76, 71, 67}, 240).Note(720, 72, 240).Note(720, 76, 240).End();
    const QImage image = GrabMeasure(Song({t}), 1);
    ASSERT_FALSE(image.isNull());
    for (int row : {29, 43, 57}) {
        const int left = LeftmostInk(image, 40, 70, row, row + 14);
        EXPECT_GE(left, 50) << row;
        EXPECT_LE(left, 53) << row;
    }
    const int last = LeftmostInk(image, 200, 545, 43, 57); // 72 is fret 1 on string 1
    EXPECT_GE(last, 290);
    EXPECT_LE(last, 293);
}

TEST_F(DrawingTest, NoteBelowTheLowestStringDrawsADownArrow) {
    Track t;
    t.Note(0, 40, 240).End();
    const QImage image = GrabMeasure(Song({t}), 1);
    ASSERT_FALSE(image.isNull());
    // Stem at x = 50 + 5 from y 109 to 116; head lines from (55, 116) up towards (50, 111)
    // and (60, 111), a line's last pixel left out.
    for (int y = 109; y <= 116; ++y)
        EXPECT_EQ(image.pixel(55, y), BLACK) << y;
    EXPECT_EQ(image.pixel(51, 112), BLACK);
    EXPECT_EQ(image.pixel(59, 112), BLACK);
    EXPECT_EQ(image.pixel(57, 112), YELLOW);
    EXPECT_EQ(image.pixel(55, 107), YELLOW);
    // No fret number for it on any string.
    EXPECT_FALSE(AnyInk(image, 40, 80, 25, 105));

    // Struck with E4, the optimised placement shows E4's fret and still marks the low note.
    Track chord;
    chord.Chord(0, {40, 64}, 240).End();
    conv.Settings.OptimiseFingering = 1;
    const QImage both = GrabMeasure(Song({chord}), 1);
    ASSERT_FALSE(both.isNull());
    EXPECT_TRUE(AnyInk(both, 40, 80, 25, 100));
    for (int y = 109; y <= 116; ++y)
        EXPECT_EQ(both.pixel(55, y), BLACK) << y;
}

TEST_F(DrawingTest, SpecialLetterAndBendStrokesFollowTheirSettings) {
    Track t;
    t.Note(0, 76, 240).PitchBendUp().End();
    Open(Song({t}));
    ASSERT_EQ(conv.TrackList[0].Notes[0].Special, 'U');
    form->TrackMenuClick(1);
    auto draw = [&] {
        QImage image(550, 117, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.setFont(form->font());
        EXPECT_EQ(DrawMeasure(painter, View()->PaintContext(), 0, 0, 550, 117, 1, 1, 10), 1);
        return image;
    };
    const QImage plain = draw();
    // The rising stroke from (55, 26) towards (62, 19) is drawn with the letter off.
    EXPECT_EQ(plain.pixel(55, 26), BLACK);
    EXPECT_EQ(plain.pixel(61, 20), BLACK);
    EXPECT_EQ(plain.pixel(55, 20), YELLOW);
    // The letter of the last column sits at (50, 19), below the caption's glyphs.
    EXPECT_FALSE(AnyInk(plain, 50, 58, 22, 29));
    conv.Settings.ShowSpecial = 1;
    const QImage special = draw();
    EXPECT_TRUE(AnyInk(special, 50, 58, 22, 29));
    EXPECT_EQ(special.pixel(61, 20), BLACK);
}

TEST_F(DrawingTest, DrawingMovesWithTheOriginOnAnySurface) {
    Track t;
    t.Note(0, 40, 240).Note(480, 76, 240).End();
    Open(Song({t}));
    form->TrackMenuClick(1);
    QImage image(700, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(form->font());
    ASSERT_EQ(DrawMeasure(painter, View()->PaintContext(), 100, 150, 550, 117, 1, 1, 10), 1);
    painter.end();
    EXPECT_EQ(image.pixel(99, 150), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(100, 150), YELLOW);
    EXPECT_EQ(image.pixel(108, 150 + 41), BLACK);   // left bar line
    EXPECT_EQ(image.pixel(155, 150 + 112), BLACK);  // arrow stem
    EXPECT_EQ(image.pixel(200, 150 + 34), BLACK);   // staff line
    EXPECT_EQ(image.pixel(649, 150 + 116), YELLOW); // last pixel of the rectangle
    EXPECT_EQ(image.pixel(650, 150 + 116), qRgb(255, 255, 255));
}

TEST_F(DrawingTest, NarrowPanelsAndEmptyMeasuresDrawSafely) {
    Track t;
    t.Note(0, 64, 240).Note(1000, 67, 240).Note(4000, 69, 240).End();
    Open(Song({t}));
    form->TrackMenuClick(1);
    QImage image(60, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    EXPECT_EQ(DrawMeasure(painter, View()->PaintContext(), 0, 0, 60, 40, 1, 1, 10),
              1); // W - 70 taken as 1
    EXPECT_EQ(DrawMeasure(painter, View()->PaintContext(), 0, 0, 60, 40, 1, 2, 10), 0);
    EXPECT_EQ(DrawMeasure(painter, View()->PaintContext(), 0, 0, 60, 40, 1, -3, 10), 0);
    EXPECT_EQ(DrawMeasure(painter, View()->PaintContext(), 0, 0, 60, 40, 1, 0, 10), 1); // summary
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(DrawMeasure(painter, View()->PaintContext(), 0, 0, 60, 40, 7, 1, 10), 0);
    EXPECT_EQ(messages, std::vector<std::string>({"Invalid Track!"}));
}

} // namespace
} // namespace morvel::viewtest

namespace morvel::viewtest {
namespace {

TEST_F(DrawingTest, ChordNamesAppearUnderChordColumnsOnly) {
    // A C major triad, then a lone note: only the first column is named.
    Track t;
    t.Chord(0, {60, 64, 67, 72}, 240).Note(720, 62, 240).End();
    Open(Song({t}));
    conv.Settings.ShowChord = 1;
    form->TrackMenuClick(1);
    conv.ClearUsedChords();
    QImage image(550, 160, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setFont(form->font());
    ChordFlags named{};
    ASSERT_EQ(DrawMeasure(painter, View()->PaintContext(), 0, 0, 550, 160, 1, 1, 10, false, &named),
              1);
    painter.end();
    // S = 141: the lowest string's text row is 135, the name row 150.
    EXPECT_TRUE(AnyInk(image, 35, 75, 150, 160));
    EXPECT_FALSE(AnyInk(image, 250, 330, 140, 160)); // the lone note at x 290 has no name
    auto count = [](const auto& flags) {
        int used = 0;
        for (int32_t flag : flags)
            used += flag ? 1 : 0;
        return used;
    };
    // The painter hands the named chord back and marks nothing itself; the view marks it.
    EXPECT_EQ(count(named), 1);
    EXPECT_EQ(count(conv.ChordUsed), 0);
    ShowWithScrollSize(573, 356);
    View()->PanelWidget(1)->grab();
    EXPECT_EQ(conv.ChordUsed, named);
}

// Texts the painter draws for `measure` (0: the summary) of track 1, as recorded.
std::vector<chordtest::DrawnText> DrawnTexts(const MeasurePaintContext& context, int measure) {
    chordtest::RecordingDevice device(550, 117);
    QPainter painter(&device);
    EXPECT_EQ(DrawMeasure(painter, context, 0, 0, 550, 117, 1, measure, 10), 1);
    painter.end();
    return device.Texts();
}

// The fret numbers drawn in a measure of one-note columns, left to right.
std::vector<QString> DrawnFrets(const MeasurePaintContext& context, int measure) {
    std::vector<chordtest::DrawnText> texts = DrawnTexts(context, measure);
    std::erase_if(texts, [](const chordtest::DrawnText& t) {
        bool number = false;
        t.Text.toInt(&number);
        return !number;
    });
    std::stable_sort(texts.begin(), texts.end(),
                     [](const auto& a, const auto& b) { return a.TopLeft.x() < b.TopLeft.x(); });
    std::vector<QString> frets;
    for (const chordtest::DrawnText& t : texts)
        frets.push_back(t.Text);
    return frets;
}

TEST_F(DrawingTest, WithOptimiseFingeringTheMeasuresShowTheWholeTrackAssignment) {
    // A descending scale from C6 in one measure: placed on its own from fret 0 it slides down
    // the first string; the whole-track search keeps it in one position.
    Track t;
    t.Note(0, 84, 240);
    for (int note : {83, 81, 79, 77, 76, 74, 72})
        t.Note(0, note, 240);
    t.End();
    Open(Song({t}));
    form->TrackMenuClick(1);
    const std::vector<QString> plain = DrawnFrets(View()->PaintContext(), 1);
    ASSERT_EQ(plain.size(), 8u);

    conv.Settings.OptimiseFingering = 1;
    Open(Song({t}));
    form->TrackMenuClick(1);
    const MeasurePaintContext context = View()->PaintContext();
    // The view hands the painter the conversion's own placement: no search per paint.
    const TrackFingering& placed = conv.OptimisedFingering(0);
    EXPECT_EQ(context.Fingering.get(), &placed);
    std::vector<QString> expected;
    for (size_t i = 0; i < placed.NoteCount(); ++i)
        expected.push_back(QString::number(placed.Position(i) & TrackFingering::FRET_MASK));
    EXPECT_EQ(DrawnFrets(context, 1), expected);
    EXPECT_NE(expected, plain);

    // A context without the placement (another caller's) draws the same, searching itself.
    MeasurePaintContext bare = context;
    bare.Fingering.reset();
    EXPECT_EQ(DrawnFrets(bare, 1), expected);
}

// The Force Fit box changes its setting without a conversion; with OptimiseFingering on, the
// shown measures follow it at once, as the nearest-fret drawing does, and match what a
// conversion under the new setting draws.
TEST_F(DrawingTest, OptimisedDrawingFollowsAForceFitToggle) {
    Track t;
    t.Note(0, 40, 240).Note(0, 64, 240).End(); // 40 is below the lowest string (52), 64 is not
    conv.Settings.OptimiseFingering = 1;
    const QImage unfitted = GrabMeasure(Song({t}), 1);
    const std::vector<QString> plain = DrawnFrets(View()->PaintContext(), 1);
    EXPECT_EQ(plain, std::vector<QString>({"2"}));

    conv.Settings.ForceFitFret = 1; // what the box does when clicked
    const std::vector<QString> toggled = DrawnFrets(View()->PaintContext(), 1);
    EXPECT_EQ(toggled.size(), 2u); // 40 raised an octave onto the open sixth string
    EXPECT_EQ(std::count(toggled.begin(), toggled.end(), "0"), 1);
    const QImage fitted = View()->PanelWidget(1)->grab().toImage();
    EXPECT_NE(fitted.convertToFormat(QImage::Format_RGB32), unfitted);

    form->ReconvertMidiFile();
    EXPECT_EQ(DrawnFrets(View()->PaintContext(), 1), toggled);
    EXPECT_EQ(View()->PanelWidget(1)->grab().toImage(), fitted);

    conv.Settings.ForceFitFret = 0; // and back
    EXPECT_EQ(DrawnFrets(View()->PaintContext(), 1), plain);
}

TEST_F(DrawingTest, SummaryOfATrackWrittenAnOctaveLowSuggestsTransposing) {
    // A bass line an octave below the guitar's range, and the same line at pitch.
    Track low;
    Track atPitch;
    low.Note(0, 40, 240);
    atPitch.Note(0, 52, 240);
    for (int note : {43, 45, 47, 48, 50}) {
        low.Note(0, note, 240);
        atPitch.Note(0, note + 12, 240);
    }
    low.End();
    atPitch.End();

    Open(Song({low}));
    form->TrackMenuClick(1);
    std::vector<chordtest::DrawnText> texts = DrawnTexts(View()->PaintContext(), 0);
    auto trackLine = std::find_if(texts.begin(), texts.end(),
                                  [](const auto& t) { return t.Text == "Track:     1"; });
    ASSERT_NE(trackLine, texts.end());
    auto hint = std::find_if(texts.begin(), texts.end(), [](const auto& t) {
        return t.Text == "(100 % below the low string: try Transpose 12)";
    });
    ASSERT_NE(hint, texts.end()) << texts.size();
    // On the "Track:" line, after its value.
    EXPECT_EQ(hint->TopLeft.y(), trackLine->TopLeft.y());
    EXPECT_GT(hint->TopLeft.x(),
              trackLine->TopLeft.x() +
                  QFontMetrics(MeasureFont(QApplication::font())).horizontalAdvance(trackLine->Text));

    Open(Song({atPitch}));
    form->TrackMenuClick(1);
    texts = DrawnTexts(View()->PaintContext(), 0);
    EXPECT_EQ(texts.size(), 3u); // the file, the track and the measures
    for (const chordtest::DrawnText& t : texts)
        EXPECT_FALSE(t.Text.contains("Transpose")) << t.Text.toStdString();
}

TEST_F(DrawingTest, ThePlayingPanelIsFilledWithTheHighlightColour) {
    Track t;
    t.Note(0, 76, 240).Note(1680, 76, 240).End();
    Open(Song({t}));
    ShowWithScrollSize(573, 356);
    form->TrackMenuClick(1);
    QWidget* one = View()->PanelWidget(1);
    QWidget* two = View()->PanelWidget(2);
    View()->HighlightMeasure(1);
    EXPECT_EQ(View()->PlayingMeasure(), 1);
    EXPECT_EQ(one->grab().toImage().pixel(300, 10), qRgb(255, 0, 0));
    EXPECT_EQ(two->grab().toImage().pixel(300, 10), YELLOW);
    View()->UnhighlightMeasure(1);
    EXPECT_EQ(View()->PlayingMeasure(), -1);
    EXPECT_EQ(one->grab().toImage().pixel(300, 10), YELLOW);
}

// Fret numbers drawn per column (by x) in measure `measure` of track `track`.
std::map<int, int> FretsPerColumn(const MeasurePaintContext& context, int track, int measure) {
    chordtest::RecordingDevice device(550, 117);
    QPainter painter(&device);
    DrawMeasure(painter, context, 0, 0, 550, 117, track, measure, 10);
    painter.end();
    std::map<int, int> frets;
    for (const chordtest::DrawnText& t : device.Texts()) {
        bool number = false;
        t.Text.toInt(&number);
        if (number) ++frets[t.TopLeft.x()];
    }
    return frets;
}

// No drawn column shows fewer frets with the optimised fingering than without it, in any
// measure of any track of the corpus.
TEST_F(PainterTest, OptimisedFingeringNeverDrawsFewerFretsInAColumnOfTheCorpus) {
    namespace fs = std::filesystem;
    const fs::path corpus = MORVEL_MIDI_CORPUS;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no MIDI corpus at " << corpus;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() != ".mid") continue;
        QFile file(QString::fromStdString(entry.path().string()));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        // At pitch many notes of a guitar part lie below the low string; an octave up, few.
        for (int transpose : {0, 12}) {
            conv.TuningSettings.Transpose = transpose;
            Convert(bytes);
            for (size_t t = 0; t < conv.TrackList.size(); ++t) {
                const TrackRecord& track = conv.TrackList[t];
                if (track.Notes.empty()) continue;
                const MeasureIndex index(track, conv.Header.Division);
                MeasurePaintContext nearest = Context();
                nearest.SelectedTrack = static_cast<int>(t + 1);
                nearest.Index = &index;
                MeasurePaintContext optimised = nearest;
                optimised.Settings.OptimiseFingering = 1;
                optimised.Fingering = std::make_shared<const TrackFingering>(OptimiseTrackFingering(
                    track, conv.StringPitch, optimised.Settings, conv.Header.Division));
                for (const MeasureEntry& measure : index.Entries()) {
                    const int m = static_cast<int>(measure.Measure);
                    const std::map<int, int> plain =
                        FretsPerColumn(nearest, nearest.SelectedTrack, m);
                    std::map<int, int> searched =
                        FretsPerColumn(optimised, nearest.SelectedTrack, m);
                    for (const auto& [x, frets] : plain)
                        ASSERT_GE(searched[x], frets)
                            << entry.path() << " transpose " << transpose << " track " << t + 1
                            << " measure " << m << " x " << x;
                }
            }
        }
    }
}

} // namespace
} // namespace morvel::viewtest

namespace morvel {
namespace {

// Texts laid out once are drawn pixel for pixel as QPainter::drawText draws them, opaque cell
// included, over a staff line, at the screen's and a printed page's text sizes.
TEST(DrawTextTest, LaidOutTextsDrawTheSamePixelsAsDrawText) {
    const DisplaySettings display;
    const QStringList texts = {"0", "7", "12", "24", "M", "U", "D", "?", "C#m7",
                               "Track #3, Measure #1017:", "MIDI File: /tmp/song.mid"};
    for (int pixels : {14, 37}) {
        for (const QString& text : texts) {
            QImage expected(320, 60, QImage::Format_RGB32);
            QImage drawn(expected.size(), expected.format());
            for (QImage* image : {&expected, &drawn}) {
                image->fill(Qt::white);
                QPainter painter(image);
                QFont font;
                font.setPixelSize(pixels);
                SetDrawingTools(painter, display, QColor(250, 240, 200), 3);
                painter.setFont(MeasureFont(font));
                painter.drawLine(0, 20, 320, 20);
                if (image == &expected) {
                    painter.setPen(ToColor(display.NotesColor));
                    painter.drawText(QPoint(9, 11 + QFontMetrics(painter.font()).ascent()), text);
                } else {
                    DrawText(painter, display, 9, 11, text);
                    DrawText(painter, display, 9, 11, text); // laid out before: the same
                }
            }
            EXPECT_EQ(drawn, expected) << text.toStdString() << " at " << pixels << " px";
        }
    }
}

} // namespace
} // namespace morvel
