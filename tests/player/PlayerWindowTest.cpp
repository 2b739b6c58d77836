// The player window over a real measure view and the real playback service on the manual
// clock: the timer is called directly, and the position is set by seeking or by letting
// rendered time pass, so every expectation is exact.
#include "app/PlayerConnection.h"
#include "player/TMidiPlayer.h"
#include "tests/support/MidiBuilder.h"
#include "tests/support/ScriptedPrompts.h"
#include "painter/MeasurePainter.h"
#include "measureview/MeasureView.h"
#include "view/TabForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <set>

namespace morvel {
namespace {

using test::MidiBuilder;
using test::TrackBuilder;

constexpr int DIVISION = 96;
constexpr int MEASURE = 4 * DIVISION; // ticks of a 4/4 measure; 2 s at 120

std::vector<int> Range(int first, int last) {
    std::vector<int> all;
    for (int m = first; m <= last; ++m)
        all.push_back(m);
    return all;
}

// A track with one quarter note at the start of each listed measure (1-based), ending at the
// end of measure `last`.
TrackBuilder NotesIn(const std::vector<int>& measures, int last) {
    TrackBuilder track;
    uint32_t at = 0;
    for (int m : measures) {
        const uint32_t start = static_cast<uint32_t>((m - 1) * MEASURE);
        track.Note(start - at, 64, DIVISION);
        at = start + DIVISION;
    }
    track.End(static_cast<uint32_t>(last * MEASURE) - at);
    return track;
}

class PlayerWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        conv.SetReporter([this](const std::string& text) { messages.push_back(text); });
        view = std::make_unique<MeasureView>(conv, display);
        view->resize(575, 358);
        MidiPlayback::Options options;
        options.TimeSource = MidiPlayback::Clock::Manual;
        options.SoundFonts = {"/nonexistent/none.sf2"};
        playback = std::make_unique<MidiPlayback>(options);
        player = std::make_unique<TMidiPlayer>(*view, conv, *playback, prompts);
        player->Timer1()->stop(); // the tests call the tick themselves
    }

    // Writes the song of `tracks` as `name` in the test's folder.
    QString Write(const std::vector<TrackBuilder>& tracks, const QString& name) {
        MidiBuilder song(1, DIVISION);
        for (const TrackBuilder& t : tracks)
            song.Add(t);
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(song.Bytes()));
        return path;
    }

    // Writes the song, converts it, prepares the player and shows `track`.
    QString Open(const std::vector<TrackBuilder>& tracks, int track = 1,
                 const QString& name = "song.mid") {
        const QString path = Write(tracks, name);
        player->PrepareFile(OpenSong(conv, path.toStdString()));
        view->ShowTrack(track);
        return path;
    }

    template <class T> T* Find(const char* name) { return player->findChild<T*>(name); }
    QString MeasureText() { return Find<QLineEdit>("MeasureText")->text(); }
    int Progress() { return Find<QProgressBar>("MediaProgress")->value(); }
    void Click(const char* button) { Find<QToolButton>(button)->click(); }

    // True when the panel of `tag` exists and is filled in the highlight colour.
    bool LooksHighlighted(int tag) {
        QWidget* panel = view->PanelWidget(tag);
        if (!panel) return false;
        const QImage image = panel->grab().toImage();
        return image.pixelColor(image.width() - 6, 4) == ToColor(display.HighlightColor);
    }

    QTemporaryDir dir;
    Conversion conv;
    DisplaySettings display;
    std::unique_ptr<MeasureView> view;
    std::unique_ptr<MidiPlayback> playback;
    std::unique_ptr<TMidiPlayer> player;
    std::vector<std::string> messages;
    test::ScriptedPrompts prompts;
    const QStringList& shown = prompts.Messages;
};

