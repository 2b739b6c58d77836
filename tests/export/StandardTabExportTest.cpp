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
    QAction* copy = exporter->Action("CopyStandardTab1");
    ASSERT_NE(save, nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(save->text(), "Save Standard Tab");
    EXPECT_EQ(copy->text(), "Copy Standard Tab");

    saveAnswer = Out("two.txt");
    save->trigger();
    EXPECT_EQ(saveFilters, QStringList{"Standard tab (*.txt)"});
    QFile file(saveAnswer);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(saved.startsWith("Title: song.mid\nTuning: E A D G B E\n")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("\nTrack 2: Two\n"));
    EXPECT_FALSE(saved.contains("One"));
    EXPECT_TRUE(saved.contains(QRegularExpression("\nbar \\d+: C0 below the lowest string\n")));
    // Lines of at most 50 columns, and more than one system for six bars.
    for (const QString& line : saved.split('\n'))
        if (line.startsWith("e|")) {
            EXPECT_LE(line.size(), 50) << line.toStdString();
        }
    EXPECT_GT(saved.count("\ne|"), 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Standard tab file " + saveAnswer +
                            " written: 49 notes written, 1 without string and fret, listed "
                            "under their systems.");

    QGuiApplication::clipboard()->clear();
    copy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), saved);

    // The open MIDI file itself is refused and left as it is.
    shown.clear();
    saveAnswer = QString::fromStdString(conv.MidiFileName);
    const QByteArray before = [&] {
        QFile song(saveAnswer);
        return song.open(QIODevice::ReadOnly) ? song.readAll() : QByteArray();
    }();
    save->trigger();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].contains("is the open MIDI file")) << shown[0].toStdString();
    QFile song(saveAnswer);
    ASSERT_TRUE(song.open(QIODevice::ReadOnly));
    EXPECT_EQ(song.readAll(), before);
}

} // namespace
} // namespace morvel::exporttest
