// The playback service on the real FluidSynth, with no audio driver. Time passes through the
// manual clock (rendered samples), so rates and positions are exact, not wall-clock guesses.
#include "playback/MidiPlayback.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace morvel {
namespace {

using test::MidiBuilder;
using test::TrackBuilder;

constexpr int DIVISION = 96;
constexpr int MEASURE = 4 * DIVISION;

std::string TempoBytes(uint32_t microseconds) {
    return {static_cast<char>(microseconds >> 16), static_cast<char>((microseconds >> 8) & 0xFF),
            static_cast<char>(microseconds & 0xFF)};
}

// `measures` measures of quarter notes; the tempo is 120 until `changeAt` (when non-zero),
// 60 from there.
std::string Song(int measures, uint32_t changeAt = 0, bool withTempo = true) {
    TrackBuilder conductor;
    if (withTempo) conductor.Meta(0, 0x51, TempoBytes(500000));
    uint32_t at = 0;
    if (changeAt) {
        conductor.Meta(changeAt, 0x51, TempoBytes(1000000));
        at = changeAt;
    }
    conductor.End(static_cast<uint32_t>(measures * MEASURE) - at);
    TrackBuilder notes;
    for (int i = 0; i < measures * 4; ++i)
        notes.Note(0, 60 + i % 12, DIVISION);
    notes.End();
    return MidiBuilder(1, DIVISION).Add(conductor).Add(notes).Bytes();
}

MidiPlayback::Options Quiet() {
    MidiPlayback::Options options;
    options.TimeSource = MidiPlayback::Clock::Manual;
    options.SoundFonts = {"/nonexistent/none.sf2"};
    return options;
}

// Ticks that pass in one second of playing time.
int64_t TicksInOneSecond(MidiPlayback& playback) {
    const int64_t before = playback.Position();
    playback.Advance(1000);
    return playback.Position() - before;
}

TEST(PlaybackTest, ReadsLengthDivisionAndFirstTempoOfTheFileItself) {
    MidiPlayback playback(Quiet());
    ASSERT_TRUE(playback.OpenBytes(Song(10), "ten.mid")) << playback.Error();
    EXPECT_EQ(playback.Length(), 10 * MEASURE);
    EXPECT_EQ(playback.Division(), static_cast<uint32_t>(DIVISION));
    EXPECT_EQ(playback.SequenceTempo(), 120u);
    EXPECT_EQ(playback.Position(), 0);

    // A file without a tempo is at 120; a file starting at 140 reports 140.
    ASSERT_TRUE(playback.OpenBytes(Song(3, 0, false), "plain.mid"));
    EXPECT_EQ(playback.SequenceTempo(), 120u);
    TrackBuilder fast;
    fast.Meta(0, 0x51, TempoBytes(428571)).Note(0, 60, 96).End();
    ASSERT_TRUE(playback.OpenBytes(MidiBuilder(0, DIVISION).Add(fast).Bytes(), "fast.mid"));
    EXPECT_EQ(playback.SequenceTempo(), 140u);

    // Once FluidSynth has loaded the file it agrees on the length.
    playback.Play();
    playback.Advance(20);
    EXPECT_EQ(playback.SynthLength(), playback.Length());
}

TEST(PlaybackTest, ButtonsPlayPauseResumeStopAndRewind) {
    MidiPlayback playback(Quiet());
    ASSERT_TRUE(playback.OpenBytes(Song(10), "ten.mid"));
    EXPECT_FALSE(playback.IsPlaying());
    playback.Advance(500);
    EXPECT_EQ(playback.Position(), 0) << "nothing moves before Play";

    playback.Play();
    EXPECT_NEAR(TicksInOneSecond(playback), 2 * DIVISION, 2);

    playback.Pause();
    const int64_t paused = playback.Position();
    EXPECT_TRUE(playback.IsPaused());
    playback.Advance(1000);
    EXPECT_EQ(playback.Position(), paused);
    playback.Pause(); // a second Pause resumes
    EXPECT_TRUE(playback.IsPlaying());
    playback.Advance(500);
    EXPECT_NEAR(playback.Position(), paused + DIVISION, 2);

    playback.Stop();
    const int64_t stopped = playback.Position();
    playback.Advance(1000);
    EXPECT_EQ(playback.Position(), stopped) << "Stop halts where it is";
    playback.Play();
    EXPECT_EQ(playback.Position(), stopped) << "Play goes on from there";
    playback.Advance(500);
    EXPECT_NEAR(playback.Position(), stopped + DIVISION, 2);

    playback.Rewind(); // while playing: back to the start, and on
    EXPECT_EQ(playback.Position(), 0);
    playback.Advance(500);
    EXPECT_NEAR(playback.Position(), DIVISION, 2);
    playback.Stop();
    playback.Rewind();
    EXPECT_EQ(playback.Position(), 0);
    EXPECT_FALSE(playback.IsPlaying());
}

TEST(PlaybackTest, TheEndStopsAtTheLengthAndPlayStartsAgainFromTheTop) {
    MidiPlayback playback(Quiet());
    ASSERT_TRUE(playback.OpenBytes(Song(2), "two.mid")); // 4 seconds
    playback.Play();
    playback.Advance(3000);
    EXPECT_TRUE(playback.IsPlaying());
    playback.Advance(2000);
    EXPECT_FALSE(playback.IsPlaying());
    EXPECT_EQ(playback.Position(), playback.Length());
    playback.Advance(1000);
    EXPECT_EQ(playback.Position(), playback.Length());

    playback.Play();
    EXPECT_EQ(playback.Position(), 0);
    EXPECT_NEAR(TicksInOneSecond(playback), 2 * DIVISION, 2);
    // After the end, Prev and Play play from the start too.
    playback.Advance(4000);
    EXPECT_FALSE(playback.IsPlaying());
    playback.Rewind();
    playback.Play();
    playback.Advance(500);
    EXPECT_NEAR(playback.Position(), DIVISION, 2);
}

TEST(PlaybackTest, SpeedScalesTheTempoMapAndKeepsItsChange) {
    MidiPlayback playback(Quiet());
    ASSERT_TRUE(playback.OpenBytes(Song(20, 8 * MEASURE), "change.mid"));
    for (double factor : {0.125, 1.0, 1.75}) {
        SCOPED_TRACE(factor);
        ASSERT_TRUE(playback.SetSpeed(factor));
        playback.Stop();
        playback.Rewind();
        playback.Play();
        playback.Advance(10);
        EXPECT_NEAR(playback.CurrentTempo(), 120 * factor, 0.01);
        EXPECT_NEAR(TicksInOneSecond(playback), 2 * DIVISION * factor, 2);

        // Past the change to 60 the file's tempo map still rules, scaled.
        playback.Seek(10 * MEASURE);
        playback.Advance(10);
        EXPECT_NEAR(playback.CurrentTempo(), 60 * factor, 0.01);
        EXPECT_NEAR(TicksInOneSecond(playback), DIVISION * factor, 2);

        // Stop and Play keep the speed.
        playback.Stop();
        playback.Play();
        EXPECT_NEAR(TicksInOneSecond(playback), DIVISION * factor, 2);
    }
    EXPECT_FALSE(playback.SetSpeed(0));
    EXPECT_DOUBLE_EQ(playback.Speed(), 1.75);
    // A new file keeps the chosen speed.
    ASSERT_TRUE(playback.OpenBytes(Song(4), "four.mid"));
    playback.Play();
    EXPECT_NEAR(TicksInOneSecond(playback), 2 * DIVISION * 1.75, 2);
}

TEST(PlaybackTest, RefusedFilesNameTheFileAndLeaveNothingOpen) {
    MidiPlayback playback(Quiet());
    std::string cut = Song(4);
    cut.resize(cut.size() - 10);
    EXPECT_FALSE(playback.OpenBytes(cut, "cut.mid"));
    EXPECT_EQ(playback.Error(), "Cannot play \"cut.mid\": the file ends inside a track.");
    EXPECT_FALSE(playback.IsOpen());
    EXPECT_FALSE(playback.OpenBytes("RIFF0000", "wave.mid"));
    EXPECT_EQ(playback.Error(), "Cannot play \"wave.mid\": not a Standard MIDI File.");
    playback.Play(); // nothing open: nothing happens
    EXPECT_EQ(playback.Position(), 0);
}

// Closing a song while FluidSynth's clock thread plays it (the window's "Close Tabulature" or a
// new file): the player is freed only after its clock has taken the stop, so nothing it plays
// arrives once Close has returned, and the next song plays. Under the sanitizer build a player
// freed inside a tick shows as a use after free.
TEST(PlaybackTest, ClosingASongWhileItPlaysStopsItsClockFirst) {
    std::atomic<int> events{0};
    MidiPlayback::Options options;
    options.TimeSource = MidiPlayback::Clock::System;
    options.SoundFonts = {"/nonexistent/none.sf2"};
    options.OnEvent = [&events](int64_t, int, int, int) { events.fetch_add(1); };
    MidiPlayback playback(options);
    playback.SetSpeed(MidiPlayback::MAX_SPEED); // a note at every tick of the clock
    const std::string song = Song(40);
    for (int round = 0; round < 12; ++round) {
        ASSERT_TRUE(playback.OpenBytes(song, "song.mid")) << playback.Error();
        const int before = events.load();
        playback.Play();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (events.load() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(round % 4));
        ASSERT_GT(events.load(), before) << "round " << round;
        playback.Close();
        EXPECT_FALSE(playback.IsOpen());
        const int closed = events.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(events.load(), closed) << "round " << round;
    }
}

// Without a sound card (as on the test machines) and without a SoundFont the service says so
// and still moves on the system clock.
TEST(PlaybackTest, NoAudioAndNoSoundFontAreToldAndTimeStillMoves) {
    MidiPlayback::Options options;
    options.SoundFonts = {"/nonexistent/none.sf2"};
    MidiPlayback playback(options);
    playback.WaitUntilReady();
    if (playback.HasAudio()) GTEST_SKIP() << "this machine has a sound card";
    EXPECT_EQ(playback.TimeSource(), MidiPlayback::Clock::System);
    ASSERT_TRUE(playback.OpenBytes(Song(4), "four.mid"));
    // Nothing is heard, so no SoundFont is missed (and none is read).
    EXPECT_EQ(playback.Notices(), (std::vector<std::string>{"No audio output: playing silently"}));
    playback.Play();
    // Waits for movement, not for a duration: the deadline only ends a hung test.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (playback.Position() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GT(playback.Position(), 0);
    EXPECT_TRUE(playback.IsPlaying());
}

// Silent playing reads no samples: the installed SoundFont is not even loaded.
TEST(PlaybackTest, WithoutAudioNoSoundFontIsLoaded) {
    if (!std::filesystem::exists(MidiPlayback::DEBIAN_SOUNDFONT))
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    MidiPlayback playback;
    playback.WaitUntilReady();
    if (playback.HasAudio()) GTEST_SKIP() << "this machine has a sound card";
    EXPECT_FALSE(playback.HasSoundFont());
    EXPECT_EQ(playback.Notices(), (std::vector<std::string>{"No audio output: playing silently"}));
}

TEST(PlaybackTest, TheDefaultSoundFontLoadsWhenInstalled) {
    MidiPlayback::Options options;
    options.TimeSource = MidiPlayback::Clock::Manual;
    MidiPlayback playback(options);
    if (!std::filesystem::exists(MidiPlayback::DEBIAN_SOUNDFONT))
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    playback.WaitUntilReady();
    EXPECT_TRUE(playback.HasSoundFont());
    EXPECT_TRUE(playback.Notices().empty());
}

#ifdef MORVEL_MIDI_CORPUS
// Our own reading of each real file agrees with FluidSynth's on the length; a file that
// FluidSynth refuses once playing is reported by name and halts at the start.
TEST(PlaybackTest, CorpusLengthsAgreeWithFluidSynth) {
    if (!std::filesystem::is_directory(MORVEL_MIDI_CORPUS)) GTEST_SKIP() << "no corpus";
    MidiPlayback playback(Quiet());
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(MORVEL_MIDI_CORPUS)) {
        if (entry.path().extension() != ".mid") continue;
        const std::string path = entry.path().string();
        std::string bytes, why;
        bool refused = false;
        ASSERT_TRUE(ReadSongBytes(path, bytes, why, refused)) << path << ": " << why;
        if (!playback.OpenBytes(bytes, path)) {
            EXPECT_NE(playback.Error().find("\"" + path + "\""), std::string::npos);
            continue;
        }
        playback.Play();
        playback.Advance(20);
        const std::string failure = playback.TakeFailure();
        if (failure.empty()) {
            EXPECT_EQ(playback.SynthLength(), playback.Length()) << path;
            ++compared;
        } else {
            EXPECT_EQ(failure, "Cannot play \"" + path + "\": the synthesizer refused the file.");
            EXPECT_FALSE(playback.IsPlaying());
            EXPECT_EQ(playback.Position(), 0);
        }
    }
    EXPECT_GT(compared, 40);
}
#endif

} // namespace
} // namespace morvel