TEST_F(PlayerWindowTest, TheTimerHighlightsTheMeasureBeingPlayed) {
    Open({NotesIn(Range(1, 10), 10)});
    ASSERT_EQ(player->SelectedTrackMeasureCount(), 10);

    // Open but not playing: the first tick, at once when the track is shown, highlights
    // measure 1.
    EXPECT_EQ(view->PlayingMeasure(), 1);
    EXPECT_EQ(MeasureText(), "1 of 10");
    EXPECT_EQ(Progress(), 0);
    EXPECT_TRUE(LooksHighlighted(1));
    EXPECT_FALSE(LooksHighlighted(2));

    // After some playing (3 s = 1.5 measures) the highlight and the progress move on.
    Click("Play");
    playback->Advance(3000);
    player->MediaTimer();
    EXPECT_EQ(view->PlayingMeasure(), 2);
    EXPECT_EQ(MeasureText(), "2 of 10");
    EXPECT_EQ(Progress(), 15);
    EXPECT_TRUE(LooksHighlighted(2));
    EXPECT_FALSE(LooksHighlighted(1));

    // At 35 % of the file, measure 4; at the length, measure 10 and never 11.
    Click("Stop");
    playback->Seek(10 * MEASURE * 35 / 100);
    player->MediaTimer();
    EXPECT_EQ(view->PlayingMeasure(), 4);
    EXPECT_EQ(Progress(), 35);
    playback->Seek(playback->Length());
    player->MediaTimer();
    EXPECT_EQ(view->PlayingMeasure(), 10);
    EXPECT_EQ(MeasureText(), "10 of 10");
    EXPECT_EQ(Progress(), 100);

    // Playing to the end stops there; Play starts again at measure 1.
    Click("Prev");
    Click("Play");
    playback->Advance(25000);
    player->MediaTimer();
    EXPECT_FALSE(playback->IsPlaying());
    EXPECT_EQ(view->PlayingMeasure(), 10);
    Click("Play");
    EXPECT_EQ(view->PlayingMeasure(), 1);
}

TEST_F(PlayerWindowTest, TheMeasureFollowsTheTicksOfTheShownTrack) {
    // Track 1 lasts 3 measures of 4/4, track 2 (3/4, 288 ticks) the whole 10 measures of 4/4.
    TrackBuilder waltz;
    waltz.TimeSig(3, 2);
    for (int i = 0; i < 13; ++i)
        waltz.Note(i ? 3 * DIVISION - DIVISION : 0, 60, DIVISION);
    waltz.End(static_cast<uint32_t>(10 * MEASURE - 12 * 3 * DIVISION - DIVISION));
    // An empty second measure in track 1.
    Open({NotesIn({1, 3}, 3), waltz});
    ASSERT_EQ(player->SelectedTrackMeasureCount(), 3);

    playback->Seek(MEASURE + 10); // in measure 2, which has no panel
    player->MediaTimer();
    EXPECT_EQ(MeasureText(), "2 of 3");
    EXPECT_FALSE(LooksHighlighted(1));
    EXPECT_FALSE(LooksHighlighted(3));
    playback->Seek(6 * MEASURE); // past the end of track 1: its last measure
    player->MediaTimer();
    EXPECT_EQ(view->PlayingMeasure(), 3);
    EXPECT_EQ(MeasureText(), "3 of 3");
    EXPECT_EQ(Progress(), 60);
    EXPECT_TRUE(LooksHighlighted(3));

    // The waltz counts measures of 288 ticks: tick 2304 is the start of its measure 9.
    view->ShowTrack(2);
    playback->Seek(6 * MEASURE);
    player->MediaTimer();
    EXPECT_EQ(view->PlayingMeasure(), 9);
    EXPECT_EQ(MeasureText(), QString("9 of %1").arg(player->SelectedTrackMeasureCount()));

    // The chord view and no track highlight nothing and show no measure; the progress is
    // that of the whole file.
    view->ShowTrack(-1);
    player->MediaTimer();
    EXPECT_EQ(view->PlayingMeasure(), -1);
    EXPECT_EQ(MeasureText(), "");
    EXPECT_EQ(Progress(), 60);
    view->ShowTrack(0);
    player->MediaTimer();
    EXPECT_EQ(view->PlayingMeasure(), -1);
    EXPECT_EQ(player->SelectedTrackMeasureCount(), 0);
}

TEST_F(PlayerWindowTest, ATimeSignatureWithoutMeasureLengthMakesOneMeasure) {
    TrackBuilder odd;
    odd.TimeSig(0, 2);
    odd.Note(0, 60, DIVISION).Note(2 * MEASURE, 62, DIVISION).End();
    Open({odd});
    playback->Seek(playback->Length());
    player->MediaTimer();
    EXPECT_EQ(MeasureText(), "1 of 1");
    EXPECT_EQ(view->PlayingMeasure(), 1);
}

