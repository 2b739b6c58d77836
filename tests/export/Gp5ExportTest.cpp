// "Save Guitar Pro" in the window: the shown track as a .gp5 file through the prompts.
#include "tests/export/ExportFixture.h"

#include <QAction>

namespace morvel::exporttest {
namespace {

TEST_F(ExportTest, SaveGuitarProWritesTheShownTrackAndSaysWhatItLeftOut) {
    Track one, two;
    one.Name("One").Note(0, 64, 480).End();
    // Four placed notes and one far below the low string, which has no string and fret.
    two.Name("Two")
        .Note(0, 60, 480)
        .Note(0, 62, 480)
        .Note(0, 24, 480)
        .Note(0, 64, 480)
        .Note(0, 65, 480)
        .End();
    Show(Song({one, two}), 2);
    QAction* save = exporter->Action("SaveGuitarPro1");
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->text(), "Save Guitar Pro");
    saveAnswer = Out("two.gp5");
    save->trigger();
    EXPECT_EQ(saveFilters, QStringList{"Guitar Pro 5 (*.gp5)"});
    QFile file(saveAnswer);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray gp5 = file.readAll();
    EXPECT_TRUE(gp5.startsWith("\x18"
                               "FICHIER GUITAR PRO v5.10"));
    EXPECT_TRUE(gp5.contains("\x03Two"));
    EXPECT_FALSE(gp5.contains("\x03One"));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Guitar Pro 5 file " + saveAnswer +
                            " written: 4 notes written, 1 without string and fret left out, "
                            "largest quantisation shift 0 ticks.");

    // A folder that does not exist: said, nothing written.
    shown.clear();
    saveAnswer = Out("no-such-folder/x.gp5");
    save->trigger();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].startsWith("Can't write Guitar Pro 5 file ")) << shown[0].toStdString();
}

} // namespace
} // namespace morvel::exporttest
