// Practice on the real FluidSynth with the manual clock: the loop's jump, the tracks heard,
// the count-in, and a loader that does not hold anything up. Events are those FluidSynth's
// player hands to the synthesizer.
#include "playback/MidiPlayback.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <set>
#include <stdexcept>

namespace morvel {
namespace {

using test::MidiBuilder;
using test::TrackBuilder;

constexpr int DIVISION = 96;
constexpr int NOTE_ON = 0x90;

struct Heard {
    int64_t Tick;
    int Status;
    int Key;
};

// Collects the note-ons FluidSynth plays (its thread writes, the test reads between Advance).
struct Recorder {
    std::mutex mutex;
    std::vector<Heard> notes;
    std::vector<Heard> Take() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(notes, {});
    }
};

MidiPlayback::Options Quiet(Recorder* recorder = nullptr) {
    MidiPlayback::Options options;
    options.TimeSource = MidiPlayback::Clock::Manual;
    options.SoundFonts = {"/nonexistent/none.sf2"};
    if (recorder)
        options.OnEvent = [recorder](int64_t tick, int status, int key, int velocity) {
            if ((status & 0xF0) != NOTE_ON || velocity == 0) return;
            std::lock_guard<std::mutex> lock(recorder->mutex);
            recorder->notes.push_back({tick, status, key});
        };
    return options;
}

// A conductor (tempo 120, `numerator`/2^`exponent`) and one track of notes, one per beat,
// keys 40, 41, 42 ... so each note names its place.
std::string Beats(int beats, int numerator = 4, int exponent = 2) {
    TrackBuilder conductor;
    conductor.Tempo().TimeSig(numerator, exponent).End();
    const int beat = 4 * DIVISION >> exponent;
    TrackBuilder notes;
    for (int i = 0; i < beats; ++i)
        notes.Note(0, 40 + i, beat);
    notes.End();
    return MidiBuilder(1, DIVISION).Add(conductor).Add(notes).Bytes();
}

TEST(PracticeTest, TheLoopJumpsBackAtItsEndAtEverySpeedWithNoNoteLostOrDoubled) {
    constexpr int MEASURE = 4 * DIVISION;
    for (double speed : {0.125, 1.0, 2.0}) {
        Recorder recorder;
        MidiPlayback playback(Quiet(&recorder));
        ASSERT_TRUE(playback.OpenBytes(Beats(24), "beats.mid"));
        playback.SetSpeed(speed);
        MidiPlayback::Practice practice;
        practice.Loop = true;
        practice.LoopFrom = 2 * MEASURE; // measures 3 and 4
        practice.LoopTo = 4 * MEASURE;
        playback.SetPractice(practice);
        playback.PlayFrom(0); // outside the loop: starts at the loop's start
        const int passMs = static_cast<int>(4000 / speed);
        for (int step = 0; step < 25 * 3; ++step) {
            playback.Advance(passMs / 25);
            const int64_t at = playback.Position();
            ASSERT_GE(at, practice.LoopFrom) << "speed " << speed;
            ASSERT_LT(at, practice.LoopTo) << "speed " << speed;
        }
        const MidiPlayback::LoopJumps jumps = playback.LoopJumpStats();
        EXPECT_GE(jumps.Count, 2) << "speed " << speed;
        EXPECT_LT(jumps.MaxLateMs, 10.0) << "speed " << speed;
        EXPECT_GE(jumps.MaxLateMs, 0.0) << "speed " << speed;
        // Every pass plays beats 9..16 (keys 48..55) once, in order.
        const std::vector<Heard> heard = recorder.Take();
        ASSERT_GE(heard.size(), 16u);
        for (size_t i = 0; i < heard.size(); ++i)
            ASSERT_EQ(heard[i].Key, 48 + static_cast<int>(i % 8))
                << "note " << i << " at speed " << speed;
    }
}

// Three tracks on one channel (and a conductor at 60 beats per minute): each track is
// heard or muted exactly, and the tempo stays whichever is chosen.
TEST(PracticeTest, OnlyAndAllButTheShownTrackHearExactlyItsNotesAndKeepTheTempo) {
    TrackBuilder conductor;
    conductor.Meta(0, 0x51, std::string("\x0F\x42\x40", 3)).TimeSig(4, 2).End();
    TrackBuilder a, b, c;
    for (int i = 0; i < 16; ++i) {
        a.Note(0, 60, DIVISION);
        b.Note(0, 64, DIVISION);
        c.Note(0, 67, DIVISION);
    }
    a.End();
    b.End();
    c.End();
    const std::string file = MidiBuilder(1, DIVISION).Add(conductor).Add(a).Add(b).Add(c).Bytes();

    Recorder recorder;
    MidiPlayback playback(Quiet(&recorder));
    ASSERT_TRUE(playback.OpenBytes(file, "three.mid"));
    auto keysHeard = [&] {
        std::set<int> keys;
        for (const Heard& h : recorder.Take())
            keys.insert(h.Key);
        return keys;
    };
    MidiPlayback::Practice practice;
    practice.Tracks = TrackChoice::Only;
    practice.Track = 2; // b
    playback.SetPractice(practice);
    playback.Play();
    playback.Advance(3000);
    EXPECT_EQ(keysHeard(), (std::set<int>{64}));
    EXPECT_NEAR(playback.Position(), 3 * DIVISION, 2) << "the conductor's tempo is kept";

    // Changed while playing: the position stays, the other tracks sound instead.
    const int64_t before = playback.Position();
    practice.Tracks = TrackChoice::AllBut;
    playback.SetPractice(practice);
    EXPECT_NEAR(playback.Position(), before, 1);
    EXPECT_TRUE(playback.IsPlaying());
    playback.Advance(3000);
    EXPECT_EQ(keysHeard(), (std::set<int>{60, 67}));
    EXPECT_NEAR(playback.Position(), before + 3 * DIVISION, 2);

    practice.Tracks = TrackChoice::All;
    playback.SetPractice(practice);
    playback.Advance(2000);
    EXPECT_EQ(keysHeard(), (std::set<int>{60, 64, 67}));
}

TEST(PracticeTest, CountInIsOneMeasureOfClicksInTheMeasuresSignatureBeforeItsFirstNote) {
    // 3/4: three quarter-note clicks; 6/8: six eighth-note clicks; side stick first.
    const std::vector<Click> three = CountInClicks(DIVISION, 3, 4);
    ASSERT_EQ(three.size(), 3u);
    const std::vector<Click> six = CountInClicks(DIVISION, 6, 8);
    ASSERT_EQ(six.size(), 6u);
    for (size_t i = 0; i < six.size(); ++i) {
        EXPECT_EQ(six[i].Tick, static_cast<int64_t>(i) * DIVISION / 2);
        EXPECT_EQ(six[i].Key, i == 0 ? SIDE_STICK : CLOSED_HI_HAT);
        if (i < 3) {
            EXPECT_EQ(three[i].Tick, static_cast<int64_t>(i) * DIVISION);
            EXPECT_EQ(three[i].Key, i == 0 ? SIDE_STICK : CLOSED_HI_HAT);
        }
    }
    EXPECT_TRUE(CountInClicks(DIVISION, 0, 4).empty());

    // Played from measure 3 of a 6/8 song at half speed: six clicks on the percussion
    // channel, the position held at the measure, then the measure's first note.
    Recorder recorder;
    MidiPlayback playback(Quiet(&recorder));
    ASSERT_TRUE(playback.OpenBytes(Beats(36, 6, 3), "six-eight.mid"));
    playback.SetSpeed(0.5);
    MidiPlayback::Practice practice;
    practice.CountIn = true;
    playback.SetPractice(practice);
    const int64_t measure3 = 2 * 6 * DIVISION / 2;
    playback.PlayFrom(measure3);
    playback.Advance(2900); // six eighths at 60 per quarter: 3 s
    EXPECT_EQ(playback.Position(), measure3);
    playback.Advance(200);
    const std::vector<Heard> heard = recorder.Take();
    ASSERT_EQ(heard.size(), 7u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(heard[i].Status, NOTE_ON | PERCUSSION_CHANNEL);
        EXPECT_EQ(heard[i].Key, i == 0 ? SIDE_STICK : CLOSED_HI_HAT);
    }
    EXPECT_EQ(heard[6].Key, 40 + 12) << "the first eighth of measure 3";
    EXPECT_EQ(heard[6].Status, NOTE_ON);

    // Looping measure 3 with a count-in before every pass: clicks, the measure, clicks ...
    playback.Stop();
    practice.Loop = true;
    practice.LoopFrom = measure3;
    practice.LoopTo = measure3 + 6 * DIVISION / 2;
    practice.CountInEachPass = true;
    playback.SetPractice(practice);
    playback.PlayFrom(measure3);
    playback.Advance(11900);
    const std::vector<Heard> passes = recorder.Take();
    ASSERT_EQ(passes.size(), 24u);
    for (size_t i = 0; i < passes.size(); ++i) {
        const size_t j = i % 12;
        EXPECT_EQ(passes[i].Key, j == 0 ? SIDE_STICK : j < 6 ? CLOSED_HI_HAT : 52 + int(j) - 6)
            << "event " << i;
    }
}

// The speed trainer: each pass of the loop one step faster, up to the target, every pass as
// long as its speed makes it by FluidSynth's own clock (rendered samples), within 5 ms; the
// chosen speed waits meanwhile and is back once the trainer is off.
TEST(PracticeTest, TheSpeedTrainerPlaysEachPassOneStepFaster) {
    constexpr int MEASURE = 4 * DIVISION;
    constexpr double LOOP_MS = 4000; // measures 3 and 4 at 120 beats per minute
    Recorder recorder;
    MidiPlayback playback(Quiet(&recorder));
    ASSERT_TRUE(playback.OpenBytes(Beats(24), "beats.mid"));
    playback.SetSpeed(1.5);
    MidiPlayback::Practice practice;
    practice.Loop = true;
    practice.LoopFrom = 2 * MEASURE;
    practice.LoopTo = 4 * MEASURE;
    practice.RaiseSpeed = true;
    practice.SpeedFrom = 0.6;
    practice.SpeedStep = 0.15;
    practice.SpeedTo = 1.0;
    playback.SetPractice(practice);
    playback.PlayFrom(practice.LoopFrom);
    const std::vector<double> speeds = {0.6, 0.75, 0.9, 1.0, 1.0};
    EXPECT_DOUBLE_EQ(playback.CurrentSpeed(), 0.6);
    int passes = 0;
    while (passes < static_cast<int>(speeds.size())) {
        playback.Advance(5);
        const MidiPlayback::LoopJumps jumps = playback.LoopJumpStats();
        if (jumps.Count == passes) continue;
        ASSERT_LT(passes, 8) << "no loop end";
        EXPECT_NEAR(jumps.LastPassMs, LOOP_MS / speeds[static_cast<size_t>(passes)], 5.0)
            << "pass " << passes;
        passes = jumps.Count;
        if (passes < static_cast<int>(speeds.size())) {
            EXPECT_DOUBLE_EQ(playback.CurrentSpeed(), speeds[static_cast<size_t>(passes)]);
        }
    }
    playback.SetSpeed(0.5); // the chosen speed waits while the trainer runs
    EXPECT_DOUBLE_EQ(playback.CurrentSpeed(), 1.0);
    // Every pass still plays beats 9..16 once, in order.
    const std::vector<Heard> heard = recorder.Take();
    ASSERT_GE(heard.size(), 8u * speeds.size());
    for (size_t i = 0; i < heard.size(); ++i)
        ASSERT_EQ(heard[i].Key, 48 + static_cast<int>(i % 8)) << "note " << i;

    practice.RaiseSpeed = false;
    playback.SetPractice(practice);
    EXPECT_DOUBLE_EQ(playback.CurrentSpeed(), 0.5);
    const int64_t from = playback.Position();
    playback.Advance(1000);
    EXPECT_NEAR(playback.Position() - from, DIVISION, 2) << "half of two beats a second";
}

// The loader probes the sound card and loads the SoundFont off the caller's thread: one that
// takes 5 s holds up neither a file nor a button, and one that throws ends only the load.
TEST(PracticeTest, ASlowOrFailingLoaderHoldsNothingUp) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    MidiPlayback::Options slow = Quiet();
    slow.BeforeLoading = [released] { released.wait_for(std::chrono::seconds(5)); };
    {
        MidiPlayback playback(slow);
        ASSERT_TRUE(playback.OpenBytes(Beats(8), "eight.mid"));
        playback.Play();
        playback.Advance(500);
        playback.Pause();
        playback.Stop();
        EXPECT_TRUE(playback.Notices().empty());
        EXPECT_FALSE(playback.HasSoundFont());
        EXPECT_EQ(playback.Position(), DIVISION);
        EXPECT_FALSE(playback.IsReady()) << "everything above returned while the loader ran";
        release.set_value();
        playback.WaitUntilReady();
        EXPECT_EQ(playback.Notices(),
                  (std::vector<std::string>{"No SoundFont found: /nonexistent/none.sf2"}));
    }

    MidiPlayback::Options failing = Quiet();
    failing.BeforeLoading = [] { throw std::runtime_error("disk on fire"); };
    MidiPlayback playback(failing);
    playback.WaitUntilReady();
    EXPECT_EQ(playback.Notices(),
              (std::vector<std::string>{"No SoundFont found: none named (disk on fire)"}));
    ASSERT_TRUE(playback.OpenBytes(Beats(8), "eight.mid"));
    playback.Play();
    playback.Advance(500);
    EXPECT_EQ(playback.Position(), DIVISION);
}

} // namespace
} // namespace morvel
