// The MIDI playback service: plays one Standard MIDI File through FluidSynth's player and
// synthesizer and reports where it is, in the file's own ticks.
//
// It plays through the sound card when one can be opened, with the first General MIDI
// SoundFont that loads. Without a sound card it runs on the system clock, so the position
// still moves in real time; without a SoundFont it plays silently. Both are kept as notices
// ("No audio output: playing silently", "No SoundFont found: ...") for the window to show.
// Tests choose the manual clock: time then moves only by Advance(), deterministically.
//
// Without an audio output nothing is heard, so no SoundFont is loaded then (the manual clock,
// which renders, still loads one).
//
// The sound card is probed and the SoundFont loaded on a thread of its own from construction,
// so nothing here waits for them: until they are done the music plays on the system clock,
// and moves to the sound card once it is known to open. Only the destructor waits for that
// thread, and only for a bounded time.
//
// For practice it plays a program built from the file (playback/PracticeProgram.h): a loop
// that jumps back exactly at its end (in FluidSynth's own tick callback), the shown track
// alone or muted, and a measure of count-in clicks.
//
// Every function is called from one thread (the user interface). FluidSynth plays on its own
// threads; this object only starts, stops and polls it, and stops it before it goes.
#pragma once

#include "formats/OpenedSong.h"
#include "playback/MidiFileInfo.h"
#include "playback/PracticeProgram.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace morvel {

class MidiPlayback {
  public:
    enum class Clock {
        Audio,  // the sound card's clock; the system clock when no sound card opens
        System, // the system clock, never the sound card
        Manual, // only Advance() moves time (tests)
    };

    struct Options {
        Clock TimeSource = Clock::Audio;
        // SoundFonts tried in order; empty: FluidSynth's default SoundFont, then Debian's.
        std::vector<std::string> SoundFonts;
        // Runs first on the loader thread (tests: a slow or failing loader).
        std::function<void()> BeforeLoading;
        // Every event FluidSynth's player sends to the synthesizer, with the song tick it is
        // played at (tests). Called on FluidSynth's thread.
        std::function<void(int64_t tick, int status, int key, int velocity)> OnEvent;
    };

    // What to practise: a loop over song ticks [LoopFrom, LoopTo), the tracks heard (Track:
    // 0-based track chunk), and a measure of clicks before playing from a halt (and, with
    // CountInEachPass, before every pass of the loop). A loop may end past the file's end (its
    // last measure is then completed by silence), so it plays as every other loop.
    //
    // With RaiseSpeed (and Loop), the speed trainer: the first pass plays at SpeedFrom times
    // the file's tempo, every next pass SpeedStep faster, up to SpeedTo; the speed factor of
    // SetSpeed then waits until the loop or the trainer is switched off.
    struct Practice {
        bool Loop = false;
        int64_t LoopFrom = 0;
        int64_t LoopTo = 0;
        TrackChoice Tracks = TrackChoice::All;
        int Track = -1;
        bool CountIn = false;
        bool CountInEachPass = false;
        bool RaiseSpeed = false;
        double SpeedFrom = 0.6;
        double SpeedStep = 0.05;
        double SpeedTo = 1.0;
        bool operator==(const Practice&) const = default;
        // The speed factor of pass `pass` (0 the first) of the trainer.
        double PassSpeed(int pass) const;
    };

    // How exactly the loop jumped back: passes, and how late after the loop's end the next
    // pass began, by FluidSynth's own clock (rendered samples; the system clock without them).
    struct LoopJumps {
        int Count = 0;
        double LastLateMs = 0;
        double MaxLateMs = 0;
        // The length of the last whole pass, from its start (the previous loop end, or the
        // start of playing) to the loop's end, by the same clock.
        double LastPassMs = 0;
    };

    static constexpr const char* NO_AUDIO_NOTICE = "No audio output: playing silently";
    static constexpr const char* NO_SOUNDFONT_NOTICE = "No SoundFont found: ";
    static constexpr const char* DEBIAN_SOUNDFONT = "/usr/share/sounds/sf2/default-GM.sf2";
    static constexpr double MIN_SPEED = 0.01;
    static constexpr double MAX_SPEED = 100.0;
    // How far past the file's end a loop may reach, in quarter notes (a measure of 32/4).
    static constexpr int MAX_LOOP_PAST_END_QUARTERS = 32;