TEST_F(PlayerWindowTest, TempoStepsScaleTheFilesTempoAndSurviveTheButtons) {
    Open({NotesIn(Range(1, 10), 10)});
    EXPECT_EQ(conv.Settings.SequenceTempo, 120u);
    auto* bar = Find<QSlider>("TempoTrackBar");
    EXPECT_EQ(bar->value(), 5);

    bar->setValue(1); // "1/8"
    EXPECT_DOUBLE_EQ(conv.Settings.TempoFactor, 0.125);
    Click("Play");
    playback->Advance(10);
    EXPECT_NEAR(playback->CurrentTempo(), 15, 0.01);
    bar->setValue(8); // "7/4"
    EXPECT_NEAR(playback->CurrentTempo(), 210, 0.01);
    Click("Stop");
    Click("Play");
    const int64_t from = playback->Position();
    playback->Advance(1000);
    EXPECT_NEAR(playback->Position() - from, 2 * DIVISION * 1.75, 2);

    // Pause halts, a second Pause resumes.
    Click("Pause");
    const int64_t paused = playback->Position();
    playback->Advance(1000);
    EXPECT_EQ(playback->Position(), paused);
    Click("Pause");
    playback->Advance(1000);
    EXPECT_GT(playback->Position(), paused);

    // Reopening the window rewinds and stops; the chosen speed stays.
    conv.MidiFileName = playback->FileName();
    player->PlayMidifile1Click();
    EXPECT_TRUE(player->isVisible());
    EXPECT_EQ(playback->Position(), 0);
    EXPECT_FALSE(playback->IsPlaying());
    EXPECT_EQ(bar->value(), 8);
    EXPECT_DOUBLE_EQ(playback->Speed(), 1.75);
    player->MediaTimer();
    EXPECT_EQ(view->PlayingMeasure(), 1);

    // A newly opened file plays at its normal speed again.
    Open({NotesIn(Range(1, 4), 4)}, 1, "other.mid");
    EXPECT_EQ(bar->value(), 5);
    EXPECT_DOUBLE_EQ(playback->Speed(), 1.0);
    EXPECT_DOUBLE_EQ(conv.Settings.TempoFactor, 1.0);
}

TEST_F(PlayerWindowTest, FollowMusicScrollsTheHighlightedPanelIntoView) {
    Open({NotesIn(Range(1, 40), 40)});
    view->show();
    QApplication::processEvents();
    QScrollBar* bar = view->verticalScrollBar();
    ASSERT_EQ(bar->value(), 0);

    conv.Settings.FollowMusic = 0;
    playback->Seek(29 * MEASURE);
    player->MediaTimer();
    EXPECT_EQ(view->PlayingMeasure(), 30);
    EXPECT_EQ(bar->value(), 0) << "without Follow Music the view stays";

    conv.Settings.FollowMusic = 1;
    playback->Seek(34 * MEASURE);
    player->MediaTimer();
    EXPECT_EQ(view->PlayingMeasure(), 35);
    QWidget* panel = view->PanelWidget(35);
    ASSERT_NE(panel, nullptr);
    const QRect shown(QPoint(0, bar->value()), view->viewport()->size());
    EXPECT_TRUE(shown.contains(panel->geometry())) << "the highlighted panel is in view";
    EXPECT_TRUE(LooksHighlighted(35));
}

