// What the player needs to know of a Standard MIDI File before the synthesizer has loaded it:
// its division, its length in ticks and its first tempo. The synthesizer reports a length
// only once it has started playing, so the player reads these itself.
#pragma once

#include "formats/MidiTimeline.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace morvel {

constexpr uint32_t DEFAULT_TEMPO_MICROSECONDS = 500000; // 120 beats per minute
constexpr double MICROSECONDS_PER_MINUTE = 60'000'000.0;

struct MidiFileInfo {
    bool Valid = false;
    std::string Error;       // why the file cannot be played; empty when Valid
    uint32_t Division = 0;   // ticks per quarter note as the header gives them
    int64_t LengthTicks = 0; // the longest track: the sum of its delta times
    uint32_t FirstTempo = 0; // microseconds per quarter note of the earliest tempo; 0 none
    // The earliest tempo in beats per minute, rounded; 120 when the file sets none.
    uint32_t SequenceTempo() const;
};

// The facts of a file the timeline reader (formats/MidiTimeline.h) read, which refuses
// (Valid false, Error says why) the files the synthesizer refuses too.
MidiFileInfo ReadMidiFileInfo(const MidiTimeline& song);

} // namespace morvel
