// The MIDI playback service: plays one Standard MIDI File through FluidSynth's player and
// synthesizer and reports where it is, in the file's own ticks.
//
// It plays through the sound card when one can be opened, with the first General MIDI
// SoundFont that loads. Without a sound card it runs on the system clock, so the position
// still moves in real time; without a SoundFont it plays silently. Both are kept as notices
// ("No audio output: playing silently", "No SoundFont found: ...") for the window to show.
// Tests choose the manual clock: time then moves only by Advance(), deterministically.
//
// Every function is called from one thread (the user interface). FluidSynth plays on its own
// threads; this object only starts, stops and polls it, and stops it before it goes.
#pragma once

#include "player/MidiFileInfo.h"

#include <cstdint>
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
    };

    static constexpr const char* NO_AUDIO_NOTICE = "No audio output: playing silently";
    static constexpr const char* NO_SOUNDFONT_NOTICE = "No SoundFont found: ";
    static constexpr const char* DEBIAN_SOUNDFONT = "/usr/share/sounds/sf2/default-GM.sf2";
    static constexpr double MIN_SPEED = 0.01;
    static constexpr double MAX_SPEED = 100.0;

    MidiPlayback();
    explicit MidiPlayback(const Options& options);
    ~MidiPlayback();
    MidiPlayback(const MidiPlayback&) = delete;
    MidiPlayback& operator=(const MidiPlayback&) = delete;

    // ---- The file ----
    // Opens `path`, closing the file open before (its playback stops). The position is 0 and
    // the speed factor stays. False, with Error() naming the file, when it cannot be read or
    // played; nothing is open then.
    bool Open(const std::string& path);
    // The same over bytes in memory; `name` names the file in messages.
    bool OpenBytes(const std::string& bytes, const std::string& name);
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
    // Back to the start; playing goes on from there.
    void Rewind();
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

    // ---- Status ----
    Clock TimeSource() const;
    bool HasAudio() const;
    // The SoundFont loads in the background from construction; these wait for it.
    bool HasSoundFont() const;
    const std::string& SoundFont() const;
    // What is missing, in the user's words: no audio output, no SoundFont.
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
