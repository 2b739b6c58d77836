#include "playback/MidiFileInfo.h"

#include <cmath>

namespace morvel {

uint32_t MidiFileInfo::SequenceTempo() const {
    const uint32_t tempo = FirstTempo ? FirstTempo : DEFAULT_TEMPO_MICROSECONDS;
    return static_cast<uint32_t>(std::lround(MICROSECONDS_PER_MINUTE / tempo));
}

MidiFileInfo ReadMidiFileInfo(const MidiTimeline& song) {
    MidiFileInfo info;
    info.Error = song.Error;
    if (!song.Valid) return info;
    info.Valid = true;
    info.Division = song.Division;
    info.LengthTicks = static_cast<int64_t>(song.LengthTicks);
    if (!song.Tempos.empty()) info.FirstTempo = song.Tempos.front().MicrosecondsPerQuarter;
    return info;
}

} // namespace morvel