TEST_F(PlayerWindowTest, MissingPiecesAreToldPlainly) {
    // No SoundFont (and on the test machines no sound card) in the status line.
    Open({NotesIn(Range(1, 2), 2)});
    playback->WaitUntilReady();
    player->MediaTimer(); // the timer shows the notices once they are known
    const QString status = Find<QLabel>("PlayerStatus")->text();
    EXPECT_TRUE(status.contains("No SoundFont found: /nonexistent/none.sf2")) << qPrintable(status);

    // A file that cannot be played is named; the window stays usable without it.
    const QString path = dir.filePath("broken.mid");
    player->FileClosed();
    player->PrepareFile(SongOfBytes(
        std::string("MThd\0\0\0\6\0\1\0\1\0\x60MTrk\0\0\0\x20\0\x90", 24), path.toStdString()));
    EXPECT_TRUE(shown.empty()) << "the conversion's own messages are enough";
    EXPECT_TRUE(Find<QLabel>("PlayerStatus")
                    ->text()
                    .startsWith("Cannot play \"" + path + "\": the file ends inside a track."));
    EXPECT_EQ(Find<QLabel>("MediaLabel")->toolTip(), path);
    EXPECT_TRUE(Find<QLabel>("MediaLabel")->text().endsWith("broken.mid"));
    player->MediaTimer();
    EXPECT_EQ(Progress(), 0);
    Click("Play"); // nothing open: nothing happens
    EXPECT_FALSE(playback->IsPlaying());
}

void Press(QWidget* widget, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Space ? " " : "");
    QApplication::sendEvent(widget, &press);
}

TEST_F(PlayerWindowTest, PractiseFromADoubleClickedMeasureInALoopWithTheKeys) {
    Open({NotesIn(Range(1, 8), 8)});
    ASSERT_FALSE(player->isVisible());
    // A double-click on measure 5 opens the player and plays from the measure's first tick.
    QWidget* panel = view->PanelWidget(5, true);
    ASSERT_NE(panel, nullptr);
    QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(10, 10),
                      panel->mapToGlobal(QPointF(10, 10)), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(panel, &click);
    EXPECT_TRUE(player->isVisible());
    EXPECT_TRUE(playback->IsPlaying());
    EXPECT_EQ(playback->Position(), 4 * MEASURE);
    player->MediaTimer();
    EXPECT_EQ(MeasureText(), "5 of 8");
    EXPECT_EQ(Find<QSpinBox>("StartMeasure")->value(), 5);

    // The loop's fields stay within the track.
    auto* from = Find<QSpinBox>("LoopFrom");
    auto* to = Find<QSpinBox>("LoopTo");
    EXPECT_EQ(to->maximum(), 8);
    to->setValue(12);
    EXPECT_EQ(to->value(), 8);
    from->setValue(3);
    to->setValue(4);
    Find<QCheckBox>("LoopCheck")->setChecked(true);
    EXPECT_EQ(playback->CurrentPractice().LoopFrom, 2 * MEASURE);
    EXPECT_EQ(playback->CurrentPractice().LoopTo, 4 * MEASURE);
    // Playing past the loop, it moves to the loop and stays in measures 3 and 4.
    EXPECT_EQ(playback->Position(), 2 * MEASURE);
    for (int i = 0; i < 10; ++i) {
        playback->Advance(900);
        player->MediaTimer();
        EXPECT_TRUE(MeasureText() == "3 of 8" || MeasureText() == "4 of 8")
            << qPrintable(MeasureText());
    }

    // Space pauses and plays, Home goes to the loop's start, a text field keeps its Space.
    Press(player.get(), Qt::Key_Space);
    EXPECT_TRUE(playback->IsPaused());
    Press(player.get(), Qt::Key_Home);
    EXPECT_EQ(playback->Position(), 2 * MEASURE);
    auto* field = new QLineEdit(player.get());
    Press(field, Qt::Key_Space);
    EXPECT_EQ(field->text(), " ");
    EXPECT_TRUE(playback->IsPaused());
    Press(player.get(), Qt::Key_Space);
    EXPECT_TRUE(playback->IsPlaying());

    // Only this track: the shown track's index reaches the service.
    Find<QComboBox>("PlayChoice")->setCurrentIndex(1);
    EXPECT_EQ(playback->CurrentPractice().Tracks, TrackChoice::Only);
    EXPECT_EQ(playback->CurrentPractice().Track, 0);
    for (const char* name : {"StartMeasure", "LoopFrom", "LoopTo", "LoopCheck", "CountIn"})
        EXPECT_FALSE(player->findChild<QWidget*>(name)->accessibleName().isEmpty()) << name;
    EXPECT_EQ(Find<QComboBox>("PlayChoice")->accessibleName(), "Play");
}

