// "Save Standard Tab" and "Copy Standard Tab" in the window: the shown track, through the
// prompts and to the clipboard, at the width the settings give.
#include "tests/export/ExportFixture.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>

namespace morvel::exporttest {
namespace {

TEST_F(ExportTest, StandardTabOfTheShownTrackIsSavedAndCopiedAlike) {
    Track one, two;
    one.Name("One").Note(0, 64, 480).End();
    two.Name("Two");
    for (int k = 0; k < 48; ++k) // six bars of eighths
        two.Note(0, 76 + k % 5, 240);
    two.Note(0, 24, 480).End(); // below the low string
    conv.Settings.StandardTabWidth = 50;
    Show(Song({one, two}), 2);
    QAction* save = exporter->Action("SaveStandardTab1");
    ASSERT_NE(save, nullptr);
    saveAnswer = Out("two.txt");
    save->trigger();
    EXPECT_EQ(saveFilters, QStringList{"Standard tab (*.txt)"});
    QFile file(saveAnswer);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(saved.startsWith("Title: song.mid\nTuning: E A D G B E\n")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("\nTrack 2: Two\n"));
    EXPECT_FALSE(saved.contains("One"));
    EXPECT_EQ(saved.count("\ne|"), 4); // seven bars of 18 columns, two to a line of 50
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Standard tab file " + saveAnswer +
                            " written: 49 notes written, 1 without string and fret, listed "
                            "under their systems.");

    QGuiApplication::clipboard()->clear();
    exporter->Action("CopyStandardTab1")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), saved);
}

} // namespace
} // namespace morvel::exporttest
