// The song model and the settings that steer a conversion.
// Plain data only: the conversion object (core/Conversion.h) owns one of each.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace morvel {

constexpr int STRING_COUNT = 6;
constexpr int CHORD_COUNT = 48;
constexpr int TEXT_LIMIT = 99; // longest text kept from a meta event

// The standard open strings, first (highest) string at index 0.
constexpr std::array<int16_t, STRING_COUNT> BaseTuning = {76, 71, 67, 62, 57, 52};

// Columns of a line of standard tab: the default and the range the setting allows.
constexpr int STANDARD_TAB_WIDTH = 80;
constexpr int STANDARD_TAB_MIN_WIDTH = 40;
constexpr int STANDARD_TAB_MAX_WIDTH = 400;

// Settings that steer a conversion; the defaults are those in force without an INI file.
struct ConversionSettings {
    int32_t ForceFitFret = 0;
    int32_t ShowSpecial = 0;
    int32_t ShowChord = 0;
    int32_t ShowMetronome = 0; // kept and saved, consulted by nothing
    int32_t BassMode = 0;
    int32_t FollowMusic = 0;
    // The open file's first tempo in beats per minute, written by the player when it prepares
    // the file, for the record only: playback follows the file's own tempo map and TempoFactor.
    uint32_t SequenceTempo = 1;
    double TempoFactor = 1.0;
    int32_t MaxFret = 21;
    int16_t PrintMeasPerWidth = 3;
    int16_t PrintMeasPerHeight = 5;
    int32_t ColumnsPerLine = 26; // fixed: the width of one line of tablature
    int32_t OptimiseFingering = 0; // 1: strings and frets from a search over the whole track
    // 1: with OptimiseFingering, a track written string by string on MIDI channels keeps
    // those strings (see OptimiseTrackFingering).
    int32_t StringsFromChannels = 0;
    // 1: the MIDI reader follows the Standard MIDI File rules where its own are stricter
    // (see Conversion::ConvertMidiFile).
    int32_t LenientReading = 0;
    int32_t StandardTabWidth = STANDARD_TAB_WIDTH; // columns of a line of standard tab
};

// The tuning as the user sets it. CustomDelta[k-1] is the offset "CUSTOMDELTAk":
// index 0 belongs to the sixth (lowest) string, index 5 to the first.
struct Tuning {
    std::array<int16_t, STRING_COUNT> CustomDelta{};
    int8_t Transpose = 0;
};

struct SongHeader {
    int32_t FormatType = 0;
    uint32_t TrackCount = 0;
    uint32_t Division = 96;
};

// One stored note-on (non-zero velocity). 8 bytes, so a large song stays small.
struct NoteRecord {
    uint32_t DeltaTime = 0; // ticks since the previous stored note of the track
    uint16_t Note = 0;      // data byte as read, 0..255
    uint8_t Channel = 0;
    char Special = ' ';
};

struct TrackRecord {
    std::string CopyrightNotice;
    std::string TrackName;
    std::string Text;
    std::string InstrumentName;
    std::string Lyric;
    std::string MiscText;
    std::string CuePoint;
    std::string Marker;
    int32_t TimeSigNumerator = 4;
    int32_t TimeSigDenominator = 4;
    std::vector<NoteRecord> Notes;
    // Per note of Notes, the ticks from its onset to its note-off, at most UINT16_MAX (0 for a
    // note never ended); shorter than Notes where they could not all be kept, and then not to
    // be used.
    std::vector<uint16_t> Durations;
    uint32_t LastNoteTime = 0; // onset tick of the last stored note
    uint32_t EndTime = 0;      // tick of the last note-off after the last stored note
};

// Ticks in one measure of a track: (Division x 4 x numerator) / denominator, unsigned 32-bit,
// division last. 0 when the time signature cannot give a measure (numerator 0, denominator 0
// or larger than the product); callers then treat the whole track as one measure.
inline uint32_t MeasureTicks(uint32_t division, int32_t numerator, int32_t denominator) {
    uint32_t den = static_cast<uint32_t>(denominator);
    if (den == 0) return 0;
    return division * (4u * static_cast<uint32_t>(numerator)) / den;
}

inline uint32_t MeasureTicks(uint32_t division, const TrackRecord& track) {
    return MeasureTicks(division, track.TimeSigNumerator, track.TimeSigDenominator);
}

} // namespace morvel