// A SoundFont that takes 5 s to load holds up neither the file's preparation nor a button.
TEST_F(PlayerWindowTest, ASlowLoaderHoldsUpNothing) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    MidiPlayback::Options options;
    options.TimeSource = MidiPlayback::Clock::Manual;
    options.SoundFonts = {"/nonexistent/none.sf2"};
    options.BeforeLoading = [released] { released.wait_for(std::chrono::seconds(5)); };
    player.reset();
    playback = std::make_unique<MidiPlayback>(options);
    player = std::make_unique<TMidiPlayer>(*view, conv, *playback, prompts);
    player->Timer1()->stop();
    Open({NotesIn(Range(1, 4), 4)});
    Click("Play");
    playback->Advance(1000);
    Click("Pause");
    player->MediaTimer();
    EXPECT_EQ(playback->Position(), DIVISION * 2);
    EXPECT_TRUE(Find<QLabel>("PlayerStatus")->text().isEmpty());
    EXPECT_FALSE(playback->IsReady()) << "all of the above returned while the loader ran";
    release.set_value();
    playback->WaitUntilReady();
    player->MediaTimer();
    EXPECT_TRUE(Find<QLabel>("PlayerStatus")->text().contains("No SoundFont found"));
}

TEST_F(PlayerWindowTest, TheMainWindowOffersThePlayerAndPreparesIt) {
    TTabForm form(conv, display, prompts);
    TMidiPlayer formPlayer(*form.TabScroll(), conv, *playback, prompts);
    ConnectPlayer(form, formPlayer);

    QStringList items;
    for (QAction* action : form.TopMenu("File1")->actions())
        items << action->text();
    EXPECT_EQ(items.indexOf("Midifile Player"), items.indexOf("Quit") - 1)
        << qPrintable(items.join("|"));

    // "Midifile Player" with no file open does nothing.
    QAction* command = form.findChild<QAction*>("PlayMidifile1");
    ASSERT_NE(command, nullptr);
    command->trigger();
    EXPECT_FALSE(formPlayer.isVisible());

    MidiBuilder song(1, DIVISION);
    song.Add(TrackBuilder().Tempo().Note(0, 60, DIVISION).End(3 * MEASURE));
    const QString path = dir.filePath("menu.mid");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(song.Bytes()));
    file.close();
    form.OpenMidiFilePath(path);
    EXPECT_TRUE(playback->IsOpen());
    EXPECT_EQ(formPlayer.findChild<QLabel*>("MediaLabel")->toolTip(), path);
    command->trigger();
    EXPECT_TRUE(formPlayer.isVisible());
    EXPECT_EQ(formPlayer.windowTitle(), "MIDI Player");

    form.CloseTabulature1Click();
    EXPECT_FALSE(playback->IsOpen());

    // Closing the main window while music plays stops it.
    form.OpenMidiFilePath(path);
    formPlayer.findChild<QToolButton*>("Play")->click();
    playback->Advance(500);
    EXPECT_TRUE(playback->IsPlaying());
    form.close();
    EXPECT_FALSE(playback->IsPlaying());
    EXPECT_FALSE(playback->IsOpen());
    EXPECT_TRUE(shown.empty());
}

// ---- Practice a guitarist can rely on ----

class PracticeWindowTest : public PlayerWindowTest {
  protected:
    // The main window and the player joined as the program joins them.
    void SetUp() override {
        PlayerWindowTest::SetUp();
        form = std::make_unique<TTabForm>(conv, display, prompts);
        formPlayer = std::make_unique<TMidiPlayer>(*form->TabScroll(), conv, *playback, prompts);
        formPlayer->Timer1()->stop();
        ConnectPlayer(*form, *formPlayer);
    }
    void TearDown() override {
        formPlayer.reset();
        form.reset();
    }
    template <class T> T* In(const char* name) { return formPlayer->findChild<T*>(name); }
    int Value(const char* name) { return In<QSpinBox>(name)->value(); }
    QString Text() { return In<QLineEdit>("MeasureText")->text(); }

    std::unique_ptr<TTabForm> form;
    std::unique_ptr<TMidiPlayer> formPlayer;
};

