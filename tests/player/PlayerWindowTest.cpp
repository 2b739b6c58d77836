// The player window over a real measure view and the real playback service on the manual
// clock: the timer is called directly, and the position is set by seeking or by letting
// rendered time pass, so every expectation is exact.
#include "app/PlayerConnection.h"
#include "player/TMidiPlayer.h"
#include "tests/support/MidiBuilder.h"
#include "tests/support/ScriptedPrompts.h"
#include "painter/MeasurePainter.h"
#include "view/MeasureView.h"
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

    // Writes the song, converts it, prepares the player and shows `track`.
    QString Open(const std::vector<TrackBuilder>& tracks, int track = 1,
                 const QString& name = "song.mid") {
        MidiBuilder song(1, DIVISION);
        for (const TrackBuilder& t : tracks)
            song.Add(t);
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(song.Bytes()));
        file.close();
        conv.MidiFileName = path.toStdString();
        conv.ConvertMidiFile();
        player->PrepareFile(path);
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
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("MThd\0\0\0\6\0\1\0\1\0\x60MTrk\0\0\0\x20\0\x90", 24);
    file.close();
    player->FileClosed();
    player->PrepareFile(path);
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

} // namespace
} // namespace morvel
