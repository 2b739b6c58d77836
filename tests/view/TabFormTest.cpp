#include "tests/view/ViewFixture.h"
#include "view/VersionForm.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextEdit>

#include <algorithm>

namespace morvel::viewtest {
namespace {

QStringList Captions(const QMenu* menu) {
    QStringList out;
    for (const QAction* a : menu->actions())
        out << a->text();
    return out;
}

QStringList TopLevelNames(QMenuBar* bar) {
    QStringList out;
    for (const QAction* a : bar->actions())
        out << a->objectName();
    return out;
}

// Four tracks: named with notes, unnamed with notes, neither, named without notes.
QByteArray FourTracks() {
    Track named, unnamed, empty, namedEmpty;
    named.Name("Lead").Note(0, 64, 240).End();
    unnamed.Note(0, 60, 240).End();
    empty.End();
    namedEmpty.Name("Strings").End();
    return Song({named, unnamed, empty, namedEmpty});
}

TEST_F(ViewTest, MenuBarHoldsThisWindowsCommandsInOrder) {
    EXPECT_EQ(form->windowTitle(), "MORVEL for Linux v3.0");
    form->show();
    QApplication::processEvents();
    EXPECT_EQ(form->TabScroll()->size(), QSize(575, 358));
    QMenuBar* bar = form->findChild<QMenuBar*>("TabMenu");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(TopLevelNames(bar), QStringList({"File1", "TracksMenu", "Help1"}));
    EXPECT_EQ(Captions(form->TopMenu("File1")),
              QStringList({"Open Midifile", "Close Tabulature", "Quit"}));
    EXPECT_EQ(Captions(form->TopMenu("Help1")), QStringList({"Version", "MORVEL"}));

    // Menus and items added later take their fixed places.
    auto* colors = new QMenu("Colors", form.get());
    colors->setObjectName("Colors1");
    form->AddTopMenu(colors);
    auto* edit = new QMenu("Edit", form.get());
    edit->setObjectName("Edit1");
    form->AddTopMenu(edit);
    EXPECT_EQ(TopLevelNames(bar),
              QStringList({"File1", "Edit1", "TracksMenu", "Colors1", "Help1"}));
    auto* save = new QAction("Save Track Text", form.get());
    save->setObjectName("Save1");
    form->AddMenuItem(form->TopMenu("File1"), save);
    EXPECT_EQ(Captions(form->TopMenu("File1")),
              QStringList({"Open Midifile", "Save Track Text", "Close Tabulature", "Quit"}));
}

TEST_F(ViewTest, TracksMenuCaptionsFollowNameAndNotes) {
    Open(FourTracks());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Captions(form->TracksMenu()),
              QStringList({"Track 1 (Lead)", "Track 2 (No Name)", "Track 3 (Empty)",
                           "Track 4 (E: Strings)"}));
    const QList<QAction*> items = form->TracksMenu()->actions();
    for (int i = 0; i < items.size(); ++i)
        EXPECT_EQ(items[i]->data().toInt(), i + 1);

    conv.Settings.ShowChord = 1;
    form->BuildTracksMenu();
    const QStringList captions = Captions(form->TracksMenu());
    ASSERT_EQ(captions.size(), 5);
    EXPECT_EQ(captions[0], "Chords");
    EXPECT_EQ(form->TracksMenu()->actions()[0]->data().toInt(), -1);
    EXPECT_EQ(captions[1], "Track 1 (Lead)");