TEST_F(PracticeWindowTest, ThePracticeSurvivesOptionsATrackChangeAndReopeningClamped) {
    const QString path =
        Write({NotesIn(Range(1, 24), 24), NotesIn(Range(1, 8), 8)}, "practice.mid");
    form->OpenMidiFilePath(path);
    form->TrackMenuClick(1);
    In<QSpinBox>("LoopTo")->setValue(20);
    In<QSpinBox>("LoopFrom")->setValue(10);
    In<QSpinBox>("StartMeasure")->setValue(12);
    In<QCheckBox>("LoopCheck")->setChecked(true);
    In<QComboBox>("PlayChoice")->setCurrentIndex(2);
    In<QCheckBox>("CountIn")->setChecked(true);
    auto kept = [&](int start, int from, int to) {
        EXPECT_EQ(Value("StartMeasure"), start);
        EXPECT_EQ(Value("LoopFrom"), from);
        EXPECT_EQ(Value("LoopTo"), to);
        EXPECT_TRUE(In<QCheckBox>("LoopCheck")->isChecked());
        EXPECT_EQ(In<QComboBox>("PlayChoice")->currentIndex(), 2);
        EXPECT_TRUE(In<QCheckBox>("CountIn")->isChecked());
        EXPECT_EQ(playback->CurrentPractice().LoopFrom, (from - 1) * MEASURE);
        EXPECT_EQ(playback->CurrentPractice().LoopTo, to * MEASURE);
    };
    form->ReconvertMidiFile(); // Options > Apply
    kept(12, 10, 20);
    form->TrackMenuClick(2); // 8 measures: every measure clamped
    kept(8, 8, 8);
    form->TrackMenuClick(1); // the choices come back
    kept(12, 10, 20);
    formPlayer->PlayMidifile1Click();
    kept(12, 10, 20);
    form->OpenMidiFilePath(path); // the same file again (Recent Files)
    form->TrackMenuClick(1);
    kept(12, 10, 20);

    // Another file starts afresh.
    form->OpenMidiFilePath(Write({NotesIn(Range(1, 30), 30)}, "other.mid"));
    form->TrackMenuClick(1);
    EXPECT_EQ(Value("LoopFrom"), 1);
    EXPECT_FALSE(In<QCheckBox>("LoopCheck")->isChecked());
}

TEST_F(PlayerWindowTest, LoopFieldsTypedInEitherOrderAndPrevToTheStartMeasure) {
    Open({NotesIn(Range(1, 24), 24)});
    auto* from = Find<QSpinBox>("LoopFrom");
    auto* to = Find<QSpinBox>("LoopTo");
    from->setValue(3); // "to" is still 1: it moves with "from"
    to->setValue(4);
    EXPECT_EQ(std::make_pair(from->value(), to->value()), std::make_pair(3, 4));
    to->setValue(2); // and "from" moves with "to"
    EXPECT_EQ(std::make_pair(from->value(), to->value()), std::make_pair(2, 2));

    // Prev and Home go to "Start at measure", or to the loop's start while looping.
    Find<QSpinBox>("StartMeasure")->setValue(6);
    Click("Play");
    playback->Advance(3000);
    Click("Prev");
    EXPECT_EQ(playback->Position(), 5 * MEASURE);
    EXPECT_TRUE(playback->IsPlaying());
    Find<QCheckBox>("LoopCheck")->setChecked(true);
    playback->Advance(1000);
    Press(player.get(), Qt::Key_Home);
    EXPECT_EQ(playback->Position(), MEASURE);
}

