// The bytes FluidSynth plays for practice, built from the Standard MIDI File as read: the
// notes of the chosen tracks only, optionally one measure of count-in clicks first, and, for
// a loop, no note starting at or after the loop's end.
//
// A program starts at a song tick (Origin): everything before it is reduced to the state it
// leaves (programs, controllers, pitch bends, system-exclusive messages) at program tick 0,
// with the tempo and time signature in force at Origin, so a count-in plays at the tempo and
// in the time signature of the measure it leads into. Tracks that are not heard keep every
// event but their notes, so a channel they share with a heard track sounds as in the whole
// song. No Qt, no FluidSynth.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvel {

// Which tracks are heard: all, only the shown one, or all but the shown one.
enum class TrackChoice { All, Only, AllBut };

struct ProgramRequest {
    TrackChoice Tracks = TrackChoice::All;
    int Track = -1;       // 0-based track chunk the choice refers to
    int64_t Origin = 0;   // song tick heard first
    bool CountIn = false; // one measure of clicks before Origin
    int64_t LoopEnd = -1; // song tick from which no note starts (a loop's end); -1 none
};

struct Program {
    std::string Bytes;
    int64_t Origin = 0; // song tick at program tick Lead
    int64_t Lead = 0;   // program ticks before Origin: the count-in
    int64_t End = -1;   // program tick of the loop's end; -1 without a loop
    int Numerator = 4;  // time signature in force at Origin
    int Denominator = 4;

    // The song tick heard at `programTick` (Origin during the count-in).
    int64_t SongTick(int64_t programTick) const {
        return programTick < Lead ? Origin : Origin + programTick - Lead;
    }
    // The program tick of `songTick`, which must not be before Origin.
    int64_t ProgramTick(int64_t songTick) const { return songTick - Origin + Lead; }
};

// General MIDI percussion: the channel (0-based) and the two sounds of the count-in.
constexpr int PERCUSSION_CHANNEL = 9;
constexpr int SIDE_STICK = 37;
constexpr int CLOSED_HI_HAT = 42;

struct Click {
    int64_t Tick = 0;
    int Key = 0;
    int Velocity = 0;
    int64_t Length = 0;
};

// One measure of clicks for `numerator`/`denominator` at `division` ticks per quarter: one
// click on each beat of the denominator's note value (six in 6/8, three in 3/4), a side stick
// on the first and a closed hi-hat on the others. Empty when the signature gives no measure.
std::vector<Click> CountInClicks(uint32_t division, int numerator, int denominator);

constexpr int CHANNELS = 16;
constexpr int NO_PROGRAM = -1;

// The instrument each channel of `file` starts with: its earliest program change, 0 (the
// General MIDI default) for a channel with notes but none, NO_PROGRAM for a channel without
// notes. All NO_PROGRAM when the file cannot be read.
std::array<int, CHANNELS> ChannelPrograms(std::string_view file);

// Builds the program for `request` from `file`. False, with `why` set, when the file is not a
// Standard MIDI File this reader can walk.
bool BuildProgram(std::string_view file, const ProgramRequest& request, Program& program,
                  std::string& why);

} // namespace morvel
