// The option file: one 768-byte little-endian record holding the conversion and layout
// settings (no colours, no MIDI directory).
#pragma once

#include "core/SettingsFiles.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace morvel {

constexpr size_t OPTION_RECORD_SIZE = 768;
using OptionFileRecord = std::array<uint8_t, OPTION_RECORD_SIZE>;

// Byte offsets of the record's fields.
namespace OptionOffset {
constexpr size_t Tag = 0; // "3.0" and a NUL byte
constexpr size_t PrintMeasPerWidth = 12;
constexpr size_t PrintMeasPerHeight = 16;
constexpr size_t Transpose = 20;
constexpr size_t MeasuresPerPage = 24;
constexpr size_t CustomDelta = 28; // six 32-bit values, sixth string first
constexpr size_t ShowSpecial = 52;
constexpr size_t ShowChord = 56;
constexpr size_t ShowMetronome = 60;
constexpr size_t ForceFitFret = 64;
constexpr size_t TuningName = 68; // 200 bytes, NUL-terminated
constexpr size_t TuningNameSize = 200;
constexpr size_t MaxFret = 268;
constexpr size_t BassMode = 272;
constexpr size_t FollowMusic = 276;
} // namespace OptionOffset

// The record for `in`: narrow values widened with their sign, the tuning name cut to 199
// characters, every other byte zero.
OptionFileRecord EncodeOptionRecord(const StoredSettings& in);

// Stores the fields of `bytes` into `out`; bytes past the end of a short record read as zero,
// bytes past 768 are ignored. 16-bit homes keep the low 16 bits, the transposition the low 8;
// the result is then clamped like the INI file's values. A tuning name without a NUL byte is
// read up to 199 characters. Colours and the MIDI directory are left alone.
void DecodeOptionRecord(std::span<const uint8_t> bytes, StoredSettings& out);

} // namespace morvel