TEST_F(PlayerWindowTest, SpaceTogglesFromAnyControlButATextFieldAndEveryControlFits) {
    Open({NotesIn(Range(1, 8), 8)});
    Press(Find<QToolButton>("Play"), Qt::Key_Space);
    EXPECT_TRUE(playback->IsPlaying());
    Press(Find<QToolButton>("Play"), Qt::Key_Space);
    EXPECT_TRUE(playback->IsPaused()) << "Space on the Play button pauses";
    Press(Find<QCheckBox>("LoopCheck"), Qt::Key_Space);
    EXPECT_TRUE(playback->IsPlaying());
    EXPECT_FALSE(Find<QCheckBox>("LoopCheck")->isChecked());
    Press(Find<QSpinBox>("StartMeasure"), Qt::Key_Space); // a field keeps it
    EXPECT_TRUE(playback->IsPlaying());

    for (QWidget* child : player->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(player->rect().contains(child->geometry())) << qPrintable(child->objectName());
}

TEST_F(PlayerWindowTest, ALoopOverTheLastMeasureHoldsAndReachesIt) {
    // Eight whole notes: the last ends on the bar line, so the track counts 9 measures and
    // the file ends where measure 9 starts.
    TrackBuilder whole;
    for (int i = 0; i < 8; ++i)
        whole.Note(0, 60 + i, MEASURE);
    whole.End();
    Open({whole});
    ASSERT_EQ(player->SelectedTrackMeasureCount(), 9);
    Find<QSpinBox>("StartMeasure")->setValue(2);
    Find<QSpinBox>("LoopFrom")->setValue(9);
    Find<QCheckBox>("LoopCheck")->setChecked(true);
    Click("Play");
    player->MediaTimer();
    EXPECT_EQ(MeasureText(), "9 of 9") << "Play jumps into the loop";
    for (int i = 0; i < 12; ++i) {
        playback->Advance(1000);
        player->MediaTimer();
        EXPECT_EQ(MeasureText(), "9 of 9");
    }
    EXPECT_TRUE(playback->IsPlaying());
    EXPECT_GE(playback->LoopJumpStats().Count, 5);

    // 8-9: both measures are shown, pass after pass.
    Find<QSpinBox>("LoopFrom")->setValue(8);
    std::set<QString> seen;
    for (int i = 0; i < 40; ++i) {
        playback->Advance(250);
        player->MediaTimer();
        seen.insert(MeasureText());
    }
    EXPECT_EQ(seen, (std::set<QString>{"8 of 9", "9 of 9"}));
    EXPECT_TRUE(playback->IsPlaying());
}

TEST_F(PlayerWindowTest, AnEmptyTrackCountsTheMeasuresOfTheFile) {
    Open({NotesIn(Range(1, 10), 10), TrackBuilder().End()}, 2);
    EXPECT_EQ(player->SelectedTrackMeasureCount(), 10);
    EXPECT_EQ(Find<QSpinBox>("LoopTo")->maximum(), 10);
    Find<QSpinBox>("StartMeasure")->setValue(4);
    Click("Play");
    playback->Advance(3000);
    player->MediaTimer();
    EXPECT_EQ(MeasureText(), "5 of 10");
    EXPECT_EQ(Progress(), 45);
}

TEST_F(PracticeWindowTest, NothingStaleAfterClosingOpeningOrReopeningWithoutATrack) {
    const QString path = Write({NotesIn(Range(1, 10), 10)}, "ten.mid");
    form->OpenMidiFilePath(path);
    form->TrackMenuClick(1);
    In<QToolButton>("Play")->click();
    playback->Advance(13000);
    formPlayer->MediaTimer();
    ASSERT_EQ(Text(), "7 of 10");
    form->CloseTabulature1Click();
    EXPECT_EQ(Text(), "");
    EXPECT_EQ(In<QProgressBar>("MediaProgress")->value(), 0);
    for (const char* name : {"Play", "Pause", "Stop", "Prev", "StartMeasure", "LoopCheck"})
        EXPECT_FALSE(formPlayer->findChild<QWidget*>(name)->isEnabled()) << name;

    form->OpenMidiFilePath(path);
    form->TrackMenuClick(1);
    formPlayer->MediaTimer();
    EXPECT_EQ(Text(), "1 of 10");
    playback->Seek(6 * MEASURE);
    formPlayer->MediaTimer();
    form->OpenMidiFilePath(Write({NotesIn(Range(1, 4), 4)}, "four.mid"));
    formPlayer->MediaTimer();
    EXPECT_EQ(Text(), "") << "no measure of the old file";
    EXPECT_TRUE(In<QToolButton>("Play")->isEnabled());

    // No track chosen: Play plays the whole file and the progress shows it.
    In<QToolButton>("Play")->click();
    playback->Advance(4000);
    formPlayer->MediaTimer();
    EXPECT_TRUE(playback->IsPlaying());
    EXPECT_EQ(In<QProgressBar>("MediaProgress")->value(), 50);
    EXPECT_FALSE(In<QSpinBox>("StartMeasure")->isEnabled());
}

TEST_F(PracticeWindowTest, ADamagedFileIsToldOnceInTheNoticeLine) {
    const QString path = dir.filePath("damaged.mid");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("MThd\0\0\0\6\0\1\0\1\0\x60MTrk\0\0\0\x20\0\x90", 24);
    file.close();
    form->OpenMidiFilePath(path);
    EXPECT_FALSE(messages.empty()) << "the conversion tells its own";
    formPlayer->PlayMidifile1Click();
    formPlayer->MediaTimer();
    EXPECT_TRUE(shown.empty()) << qPrintable(shown.join(" | "));
    const QString notice = In<QLabel>("PlayerStatus")->text();
    EXPECT_EQ(notice.count("Cannot play \"" + path + "\""), 1) << qPrintable(notice);
    EXPECT_FALSE(In<QToolButton>("Play")->isEnabled());
}

TEST_F(PlayerWindowTest, ClickAndShiftClickOnTwoPanelsChooseTheLoopAndMarkIt) {
    Open({NotesIn(Range(1, 10), 10)});
    auto click = [&](int tag, Qt::KeyboardModifiers modifiers) {
        QWidget* panel = view->PanelWidget(tag, true);
        ASSERT_NE(panel, nullptr);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10),
                          panel->mapToGlobal(QPointF(10, 10)), Qt::LeftButton, Qt::LeftButton,
                          modifiers);
        QApplication::sendEvent(panel, &press);
    };
    click(6, Qt::NoModifier);
    EXPECT_FALSE(Find<QCheckBox>("LoopCheck")->isChecked()) << "a click alone chooses nothing";
    click(3, Qt::ShiftModifier);
    EXPECT_EQ(Find<QSpinBox>("LoopFrom")->value(), 3);
    EXPECT_EQ(Find<QSpinBox>("LoopTo")->value(), 6);
    EXPECT_TRUE(Find<QCheckBox>("LoopCheck")->isChecked());
    EXPECT_EQ(playback->CurrentPractice().LoopFrom, 2 * MEASURE);
    EXPECT_EQ(playback->CurrentPractice().LoopTo, 6 * MEASURE);
    EXPECT_EQ(view->LoopMarks(), std::make_pair(3, 6));
    auto marked = [&](int tag) {
        const QImage image = view->PanelWidget(tag, true)->grab().toImage();
        return image.pixelColor(image.width() / 2, 1) != image.pixelColor(image.width() / 2, 8);
    };
    EXPECT_TRUE(marked(4));
    EXPECT_FALSE(marked(7));
    Find<QCheckBox>("LoopCheck")->setChecked(false);
    EXPECT_FALSE(marked(4)) << "the mark shows only while looping";
}

