#include "chords/ChordDiagram.h"
#include "tests/chords/RecordingDevice.h"

#include <QFontInfo>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace morvel::chordtest {
namespace {

const QRgb YELLOW = qRgb(255, 255, 0); // the default BackgroundColor
const QRgb BLACK = qRgb(0, 0, 0);      // the default BarColor

std::vector<DrawnText> RecordBox(const DisplaySettings& display, int chord) {
    RecordingDevice device(405, 218);
    QPainter painter(&device);
    PrepareChordBox(painter, display, QRect(0, 0, 405, 218));
    DrawChordBox(painter, display, 0, 0, 405, 218, chord);
    painter.end();
    return device.Texts();
}

void ExpectTexts(const std::vector<DrawnText>& have, const std::vector<DrawnText>& want) {
    ASSERT_EQ(have.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(have[i].Text, want[i].Text) << i;
        EXPECT_EQ(have[i].TopLeft, want[i].TopLeft) << want[i].Text.toStdString();
    }
}

TEST(ChordDiagram, DiagramsInTheWindowsPaintBox) {
    const DisplaySettings display;
    EXPECT_EQ(QFontInfo(ChordFont()).family(), "Liberation Mono");
    EXPECT_EQ(QFontInfo(ChordFont()).pixelSize(), 8);

    // "C": open strings 0 and 2, frets 1 2 3 on strings 1 3 4, string 5 not played; marks 5
    // above the lines at 31, 62, ..., 186; a one-letter name at (202, 196).
    ExpectTexts(RecordBox(display, 0), {{"O", {20, 26}},
                                        {"1", {202, 57}},
                                        {"O", {20, 88}},
                                        {"2", {202, 119}},
                                        {"3", {202, 150}},
                                        {"X", {20, 181}},
                                        {"C", {202, 196}}});
    // A four-character name starts 8 pixels further left than a one-character name.
    const std::vector<DrawnText> cSharpM7 = RecordBox(display, 37);
    ASSERT_FALSE(cSharpM7.empty());
    EXPECT_EQ(cSharpM7.back().Text, "C#m7");
    EXPECT_EQ(cSharpM7.back().TopLeft, QPoint(194, 196));
    EXPECT_TRUE(RecordBox(display, -1).empty());

    QImage image(405, 218, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        PrepareChordBox(painter, display, image.rect());
        DrawChordBox(painter, display, 0, 0, 405, 218, 0);
    }
    // String lines two pixels thick from x 40 to 364; the box's sides one pixel wide.
    for (int y : {31, 62, 93, 124, 155, 186}) {
        for (int x : {41, 120, 300, 362}) {
            EXPECT_EQ(image.pixel(x, y - 1), BLACK) << x << "," << y;
            EXPECT_EQ(image.pixel(x, y), BLACK) << x << "," << y;
            EXPECT_EQ(image.pixel(x, y - 2), YELLOW) << x << "," << y;
            EXPECT_EQ(image.pixel(x, y + 1), YELLOW) << x << "," << y;
        }
        EXPECT_EQ(image.pixel(38, y), YELLOW) << y;
        EXPECT_EQ(image.pixel(366, y), YELLOW) << y;
    }
    for (int x : {40, 364}) {
        for (int y : {45, 100, 170}) {
            EXPECT_EQ(image.pixel(x, y), BLACK) << x << "," << y;
            EXPECT_EQ(image.pixel(x - 1, y), YELLOW) << x << "," << y;
            EXPECT_EQ(image.pixel(x + 1, y), YELLOW) << x << "," << y;
        }
        EXPECT_EQ(image.pixel(x, 27), YELLOW) << x;
        EXPECT_EQ(image.pixel(x, 190), YELLOW) << x;
    }
}

TEST(ChordDiagram, ChordViewThreeToARowOfHalfTheScrollBox) {
    const DisplaySettings display;
    // Scroll box 400 high, panel 600 wide: diagrams 200 x 200, step 28, names 178 below each
    // diagram's top; a one-letter name at x0 + 100, a two-letter one at x0 + 97.
    ChordFlags used{};
    for (int chord : {0, 7, 9, 21}) // C, G, A, Am
        used[static_cast<size_t>(chord)] = 1;
    EXPECT_EQ(ChordViewHeight(used, 400), 400);
    auto names = [&](int panelHeight) {
        RecordingDevice device(600, panelHeight);
        QPainter painter(&device);
        DrawChordView(painter, display, used, QRect(0, 0, 600, panelHeight), 400);
        painter.end();
        std::vector<DrawnText> found;
        for (const DrawnText& text : device.Texts())
            if (text.TopLeft.y() % 200 == 178) found.push_back(text);
        return found;
    };
    ExpectTexts(names(400),
                {{"C", {100, 178}}, {"G", {300, 178}}, {"A", {500, 178}}, {"Am", {97, 378}}});

    // Eight chords take three rows; the panel grows to hold them all.
    for (int chord : {24, 31, 33, 45}) // C7, G7, A7, Am7
        used[static_cast<size_t>(chord)] = 1;
    EXPECT_EQ(ChordViewHeight(used, 400), 600);
    ExpectTexts(names(600), {{"C", {100, 178}},
                             {"G", {300, 178}},
                             {"A", {500, 178}},
                             {"Am", {97, 378}},
                             {"C7", {297, 378}},
                             {"G7", {497, 378}},
                             {"A7", {97, 578}},
                             {"Am7", {295, 578}}});
    EXPECT_EQ(ChordViewHeight(ChordFlags{}, 400), 400);
}

} // namespace
} // namespace morvel::chordtest