    // The chord view is one panel, tagged -1.
    form->TracksMenu()->actions()[0]->trigger();
    EXPECT_EQ(View()->SelectedTrack(), -1);
    ASSERT_EQ(View()->PanelCount(), 1);
    EXPECT_EQ(View()->Panels()[0].Tag, -1);
    EXPECT_EQ(View()->PanelWidget(-1)->accessibleName(), "Chords");
}

TEST_F(ViewTest, OpeningRemembersTheFolderAndCancellingClearsEverything) {
    Track t;
    t.Note(0, 64, 240).Note(1680, 67, 240).End();
    Open(Song({t}));
    EXPECT_EQ(filters.back(), "MID (*.mid)");
    EXPECT_EQ(QString::fromStdString(display.MidiFileDir), dir.path() + "/");
    EXPECT_EQ(QString::fromStdString(conv.MidiFileName), answer);
    const QString report = QString::fromStdString(conv.TempFileName);
    ASSERT_FALSE(report.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(report));

    form->TracksMenu()->actions()[0]->trigger();
    EXPECT_EQ(View()->SelectedTrack(), 1);
    EXPECT_EQ(View()->PanelCount(), 3);

    answer.clear(); // the user cancels the next open dialog
    form->OpenMidifile1Click();
    EXPECT_EQ(View()->PanelCount(), 0);
    EXPECT_TRUE(View()->Panels().empty());
    EXPECT_TRUE(View()->PanelWidgets().empty());
    EXPECT_TRUE(form->TracksMenu()->actions().isEmpty());
    EXPECT_TRUE(conv.MidiFileName.empty());
    EXPECT_TRUE(conv.TempFileName.empty());
    EXPECT_FALSE(QFileInfo::exists(report));
    EXPECT_EQ(View()->SelectedTrack(), 1); // kept until another track is chosen
    EXPECT_EQ(View()->MeasureCount(), 0);
}

TEST_F(ViewTest, CloseTabulatureDeletesTheReportAndForgetsTheUsedChords) {
    // With chords shown, the conversion and the drawing mark the C major triad used.
    conv.Settings.ShowChord = 1;
    Track t;
    t.Chord(0, {60, 64, 67}, 240).End();
    Open(Song({t}));
    form->TrackMenuClick(1);
    const QString report = QString::fromStdString(conv.TempFileName);
    ASSERT_TRUE(QFileInfo::exists(report));
    ASSERT_NE(std::count(conv.ChordUsed.begin(), conv.ChordUsed.end(), 1), 0);
    form->findChild<QAction*>("CloseTabulature1")->trigger();
    EXPECT_FALSE(QFileInfo::exists(report));
    EXPECT_TRUE(form->TracksMenu()->isEmpty());
    EXPECT_EQ(std::count(conv.ChordUsed.begin(), conv.ChordUsed.end(), 0), CHORD_COUNT);
    EXPECT_TRUE(View()->PanelWidgets().empty());
}

TEST_F(ViewTest, ReconvertingShowsTheSelectedTrackAgainAndNothingWithoutAFile) {
    // Measures 1 and 3 hold notes.
    Track t;
    t.Note(0, 64, 240).Note(3600, 64, 240).End();
    Open(Song({t}));
    form->TrackMenuClick(1);
    ASSERT_EQ(View()->PanelCount(), 3);
    ASSERT_EQ(conv.TrackList[0].Notes.size(), 2u);
    conv.TuningSettings.Transpose = -12; // every string an octave higher
    form->ReconvertMidiFile();
    EXPECT_EQ(View()->SelectedTrack(), 1);
    EXPECT_EQ(View()->PanelCount(), 3);
    EXPECT_EQ(form->TracksMenu()->actions().size(), 1);
    EXPECT_EQ(conv.StringPitch[3], 74);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(conv.TempFileName)));

    form->CloseTabulature1Click();
    form->ReconvertMidiFile();
    EXPECT_TRUE(form->TracksMenu()->actions().isEmpty());
    EXPECT_EQ(View()->PanelCount(), 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(ViewTest, QuitWritesSettingsOnceThenCloses) {
    int writes = 0;
    form->SetSettingsWriter([&](QString*) {
        ++writes;
        EXPECT_FALSE(conv.MidiFileName.empty()); // written before the tabulature closes
        return true;
    });
    Open(FourTracks());
    const QString report = QString::fromStdString(conv.TempFileName);
    form->show();
    form->findChild<QAction*>("Quit1")->trigger();
    EXPECT_EQ(writes, 1);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(QFileInfo::exists(report));
}

// An INI file that cannot be written never traps the user: the ending asks, "Stay" keeps
// everything open, "Quit Without Saving" ends; a signal's ending asks nothing and still ends.
TEST_F(ViewTest, EndingWithUnwritableSettingsAsksOrEndsSilently) {
    form->SetSettingsWriter([](QString* error) {
        if (error) *error = "Unable to write to /ro/MORVEL.INI";
        return false;
    });
    const QStringList& asked = prompts.Questions;
    bool& quitAnyway = prompts.AskAnswer;
    Open(FourTracks());
    const QString report = QString::fromStdString(conv.TempFileName);
    form->show();
    form->findChild<QAction*>("Quit1")->trigger();
    EXPECT_EQ(asked, QStringList{"Unable to write to /ro/MORVEL.INI"});
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(QFileInfo::exists(report));
    EXPECT_FALSE(form->TracksMenu()->isEmpty());

    quitAnyway = true;
    form->close();
    EXPECT_EQ(asked.size(), 2);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(QFileInfo::exists(report));

    SetUp(); // a new window on the same conversion
    int writes = 0;
    form->SetSettingsWriter([&](QString*) { return ++writes, false; });
    Open(FourTracks());
    const QString second = QString::fromStdString(conv.TempFileName);
    form->EndOnSignal();
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(asked.size(), 2); // nothing more asked
    EXPECT_FALSE(QFileInfo::exists(second));
}

TEST_F(ViewTest, DamagedFileShowsTheConversionsMessagesAndKeepsWhatWasRead) {
    Track t;
    t.Note(0, 64, 240).End();
    QByteArray bytes = Song({t, t});
    bytes[11] = 3; // the header promises a third track that is not there
    Open(bytes);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "Can't read MIDI track.");
    EXPECT_FALSE(conv.MidiFileName.empty());
    EXPECT_EQ(form->TracksMenu()->actions().size(), 2);
}