    MidiPlayback();
    explicit MidiPlayback(const Options& options);
    ~MidiPlayback();
    MidiPlayback(const MidiPlayback&) = delete;
    MidiPlayback& operator=(const MidiPlayback&) = delete;

    // ---- The file ----
    // Opens the song as it was read (its bytes and timeline; the file is not read again),
    // closing the song open before (its playback stops), and keeps it while it is open. The
    // position is 0 and the speed factor stays. False, with Error() naming the file, when it
    // cannot be played; nothing is open then.
    bool OpenBytes(SongPointer song);
    // The same over bytes in memory; `name` names the file in messages.
    bool OpenBytes(std::string bytes, const std::string& name);
    void Close();
    bool IsOpen() const;
    const std::string& FileName() const;
    // The message of the last refused Open, or of a file the synthesizer could not play.
    const std::string& Error() const;
    // A failure that arose while playing (a file the synthesizer refused), once; empty when
    // there was none since the last call.
    std::string TakeFailure();

    // ---- Transport ----
    // Plays from the current position; at the end of the file, from the start.
    void Play();
    // Halts where it is; called again while halted by Pause, resumes.
    void Pause();
    // Halts where it is.
    void Stop();
    // Back to the start (to the loop's start while looping); playing goes on from there.
    void Rewind();
    // Plays from `tick` (clamped), with the count-in when it is asked for.
    void PlayFrom(int64_t tick);
    // Moves to `tick` (clamped to 0 .. Length()); playing goes on from there.
    void Seek(int64_t tick);
    bool IsPlaying();
    bool IsPaused() const;

    // ---- Where it is ----
    // Length in ticks, from the file itself (available at once).
    int64_t Length() const;
    // Position in ticks, 0 .. Length(). Reaching the end stops the player there.
    int64_t Position();
    // Ticks per quarter note of the file.
    uint32_t Division() const;
    // The file's first tempo in beats per minute; 120 without one.
    uint32_t SequenceTempo() const;
    // The tempo in force now in beats per minute, speed factor included: FluidSynth's once it
    // has loaded the file, before that the file's first tempo times the speed factor.
    double CurrentTempo() const;
    // The length as FluidSynth reports it; 0 until it has loaded the file.
    int64_t SynthLength() const;

    // ---- Speed ----
    // Scales the file's own tempo map by `factor`, at once and for every file opened later.
    // False (nothing changed) outside MIN_SPEED .. MAX_SPEED.
    bool SetSpeed(double factor);
    double Speed() const;
    // The speed factor in force: Speed(), or the trainer's speed of the pass being played.
    double CurrentSpeed() const;

    // ---- Practice ----
    // Puts `practice` in force, its ticks clamped to the file (a loop needs LoopFrom <
    // LoopTo, or it is off). While playing, the music goes on from where it is.
    void SetPractice(const Practice& practice);
    const Practice& CurrentPractice() const;
    LoopJumps LoopJumpStats() const;
    // The program FluidSynth plays now (or last played).
    const Program& CurrentProgram() const;

    // ---- Status ----
    Clock TimeSource() const;
    bool HasAudio() const;
    // True once the loader thread has probed the sound card and loaded the SoundFont (or
    // failed to); nothing waits for it.
    bool IsReady() const;
    // Waits for the loader thread and for the instruments of the open file to be read (tests
    // and tools only: the window never waits).
    void WaitUntilReady() const;
    // What the loader found; empty (no SoundFont) until IsReady.
    bool HasSoundFont() const;
    const std::string& SoundFont() const;
    // What is missing, in the user's words: no audio output, no SoundFont. Empty until
    // IsReady, since nothing is known to be missing before.
    std::vector<std::string> Notices() const;
    // FluidSynth's own error and warning messages since this object was made.
    std::vector<std::string> SynthMessages() const;

    // Manual clock only: lets `milliseconds` of playing time pass.
    void Advance(int milliseconds);

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace morvel
