// The player window "MIDI Player": plays the open MIDI file through the playback service,
// offers nine speeds, and shows where the music is: the measure number, a progress bar, and
// the highlight of the measure being played in the measure view, which it can scroll to
// follow.
//
// Beside the nine speeds a field takes any speed of 25 to 200 per cent. Below those controls
// it offers practice: start at a measure (also by a double-click on a measure panel), loop a
// range of measures (also by a click and a shift-click on two panels, which mark the loop
// while it is on), hear only the shown track or all but it, a measure of count-in clicks, and
// the speed trainer, which plays each pass of the loop one step faster. Space plays or pauses
// and Home goes to "Start at measure" (the loop's start while looping), as Prev does, in this
// window and in any window given to InstallKeys, whichever control has the focus, except a
// text field.
//
// The practice choices (start, loop, play choice, count-in, trainer) belong to the file: they
// survive Options, another track and reopening, each measure clamped to the measures of the
// track on show, and start afresh (loop off, measure 1, all tracks) only for another file.
//
// It talks to the rest of the program only through the measure view's functions and signals,
// the conversion's song and settings, the playback service and the prompts it is given. Its
// timer runs
// every 200 ms from creation to the end, whether the window is shown or not.
#pragma once

#include "core/Conversion.h"
#include "playback/MidiPlayback.h"
#include "measureview/MeasureView.h"
#include "widgets/Prompts.h"

#include <QPointer>
#include <QWidget>

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSlider;
class QSpinBox;
class QTimer;
class QToolButton;

namespace morvel {

class TMidiPlayer : public QWidget {
    Q_OBJECT
  public:
    static constexpr int TIMER_INTERVAL_MS = 200;
    static constexpr int TEMPO_STEPS = 9;
    static constexpr int NORMAL_TEMPO_POSITION = 5;
    // TempoFactor of each track-bar position 1..9.
    static constexpr std::array<double, TEMPO_STEPS> TempoFactors = {0.125, 0.25, 0.5,  0.75, 1.0,
                                                                     1.25,  1.5,  1.75, 2.0};

    static constexpr int MIN_SPEED_PERCENT = 25;
    static constexpr int MAX_SPEED_PERCENT = 200;

    // Reads the song and FollowMusic of `conversion` and writes only its SequenceTempo (a
    // record of the file's first tempo) and TempoFactor; highlights through `view`; plays
    // through `playback`. A file that cannot be played is told in the window's notice line;
    // `prompts` shows only a failure while playing with the window hidden.
    TMidiPlayer(MeasureView& view, Conversion& conversion, MidiPlayback& playback,
                Prompts& prompts, QWidget* parent = nullptr);
    ~TMidiPlayer() override;

    // A song was opened and converted: opens it for playing (its bytes as read), reads its
    // tempo and returns to the normal speed. A song that cannot be played is told in the
    // notice line, naming it.
    void PrepareFile(SongPointer song);
    // The tabulature was closed: the music stops, the file is let go, the measure and the
    // progress are cleared and the buttons disabled.
    void FileClosed();

    // File > "Midifile Player": shows the window centred and opens the file again, which stops
    // the music and returns to the start; the chosen speed stays in force.
    void PlayMidifile1Click();
    // The 200 ms tick: highlights the measure being played and shows the progress.
    void MediaTimer();
    // Track-bar change: the speed of the position's step.
    void SelectTempo();
    // Puts `factor` times the file's own tempo map in force.
    void changeTempo(double factor);
    // After every button: the chosen speed again.
    void PlayerPostClick();
    // Measures of the shown track; 0 with no track shown (or a closed view), -1 for the chord
    // view. A track without notes counts the measures of the whole file in its measure
    // length, so it can be followed and practised as the song plays.
    int64_t SelectedTrackMeasureCount() const;

    // ---- Practice ----
    // Plays from the first tick of measure `measure` of the shown track, opening the window
    // if it is closed (a double-click on a measure panel).
    void StartAtMeasure(int measure);
    // Space: plays (as the Play button) or pauses.
    void PlayOrPause();
    // Home and Prev: to "Start at measure", or to the loop's start while looping; playing
    // goes on from there.
    void Home();
    // Space and Home reach the player from `window` too, whichever of its controls has the
    // focus, except a text field (which keeps both keys).
    void InstallKeys(QWidget& window);
    // Loops measures `from` .. `to` and ticks Loop (a shift-click range in the view).
    void ChooseLoop(int from, int to);
    // The first tick of measure `measure` of the shown track: (measure - 1) x its measure
    // length, the mapping the highlight uses; 0 with no track shown.
    int64_t MeasureStartTick(int64_t measure) const;

    MidiPlayback& Playback() { return playback_; }
    QTimer* Timer1() const { return timer1_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildPracticeControls(int top);
    void UpdatePracticeRanges();
    void ApplyPractice();
    void ResetPractice();
    void UpdateEnabled();
    void ShowSpeed();
    void SelectSpeedPercent(int percent);
    void PlayClick();
    void ShowNotices();
    void OpenForPlaying();
    void ShowPath(const QString& path);

    MeasureView& view_;
    Conversion& conv_;
    MidiPlayback& playback_;
    Prompts& prompts_;
    SongPointer song_; // the song open in the main window; null when none

    QLabel* mediaLabel_ = nullptr;
    QSlider* tempoTrackBar_ = nullptr;
    QWidget* player_ = nullptr;
    QToolButton* play_ = nullptr;
    QToolButton* pause_ = nullptr;
    QToolButton* stop_ = nullptr;
    QToolButton* prev_ = nullptr;
    QLineEdit* measureText_ = nullptr;
    QProgressBar* mediaProgress_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* timer1_ = nullptr;
    QSpinBox* speedPercent_ = nullptr;

    QSpinBox* startMeasure_ = nullptr;
    QSpinBox* loopFrom_ = nullptr;
    QSpinBox* loopTo_ = nullptr;
    QCheckBox* loop_ = nullptr;
    QComboBox* playChoice_ = nullptr;
    QCheckBox* countIn_ = nullptr;
    QCheckBox* countInEachPass_ = nullptr;
    QCheckBox* raiseSpeed_ = nullptr;
    QSpinBox* speedFrom_ = nullptr;
    QSpinBox* speedStep_ = nullptr;
    QSpinBox* speedTo_ = nullptr;
    QLabel* speedNow_ = nullptr;
    // Play starts at the "Start at measure" field: after a new file, or an edit of the
    // field; after Stop it goes on from where it stopped.
    bool startPending_ = true;
    int64_t rangeMeasures_ = -2; // measure count the practice fields were set for
    bool noticesReady_ = false;  // the notices were shown after the loader finished
    // The measures the user chose; the fields show them clamped to the track on show.
    int wantedStart_ = 1, wantedFrom_ = 1, wantedTo_ = 1;
    QString practicePath_;                // the file the practice choices belong to
    QString openError_;                   // why the file cannot be played; shown in the notice line
    QList<QPointer<QWidget>> keyWindows_; // windows whose Space and Home reach the player
};

} // namespace morvel