TEST_F(ViewTest, OpenWithAPathNeedsNoDialog) {
    form->OpenMidiFilePath(WriteMidi(FourTracks(), "cmd.mid"));
    EXPECT_TRUE(filters.empty());
    EXPECT_EQ(form->TracksMenu()->actions().size(), 4);
    EXPECT_TRUE(QString::fromStdString(conv.MidiFileName).endsWith("/cmd.mid"));
}

TEST_F(ViewTest, PanelsExistForMeasuresWithNotesOnly) {
    // 4/4 at 480: notes in measures 1, 2 and 5; the last note ends in measure 7.
    Track t;
    t.Note(0, 64, 240).Note(1680, 67, 240).Note(5520, 69, 4800).End();
    Open(Song({t}));
    form->TrackMenuClick(1);
    std::vector<int> tags;
    for (const PanelRecord& p : View()->Panels())
        tags.push_back(p.Tag);
    EXPECT_EQ(tags, std::vector<int>({0, 1, 2, 5}));
    EXPECT_EQ(View()->PanelCount(), 4);
    EXPECT_EQ(View()->MeasureCount(), 7);
    EXPECT_TRUE(IsMeasureEmpty(View()->PaintContext(), 1, 3));
    EXPECT_FALSE(IsMeasureEmpty(View()->PaintContext(), 1, 5));

    QWidget* five = View()->PanelWidget(5);
    ASSERT_NE(five, nullptr);
    EXPECT_EQ(five->objectName(), "MeasurePanel5");
    EXPECT_EQ(five->accessibleName(), "Measure 5");
    EXPECT_EQ(View()->PanelWidget(0)->accessibleName(), "Summary");
    EXPECT_EQ(View()->PanelWidget(3), nullptr);

    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(IsMeasureEmpty(View()->PaintContext(), 9, 1));
    EXPECT_EQ(View()->TrackMeasureCount(9), -1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Invalid Track!");
}

TEST_F(ViewTest, ATimeSignatureWithoutMeasureLengthMakesOneMeasure) {
    Track t;
    t.TimeSig(0, 2).Note(0, 64, 240).Note(9000, 67, 240).End();
    Open(Song({t}));
    form->TrackMenuClick(1);
    EXPECT_EQ(View()->MeasureCount(), 1);
    ASSERT_EQ(View()->PanelCount(), 2);
    EXPECT_EQ(View()->Panels()[1].Tag, 1);
    QImage image(550, 117, QImage::Format_RGB32);
    QPainter painter(&image);
    EXPECT_EQ(DrawMeasure(painter, View()->PaintContext(), 0, 0, 550, 117, 1, 1, 10), 1);
    EXPECT_TRUE(messages.empty());
}

TEST_F(ViewTest, PanelsStackAtTheScrollBoxHeightPerPage) {
    Track t;
    for (int i = 0; i < 12; ++i)
        t.Note(i == 0 ? 0 : 1680, 64, 240);
    t.End();
    Open(Song({t}));
    ShowWithScrollSize(573, 356);
    form->TrackMenuClick(1);
    ASSERT_EQ(View()->PanelCount(), 13);
    // (356 - 5) / 3 = 117 high, 550 wide, 1 pixel apart.
    EXPECT_EQ(View()->Panels()[0].Geometry, QRect(0, 0, 550, 117));
    EXPECT_EQ(View()->Panels()[1].Geometry, QRect(0, 118, 550, 117));
    EXPECT_EQ(View()->Panels()[12].Geometry, QRect(0, 12 * 118, 550, 117));
    // Only the panels near the visible part have widgets.
    EXPECT_LT(View()->PanelWidgets().size(), 13u);

    display.MeasuresPerPage = 0; // taken as 1
    View()->LayoutMeasurePanels();
    EXPECT_EQ(View()->Panels()[1].Geometry, QRect(0, 352, 550, 351));
}

TEST_F(ViewTest, ResizingKeepsTheScrollPosition) {
    Track t;
    for (int i = 0; i < 40; ++i)
        t.Note(i == 0 ? 0 : 1680, 64 + i % 5, 240);
    t.End();
    Open(Song({t}));
    ShowWithScrollSize(573, 356);
    form->TrackMenuClick(1);
    QApplication::processEvents();
    QScrollBar* bar = form->TabScroll()->verticalScrollBar();
    bar->setValue(1000);
    QApplication::processEvents();
    ASSERT_EQ(bar->value(), 1000);
    form->resize(form->width() + 100, form->height() + 150);
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), 1000);
    EXPECT_EQ(View()->Panels()[1].Geometry.height(), (356 + 150 - 5) / 3);
    // The panel at the top of the view has a widget.
    const int pitch = View()->Panels()[1].Geometry.top();
    QWidget* atTop = nullptr;
    for (QWidget* p : View()->PanelWidgets())
        if (p->geometry().contains(10, 1000)) atTop = p;
    ASSERT_NE(atTop, nullptr);
    EXPECT_EQ(atTop->property("Tag").toInt(), 1000 / pitch);
}

TEST_F(ViewTest, VersionWindowExistsOnceAndHelpShowsTheBuiltInPages) {
    form->show();
    form->Version1Click();
    form->Version1Click();
    const auto versions = form->findChildren<TVersionForm*>();
    ASSERT_EQ(versions.size(), 1);
    EXPECT_TRUE(versions[0]->isVisible());
    EXPECT_EQ(versions[0]->windowTitle(), "Version:");
    const QStringList lines = versions[0]->VersionMemo()->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[1].size(), 62);
    EXPECT_EQ(lines[1].trimmed(), "MORVEL for Linux v3.0");

    form->findChild<QAction*>("MORVEL1")->trigger();
    auto* browser = form->findChild<QTextBrowser*>("HelpBrowser");
    ASSERT_NE(browser, nullptr);
    const QString text = browser->toPlainText();
    EXPECT_TRUE(text.contains("Reading the tablature"));
    EXPECT_TRUE(text.contains("Close Tabulature"));
}

} // namespace
} // namespace morvel::viewtest