TEST_F(PlayerWindowTest, APerCentSpeedBesideTheStepsAndTheTrainersSpeedShown) {
    Open({NotesIn(Range(1, 10), 10)});
    auto* percent = Find<QSpinBox>("SpeedPercent");
    auto* bar = Find<QSlider>("TempoTrackBar");
    percent->setValue(65);
    EXPECT_DOUBLE_EQ(playback->Speed(), 0.65);
    EXPECT_EQ(bar->value(), 5) << "a speed between the steps leaves the bar";
    percent->setValue(150);
    EXPECT_EQ(bar->value(), 7);
    bar->setValue(3);
    EXPECT_EQ(percent->value(), 50);

    // Loop 1-2 from 60 % by 20 %: "Speed:" follows each pass.
    Find<QSpinBox>("LoopTo")->setValue(2);
    Find<QCheckBox>("LoopCheck")->setChecked(true);
    Find<QSpinBox>("SpeedStep")->setValue(20);
    Find<QCheckBox>("RaiseSpeed")->setChecked(true);
    Click("Play");
    EXPECT_EQ(Find<QLabel>("SpeedNow")->text(), "Speed: 60 %");
    playback->Advance(static_cast<int>(4000 / 0.6) + 50);
    player->MediaTimer();
    EXPECT_EQ(Find<QLabel>("SpeedNow")->text(), "Speed: 80 %");
}

} // namespace
} // namespace morvel
